#include "menu/models/clip_history.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>

#include "core/support/file_io.h"
#include "menu/models/secure_file.h"
#include "menu/qt_wait.h"
#include "support/temp_dir.h"

namespace ferrytide::menu {
namespace {

using testing::processEventsUntil;
using testing::TempDir;

mode_t modeOf(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return 0;
  return info.st_mode & 0777;
}

Clip clip(const char* text) {
  return Clip::make(QString::fromUtf8(text), Clip::Direction::outgoing, QStringLiteral("Pixel"),
                    QStringLiteral("q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA="));
}

TEST(ClipHistoryTest, ChangesOfOnePassShareOneWriteToAPrivateFile) {
  TempDir dir;
  std::filesystem::path folder = dir / "data" / "Ferrytide";
  std::filesystem::path file = folder / "clips.json";
  std::atomic<int> writes = 0;
  auto countedWrite = [&](ByteView data, const std::filesystem::path& to) {
    ++writes;
    SecureFile::write(data, to);
  };
  std::vector<Clip> kept;
  {
    ClipHistory history(file, countedWrite);
    history.insert(clip("one"));
    history.insert(clip("two"));
    history.insert(Clip::make(u"three"_qs, Clip::Direction::incoming, u"Galaxy"_qs, std::nullopt));
    ASSERT_TRUE(processEventsUntil([&] { return std::filesystem::exists(file); }));
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(ClipHistory(file).clips(), history.clips()) << "the file lists the newest first";

    // The folder deleted while running comes back, private, with the next save.
    std::filesystem::remove_all(folder);
    history.insert(clip("one"));
    ASSERT_TRUE(processEventsUntil([&] { return std::filesystem::exists(file); }));
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(history.clipOnClipboard(u"one"_qs), history.clips().front()) << "the newest";
    EXPECT_EQ(history.clipOnClipboard(QString()), std::nullopt);
    kept = history.clips();
  }
  EXPECT_EQ(writes, 2) << "one write per pass of the event loop";
  EXPECT_EQ(ClipHistory(file).clips(), kept);
}

TEST(ClipHistoryTest, DamagedFileStartsEmptyAndIsKeptAside) {
  TempDir dir;
  std::filesystem::path file = dir / "clips.json";
  std::filesystem::path aside = dir / "clips.json.damaged";
  const std::string damaged = R"([{"id":"5E1C0F4B-7A3D-4C2B-9E61-0B8A2F6C1D3E","text":"hi",)"
                              R"("direction":"sideways","peerName":"Pixel","date":1.5}])";
  file_io::writeAtomically(file, asBytes(damaged));
  {
    ClipHistory history(file);
    EXPECT_TRUE(history.clips().empty());
    history.insert(clip("after"));
  }
  EXPECT_EQ(ClipHistory(file).clips().size(), 1u);
  EXPECT_EQ(file_io::readIfExists(aside), toBytes(damaged)) << "the next save leaves it alone";
}

}  // namespace
}  // namespace ferrytide::menu
