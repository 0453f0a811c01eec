// Offered names made safe, numbered names, and the rename that never replaces a file.

#include "core/transfer/collision_resolver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "core/transfer/partial_meta.h"
#include "support/receive_session.h"
#include "support/temp_dir.h"

namespace ferrytide {
namespace {

using testing::readFileBytes;
using testing::TempDir;
using testing::writeFileBytes;

// "photo-" + a random UUID in upper case + ".jpg": E621E1F8-C36C-495A-93FC-0C247A3E6E5F.
bool isUUIDName(const std::string& name) {
  const std::string prefix = "photo-";
  const std::string suffix = ".jpg";
  if (name.size() != prefix.size() + 36 + suffix.size() || !name.starts_with(prefix) ||
      !name.ends_with(suffix)) {
    return false;
  }
  const std::string uuid = name.substr(prefix.size(), 36);
  for (std::size_t i = 0; i < uuid.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    const char c = uuid[i];
    if (dash != (c == '-')) return false;
    if (!dash && !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return uuid[14] == '4' && std::string("89AB").find(uuid[19]) != std::string::npos;
}

struct SanitizeCase {
  std::string offered;
  std::string expected;
};

TEST(CollisionResolverTest, SanitizeKeepsOnlyASafeLastComponent) {
  const SanitizeCase cases[] = {
      {"../../etc/passwd", "passwd"},
      {"/etc/shadow", "shadow"},
      {"dir/sub/", "sub"},
      {"dir/sub//", "sub"},
      {"/", "received"},
      {"..", "received"},
      {".", "received"},
      {"a/..", "received"},
      {"", "received"},
      {"   ", "received"},
      {"\t\r\n ", "received"},
      {"\u00A0\u3000\u2028", "received"},
      {"a\\b\\c.txt", "a_b_c.txt"},
      {"..\\..\\evil.sh", ".._.._evil.sh"},
      {std::string("a\0b.txt", 7), "a_b.txt"},
      {std::string("\0", 1), "_"},
      {"  report final.pdf \n", "report final.pdf"},
      {"\u00A0name.txt\u3000", "name.txt"},
      {"caf\u00E9 \u00FCber.txt", "caf\u00E9 \u00FCber.txt"},
      {".hidden", ".hidden"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CollisionResolver::sanitize(c.offered), c.expected) << "offered: " << c.offered;
  }
}

TEST(CollisionResolverTest, AllNumberedNamesTakenFallsBackToAnUpperCaseUUIDName) {
  TempDir dir;
  writeFileBytes(dir / "photo.jpg", {});
  for (int n = 2; n <= CollisionResolver::maxNumberedCandidates; ++n) {
    // Half of them as partials: a partial takes its name as much as a file does.
    const std::string name = "photo " + std::to_string(n) + ".jpg" + (n % 2 ? ".partial" : "");
    writeFileBytes(dir / name, {});
  }

  const auto target = CollisionResolver::resolveTarget(dir.path(), "photo.jpg", "T1");
  EXPECT_TRUE(isUUIDName(target.finalURL.filename().string())) << target.finalURL;
  EXPECT_EQ(target.partialURL.string(), target.finalURL.string() + ".partial");
  EXPECT_EQ(target.resumeOffset, 0);

  const auto finalURL = CollisionResolver::resolveFinalURL(dir.path(), "photo.jpg");
  EXPECT_TRUE(isUUIDName(finalURL.filename().string())) << finalURL;
  EXPECT_NE(finalURL, target.finalURL);
}

TEST(CollisionResolverTest, ResolveFinalURLSkipsNamesTakenByFilesPartialsAndLinks) {
  TempDir dir;
  writeFileBytes(dir / "a.txt", {});
  writeFileBytes(dir / "a 2.txt.partial", {});
  ASSERT_EQ(::symlink("nowhere", (dir / "a 3.txt").c_str()), 0);
  EXPECT_EQ(CollisionResolver::resolveFinalURL(dir.path(), "a.txt"), dir / "a 4.txt");
  EXPECT_EQ(CollisionResolver::resolveFinalURL(dir.path(), "free.txt"), dir / "free.txt");
}

TEST(CollisionResolverTest, MoveToFreeNameNeverReplacesAFileThatTookTheNameMeanwhile) {
  TempDir dir;
  writeFileBytes(dir / "photo.jpg.partial", toBytes("received"));
  // The name was free when it was chosen; another program has taken it since.
  writeFileBytes(dir / "photo.jpg", toBytes("someone else's"));
  writeFileBytes(dir / "photo 2.jpg", toBytes("another one"));

  const auto savedAt = CollisionResolver::moveToFreeName(
      dir / "photo.jpg.partial", dir / "photo.jpg", dir.path(), "photo.jpg");

  EXPECT_EQ(savedAt, dir / "photo 3.jpg");
  EXPECT_EQ(readFileBytes(savedAt), toBytes("received"));
  EXPECT_EQ(readFileBytes(dir / "photo.jpg"), toBytes("someone else's"));
  EXPECT_EQ(readFileBytes(dir / "photo 2.jpg"), toBytes("another one"));
  EXPECT_FALSE(readFileBytes(dir / "photo.jpg.partial"));
}

TEST(CollisionResolverTest, MoveToFreeNameReportsTheSystemsReason) {
  TempDir dir;
  try {
    CollisionResolver::moveToFreeName(dir / "gone.partial", dir / "gone", dir.path(), "gone");
    FAIL() << "expected a failure";
  } catch (const Error& error) {
    EXPECT_EQ(error.description(), (dir / "gone").string() + ": No such file or directory");
  }
}

}  // namespace
}  // namespace ferrytide
