// The sidecar of a partial download: its exact file format and what counts as absent.

#include "core/transfer/partial_meta.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/receive_session.h"
#include "support/temp_dir.h"

namespace ferrytide {
namespace {

using testing::folderListing;
using testing::readFileBytes;
using testing::TempDir;
using testing::writeFileBytes;

TEST(PartialMetaTest, SavedSidecarIsPrettySortedJSONBesideThePartialAndLoadsBack) {
  TempDir dir;
  const auto partial = dir / "photo.jpg.partial";
  const PartialMeta meta{"4F1C/9A", 52311, 1764000000123};

  PartialMetaIO::save(meta, partial);

  EXPECT_EQ(PartialMetaIO::metaURL(partial), dir / "photo.jpg.partial.meta.json");
  EXPECT_EQ(toString(readFileBytes(dir / "photo.jpg.partial.meta.json").value_or(Bytes{})),
            "{\n"
            "  \"advertised_size\": 52311,\n"
            "  \"started_at_epoch_ms\": 1764000000123,\n"
            "  \"transfer_id\": \"4F1C/9A\"\n"
            "}");
  EXPECT_EQ(PartialMetaIO::load(partial), meta);
  // Written under a temporary name and renamed: nothing else is left behind.
  EXPECT_EQ(folderListing(dir.path()), std::set<std::string>{"photo.jpg.partial.meta.json"});
}

TEST(PartialMetaTest, SaveReplacesAnEarlierSidecar) {
  TempDir dir;
  const auto partial = dir / "a.partial";
  PartialMetaIO::save({"old", 1, 2}, partial);
  PartialMetaIO::save({"new", 3, 4}, partial);
  EXPECT_EQ(PartialMetaIO::load(partial), (PartialMeta{"new", 3, 4}));
}

struct UnusableSidecar {
  const char* label;
  std::string content;
};

TEST(PartialMetaTest, UnreadableOrUndecodableSidecarCountsAsAbsent) {
  const UnusableSidecar cases[] = {
      {"empty file", ""},
      {"not JSON", "transfer_id=T1"},
      {"truncated", "{\"transfer_id\":\"T1\",\"advertised_size\":"},
      {"an array", "[\"T1\"]"},
      {"no transfer_id", R"({"advertised_size":1,"started_at_epoch_ms":2})"},
      {"no advertised_size", R"({"transfer_id":"T1","started_at_epoch_ms":2})"},
      {"no started_at_epoch_ms", R"({"transfer_id":"T1","advertised_size":1})"},
      {"transfer_id a number", R"({"transfer_id":7,"advertised_size":1,"started_at_epoch_ms":2})"},
      {"size a string", R"({"transfer_id":"T1","advertised_size":"1","started_at_epoch_ms":2})"},
      {"size a fraction", R"({"transfer_id":"T1","advertised_size":1.5,"started_at_epoch_ms":2})"},
      {"huge",
       "{\"transfer_id\":\"T1\",\"advertised_size\":1,\"started_at_epoch_ms\":2,\"pad\":\"" +
           std::string(70'000, 'x') + "\"}"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    writeFileBytes(dir / "f.partial.meta.json", toBytes(c.content));
    EXPECT_FALSE(PartialMetaIO::load(dir / "f.partial")) << c.label;
  }

  TempDir dir;
  EXPECT_FALSE(PartialMetaIO::load(dir / "missing.partial")) << "no file";
  std::filesystem::create_directory(dir / "d.partial.meta.json");
  EXPECT_FALSE(PartialMetaIO::load(dir / "d.partial")) << "a folder";
  PartialMetaIO::save({"T1", 1, 2}, dir / "real.partial");
  ASSERT_EQ(::symlink("real.partial.meta.json", (dir / "link.partial.meta.json").c_str()), 0);
  EXPECT_FALSE(PartialMetaIO::load(dir / "link.partial")) << "a symbolic link";
}

TEST(PartialMetaTest, ExtraKeysAreIgnored) {
  TempDir dir;
  writeFileBytes(
      dir / "f.partial.meta.json",
      toBytes(R"({"transfer_id":"T1","advertised_size":1,"started_at_epoch_ms":2,"x":[]})"));
  EXPECT_EQ(PartialMetaIO::load(dir / "f.partial"), (PartialMeta{"T1", 1, 2}));
}

TEST(PartialMetaTest, RemoveDeletesTheSidecarAndToleratesItsAbsence) {
  TempDir dir;
  writeFileBytes(dir / "f.partial", toBytes("data"));
  PartialMetaIO::save({"T1", 1, 2}, dir / "f.partial");
  PartialMetaIO::remove(dir / "f.partial");
  EXPECT_EQ(folderListing(dir.path()), std::set<std::string>{"f.partial"});
  PartialMetaIO::remove(dir / "f.partial");
  EXPECT_EQ(folderListing(dir.path()), std::set<std::string>{"f.partial"});
}

}  // namespace
}  // namespace ferrytide
