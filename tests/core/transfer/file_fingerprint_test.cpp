#include "core/transfer/file_fingerprint.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_dir.h"
#include "support/text_shape.h"

namespace ferrytide {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

void writeFile(const fs::path& path, const std::string& content, fs::file_time_type modified) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  fs::last_write_time(path, modified);
}

TEST(FileFingerprintTest, ChangesWhenTheFileChanges) {
  struct Case {
    const char* change;
    std::size_t flippedByte;  // npos: none
    std::chrono::nanoseconds later;
    bool changes;
  };
  const std::size_t beyond = FileFingerprint::bytes + 10;
  const Case cases[] = {
      {"nothing", std::string::npos, {}, false},
      {"first byte", 0, {}, true},
      {"last byte read", FileFingerprint::bytes - 1, {}, true},
      {"only touched", std::string::npos, std::chrono::microseconds(1), true},
      {"byte beyond 64 KiB, new time", beyond, std::chrono::seconds(5), true},
      // Only the first 64 KiB are read: the time is what reveals a change further on.
      {"byte beyond 64 KiB, same time", beyond, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.change);
    TempDir temp;
    auto when = fs::file_time_type::clock::now() - std::chrono::hours(1);
    std::string content(FileFingerprint::bytes + 100, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    writeFile(temp / "a.bin", content, when);
    std::string before = FileFingerprint::compute(temp / "a.bin");
    EXPECT_TRUE(testing::matchesShape(before, "xxxxxxxxxxxxxxxx")) << before;

    if (c.flippedByte != std::string::npos) content[c.flippedByte] ^= 1;
    writeFile(temp / "a.bin", content, when + c.later);
    EXPECT_EQ(FileFingerprint::compute(temp / "a.bin") != before, c.changes);
  }
}

TEST(FileFingerprintTest, UnreadableFilesFailWithPathAndReason) {
  TempDir temp;
  const std::pair<fs::path, std::string> cases[] = {
      {temp / "missing", (temp / "missing").string() + ": No such file or directory"},
      {temp.path(), temp.path().string() + ": Is a directory"},
  };
  for (const auto& [path, text] : cases) {
    try {
      FileFingerprint::compute(path);
      ADD_FAILURE() << "no error for " << path;
    } catch (const FileFingerprintError& error) {
      EXPECT_EQ(std::string(error.what()), text);
    }
  }
}

}  // namespace
}  // namespace ferrytide
