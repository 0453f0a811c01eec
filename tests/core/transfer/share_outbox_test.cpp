#include "core/transfer/share_outbox.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>

#include "core/transfer/file_fingerprint.h"
#include "support/temp_dir.h"

namespace ferrytide {
namespace {

using testing::entriesIn;
using testing::readText;
using testing::TempDir;
using testing::writeText;
namespace fs = std::filesystem;
using SharePeer = ShareOutbox::SharePeer;
using Manifest = ShareOutbox::Manifest;

const std::string kKeyA = "q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA=";
const std::string kKeyB = "Q83xAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";

Manifest manifestOf(std::string id, std::int64_t createdAtMs, std::vector<std::string> files) {
  Manifest manifest;
  manifest.id = std::move(id);
  manifest.createdAtMs = createdAtMs;
  manifest.files = std::move(files);
  return manifest;
}

// A job folder as a sharer leaves it, with or without its manifest.
fs::path makeJob(const ShareOutbox& outbox, const std::string& name,
                 const std::vector<std::string>& files, bool withManifest = true) {
  fs::path job = *outbox.outboxRoot() / name;
  fs::create_directories(job);
  for (const std::string& file : files) writeText(job / file, "content of " + file);
  if (withManifest) {
    Manifest manifest = manifestOf(name, 1733480000000, files);
    writeText(job / "manifest.json", json::encodeCompact(manifest.toJson()));
  }
  return job;
}

TEST(ShareOutboxTest, PathsLieInTheAppGroupContainer) {
  TempDir temp;
  testing::ScopedEnv dataHome("XDG_DATA_HOME", temp.path());
  ShareOutbox outbox;

  EXPECT_EQ(outbox.container(), temp / "group.com.quenfold.ferrytide");
  EXPECT_EQ(outbox.outboxRoot(), temp / "group.com.quenfold.ferrytide" / "Outbox");
  EXPECT_EQ(outbox.peersFileURL(), temp / "group.com.quenfold.ferrytide" / "peers.json");
}

TEST(ShareOutboxTest, WithoutAContainerEverythingIsANoOp) {
  TempDir temp;
  writeText(temp / "a.txt", "a");
  ShareOutbox outbox(std::nullopt);
  EXPECT_FALSE(outbox.outboxRoot());
  EXPECT_FALSE(outbox.peersFileURL());
  outbox.writePeers({SharePeer{"Pixel", kKeyA, ""}});
  outbox.postPending();
  EXPECT_TRUE(outbox.readPeers().empty());
  EXPECT_TRUE(outbox.pendingJobs().empty());
  try {
    outbox.writeJob({temp / "a.txt"});
    ADD_FAILURE() << "no error";
  } catch (const ShareOutboxError& error) {
    EXPECT_EQ(std::string(error.what()), "no app-group container");
  }
}

TEST(ShareOutboxTest, PeersFileIsACompactArrayThatReadsBack) {
  TempDir temp;
  ShareOutbox outbox(temp / "container");
  std::vector<SharePeer> peers{{"Jürgen’s Pixel", kKeyA, "Android 14"}, {"Tablet", kKeyB, ""}};
  outbox.writePeers(peers);
  EXPECT_EQ(readText(*outbox.peersFileURL()),
            R"([{"hostname":"Jürgen’s Pixel","pubkey":")" + kKeyA +
                R"(","subtitle":"Android 14"},{"hostname":"Tablet","pubkey":")" + kKeyB +
                R"(","subtitle":""}])");
  EXPECT_EQ(outbox.readPeers(), peers);

  outbox.writePeers({});
  EXPECT_EQ(readText(*outbox.peersFileURL()), "[]");
  EXPECT_TRUE(outbox.readPeers().empty());
}

TEST(ShareOutboxTest, PeersFileOfAnotherShapeReadsAsEmpty) {
  const char* contents[] = {
      "",
      "not json",
      "{}",
      R"({"hostname":"a","pubkey":"b","subtitle":"c"})",
      "[1]",
      R"([{"hostname":"a","pubkey":"b"}])",
      R"([{"hostname":"a","pubkey":"b","subtitle":null}])",
      R"([{"hostname":"a","pubkey":"b","subtitle":"c"},{"hostname":2,"pubkey":"b","subtitle":"c"}])",
  };
  for (const char* content : contents) {
    TempDir temp;
    ShareOutbox outbox(temp.path());
    writeText(*outbox.peersFileURL(), content);
    EXPECT_TRUE(outbox.readPeers().empty()) << content;
  }
}

