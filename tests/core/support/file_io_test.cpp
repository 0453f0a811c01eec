#include "core/support/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "core/support/json.h"
#include "core/support/paths.h"
#include "support/temp_dir.h"

namespace ferrytide {
namespace {

using testing::TempDir;

TEST(FileIoTest, AtomicWriteReplacesWholeFileWithGivenModeAndLeavesNoTemporary) {
  TempDir temp;
  auto path = temp / "state.json";
  file_io::writeAtomically(path, asBytes("first version, rather long"), 0600);
  file_io::writeAtomically(path, asBytes("second"), 0640);
  EXPECT_EQ(toString(*file_io::readIfExists(path)), "second");
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.path()), {}), 1);
}

TEST(FileIoTest, FailedWriteKeepsTheOldFile) {
  TempDir temp;
  auto path = temp / "state.json";
  file_io::writeAtomically(path, asBytes("old"));
  // A folder in the way of the rename makes the write fail after the temporary file exists.
  auto blocked = temp / "blocked";
  std::filesystem::create_directory(blocked);
  std::ofstream(blocked / "inside") << "x";
  EXPECT_THROW(file_io::writeAtomically(blocked, asBytes("new")), file_io::FileError);
  EXPECT_EQ(toString(*file_io::readIfExists(path)), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.path()), {}), 2);
}

TEST(FileIoTest, WriteIfAbsentNeverReplaces) {
  TempDir temp;
  auto path = temp / "key";
  EXPECT_TRUE(file_io::writeAtomicallyIfAbsent(path, asBytes("one")));
  EXPECT_FALSE(file_io::writeAtomicallyIfAbsent(path, asBytes("two")));
  EXPECT_EQ(toString(*file_io::readIfExists(path)), "one");
  EXPECT_FALSE(file_io::readIfExists(temp / "missing"));
}

TEST(JsonTest, CompactSortedAndSlashesUnescaped) {
  json::Value value = {{"type", "Clipboard"}, {"mime", "text/plain"}, {"text", "a/b \u00e9"}};
  EXPECT_EQ(json::encodeCompact(value),
            "{\"mime\":\"text/plain\",\"text\":\"a/b \u00e9\",\"type\":\"Clipboard\"}");
  EXPECT_THROW(json::encodeCompact(json::Value(std::string("\xff"))), json::DecodeError);
}

TEST(JsonTest, FieldReadersNameTheKeyAndRefuseWrongTypes) {
  auto object = json::parse(R"({"size": 5, "big": 18446744073709551615, "half": 1.5, "s": "x"})");
  EXPECT_EQ(json::requireInt64(object, "size"), 5);
  EXPECT_THROW(json::requireInt64(object, "big"), json::DecodeError);
  EXPECT_THROW(json::requireInt64(object, "half"), json::DecodeError);
  EXPECT_THROW(json::requireInt64(object, "s"), json::DecodeError);
  EXPECT_FALSE(json::optionalString(object, "absent"));
  try {
    json::requireString(object, "name");
    ADD_FAILURE();
  } catch (const json::DecodeError& error) {
    EXPECT_STREQ(error.what(), "key \"name\" not found");
  }
  EXPECT_THROW(json::parse("{\"a\":"), json::DecodeError);
}

TEST(PathsTest, FoldersFollowTheXdgVariables) {
  TempDir temp;
  testing::ScopedEnv home("HOME", temp.path());
  testing::ScopedEnv config("XDG_CONFIG_HOME", temp / "config");
  testing::ScopedEnv data("XDG_DATA_HOME", temp / "data");  // restored at the end
  ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(paths::applicationSupportDirectory(), temp / ".local/share/Ferrytide");
  EXPECT_EQ(paths::downloadsDirectory(), temp / "Downloads");

  std::filesystem::create_directory(temp / "config");
  std::ofstream(temp / "config" / "user-dirs.dirs")
      << "# comment\nXDG_DOWNLOAD_DIR=\"$HOME/Incoming\"\n";
  EXPECT_EQ(paths::downloadsDirectory(), temp / "Incoming");

  ::setenv("XDG_DATA_HOME", (temp / "data").c_str(), 1);
  EXPECT_EQ(paths::appGroupContainer(), temp / "data" / "group.com.quenfold.ferrytide");
}

}  // namespace
}  // namespace ferrytide
