#include "core/transfer/mime_types.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_dir.h"

namespace ferrytide {
namespace {

using testing::TempDir;

constexpr const char* kGlobs = R"(# This file was automatically generated
80:text/html:*.html
50:image/jpeg:*.jpg
50:image/jpeg:*.jpeg
50:text/x-csrc:*.c:cs
50:text/x-c++src:*.C:cs
50:application/gzip:*.gz
50:application/x-compressed-tar:*.tar.gz
40:application/x-low:*.dup
60:application/x-high:*.dup
50:application/x-first:*.tie
50:application/x-second:*.tie
50:text/x-makefile:makefile
50:text/x-backup:*~
50:application/x-wild:*.[ab]
50:application/x-star:*.x*
garbage line
x50:application/x-badweight:*.bad
50::*.notype
50:application/x-trailing:*.trail:cs,other
)";

TEST(MimeTypesTest, LooksUpSimpleExtensionGlobs) {
  TempDir temp;
  std::ofstream(temp / "globs2") << kGlobs;
  MimeTypes mime(temp / "globs2");
  struct Case {
    const char* name;
    const char* type;
  };
  const Case cases[] = {
      {"photo.jpg", "image/jpeg"},
      {"photo.JPG", "image/jpeg"},  // letter case ignored
      {"Photo.JpEg", "image/jpeg"},
      {"main.c", "text/x-csrc"},  // "cs": exact case only
      {"main.C", "text/x-c++src"},
      {"page.html", "text/html"},
      {"backup.tar.gz", "application/x-compressed-tar"},  // longest glob on equal weight
      {"backup.TAR.GZ", "application/x-compressed-tar"},
      {"notes.gz", "application/gzip"},
      {"x.dup", "application/x-high"},                  // highest weight, whatever the order
      {"x.tie", "application/x-first"},                 // full tie: the earlier line
      {"/home/me/pictures.d/photo.jpg", "image/jpeg"},  // a path: its last component
      {"file.trail", "application/x-trailing"},
      {"file.TRAIL", "application/octet-stream"},
      {"Makefile", "application/octet-stream"},  // no extension
      {"makefile", "application/octet-stream"},
      {".jpg", "application/octet-stream"},  // hidden file, not an extension
      {"file.", "application/octet-stream"},
      {"file", "application/octet-stream"},
      {"", "application/octet-stream"},
      {"file.unknown", "application/octet-stream"},
      {"file.a", "application/octet-stream"},  // wildcard globs take no part
      {"file.xyz", "application/octet-stream"},
      {"file.bad", "application/octet-stream"},  // malformed lines are skipped
      {"file.notype", "application/octet-stream"},
      {"archive.jpg.gz", "application/gzip"},
  };
  for (const Case& c : cases) EXPECT_EQ(mime.mimeType(c.name), c.type) << c.name;
}

TEST(MimeTypesTest, MissingDatabaseGivesTheFallback) {
  TempDir temp;
  MimeTypes mime(temp / "missing");
  EXPECT_EQ(mime.size(), 0u);
  EXPECT_EQ(mime.mimeType("photo.jpg"), "application/octet-stream");
}

TEST(MimeTypesTest, SystemDatabaseKnowsCommonTypes) {
  if (!std::filesystem::exists(std::string(MimeTypes::defaultDatabasePath))) {
    GTEST_SKIP() << "no shared MIME database at " << MimeTypes::defaultDatabasePath;
  }
  const MimeTypes& mime = MimeTypes::shared();
  EXPECT_EQ(mime.mimeType("photo.JPG"), "image/jpeg");
  EXPECT_EQ(mime.mimeType("report.pdf"), "application/pdf");
  EXPECT_EQ(mime.mimeType("notes.txt"), "text/plain");
  EXPECT_EQ(mime.mimeType("backup.tar.gz"), "application/x-compressed-tar");
  EXPECT_EQ(mime.mimeType("no-extension"), "application/octet-stream");
}

}  // namespace
}  // namespace ferrytide