TEST(ShareOutboxTest, SharePeerFromAPeerRecord) {
  struct Case {
    const char* displayName;
    const char* android;
    const char* ip;
    SharePeer expected;
  };
  const Case cases[] = {
      {"", "14", "192.168.1.23", {"Pixel 8", kKeyA, "Android 14"}},
      {"Work phone", "14", "192.168.1.23", {"Work phone", kKeyA, "Android 14"}},
      {"", "", "192.168.1.23", {"Pixel 8", kKeyA, "192.168.1.23"}},
      {"", "", "", {"Pixel 8", kKeyA, ""}},
  };
  for (const Case& c : cases) {
    PeerRecord record;
    record.peer_pubkey = kKeyA;
    record.peer_ip = c.ip;
    record.peer_hostname = "Pixel 8";
    record.peer_android = c.android;
    EXPECT_EQ(SharePeer::fromPeer(record, c.displayName), c.expected) << c.displayName << c.ip;
  }
}

TEST(ShareOutboxTest, ManifestKeysAndAbsentTargets) {
  Manifest manifest = manifestOf("JOB", 1733480000123, {"a.pdf", "2/a.pdf"});
  EXPECT_EQ(json::encodeCompact(manifest.toJson()),
            R"({"createdAtMs":1733480000123,"files":["a.pdf","2/a.pdf"],"id":"JOB"})");
  EXPECT_EQ(Manifest::fromJson(manifest.toJson()), manifest);
  EXPECT_FALSE(Manifest::fromJson(
                   json::parse(R"({"createdAtMs":1,"files":[],"id":"J","targetPubkeys":null})"))
                   .targetPubkeys);

  manifest.targetPubkeys = std::vector<std::string>{kKeyB, kKeyA};
  EXPECT_EQ(
      json::encodeCompact(manifest.toJson()),
      R"({"createdAtMs":1733480000123,"files":["a.pdf","2/a.pdf"],"id":"JOB","targetPubkeys":[")" +
          kKeyB + R"(",")" + kKeyA + R"("]})");
  EXPECT_EQ(Manifest::fromJson(manifest.toJson()), manifest);

  manifest.targetPubkeys = std::vector<std::string>{};
  EXPECT_EQ(Manifest::fromJson(manifest.toJson()), manifest);  // present though empty
}

TEST(ShareOutboxTest, BadOrUnreadableManifestsFailWithTheReason) {
  TempDir temp;
  ShareOutbox outbox(temp.path());
  const fs::path job = *outbox.outboxRoot() / "job";
  const std::string decode = "manifest decode failed: ";
  const std::string read = "manifest read failed: " + (job / "manifest.json").string() + ": ";
  auto outside = [&](const char* name) {
    return decode + "file name \"" + name + "\" is not inside the job folder";
  };
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {std::nullopt, read + "No such file or directory"},
      {std::string(ShareOutbox::maxManifestBytes + 1, ' '), read + "larger than 1048576 bytes"},
      {"[]", decode + "expected a JSON object"},
      {R"({"createdAtMs":1,"files":[]})", decode + R"(key "id" not found)"},
      {R"({"id":"J","files":[]})", decode + R"(key "createdAtMs" not found)"},
      {R"({"id":"J","createdAtMs":"1","files":[]})",
       decode + R"(key "createdAtMs" is not a signed 64-bit integer)"},
      {R"({"id":"J","createdAtMs":1,"files":"a.txt"})", decode + R"(key "files" is not an array)"},
      {R"({"id":"J","createdAtMs":1,"files":[1]})",
       decode + R"(key "files" holds a value that is not a string)"},
      {R"({"id":"J","createdAtMs":1,"files":[],"targetPubkeys":"k"})",
       decode + R"(key "targetPubkeys" is not an array)"},
      {R"({"id":"J","createdAtMs":1,"files":["../../x"]})", outside("../../x")},
      {R"({"id":"J","createdAtMs":1,"files":["a.txt","/etc/passwd"]})", outside("/etc/passwd")},
      {R"({"id":"J","createdAtMs":1,"files":["sub/../../x"]})", outside("sub/../../x")},
      {R"({"id":"J","createdAtMs":1,"files":[".."]})", outside("..")},
      {R"({"id":"J","createdAtMs":1,"files":[""]})", outside("")},
      {R"({"id":"J","createdAtMs":1,"files":["sub/"]})", outside("sub/")},
  };
  for (const auto& [content, expected] : cases) {
    fs::create_directories(job);
    if (content) writeText(job / "manifest.json", *content);
    try {
      outbox.readManifest(job);
      ADD_FAILURE() << "no error for " << content.value_or("no manifest");
    } catch (const ShareOutboxError& error) {
      EXPECT_EQ(error.kind(), expected.starts_with(decode) ? ShareOutboxError::Kind::manifestDecode
                                                           : ShareOutboxError::Kind::manifestRead);
      EXPECT_EQ(std::string(error.what()), expected);
    }
  }
}

