#include "core/peers/peer_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "core/support/file_io.h"
#include "core/support/json.h"
#include "support/temp_dir.h"
#include "support/test_peers.h"

namespace ferrytide {
namespace {

using testing::entriesIn;
using testing::kKeyA;
using testing::kKeyB;
using testing::kKeyC;
using testing::phoneRecord;
using testing::readText;
using testing::TempDir;

// Content and inode: an atomic rewrite, even with the same bytes, gets a new inode.
struct FileState {
  std::string content;
  ino_t inode = 0;
  bool operator==(const FileState&) const = default;
};

FileState stateOf(const std::filesystem::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return {readText(path), info.st_ino};
}

template <typename Operation>
std::string storeErrorOf(Operation operation, PeerStoreError::Kind kind) {
  try {
    operation();
  } catch (const PeerStoreError& error) {
    EXPECT_EQ(error.kind(), kind) << error.what();
    return error.what();
  }
  ADD_FAILURE() << "no error";
  return {};
}

TEST(PeerStoreTest, DefaultsToPeerJsonInTheApplicationDataFolder) {
  TempDir temp;
  testing::ScopedEnv dataHome("XDG_DATA_HOME", temp.path());
  EXPECT_EQ(PeerStore().fileURL(), temp / "Ferrytide" / "peer.json");
}

TEST(PeerStoreTest, MissingFileIsAnEmptyBookAndUpsertCreatesFolderAndFile) {
  TempDir temp;
  PeerStore store(temp / "data" / "Ferrytide");
  EXPECT_TRUE(store.loadBook().peers.empty());
  EXPECT_FALSE(store.removeFirst([](const PeerRecord&) { return true; }));
  EXPECT_FALSE(std::filesystem::exists(store.directoryURL()));

  PeerRecord record = phoneRecord("Jürgen’s Pixel", kKeyA);
  store.upsert(record);
  EXPECT_EQ(store.loadBook(), PeerBook{{record}});
  EXPECT_EQ(entriesIn(store.directoryURL()), 1u);
}

TEST(PeerStoreTest, FileIsIndentedWithSortedKeysPlainSlashesAndUtf8) {
  TempDir temp;
  PeerStore store(temp.path());
  store.writeBook(PeerBook{{phoneRecord("Jürgen’s Pixel", kKeyC)}});
  EXPECT_EQ(readText(store.fileURL()), R"({
  "peers": [
    {
      "paired_at_epoch_ms": 1733480000000,
      "peer_android": "Android 14",
      "peer_fcm_token": "",
      "peer_hostname": "Jürgen’s Pixel",
      "peer_ip": "192.168.1.23",
      "peer_mac": "",
      "peer_port": 47820,
      "peer_pubkey": "3q2+796tvu/erb7v3q2+796tvu/erb7v3q2+796tvu8=",
      "peer_subnet": "192.168.1.0/24",
      "self_pubkey": ""
    }
  ]
})");
}

TEST(PeerStoreTest, BareRecordFileLoadsAsBookOfOneAndIsUpgradedByTheNextWrite) {
  TempDir temp;
  PeerStore store(temp.path());
  json::Value old = phoneRecord("Pixel 8", kKeyA).toJson();
  old.erase("self_pubkey");
  old.erase("peer_fcm_token");
  old.erase("peer_android");
  file_io::writeAtomically(store.fileURL(), asBytes(json::encodeCompact(old)));

  PeerRecord stored = phoneRecord("Pixel 8", kKeyA);
  stored.peer_android = "";
  EXPECT_EQ(store.loadBook(), PeerBook{{stored}});
  EXPECT_EQ(store.mostRecent(), stored);

  store.upsert(phoneRecord("Galaxy", kKeyC));
  json::Value written = json::parse(readText(store.fileURL()));
  EXPECT_EQ(written.size(), 1u);
  EXPECT_EQ(written, (PeerBook{{stored, phoneRecord("Galaxy", kKeyC)}}.toJson()));
}

TEST(PeerStoreTest, UpsertReplacesByKeyAndMovesTheRecordToTheEnd) {
  TempDir temp;
  PeerStore store(temp.path());
  store.upsert(phoneRecord("Pixel 8", kKeyA));
  store.save(phoneRecord("Galaxy", kKeyC));
  PeerRecord renamed = phoneRecord("Pixel 8 Pro", kKeyA, "10.0.0.5").withFcmToken("token-2");
  store.upsert(renamed);
  EXPECT_EQ(store.loadBook(), (PeerBook{{phoneRecord("Galaxy", kKeyC), renamed}}));

  // The most recent pairing wins; on a tie, the earlier record.
  store.upsert(phoneRecord("Tablet", kKeyB, "10.0.0.3", 1733480000001));
  store.upsert(phoneRecord("Tie", kKeyA, "10.0.0.4", 1733480000001));
  EXPECT_EQ(store.mostRecent()->peer_hostname, "Tablet");
}

TEST(PeerStoreTest, UpsertReplacingStaleDropsTheSamePhoneUnderOlderKeys) {
  TempDir temp;
  PeerStore store(temp.path());
  PeerRecord oldKey = phoneRecord("Pixel 8", kKeyA, "192.168.1.23", 1);
  PeerRecord otherAddress = phoneRecord("Pixel 8", kKeyB, "192.168.1.99", 2);
  PeerRecord otherName = phoneRecord("Galaxy", kKeyC, "192.168.1.23", 3);
  store.writeBook(PeerBook{{oldKey, otherAddress, otherName}});

  PeerRecord repaired =
      phoneRecord("Pixel 8", "bmV3IGtleSBuZXcga2V5IG5ldyBrZXkgbmV3IGtleSA=", "192.168.1.23", 4);
  EXPECT_EQ(store.upsertReplacingStale(repaired), std::vector<PeerRecord>{oldKey});
  EXPECT_EQ(store.loadBook(), (PeerBook{{otherAddress, otherName, repaired}}));

  // The same key again is an update, not a stale record.
  EXPECT_TRUE(store.upsertReplacingStale(repaired.withFcmToken("t")).empty());
  EXPECT_EQ(store.loadBook(), (PeerBook{{otherAddress, otherName, repaired.withFcmToken("t")}}));
}

TEST(PeerStoreTest, ResolvePrefersExactNamesThenNamePrefixesThenKeyPrefixes) {
  TempDir temp;
  PeerStore store(temp.path());
  store.writeBook(PeerBook{{phoneRecord("Pixel 8", kKeyA), phoneRecord("Pixel", kKeyB),
                            phoneRecord("Émile's phone", kKeyC)}});
  using Kind = PeerStoreError::Kind;

  EXPECT_EQ(storeErrorOf([&] { store.resolve("pIx"); }, Kind::decode),
            "PeerRecord decode failed: selector 'pIx' is ambiguous (matches: Pixel 8, Pixel)");
  EXPECT_EQ(store.resolve("PIXEL")->peer_pubkey, kKeyB);
  EXPECT_EQ(store.resolve("pixel 8")->peer_pubkey, kKeyA);
  // Letters outside ASCII are compared as they are.
  EXPECT_EQ(store.resolve("ÉMILE")->peer_pubkey, kKeyC);

  EXPECT_EQ(storeErrorOf([&] { store.resolve("Q83"); }, Kind::decode),
            "PeerRecord decode failed: selector 'Q83' is ambiguous on pubkey prefix");
  EXPECT_EQ(store.resolve("Q83V")->peer_pubkey, kKeyA);
  EXPECT_FALSE(store.resolve("galaxy"));
}

TEST(PeerStoreTest, RemoveFirstTakesTheFirstMatchAndWritesNothingWithoutOne) {
  TempDir temp;
  PeerStore store(temp.path());
  store.writeBook(PeerBook{
      {phoneRecord("A", kKeyA), phoneRecord("B", kKeyB, "10.0.0.9"), phoneRecord("C", kKeyC)}});
  FileState before = stateOf(store.fileURL());

  EXPECT_FALSE(store.removeFirst([](const PeerRecord& r) { return r.peer_hostname == "Z"; }));
  EXPECT_EQ(stateOf(store.fileURL()), before);

  auto removed = store.removeFirst([](const PeerRecord& r) { return r.peer_ip == "192.168.1.23"; });
  EXPECT_EQ(removed, phoneRecord("A", kKeyA));
  EXPECT_EQ(store.loadBook(),
            (PeerBook{{phoneRecord("B", kKeyB, "10.0.0.9"), phoneRecord("C", kKeyC)}}));
}

TEST(PeerStoreTest, DamagedFileFailsEveryCallAndIsNeverRewritten) {
  std::string good = json::encodeCompact(phoneRecord("Pixel 8", kKeyA).toJson());
  json::Value noMac = phoneRecord("Pixel 8", kKeyA).toJson();
  noMac.erase("peer_mac");
  auto withValue = [](const char* key, json::Value value) {
    json::Value record = phoneRecord("Pixel 8", kKeyA).toJson();
    record[key] = std::move(value);
    return json::encodeCompact(record);
  };

  struct Case {
    std::string content;
    std::string expected;
    bool wholeText;  // false: the library's parse error follows the given beginning
  };
  const std::string parseError = "PeerRecord decode failed: [json.exception.parse_error.101]";
  const Case cases[] = {
      {"", parseError, false},
      {"{\"peers\": [" + good, parseError, false},
      {"[]", "PeerRecord decode failed: expected a JSON object", true},
      {"{}", "PeerRecord decode failed: key \"peer_pubkey\" not found", true},
      {"{\"peers\": {}}", "PeerRecord decode failed: key \"peers\" is not an array", true},
      {"{\"peers\": [" + good + ", " + json::encodeCompact(noMac) + "]}",
       "PeerRecord decode failed: peers[1]: key \"peer_mac\" not found", true},
      {withValue("peer_mac", nullptr), "PeerRecord decode failed: key \"peer_mac\" not found",
       true},
      {withValue("peer_port", "47820"),
       "PeerRecord decode failed: key \"peer_port\" is not a signed 64-bit integer", true},
      {withValue("peer_fcm_token", false),
       "PeerRecord decode failed: key \"peer_fcm_token\" is not a string", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    TempDir temp;
    PeerStore store(temp.path());
    file_io::writeAtomically(store.fileURL(), asBytes(c.content));
    FileState before = stateOf(store.fileURL());
    using Kind = PeerStoreError::Kind;

    std::string message = storeErrorOf([&] { store.loadBook(); }, Kind::decode);
    if (c.wholeText) {
      EXPECT_EQ(message, c.expected);
    } else {
      EXPECT_EQ(message.rfind(c.expected, 0), 0u) << message;
    }
    EXPECT_EQ(storeErrorOf([&] { store.upsert(phoneRecord("New", kKeyB)); }, Kind::decode),
              message);
    EXPECT_EQ(
        storeErrorOf([&] { store.upsertReplacingStale(phoneRecord("New", kKeyB)); }, Kind::decode),
        message);
    EXPECT_EQ(storeErrorOf([&] { store.removeFirst([](const PeerRecord&) { return true; }); },
                           Kind::decode),
              message);
    EXPECT_EQ(storeErrorOf([&] { store.resolve("x"); }, Kind::decode), message);
    EXPECT_EQ(stateOf(store.fileURL()), before);
  }
}

TEST(PeerStoreTest, UnreadableFileIsAReadError) {
  TempDir temp;
  PeerStore store(temp.path(), "peer.json");
  std::filesystem::create_directories(store.fileURL() / "inside");
  EXPECT_EQ(storeErrorOf([&] { store.loadBook(); }, PeerStoreError::Kind::read),
            "PeerRecord read failed: " + store.fileURL().string() + ": Is a directory");
  EXPECT_EQ(storeErrorOf([&] { store.writeBook(PeerBook{}); }, PeerStoreError::Kind::write)
                .rfind("PeerRecord write failed: " + store.fileURL().string() + ": ", 0),
            0u);
  EXPECT_TRUE(std::filesystem::exists(store.fileURL() / "inside"));
}

TEST(PeerStoreTest, FolderThatCannotBeMadeIsADirectoryCreateError) {
  PeerStore store("/proc/ferrytide-peer-store-test/Ferrytide");
  EXPECT_EQ(storeErrorOf([&] { store.upsert(phoneRecord("Pixel 8", kKeyA)); },
                         PeerStoreError::Kind::directoryCreate)
                .rfind("could not create storage directory: /proc/ferrytide-peer-store-test: ", 0),
            0u);
}

TEST(PeerStoreTest, FailedEncodingLeavesTheOldFile) {
  TempDir temp;
  PeerStore store(temp.path());
  store.upsert(phoneRecord("Pixel 8", kKeyA));
  FileState before = stateOf(store.fileURL());
  // Text that is not UTF-8 cannot be written as JSON.
  std::string message = storeErrorOf([&] { store.upsert(phoneRecord("bad \xff name", kKeyB)); },
                                     PeerStoreError::Kind::write);
  EXPECT_EQ(message.rfind("PeerRecord write failed: ", 0), 0u);
  EXPECT_EQ(stateOf(store.fileURL()), before);
}

TEST(PeerStoreTest, WriteThatFailsPartWayLeavesTheOldFileAndNoTemporary) {
  TempDir temp;
  PeerStore store(temp.path());
  store.upsert(phoneRecord("Pixel 8", kKeyA));
  FileState before = stateOf(store.fileURL());

  // A file size limit makes the write fail part-way, like a full disk.
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit lowered{before.content.size() + 16, saved.rlim_max};
  auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &lowered);
  std::string message = storeErrorOf([&] { store.upsert(phoneRecord("Galaxy", kKeyC)); },
                                     PeerStoreError::Kind::write);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previousHandler);
  EXPECT_EQ(message, "PeerRecord write failed: " + store.fileURL().string() + ": File too large");
  EXPECT_EQ(stateOf(store.fileURL()), before);
  EXPECT_EQ(entriesIn(temp.path()), 1u);
}

TEST(PeerStoreTest, WipeRemovesTheFileAndIsFineWithoutOne) {
  TempDir temp;
  PeerStore store(temp.path());
  store.upsert(phoneRecord("Pixel 8", kKeyA));
  store.wipe();
  EXPECT_FALSE(std::filesystem::exists(store.fileURL()));
  EXPECT_NO_THROW(store.wipe());
  EXPECT_TRUE(store.loadBook().peers.empty());

  std::filesystem::create_directories(store.fileURL() / "inside");
  EXPECT_THROW(store.wipe(), file_io::FileError);
}

}  // namespace
}  // namespace ferrytide
