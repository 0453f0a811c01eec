#include "core/transfer/in_flight_journal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <thread>

#include "core/support/json.h"
#include "support/temp_dir.h"
#include "support/text_shape.h"

namespace ferrytide {
namespace {

using testing::readText;
using testing::TempDir;
using testing::writeText;

ino_t inodeOf(const std::filesystem::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_ino;
}

TEST(InFlightJournalTest, DefaultsToInflightJsonInTheApplicationDataFolder) {
  TempDir temp;
  testing::ScopedEnv dataHome("XDG_DATA_HOME", temp.path());
  EXPECT_EQ(InFlightJournal().fileURL(), temp / "Ferrytide" / "inflight.json");
}

TEST(InFlightJournalTest, SameFileKeepsItsIdUntilCompletedAndOtherFilesGetTheirOwn) {
  TempDir temp;
  InFlightJournal journal(temp / "deep" / "folder" / "inflight.json");
  std::string id = journal.getOrCreate("report.pdf", 52311, "application/pdf", "0123456789abcdef");
  EXPECT_TRUE(testing::isUpperUuid(id)) << id;

  // A second object on the same file, as after a restart, sees the same entry.
  InFlightJournal reopened(journal.fileURL());
  EXPECT_EQ(reopened.getOrCreate("report.pdf", 52311, "application/pdf", "0123456789abcdef"), id);

  // Each differing facet makes another file.
  std::set<std::string> ids{id};
  ids.insert(journal.getOrCreate("report2.pdf", 52311, "application/pdf", "0123456789abcdef"));
  ids.insert(journal.getOrCreate("report.pdf", 52312, "application/pdf", "0123456789abcdef"));
  ids.insert(journal.getOrCreate("report.pdf", 52311, "text/plain", "0123456789abcdef"));
  ids.insert(journal.getOrCreate("report.pdf", 52311, "application/pdf", "fedcba9876543210"));
  ids.insert(journal.getOrCreate("report.pdf", 52311, "application/pdf", ""));
  EXPECT_EQ(ids.size(), 6u);
  EXPECT_EQ(journal.snapshotEntries().size(), 6u);

  journal.complete("report.pdf", 52311, "application/pdf", "0123456789abcdef");
  EXPECT_EQ(journal.snapshotEntries().count("report.pdf|52311|application/pdf|0123456789abcdef"),
            0u);
  EXPECT_EQ(journal.snapshotEntries().size(), 5u);
  EXPECT_NE(journal.getOrCreate("report.pdf", 52311, "application/pdf", "0123456789abcdef"), id);
}

TEST(InFlightJournalTest, FileIsIndentedWithSortedKeysAndPlainSlashes) {
  TempDir temp;
  InFlightJournal journal(temp / "inflight.json");
  std::string second = journal.getOrCreate("b.txt", 2, "text/plain", "");
  std::string first = journal.getOrCreate("a.pdf", 1, "application/pdf", "0123456789abcdef");
  std::string expected =
      "{\n  \"entries\": {\n    \"a.pdf|1|application/pdf|0123456789abcdef\": \"" + first +
      "\",\n    \"b.txt|2|text/plain\": \"" + second + "\"\n  }\n}\n";
  EXPECT_EQ(readText(journal.fileURL()), expected);
  EXPECT_EQ(journal.snapshotEntries(),
            (std::map<std::string, std::string>{{"a.pdf|1|application/pdf|0123456789abcdef", first},
                                                {"b.txt|2|text/plain", second}}));
}

TEST(InFlightJournalTest, DamagedJournalCountsAsEmptyAndIsReplacedAtTheNextWrite) {
  const char* damaged[] = {
      "",
      "not json",
      "[]",
      "{}",
      R"({"entries": []})",
      R"({"entries": {"a|1|text/plain": 5}})",
      "{\"entries\": {\"a|1|text/plain\": \"ID\"",
  };
  for (const char* content : damaged) {
    SCOPED_TRACE(content);
    TempDir temp;
    InFlightJournal journal(temp / "inflight.json");
    writeText(journal.fileURL(), content);
    EXPECT_TRUE(journal.snapshotEntries().empty());
    journal.complete("a", 1, "text/plain", "");  // nothing to remove: the file stays as it was
    EXPECT_EQ(readText(journal.fileURL()), content);

    std::string id = journal.getOrCreate("a", 1, "text/plain", "");
    EXPECT_EQ(json::parse(readText(journal.fileURL())),
              json::parse(R"({"entries": {"a|1|text/plain": ")" + id + "\"}}"));
  }
}

TEST(InFlightJournalTest, CompleteWritesOnlyForAnEntryRemovesTheLastAndWipeDeletes) {
  TempDir temp;
  InFlightJournal journal(temp / "state" / "inflight.json");
  journal.complete("a", 1, "text/plain", "");
  EXPECT_FALSE(std::filesystem::exists(temp / "state"));

  journal.getOrCreate("a", 1, "text/plain", "");
  const std::string other = journal.getOrCreate("c", 1, "text/plain", "");
  ino_t before = inodeOf(journal.fileURL());
  journal.complete("b", 1, "text/plain", "");
  EXPECT_EQ(inodeOf(journal.fileURL()), before);
  journal.complete("a", 1, "text/plain", "");
  EXPECT_NE(inodeOf(journal.fileURL()), before);
  EXPECT_EQ(InFlightJournal(journal.fileURL()).snapshotEntries(),
            (std::map<std::string, std::string>{{"c|1|text/plain", other}}));
  journal.complete("c", 1, "text/plain", "");
  EXPECT_FALSE(std::filesystem::exists(journal.fileURL()));

  journal.getOrCreate("a", 1, "text/plain", "");
  journal.wipe();
  EXPECT_FALSE(std::filesystem::exists(journal.fileURL()));
  EXPECT_NO_THROW(journal.wipe());
}

TEST(InFlightJournalTest, UnwritableJournalStillHandsOutIdentifiers) {
  TempDir temp;
  writeText(temp / "not-a-folder", "x");
  InFlightJournal journal(temp / "not-a-folder" / "inflight.json");
  std::string id;
  EXPECT_NO_THROW(id = journal.getOrCreate("a", 1, "text/plain", ""));
  EXPECT_TRUE(testing::isUpperUuid(id)) << id;
  EXPECT_NO_THROW(journal.complete("a", 1, "text/plain", ""));
}

// Two journal objects on one file stand for two processes: only the folder lock keeps their
// read-modify-writes from losing each other's entries.
TEST(InFlightJournalTest, ConcurrentWritersOnTheSameFileLoseNoEntry) {
  TempDir temp;
  InFlightJournal first(temp / "inflight.json");
  InFlightJournal second(temp / "inflight.json");
  constexpr int kPerWriter = 40;
  auto fill = [](InFlightJournal& journal, const std::string& prefix) {
    for (int i = 0; i < kPerWriter; ++i)
      journal.getOrCreate(prefix + std::to_string(i), i, "x/y", "");
  };
  std::thread a(fill, std::ref(first), "a");
  std::thread b(fill, std::ref(second), "b");
  a.join();
  b.join();
  EXPECT_EQ(first.snapshotEntries().size(), 2u * kPerWriter);
}

}  // namespace
}  // namespace ferrytide