TEST(ShareOutboxTest, ScanTakesOnlyVisibleFoldersWithAManifest) {
  TempDir temp;
  ShareOutbox outbox(temp.path());
  fs::path second = makeJob(outbox, "job-2", {"b.txt"});
  fs::path first = makeJob(outbox, "job-1", {"a.txt"});
  fs::path unfinished = makeJob(outbox, "job-3", {"c.txt"}, false);
  makeJob(outbox, ".hidden", {"d.txt"});
  outbox.postPending();
  writeText(*outbox.outboxRoot() / "stray-file", "x");
  fs::create_directory_symlink(first, *outbox.outboxRoot() / "job-link");
  fs::create_directories(*outbox.outboxRoot() / "job-4");
  fs::create_directories(*outbox.outboxRoot() / "job-4" / "manifest.json");  // not a file

  EXPECT_EQ(outbox.pendingJobs(), (std::vector<fs::path>{first, second}));
  EXPECT_EQ(readText(unfinished / "c.txt"), "content of c.txt");  // left untouched

  EXPECT_TRUE(ShareOutbox(temp / "nothing-here").pendingJobs().empty());
}

TEST(ShareOutboxTest, JobFilesSkipMissingEntriesAndLinksInManifestOrder) {
  TempDir temp;
  ShareOutbox outbox(temp.path());
  writeText(temp / "outside.txt", "private");
  fs::path job = makeJob(outbox, "job", {"z.txt", "sub/a.txt"});
  fs::create_symlink(temp / "outside.txt", job / "link.txt");
  Manifest manifest =
      manifestOf("J", 1, {"z.txt", "missing.txt", "link.txt", "sub/a.txt", "../outside.txt"});
  EXPECT_EQ(outbox.jobFiles(job, manifest),
            (std::vector<fs::path>{job / "z.txt", job / "sub/a.txt"}));
}

TEST(ShareOutboxTest, RemovedJobIsGoneWithItsStrayFilesAndNothingElseIsTouched) {
  TempDir temp;
  ShareOutbox outbox(temp / "container");
  fs::path job = makeJob(outbox, "job", {"a.txt"});
  writeText(job / "stray" / "left-over.bin", "x");
  fs::path other = makeJob(outbox, "other", {"b.txt"});
  writeText(temp / "precious" / "manifest.json", "{}");
  const fs::path refused[] = {temp / "precious", *outbox.outboxRoot(), *outbox.container(),
                              other / "b.txt", *outbox.outboxRoot() / "other" / ".." / ".."};
  for (const fs::path& path : refused) EXPECT_FALSE(outbox.removeJob(path)) << path;
  EXPECT_TRUE(fs::exists(temp / "precious" / "manifest.json"));

  EXPECT_TRUE(outbox.removeJob(job));
  EXPECT_FALSE(fs::exists(job));
  EXPECT_EQ(outbox.pendingJobs(), (std::vector<fs::path>{other}));
  EXPECT_EQ(entriesIn(*outbox.outboxRoot()), 1u);  // no hidden remains either
  EXPECT_TRUE(outbox.removeJob(job));              // already gone
}

