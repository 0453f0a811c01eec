// The shared receive steps on their own (where a file lands, what is never touched), and the
// one-shot receive against a test phone over loopback TCP.

#include "core/transfer/receive_transfer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "core/transfer/partial_meta.h"
#include "support/receive_session.h"
#include "support/temp_dir.h"
#include "support/test_phone.h"

namespace ferrytide {
namespace {

using namespace std::chrono_literals;
using testing::folderListing;
using testing::PhoneScript;
using testing::readFileBytes;
using testing::runOneShotSession;
using testing::SessionOutcome;
using testing::TempDir;
using testing::TestPhone;
using testing::treeSnapshot;
using testing::writeFileBytes;
using Endpoint = asio::ip::tcp::endpoint;
using Task = asio::awaitable<void>;

const std::string kPayload = "payload";

// ---- Where an offered file lands

// The save folder is <root>/parent/save; <root>/parent holds files a hostile name might aim at.
class SaveFolder {
 public:
  SaveFolder() {
    std::filesystem::create_directories(save);
    writeFileBytes(parent / "passwd", toBytes("decoy"));
    writeFileBytes(parent / "target.bin", toBytes("outside"));
  }
  // Everything outside the save folder.
  std::map<std::string, std::string> outside() const { return treeSnapshot(root.path(), save); }

