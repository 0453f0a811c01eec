#include "menu/models/recent_files_store.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include "core/support/json.h"
#include "support/temp_dir.h"

namespace ferrytide::menu {
namespace {

using testing::readText;
using testing::TempDir;
using testing::writeText;

void setModified(const std::filesystem::path& file, std::int64_t epochSeconds) {
  timeval times[2] = {{epochSeconds, 0}, {epochSeconds, 0}};
  ASSERT_EQ(::utimes(file.c_str(), times), 0);
}

class RecentFilesStoreTest : public ::testing::Test {
 protected:
  std::filesystem::path listFile() const { return dir / "state" / "recent-files.json"; }
  std::filesystem::path saveFolder() const { return dir / "Downloads"; }

  TempDir dir;
  RecentFilesStore store{listFile()};
};

TEST_F(RecentFilesStoreTest, FirstStartListsTheSaveFoldersNewestFiles) {
  EXPECT_TRUE(store.load(saveFolder(), 50).entries.empty());

  for (int i = 0; i < 80; ++i) {
    std::filesystem::path file = saveFolder() / ("file" + std::to_string(i) + ".txt");
    writeText(file, std::string(static_cast<std::size_t>(i), 'x'));
    setModified(file, 1700000000 + i);
  }
  writeText(saveFolder() / ".hidden", "h");
  setModified(saveFolder() / ".hidden", 1800000000);
  writeText(saveFolder() / "sub" / "inner.txt", "i");
  std::filesystem::create_symlink(saveFolder() / "file1.txt", saveFolder() / "link.txt");

  std::vector<FileLog> rows = store.load(saveFolder(), 50).entries;
  ASSERT_EQ(rows.size(), 50u);
  EXPECT_EQ(rows.front().url, saveFolder() / "file79.txt");
  EXPECT_EQ(rows.front().bytes, 79);
  EXPECT_EQ(rows.front().date, QDateTime::fromSecsSinceEpoch(1700000079, Qt::UTC));
  EXPECT_EQ(rows.back().url, saveFolder() / "file30.txt");
  for (const FileLog& row : rows) {
    EXPECT_EQ(row.direction, FileLog::Direction::received);
    EXPECT_TRUE(row.peerName.isEmpty());
    EXPECT_FALSE(row.peerPubkey);
  }
}

TEST_F(RecentFilesStoreTest, SavedRowsLoadInOrderWithoutTheFilesThatAreGone) {
  std::vector<FileLog> rows;
  for (const char* name : {"a.jpg", "gone.pdf", "c.txt"}) {
    writeText(dir / name, name);
    rows.push_back(FileLog{.id = QUuid::createUuid(),
                           .url = dir / name,
                           .bytes = 1234,
                           .date = QDateTime::fromMSecsSinceEpoch(1733480000250, Qt::UTC),
                           .direction = FileLog::Direction::received,
                           .peerName = QStringLiteral("Pixel"),
                           .peerPubkey = std::nullopt});
  }
  rows[2].direction = FileLog::Direction::sent;
  rows[2].peerPubkey = QStringLiteral("q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA=");
  store.save(rows);
  std::filesystem::remove(dir / "gone.pdf");

  json::Value stored = json::parse(readText(listFile()));
  EXPECT_EQ(stored[0],
            json::parse(R"({"bytes":1234,"date":1733480000.25,"path":")" +
                        (dir / "a.jpg").string() + R"(","peerName":"Pixel","sent":false})"));
  EXPECT_EQ(std::filesystem::status(listFile()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(
      std::filesystem::status(listFile().parent_path()).permissions() & std::filesystem::perms::all,
      std::filesystem::perms::owner_all);

  RecentFilesStore::Loaded loaded = store.load(saveFolder(), 50);
  EXPECT_FALSE(loaded.damagedNotice);
  ASSERT_EQ(loaded.entries.size(), 2u);
  for (std::size_t i : {0u, 1u}) {
    FileLog expected = rows[i == 0 ? 0 : 2];
    expected.id = loaded.entries[i].id;
    EXPECT_EQ(loaded.entries[i], expected);
    EXPECT_NE(loaded.entries[i].id, rows[i].id);
  }
  EXPECT_EQ(store.load(saveFolder(), 1).entries.size(), 1u);
}

TEST_F(RecentFilesStoreTest, DamagedListIsSetAsideAndTheSaveFolderStandsIn) {
  writeText(saveFolder() / "photo.jpg", "jpg");
  const std::pair<const char*, const char*> damaged[] = {
      {"{\"path\":\"/x\"}", "not a JSON array"},
      {"[{\"path\":\"/x\",\"bytes\":1,\"date\":1,\"sent\":false}]", "peerName"},
      {"[{\"path\":\"/x\",\"bytes\":1,\"date\":\"today\",\"sent\":false,\"peerName\":\"\"}]",
       "\"date\" must be a number"},
      {"[{\"path\"", ""},
  };
  for (const auto& [content, reason] : damaged) {
    writeText(listFile(), content);
    RecentFilesStore::Loaded loaded = store.load(saveFolder(), 50);
    ASSERT_EQ(loaded.entries.size(), 1u) << content;
    EXPECT_EQ(loaded.entries.front().url, saveFolder() / "photo.jpg");
    ASSERT_TRUE(loaded.damagedNotice) << content;
    EXPECT_TRUE(loaded.damagedNotice->startsWith(u"recent files unreadable: "));
    EXPECT_TRUE(loaded.damagedNotice->contains(QString::fromLatin1(reason)))
        << loaded.damagedNotice->toStdString();
    EXPECT_FALSE(std::filesystem::exists(listFile()));
    EXPECT_EQ(readText(dir / "state" / "recent-files.json.damaged"), content);
  }
}

}  // namespace
}  // namespace ferrytide::menu
