#include "core/transfer/file_fingerprint.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <regex>

#include "support/temp_dir.h"

namespace ferrytide {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

void writeBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A file a little over 64 KiB, with a fixed modification time.
std::string makeFile(const fs::path& path, fs::file_time_type modified) {
  std::string content(FileFingerprint::bytes + 100, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  writeBytes(path, content);
  fs::last_write_time(path, modified);
  return content;
}

TEST(FileFingerprintTest, IsSixteenLowerCaseHexDigitsAndStableForAnUnchangedFile) {
  TempDir temp;
  auto when = fs::file_time_type::clock::now() - std::chrono::hours(1);
  makeFile(temp / "a.bin", when);
  std::string fingerprint = FileFingerprint::compute(temp / "a.bin");
  EXPECT_TRUE(std::regex_match(fingerprint, std::regex("[0-9a-f]{16}"))) << fingerprint;
  EXPECT_EQ(FileFingerprint::compute(temp / "a.bin"), fingerprint);

  writeBytes(temp / "empty", "");
  EXPECT_EQ(FileFingerprint::compute(temp / "empty").size(), 16u);
}

TEST(FileFingerprintTest, ChangesWhenTheFileChanges) {
  struct Case {
    const char* change;
    std::function<void(const fs::path&, std::string&, fs::file_time_type)> apply;
    bool fingerprintChanges;
  };
  auto rewrite = [](const fs::path& path, const std::string& content, fs::file_time_type when) {
    writeBytes(path, content);
    fs::last_write_time(path, when);
  };
  const Case cases[] = {
      {"first byte, same time",
       [&](const fs::path& p, std::string& c, fs::file_time_type t) { c[0] ^= 1; rewrite(p, c, t); },
       true},
      {"byte beyond 64 KiB, same size, new time",
       [&](const fs::path& p, std::string& c, fs::file_time_type t) {
         c[FileFingerprint::bytes + 10] ^= 1;
         rewrite(p, c, t + std::chrono::seconds(5));
       },
       true},
      {"only touched",
       [&](const fs::path& p, std::string& c, fs::file_time_type t) {
         rewrite(p, c, t + std::chrono::nanoseconds(1000));
       },
       true},
      // Only the first 64 KiB are read: the time is what reveals a change further on.
      {"byte beyond 64 KiB, same time",
       [&](const fs::path& p, std::string& c, fs::file_time_type t) {
         c[FileFingerprint::bytes + 10] ^= 1;
         rewrite(p, c, t);
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.change);
    TempDir temp;
    auto when = fs::file_time_type::clock::now() - std::chrono::hours(1);
    std::string content = makeFile(temp / "a.bin", when);
    std::string before = FileFingerprint::compute(temp / "a.bin");
    c.apply(temp / "a.bin", content, when);
    EXPECT_EQ(FileFingerprint::compute(temp / "a.bin") != before, c.fingerprintChanges);
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