  TempDir root;
  std::filesystem::path parent = root / "parent";
  std::filesystem::path save = parent / "save";
};

struct Existing {
  enum class Kind { file, linkOutside, danglingLink };
  std::string name;
  std::string content;
  std::optional<std::string> sidecarTransferId;
  Kind kind = Kind::file;
};

Existing file(std::string name, std::string content,
              std::optional<std::string> sidecarTransferId = std::nullopt) {
  return {std::move(name), std::move(content), std::move(sidecarTransferId), Existing::Kind::file};
}

Existing link(std::string name, Existing::Kind kind,
              std::optional<std::string> sidecarTransferId = std::nullopt) {
  return {std::move(name), "", std::move(sidecarTransferId), kind};
}

void create(const SaveFolder& folder, const Existing& entry) {
  const auto path = folder.save / entry.name;
  switch (entry.kind) {
    case Existing::Kind::file:
      writeFileBytes(path, toBytes(entry.content));
      break;
    case Existing::Kind::linkOutside:
      ASSERT_EQ(::symlink((folder.parent / "target.bin").c_str(), path.c_str()), 0);
      break;
    case Existing::Kind::danglingLink:
      ASSERT_EQ(::symlink("nowhere", path.c_str()), 0);
      break;
  }
  if (entry.sidecarTransferId) PartialMetaIO::save({*entry.sidecarTransferId, 7, 1}, path);
}

struct NameCase {
  const char* label;
  std::string offered;
  std::vector<Existing> existing;
  std::string expectedName;
  std::int64_t expectedOffset = 0;  // > 0: the partial named expectedName + ".partial" resumes
};

TEST(FileReceiveStateTest, OfferedNamesLandInsideTheSaveFolderAtAFreeName) {
  using Kind = Existing::Kind;
  const std::string other = "T-other";
  const std::string mine = "T-new";
  const NameCase cases[] = {
      {"path climbing out", "../../etc/passwd", {}, "passwd"},
      {"climbing to a sibling", "../passwd", {}, "passwd"},
      {"absolute path", "/etc/passwd", {}, "passwd"},
      {"dot dot", "..", {}, "received"},
      {"dot", ".", {}, "received"},
      {"spaces only", "   ", {}, "received"},
      {"empty", "", {}, "received"},
      {"backslashes", "..\\..\\evil.sh", {}, ".._.._evil.sh"},
      {"NUL", std::string("a\0b.txt", 7), {}, "a_b.txt"},
      {"taken", "photo.jpg", {file("photo.jpg", "mine")}, "photo 2.jpg"},
      {"taken, no extension", "notes", {file("notes", "mine")}, "notes 2"},
      {"two taken", "photo.jpg", {file("photo.jpg", "a"), file("photo 2.jpg", "b")}, "photo 3.jpg"},
      {"double extension", "a.tar.gz", {file("a.tar.gz", "x")}, "a.tar 2.gz"},
      {"hidden file", ".bashrc", {file(".bashrc", "x")}, ".bashrc 2"},
      {"partial of another transfer",
       "photo.jpg",
       {file("photo.jpg.partial", "old", other)},
       "photo 2.jpg"},
      {"orphan partial", "photo.jpg", {file("photo.jpg.partial", "old")}, "photo 2.jpg"},
      {"dangling link at the name",
       "photo.jpg",
       {link("photo.jpg", Kind::danglingLink)},
       "photo 2.jpg"},
      {"link at the name", "target.bin", {link("target.bin", Kind::linkOutside)}, "target 2.bin"},
      {"link at the partial, sidecar of this transfer",
       "target.bin",
       {link("target.bin.partial", Kind::linkOutside, mine)},
       "target 2.bin"},
      {"partial of this transfer",
       "photo.jpg",
       {file("photo.jpg.partial", "pay", mine)},
       "photo.jpg",
       3},
      {"partial of this transfer behind a taken name",
       "photo.jpg",
       {file("photo.jpg", "x"), file("photo 2.jpg.partial", "payl", mine)},
       "photo 2.jpg",
       4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    SaveFolder folder;
    std::set<std::string> expectedListing{c.expectedName};
    for (const auto& entry : c.existing) {
      create(folder, entry);
      expectedListing.insert(entry.name);
      if (entry.sidecarTransferId) expectedListing.insert(entry.name + ".meta.json");
    }
    if (c.expectedOffset > 0) {
      expectedListing.erase(c.expectedName + ".partial");
      expectedListing.erase(c.expectedName + ".partial.meta.json");
    }
    const auto outsideBefore = folder.outside();
    const auto saveBefore = treeSnapshot(folder.save);

    FileReceiveState state(folder.save, "127.0.0.1:50000");
    state.recordOffer({c.offered, 7, "text/plain", mine});
    const msg::Resume resume = state.openPartial();
    EXPECT_EQ(resume, (msg::Resume{mine, c.expectedOffset}));
    state.appendChunk(asBytes(kPayload).subspan(static_cast<std::size_t>(resume.accepted_offset)));
    const ReceivedFile received = state.finish();

    EXPECT_EQ(received.savedAt, folder.save / c.expectedName);
    EXPECT_EQ(readFileBytes(received.savedAt), toBytes(kPayload));
    EXPECT_EQ(folderListing(folder.save), expectedListing);
    EXPECT_EQ(folder.outside(), outsideBefore);
    // What was there before is untouched, except a resumed partial, which became the file.
    auto saveAfter = treeSnapshot(folder.save);
    for (const auto& [name, content] : saveBefore) {
      if (c.expectedOffset > 0 && name.starts_with(c.expectedName + ".partial")) continue;
      EXPECT_EQ(saveAfter[name], content) << name;
    }
  }
}

TEST(FileReceiveStateTest, TwoTransfersOfOneNameAtOnceEachGetTheirOwnFile) {
  SaveFolder folder;
  FileReceiveState first(folder.save, "127.0.0.1:50000");
  FileReceiveState second(folder.save, "127.0.0.1:50001");
  first.recordOffer({"IMG_0001.jpg", 6, "image/jpeg", "T-first"});
  second.recordOffer({"IMG_0001.jpg", 6, "image/jpeg", "T-second"});

  EXPECT_EQ(first.openPartial().accepted_offset, 0);
  EXPECT_EQ(second.openPartial().accepted_offset, 0);
  first.appendChunk(asBytes("first."));
  second.appendChunk(asBytes("second"));
  const ReceivedFile secondFile = second.finish();
  const ReceivedFile firstFile = first.finish();

  // Which one takes the plain name depends on whether a small file is named as it starts or as
  // it ends; neither ever takes the other's.
  EXPECT_EQ((std::set{firstFile.savedAt, secondFile.savedAt}),
            (std::set{folder.save / "IMG_0001.jpg", folder.save / "IMG_0001 2.jpg"}));
  EXPECT_EQ(readFileBytes(firstFile.savedAt), toBytes("first."));
  EXPECT_EQ(readFileBytes(secondFile.savedAt), toBytes("second"));
  EXPECT_EQ(folderListing(folder.save), (std::set<std::string>{"IMG_0001.jpg", "IMG_0001 2.jpg"}));
}

struct TooLongCase {
  const char* label;
  std::string name;
  std::string failingFile;  // the file the system refused
  bool sidecar;
};

TEST(FileReceiveStateTest, NameTheFileSystemRefusesFailsWithItsReasonAndLeavesNothing) {
  const TooLongCase cases[] = {
      {"300 bytes", std::string(300, 'a'), std::string(300, 'a') + ".partial", false},
      {"partial too long", std::string(250, 'b'), std::string(250, 'b') + ".partial", false},
      {"sidecar too long", std::string(240, 'c'), std::string(240, 'c') + ".partial.meta.json",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    SaveFolder folder;
    const auto outsideBefore = folder.outside();
    FileReceiveState state(folder.save, "127.0.0.1:50000");
    state.recordOffer({c.name, 7, "text/plain", "T1"});
    try {
      state.openPartial();
      ADD_FAILURE() << "expected fileWriteFailed";
    } catch (const ReceiveError& error) {
      EXPECT_EQ(error.kind(), ReceiveError::Kind::fileWriteFailed);
      EXPECT_EQ(error.description(),
                std::string("file write failed: ") + (c.sidecar ? "meta write: " : "") +
                    (folder.save / c.failingFile).string() + ": " + std::strerror(ENAMETOOLONG));
    }
    EXPECT_FALSE(state.hasOpenPartial());
    EXPECT_TRUE(folderListing(folder.save).empty());
    EXPECT_EQ(folder.outside(), outsideBefore);
  }
}

// ---- The one-shot receive

// What a phone sends after the handshake: a message, or (nothing) the chunk "abc". Only the
// first offer waits for its answer.
using Step = std::optional<TransportMessage>;

class OneShotReceiveTest : public ::testing::Test {
 protected:
  OneShotReceiveOptions options() const {
    return testing::loopbackReceiveOptions(computerKey, phoneKey.publicKey(), save);
  }
  SessionOutcome run(const PhoneScript& phone) { return runOneShotSession(options(), phone); }

  crypto::X25519PrivateKey computerKey = crypto::X25519PrivateKey::generate();
  crypto::X25519PrivateKey phoneKey = crypto::X25519PrivateKey::generate();
  TempDir root;
  std::filesystem::path save = root / "Downloads";
};

// A phone that sends `steps` after the handshake, then hangs up.
PhoneScript phoneSending(const crypto::X25519PrivateKey& key, const std::vector<Step>& steps) {
  return [&key, steps](Endpoint endpoint) -> Task {
    TestPhone phone(key);
    co_await phone.connectAndHandshake(endpoint);
    bool offered = false;
    for (const Step& step : steps) {
      if (!step) {
        co_await phone.sendChunk(asBytes("abc"));
        continue;
      }
      co_await phone.send(*step);
      if (std::holds_alternative<msg::FileOffer>(*step) && !offered) co_await phone.receive();
      offered = offered || std::holds_alternative<msg::FileOffer>(*step);
    }
    co_await phone.hangUp();
  };
}

TEST_F(OneShotReceiveTest, FramesOutOfPlaceEndTheReceiveAndTokenUpdatesAreSkipped) {
  const TransportMessage offer = msg::FileOffer{"t.txt", 6, "text/plain", "T1"};
  const Step chunk;
  const TransportMessage done = msg::Done{}, resume = msg::Resume{"T1", 0},
                         clipboard = msg::Clipboard{"hello", "text/plain"},
                         decline = msg::Decline{}, token = msg::TokenUpdate{"fcm-token"};
  const std::string nameFrame = "protocol violation: name frame on one-shot receive path";
  const std::string clipboardFrame = "protocol violation: clipboard frame on one-shot receive path";
  const std::string unexpectedResume = "protocol violation: unexpected Resume from sender";
  const std::string doneFirst = "protocol violation: Done received without FileOffer";
  struct Case {
    const char* label;
    std::vector<Step> steps;
    std::string expectedFailure;  // empty: the file arrives
  };
  const Case cases[] = {
      {"second offer", {offer, offer}, "protocol violation: duplicate FileOffer"},
      {"binary first", {chunk}, "protocol violation: binary frame before FileOffer"},
      {"Done first", {done}, doneFirst},
      {"Resume first", {resume}, unexpectedResume},
      {"Resume mid-file", {offer, chunk, resume}, unexpectedResume},
      {"Clipboard", {clipboard}, clipboardFrame},
      {"Clipboard mid-file", {offer, chunk, clipboard}, clipboardFrame},
      {"SetName", {msg::SetName{"Ada's phone"}}, nameFrame},
      {"NameUpdate", {msg::NameUpdate{"Ada's phone"}}, nameFrame},
      {"Unpair", {msg::Unpair{}}, nameFrame},
      {"Decline", {decline}, nameFrame},
      {"Decline mid-file", {offer, decline}, nameFrame},
      {"TokenUpdate, then Done", {token, done}, doneFirst},
      {"TokenUpdates around a file", {token, offer, chunk, token, chunk, done}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove_all(save);
    const SessionOutcome outcome = run(phoneSending(phoneKey, c.steps));
    const bool offered = std::count(c.steps.begin(), c.steps.end(), Step(offer)) > 0;
    std::string abc;
    for (const Step& step : c.steps) abc += step ? "" : "abc";

    if (c.expectedFailure.empty()) {
      ASSERT_TRUE(outcome.file) << outcome.failureText();
      EXPECT_EQ(readFileBytes(save / "t.txt"), toBytes(abc));
      EXPECT_EQ(folderListing(save), std::set<std::string>{"t.txt"});
      continue;
    }
    EXPECT_TRUE(outcome.failedWith<ReceiveError>());
    EXPECT_EQ(outcome.failureText(), c.expectedFailure);
    if (offered) {
      // The partial and its sidecar stay for a resume.
      EXPECT_EQ(folderListing(save),
                (std::set<std::string>{"t.txt.partial", "t.txt.partial.meta.json"}));
      EXPECT_EQ(readFileBytes(save / "t.txt.partial"), toBytes(abc));
    } else {
      EXPECT_TRUE(folderListing(save).empty());
    }
  }
}

struct SizeCase {
  std::int64_t advertised;
  std::size_t sent;
};

TEST_F(OneShotReceiveTest, DoneFinishesTheFileWhateverItsSizeAndReportsIt) {
  const SizeCase cases[] = {{3'145'733, 3'145'733}, {1000, 10}, {10, 1000}, {0, 0}, {5, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE("advertised " + std::to_string(c.advertised) + ", sent " + std::to_string(c.sent));
    std::filesystem::remove_all(save);
    const Bytes content = testing::patternBytes(c.sent);
    const auto outcome = run([&](Endpoint endpoint) -> Task {
      TestPhone phone(phoneKey);
      co_await phone.connectAndHandshake(endpoint);
      const msg::FileOffer offer{"clip.mp4", c.advertised, "video/mp4", "T1"};
      co_await phone.sendFile(offer, content);
      co_await phone.hangUp();
    });

    ASSERT_TRUE(outcome.file) << outcome.failureText();
    const ReceivedFile& file = *outcome.file;
    EXPECT_EQ(file.savedAt, save / "clip.mp4");
    EXPECT_EQ(file.bytesWritten, static_cast<std::int64_t>(c.sent));
    EXPECT_EQ(file.bytesReceivedThisSession, static_cast<std::int64_t>(c.sent));
    EXPECT_EQ(file.resumedFromOffset, 0);
    EXPECT_EQ(file.advertisedSize, c.advertised);
    EXPECT_EQ(file.mime, "video/mp4");
    EXPECT_TRUE(file.remoteEndpoint.starts_with("127.0.0.1:")) << file.remoteEndpoint;
    EXPECT_GE(file.durationSeconds, 0);
    EXPECT_EQ(readFileBytes(file.savedAt), content);
    EXPECT_EQ(folderListing(save), std::set<std::string>{"clip.mp4"});
  }
}

TEST_F(OneShotReceiveTest, FileTakingTheFinalNameDuringTheTransferPushesItToTheNextNumber) {
  const auto outcome = run([&](Endpoint endpoint) -> Task {
    TestPhone phone(phoneKey);
    co_await phone.connectAndHandshake(endpoint);
    const msg::FileOffer offer{"photo.jpg", 6, "image/jpeg", "T1"};
    co_await phone.offer(offer);
    co_await phone.sendChunk(asBytes("abc"));
    writeFileBytes(save / "photo.jpg", toBytes("someone else's"));
    co_await phone.sendChunk(asBytes("def"));
    const TransportMessage done = msg::Done{};
    co_await phone.send(done);
    co_await phone.hangUp();
  });
  ASSERT_TRUE(outcome.file) << outcome.failureText();
  EXPECT_EQ(outcome.file->savedAt, save / "photo 2.jpg");
  EXPECT_EQ(readFileBytes(save / "photo 2.jpg"), toBytes("abcdef"));
  EXPECT_EQ(readFileBytes(save / "photo.jpg"), toBytes("someone else's"));
  EXPECT_EQ(folderListing(save), (std::set<std::string>{"photo.jpg", "photo 2.jpg"}));
}

TEST_F(OneShotReceiveTest, PhoneWithAnotherKeyIsRefusedBeforeAnythingIsWritten) {
  const auto stranger = crypto::X25519PrivateKey::generate();
  const auto outcome = run([&](Endpoint endpoint) -> Task {
    TestPhone phone(stranger);
    co_await phone.connectAndHandshake(endpoint);
    const msg::FileOffer offer{"photo.jpg", 3, "image/jpeg", "T1"};
    try {
      co_await phone.offer(offer);
      ADD_FAILURE() << "the offer of an unknown phone was answered";
    } catch (const std::exception&) {
      // The receiver has dropped the connection.
    }
    co_await phone.hangUp();
  });
  EXPECT_TRUE(outcome.failedWith<ReceiveError>());
  EXPECT_EQ(outcome.failureText(), "remote pubkey \u2260 paired peer");
  EXPECT_TRUE(folderListing(save).empty());
}

TEST_F(OneShotReceiveTest, GarbageEndsTheReceiveWithTheErrorOfTheLayerThatReadIt) {
  const Bytes garbage = testing::patternBytes(64);
  const auto handshakeOutcome = run([&](Endpoint endpoint) -> Task {
    TestPhone phone(phoneKey);
    co_await phone.connect(endpoint);
    co_await phone.wire().sendLengthPrefixed(garbage);
    co_await phone.hangUp();
  });
  EXPECT_TRUE(handshakeOutcome.failedWith<ReceiveError>());
  EXPECT_TRUE(handshakeOutcome.failureText().starts_with("noise handshake failed: "))
      << handshakeOutcome.failureText();

  // After the handshake, errors of the framer pass through unchanged.
  const auto frameOutcome = run([&](Endpoint endpoint) -> Task {
    TestPhone phone(phoneKey);
    co_await phone.connectAndHandshake(endpoint);
    co_await phone.wire().sendLengthPrefixed(garbage);
    co_await phone.hangUp();
  });
  EXPECT_TRUE(frameOutcome.failedWith<TransportFramer::Error>()) << frameOutcome.failureText();
  EXPECT_TRUE(frameOutcome.failureText().starts_with("frame decrypt failed: "));
  EXPECT_TRUE(folderListing(save).empty());
}

TEST_F(OneShotReceiveTest, AcceptTimeoutEndsTheWaitUnlessItIsZeroOrLess) {
  OneShotReceiveOptions waiting = options();
  waiting.acceptTimeout = 30ms;
  const auto timedOut = runOneShotSession(std::move(waiting), nullptr);
  EXPECT_TRUE(timedOut.failedWith<ReceiveError>());
  EXPECT_EQ(timedOut.failureText(), "timed out");

  for (const auto timeout :
       {std::chrono::steady_clock::duration::zero(), std::chrono::steady_clock::duration(-1s)}) {
    std::filesystem::remove_all(save);
    waiting = options();
    waiting.acceptTimeout = timeout;
    const auto outcome = runOneShotSession(std::move(waiting), [&](Endpoint endpoint) -> Task {
      // Long past any time-out a zero might be mistaken for.
      asio::steady_timer delay(co_await asio::this_coro::executor, 100ms);
      co_await delay.async_wait(asio::use_awaitable);
      TestPhone phone(phoneKey);
      co_await phone.connectAndHandshake(endpoint);
      const msg::FileOffer offer{"late.txt", 4, "text/plain", "T1"};
      co_await phone.sendFile(offer, asBytes("late"));
      co_await phone.hangUp();
    });
    ASSERT_TRUE(outcome.file) << outcome.failureText();
    EXPECT_EQ(readFileBytes(save / "late.txt"), toBytes("late"));
  }
}

TEST_F(OneShotReceiveTest, PortInUseFailsWithListenerStartFailed) {
  asio::io_context io;
  asio::ip::tcp::acceptor taken(io, {asio::ip::address_v4::loopback(), 0});
  OneShotReceiveOptions clashing = options();
  clashing.port = taken.local_endpoint().port();
  const auto outcome = runOneShotSession(std::move(clashing), nullptr);
  EXPECT_TRUE(outcome.failedWith<ReceiveError>());
  EXPECT_EQ(outcome.failureText(),
            "listener start failed: " + asio::error_code(asio::error::address_in_use).message());
}

}  // namespace
}  // namespace ferrytide