TEST(ShareOutboxTest, KeptJobLeavesTheScanWithItsFilesAndOnlyTheNewestStay) {
  TempDir temp;
  ShareOutbox outbox(temp / "container");
  fs::path job = makeJob(outbox, "job", {"a.txt"});
  EXPECT_EQ(outbox.keepAside(temp / "elsewhere"), std::nullopt);

  std::optional<fs::path> kept = outbox.keepAside(job);
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(readText(*kept / "a.txt"), "content of a.txt");
  EXPECT_TRUE(outbox.pendingJobs().empty());

  auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
  fs::last_write_time(*kept, old);
  for (std::size_t i = 0; i < ShareOutbox::keptJobsLimit; ++i) {
    ASSERT_TRUE(outbox.keepAside(makeJob(outbox, "newer-" + std::to_string(i), {"b.txt"})));
  }
  EXPECT_FALSE(fs::exists(*kept)) << "the oldest kept job makes room";
  EXPECT_EQ(entriesIn(kept->parent_path()), ShareOutbox::keptJobsLimit);
}

TEST(ShareOutboxTest, WrittenJobIsWhatTheReaderTakes) {
  TempDir temp;
  writeText(temp / "one" / "report.pdf", "first report");
  writeText(temp / "two" / "report.pdf", "second report");
  writeText(temp / "three" / "report.pdf", "third report");
  writeText(temp / "photo.jpg", "jpeg");
  fs::last_write_time(temp / "photo.jpg", fs::file_time_type::clock::now() - std::chrono::hours(5));
  ShareOutbox outbox(temp / "container");

  auto before = std::chrono::system_clock::now();
  fs::path job = outbox.writeJob({temp / "one" / "report.pdf", temp / "photo.jpg",
                                  temp / "two" / "report.pdf", temp / "three" / "report.pdf"},
                                 {kKeyB});
  auto after = std::chrono::system_clock::now();

  EXPECT_EQ(outbox.pendingJobs(), (std::vector<fs::path>{job}));
  EXPECT_FALSE(job.filename().string().starts_with("."));
  Manifest manifest = outbox.readManifest(job);
  EXPECT_EQ(manifest.files,
            (std::vector<std::string>{"report.pdf", "photo.jpg", "2/report.pdf", "3/report.pdf"}));
  EXPECT_EQ(manifest.targetPubkeys, std::vector<std::string>{kKeyB});
  EXPECT_FALSE(manifest.id.empty());
  auto ms = [](auto time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  };
  EXPECT_GE(manifest.createdAtMs, ms(before));
  EXPECT_LE(manifest.createdAtMs, ms(after));

  std::vector<fs::path> files = outbox.jobFiles(job, manifest);
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(readText(files[0]), "first report");
  EXPECT_EQ(readText(files[2]), "second report");
  EXPECT_EQ(readText(files[3]), "third report");
  EXPECT_EQ(files[2].filename(), "report.pdf");
  // Same content and time: the copy resumes a send of the original.
  EXPECT_EQ(FileFingerprint::compute(files[1]), FileFingerprint::compute(temp / "photo.jpg"));

  fs::path defaultTarget = outbox.writeJob({temp / "photo.jpg"});
  EXPECT_FALSE(outbox.readManifest(defaultTarget).targetPubkeys);
  EXPECT_EQ(outbox.pendingJobs().size(), 2u);
}

TEST(ShareOutboxTest, UnshareableFilesWriteNoJob) {
  TempDir temp;
  writeText(temp / "a.txt", "a");
  ShareOutbox outbox(temp / "container");
  struct Case {
    std::vector<fs::path> files;
    std::string error;
  };
  const Case cases[] = {
      {{}, "no files to share"},
      {{temp / "a.txt", temp / "missing.txt"},
       "cannot share " + (temp / "missing.txt").string() + ": no such file"},
      {{temp.path()}, "cannot share " + temp.path().string() + ": not a regular file"},
  };
  for (const Case& c : cases) {
    try {
      outbox.writeJob(c.files);
      ADD_FAILURE() << "no error: " << c.error;
    } catch (const ShareOutboxError& error) {
      EXPECT_EQ(std::string(error.what()), c.error);
    }
  }
  EXPECT_FALSE(fs::exists(*outbox.outboxRoot()));
}

TEST(ShareOutboxTest, PostPendingCreatesAndTouchesTheHiddenMarker) {
  TempDir temp;
  ShareOutbox outbox(temp / "container");
  fs::path marker = *outbox.outboxRoot() / ".pending";
  outbox.postPending();
  ASSERT_TRUE(fs::is_regular_file(marker));

  auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
  fs::last_write_time(marker, old);
  outbox.postPending();
  EXPECT_GT(fs::last_write_time(marker), old + std::chrono::minutes(59));
  EXPECT_TRUE(outbox.pendingJobs().empty());
}

}  // namespace
}  // namespace ferrytide
