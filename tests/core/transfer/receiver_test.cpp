// The receiver over real loopback connections. The receiver and the phones run on one
// io_context; each test drives it until what it waits for has happened.

#include "core/transfer/receiver.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <asio/experimental/as_tuple.hpp>
#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "core/channel/noise_handshake.h"
#include "core/channel/transport_framer.h"
#include "core/channel/wire_connection.h"
#include "core/peers/paired_phone_keys.h"
#include "core/support/base64.h"
#include "core/transfer/receive_error.h"
#include "support/failure_text.h"
#include "support/receive_session.h"
#include "support/temp_dir.h"
#include "support/test_phone.h"

namespace ferrytide {
namespace {

using namespace std::chrono_literals;
using asio::ip::tcp;
using testing::folderListing;
using testing::patternBytes;
using testing::readFileBytes;
using testing::TempDir;
using testing::TestPhone;
using Task = asio::awaitable<void>;

constexpr auto asTuple = asio::experimental::as_tuple(asio::use_awaitable);

std::string keyText(const crypto::X25519PrivateKey& key) {
  return base64::encode(key.publicKey().view());
}

tcp::endpoint loopback(std::uint16_t port) { return {asio::ip::address_v4::loopback(), port}; }

std::vector<std::string> names(const std::filesystem::path& folder) {
  std::set<std::string> listing = folderListing(folder);
  return {listing.begin(), listing.end()};
}

// Waits until the receiver closes the connection, without closing this side first (which the
// receiver would see as the end of the stream).
Task awaitClose(TestPhone& phone) {
  try {
    for (;;) co_await phone.wire().receiveLengthPrefixed();
  } catch (const WireConnection::Error&) {
  }
}

// The phones below are spawned, not awaited, and so own what they use: a test that fails early
// leaves them running until the fixture stops the receiver. Inside them, what a co_await
// expression is given is a named value (g++ 12 mishandles temporaries there).

struct FileToSend {
  std::string name;
  Bytes content;
  std::string transferId;

  msg::FileOffer offer() const {
    return {name, static_cast<std::int64_t>(content.size()), "application/octet-stream",
            transferId};
  }
};

Task pairedPhoneSendsFile(std::uint16_t port, crypto::X25519PrivateKey key, FileToSend file) {
  TestPhone phone(std::move(key));
  co_await phone.connectAndHandshake(loopback(port));
  const msg::FileOffer offer = file.offer();
  co_await phone.sendFile(offer, file.content);
  co_await phone.hangUp();
}

Task phoneSendsMessages(std::uint16_t port, crypto::X25519PrivateKey key,
                        std::vector<TransportMessage> messages) {
  TestPhone phone(std::move(key));
  co_await phone.connectAndHandshake(loopback(port));
  for (const TransportMessage& message : messages) co_await phone.send(message);
  co_await phone.hangUp();
}

// Sends what it is given and waits for the receiver to close; sends that fail because the
// receiver closed first are part of the plan.
Task phoneSendsAndWaits(std::uint16_t port, crypto::X25519PrivateKey key,
                        std::vector<TransportMessage> messages, std::size_t chunkBytes) {
  TestPhone phone(std::move(key));
  co_await phone.connectAndHandshake(loopback(port));
  try {
    for (const TransportMessage& message : messages) co_await phone.send(message);
    if (chunkBytes > 0) {
      const Bytes chunk = patternBytes(chunkBytes, 9);
      co_await phone.sendChunk(chunk);
    }
  } catch (const WireConnection::Error&) {
  }
  co_await awaitClose(phone);
}

// Sends the offer and the first `headBytes`, then waits for `gate` before the rest and Done.
Task phoneSendsFileInTwoParts(std::uint16_t port, crypto::X25519PrivateKey key, FileToSend file,
                              std::size_t headBytes, std::shared_ptr<bool> headSent,
                              std::shared_ptr<asio::steady_timer> gate) {
  TestPhone phone(std::move(key));
  co_await phone.connectAndHandshake(loopback(port));
  const msg::FileOffer offer = file.offer();
  co_await phone.offer(offer);
  const ByteView head = ByteView(file.content).first(headBytes);
  co_await phone.sendChunk(head);
  *headSent = true;
  co_await gate->async_wait(asTuple);
  const ByteView rest = ByteView(file.content).subspan(headBytes);
  co_await phone.sendChunk(rest);
  const TransportMessage done = msg::Done{};
  co_await phone.send(done);
  co_await phone.hangUp();
}

// ---- the fixture

class ReceiverTest : public ::testing::Test {
 protected:
  ReceiverOptions defaultOptions() {
    ReceiverOptions options;
    options.idleTimeout = 10s;
    options.listenAddress = asio::ip::address_v4::loopback();
    options.peerStore = PeerStore(state.path());
    options.activeTransfers = &transfers;
    return options;
  }

  void startReceiver(ReceiverOptions options, std::vector<crypto::X25519PublicKey> expected) {
    receiver =
        std::make_unique<Receiver>(io.get_executor(), computerKey, std::move(expected), saveFolder,
                                   0, toBytes(kFerrytidePrologue), std::move(options));
    Receiver::Callbacks callbacks;
    callbacks.onTransfer = [this](const ReceivedFile& file) { files.push_back(file); };
    callbacks.onClipboard = [this](const std::string& text, const std::string& host) {
      clips.emplace_back(text, host);
    };
    callbacks.onSync = [this](const ProcessOutcome& outcome) { syncs.push_back(outcome); };
    callbacks.onError = [this](const std::exception& error) { errors.push_back(error.what()); };
    asio::co_spawn(io, receiver->run(std::move(callbacks)),
                   [this](std::exception_ptr failure) { runEnd = failure; });
    ASSERT_TRUE(runUntil([&] { return receiver->boundPort() || runEnd; }));
    ASSERT_TRUE(receiver->boundPort()) << "the receiver did not start listening";
  }

  void startReceiver(ReceiverOptions options) {
    startReceiver(std::move(options), {phoneKey.publicKey()});
  }
  void startReceiver() { startReceiver(defaultOptions()); }

  std::uint16_t port() const { return *receiver->boundPort(); }

  // A phone's coroutine; its failure is recorded, not lost.
  void spawnPhone(Task task) {
    asio::co_spawn(io, std::move(task), [this](std::exception_ptr failure) {
      ++phonesDone;
      if (failure) phoneFailures.push_back(testing::failureText(failure));
    });
  }

  // Runs the io_context until `done` holds; false when `limit` passed first.
  bool runUntil(const std::function<bool()>& done,
                std::chrono::steady_clock::duration limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      if (io.stopped()) io.restart();
      io.run_one_until(deadline);
    }
    return true;
  }

  // Stops the receiver and checks that run() ended as it always must.
  void stopReceiver() {
    receiver->stop();
    ASSERT_TRUE(runUntil([&] { return runEnd.has_value(); }));
    try {
      std::rethrow_exception(*runEnd);
    } catch (const Receiver::Error& error) {
      EXPECT_EQ(error.kind(), Receiver::Error::Kind::listenerStopped);
      EXPECT_STREQ(error.what(), "listener stopped: listener AsyncStream completed");
    }
  }

  void TearDown() override {
    if (receiver && !runEnd) stopReceiver();
    EXPECT_EQ(phoneFailures, std::vector<std::string>{});
  }

  // Declared before the io_context: coroutines still pending when it is destroyed use them.
  TempDir downloads;
  TempDir state;
  ActiveTransfers transfers;
  crypto::X25519PrivateKey computerKey = crypto::X25519PrivateKey::generate();
  crypto::X25519PrivateKey phoneKey = crypto::X25519PrivateKey::generate();
  std::filesystem::path saveFolder = downloads.path();
  asio::io_context io;
  std::unique_ptr<Receiver> receiver;

  std::vector<ReceivedFile> files;
  std::vector<std::pair<std::string, std::string>> clips;
  std::vector<ProcessOutcome> syncs;
  std::vector<std::string> errors;
  std::optional<std::exception_ptr> runEnd;
  int phonesDone = 0;
  std::vector<std::string> phoneFailures;
};

PeerRecord recordFor(const crypto::X25519PrivateKey& key, const std::string& name) {
  return PeerRecord{.peer_pubkey = keyText(key),
                    .peer_ip = "127.0.0.1",
                    .peer_port = 47820,
                    .peer_subnet = "127.0.0.0/8",
                    .peer_hostname = name,
                    .peer_mac = "",
                    .paired_at_epoch_ms = 1733480000000,
                    .self_pubkey = "",
                    .peer_fcm_token = "old-token",
                    .peer_android = "Android 14"};
}

// ---- files

TEST_F(ReceiverTest, PairedPhoneSendsFileIntoASaveFolderMadeOnDemand) {
  saveFolder = downloads / "Downloads";
  startReceiver();
  const FileToSend file{"photo.jpg", patternBytes(100'000, 1), "T-1"};
  spawnPhone(pairedPhoneSendsFile(port(), phoneKey, file));
  ASSERT_TRUE(runUntil([&] { return files.size() == 1 && phonesDone == 1; }));

  const ReceivedFile& received = files[0];
  EXPECT_EQ(received.savedAt, saveFolder / "photo.jpg");
  EXPECT_EQ(*readFileBytes(received.savedAt), file.content);
  EXPECT_EQ(received.bytesWritten, 100'000);
  EXPECT_EQ(received.bytesReceivedThisSession, 100'000);
  EXPECT_EQ(received.resumedFromOffset, 0);
  EXPECT_EQ(received.remoteEndpoint.rfind("127.0.0.1:", 0), 0u) << received.remoteEndpoint;
  EXPECT_EQ(names(saveFolder), std::vector<std::string>{"photo.jpg"});
  EXPECT_EQ(errors, std::vector<std::string>{});
}

TEST_F(ReceiverTest, SaveFolderThatCannotBeMadeFailsTheOffer) {
  testing::writeFileBytes(downloads / "file", toBytes("not a folder"));
  saveFolder = downloads / "file" / "Downloads";
  startReceiver();
  const msg::FileOffer offer{"a.txt", 10, "text/plain", "T-folder"};
  spawnPhone(phoneSendsAndWaits(port(), phoneKey, {offer}, 0));
  ASSERT_TRUE(runUntil([&] { return phonesDone == 1; }));
  ASSERT_EQ(errors.size(), 1u);
  // The file in the way is named.
  EXPECT_EQ(errors[0].rfind("file write failed: " + (downloads / "file").string() + ": ", 0), 0u)
      << errors[0];
  EXPECT_TRUE(files.empty());
}

// The user deletes the save folder while a file comes in: that file fails with its reason (the
// phone keeps it and sends it again), and the next one lands in the folder made again.
TEST_F(ReceiverTest, SaveFolderRemovedMidFileFailsThatFileAndTheNextArrives) {
  saveFolder = downloads / "Downloads";
  startReceiver();
  const FileToSend file{"notes.txt", patternBytes(200'000, 2), "T-gone"};
  auto headSent = std::make_shared<bool>(false);
  auto gate = std::make_shared<asio::steady_timer>(io, std::chrono::steady_clock::time_point::max());
  spawnPhone(phoneSendsFileInTwoParts(port(), phoneKey, file, 50'000, headSent, gate));
  // The phone sends the head only once the receiver has answered the offer: the file is open.
  ASSERT_TRUE(runUntil([&] { return *headSent; }));
  std::filesystem::remove_all(saveFolder);
  gate->cancel();
  ASSERT_TRUE(runUntil([&] { return phonesDone == 1 && errors.size() == 1; }));
  EXPECT_EQ(errors[0].rfind("file write failed: rename: ", 0), 0u) << errors[0];
  EXPECT_NE(errors[0].find("No such file or directory"), std::string::npos) << errors[0];
  EXPECT_TRUE(files.empty());

  spawnPhone(pairedPhoneSendsFile(port(), phoneKey, file));
  ASSERT_TRUE(runUntil([&] { return files.size() == 1 && phonesDone == 2; }));
  EXPECT_EQ(*readFileBytes(saveFolder / "notes.txt"), file.content);
  EXPECT_EQ(files[0].resumedFromOffset, 0);
  EXPECT_EQ(names(saveFolder), std::vector<std::string>{"notes.txt"});
}

// A peer file that cannot be read lets no phone in, says why for each connection, and the
// receiver takes phones again once the file is whole.
TEST_F(ReceiverTest, DamagedPeerFileRefusesEachConnectionUntilItIsMended) {
  const PeerStore store(state.path());
  testing::writeFileBytes(store.fileURL(), toBytes("{\"peers\": [tru"));
  PairedPhoneKeys keys(store);
  startReceiver(defaultOptions(), {});
  receiver->setExpectedPeerPubkeys([&keys] { return keys.current(); });

  const TransportMessage clip = msg::Clipboard{"hello", "text/plain"};
  auto refused = std::make_shared<bool>(false);
  spawnPhone([](std::uint16_t port, crypto::X25519PrivateKey key, std::shared_ptr<bool> wasRefused,
                TransportMessage message) -> Task {
    TestPhone phone(std::move(key));
    try {
      co_await phone.connectAndHandshake(loopback(port));
      co_await phone.send(message);
      co_await awaitClose(phone);
    } catch (const WireConnection::Error&) {
      *wasRefused = true;
    }
  }(port(), phoneKey, refused, clip));
  ASSERT_TRUE(runUntil([&] { return phonesDone == 1 && errors.size() == 1; }));
  EXPECT_TRUE(*refused);
  EXPECT_EQ(errors[0].rfind("PeerRecord decode failed: ", 0), 0u) << errors[0];
  EXPECT_TRUE(clips.empty());

  store.writeBook(PeerBook{{recordFor(phoneKey, "Pixel")}});
  spawnPhone(phoneSendsMessages(port(), phoneKey, {clip}));
  ASSERT_TRUE(runUntil([&] { return phonesDone == 2 && clips.size() == 1; }));
  EXPECT_EQ(clips[0].first, "hello");
  EXPECT_EQ(errors.size(), 1u);
}

TEST_F(ReceiverTest, DeclinedOfferSendsDeclineAndWritesNothing) {
  startReceiver();
  auto asked = std::make_shared<std::vector<std::tuple<std::string, std::int64_t, std::string>>>();
  receiver->setApproveOffer(
      [asked](std::string name, std::int64_t size, std::string key) -> asio::awaitable<bool> {
        asked->emplace_back(name, size, key);
        // Answered later, as a person would.
        asio::steady_timer later(co_await asio::this_coro::executor, 20ms);
        co_await later.async_wait(asio::use_awaitable);
        co_return false;
      });

  auto reply = std::make_shared<std::optional<TransportMessage>>();
  spawnPhone([](std::uint16_t port, crypto::X25519PrivateKey key,
                std::shared_ptr<std::optional<TransportMessage>> answer) -> Task {
    TestPhone phone(std::move(key));
    co_await phone.connectAndHandshake(loopback(port));
    const TransportMessage offer = msg::FileOffer{"secret.pdf", 5000, "application/pdf", "T-2"};
    co_await phone.send(offer);
    const DecodedFrame frame = co_await phone.receive();
    if (frame.asJSON()) *answer = *frame.asJSON();
    co_await awaitClose(phone);
  }(port(), phoneKey, reply));
  ASSERT_TRUE(runUntil([&] { return phonesDone == 1; }));

  ASSERT_TRUE(*reply);
  EXPECT_TRUE(std::holds_alternative<msg::Decline>(**reply));
  ASSERT_EQ(asked->size(), 1u);
  EXPECT_EQ(asked->at(0),
            std::make_tuple(std::string("secret.pdf"), std::int64_t{5000}, keyText(phoneKey)));
  EXPECT_EQ(names(downloads.path()), std::vector<std::string>{});
  EXPECT_TRUE(files.empty());
  EXPECT_TRUE(syncs.empty());
  EXPECT_EQ(errors, std::vector<std::string>{});
}

Task phoneUpdatesTokenAndSendsFile(std::uint16_t port, crypto::X25519PrivateKey key,
                                  std::string token, FileToSend file) {
  TestPhone phone(std::move(key));
  co_await phone.connectAndHandshake(loopback(port));
  const TransportMessage update = msg::TokenUpdate{token};
  co_await phone.send(update);
  if (!file.name.empty()) {
    const msg::FileOffer offer = file.offer();
    co_await phone.sendFile(offer, file.content);
  }
  co_await phone.hangUp();
}

TEST_F(ReceiverTest, TokenUpdateReachesOnlyAStoredPhoneAndTheFileThatFollowsArrives) {
  PeerStore store(state.path());
  store.upsert(recordFor(crypto::X25519PrivateKey::generate(), "Other"));
  const PeerBook before = store.loadBook();
  startReceiver();

  // Missing in the peers file: nothing is stored.
  const FileToSend first{"a.txt", patternBytes(3000, 2), "T-3"};
  spawnPhone(phoneUpdatesTokenAndSendsFile(port(), phoneKey, "lost-token", first));
  ASSERT_TRUE(runUntil([&] { return phonesDone == 1; }));
  EXPECT_EQ(store.loadBook(), before);

  store.upsert(recordFor(phoneKey, "Pixel 8"));
  const FileToSend second{"b.txt", patternBytes(3000, 3), "T-4"};
  spawnPhone(phoneUpdatesTokenAndSendsFile(port(), phoneKey, "new-token", second));
  ASSERT_TRUE(runUntil([&] { return phonesDone == 2; }));
  EXPECT_EQ(store.loadBook().peers,
            (std::vector<PeerRecord>{before.peers[0],
                                     recordFor(phoneKey, "Pixel 8").withFcmToken("new-token")}));
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(*readFileBytes(downloads / "a.txt"), first.content);
  EXPECT_EQ(*readFileBytes(downloads / "b.txt"), second.content);

  // A connection that only brings a token ends normally when the phone hangs up.
  spawnPhone(phoneUpdatesTokenAndSendsFile(port(), phoneKey, "newest-token", FileToSend{}));
  ASSERT_TRUE(runUntil([&] { return phonesDone == 3; }));
  EXPECT_EQ(store.loadBook().peers.back().peer_fcm_token, "newest-token");
  stopReceiver();
  EXPECT_EQ(errors, std::vector<std::string>{});
}

// ---- control messages and clipboard

TEST_F(ReceiverTest, MessagesEndTheConnectionWithTheirOutcome) {
  enum class Peers { missing, known, damaged };
  using Clip = std::pair<std::string, std::string>;
  struct Case {
    TransportMessage message;
    Peers peers;  // the phone's entry in the peers file
    std::vector<Clip> clips;
    std::vector<ProcessOutcome> syncs;
  };
  const std::string key = keyText(phoneKey);
  const std::vector<Case> cases = {
      {msg::Clipboard{"https://example.org/a", "text/plain"}, Peers::known,
       {{"https://example.org/a", "Pixel 8"}}, {}},
      {msg::Clipboard{"hi", "text/plain"}, Peers::missing, {{"hi", "(unknown peer)"}}, {}},
      {msg::Clipboard{"hi", "text/plain"}, Peers::damaged, {{"hi", "(unknown peer)"}}, {}},
      {msg::SetName{"Ada's phone"}, Peers::missing, {}, {outcome::SetName{"Ada's phone", key}}},
      {msg::NameUpdate{"Ada's tablet"}, Peers::missing, {},
       {outcome::NameUpdate{"Ada's tablet", key}}},
      {msg::Unpair{}, Peers::missing, {}, {outcome::Unpair{key}}},
  };
  startReceiver();
  PeerStore store(state.path());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    const Case& c = cases[i];
    clips.clear();
    syncs.clear();
    store.wipe();
    if (c.peers == Peers::known) store.upsert(recordFor(phoneKey, "Pixel 8"));
    if (c.peers == Peers::damaged) std::ofstream(store.fileURL()) << "{\"peers\": [";
    const int before = phonesDone;
    spawnPhone(phoneSendsMessages(port(), phoneKey, {c.message}));
    ASSERT_TRUE(runUntil([&] { return phonesDone == before + 1; }));
    EXPECT_EQ(clips, c.clips);
    EXPECT_EQ(syncs, c.syncs);
  }
  EXPECT_EQ(errors, std::vector<std::string>{});
}

// ---- hostile phones

// A hostile phone, given the port; it waits for the receiver to close before it ends.
using HostilePhone = std::function<Task(std::uint16_t port)>;

HostilePhone sending(const crypto::X25519PrivateKey& key, std::vector<TransportMessage> messages,
                     std::size_t chunkBytes = 0) {
  return [key, messages, chunkBytes](std::uint16_t port) {
    return phoneSendsAndWaits(port, key, messages, chunkBytes);
  };
}

using RawAct = std::function<Task(TestPhone&)>;

Task rawPhone(std::uint16_t port, crypto::X25519PrivateKey key, RawAct act) {
  TestPhone phone(std::move(key));
  co_await phone.connect(loopback(port));
  co_await act(phone);
  co_await awaitClose(phone);
}

// Connects and then does `act` on the bare connection, before or instead of a handshake.
HostilePhone raw(const crypto::X25519PrivateKey& key, RawAct act) {
  return [key, act](std::uint16_t port) { return rawPhone(port, key, act); };
}

// After the handshake, the computer's first word to a removed phone must be Unpair.
Task expectUnpair(TestPhone& phone) {
  co_await phone.handshake();
  const DecodedFrame frame = co_await phone.receive();
  if (!frame.asJSON() || !std::holds_alternative<msg::Unpair>(*frame.asJSON())) {
    throw std::runtime_error("a removed phone was not told to unpair");
  }
}

std::string handshakeFailure(const std::exception& cause) {
  return std::string("noise handshake failed: ") + cause.what();
}

// What the phone reads after a failure: Done without an offer, or an offer, a chunk and then
// silence past the idle time-out.
Task phoneReadsAfterAFailure(std::uint16_t port, crypto::X25519PrivateKey key, bool fallSilent,
                             std::optional<asio::error_code>& result) {
  TestPhone phone(std::move(key));
  co_await phone.connectAndHandshake(loopback(port));
  if (fallSilent) {
    const FileToSend file{"stalled.bin", patternBytes(4096, 3), "T-stalled"};
    co_await phone.offer(file.offer());
    co_await phone.sendChunk(ByteView(file.content).first(1000));
  } else {
    const TransportMessage done = msg::Done{};
    co_await phone.send(done);
  }
  std::array<std::uint8_t, 16> ignored{};
  auto [error, read] = co_await phone.wire().socket().async_read_some(
      asio::buffer(ignored), asio::experimental::as_tuple(asio::use_awaitable));
  result = error;
}

// A sender waiting after Done counts an orderly close as delivery; a failure must not look so,
// the idle time-out of a connection that fell silent part way included.
TEST_F(ReceiverTest, FailedConnectionIsResetRatherThanClosed) {
  ReceiverOptions options = defaultOptions();
  options.idleTimeout = 300ms;
  startReceiver(std::move(options));
  for (bool fallSilent : {false, true}) {
    SCOPED_TRACE(fallSilent ? "silent after a chunk" : "Done without an offer");
    const int phonesBefore = phonesDone;
    std::optional<asio::error_code> phoneRead;
    spawnPhone(phoneReadsAfterAFailure(port(), phoneKey, fallSilent, phoneRead));
    ASSERT_TRUE(runUntil([&] { return phonesDone == phonesBefore + 1; }));
    ASSERT_TRUE(phoneRead);
    EXPECT_EQ(*phoneRead, asio::error::connection_reset) << phoneRead->message();
  }
}

TEST_F(ReceiverTest, HostilePhonesEndOnlyTheirOwnConnection) {
  const msg::FileOffer offer{"evil.bin", 10, "application/octet-stream", "T-evil"};
  const crypto::X25519PrivateKey stranger = crypto::X25519PrivateKey::generate();
  const crypto::X25519PrivateKey removed = crypto::X25519PrivateKey::generate();
  struct Case {
    std::string name;
    HostilePhone phone;
    std::string expectedError;  // empty: none
    // A paired phone's accepted offer stays as a partial for a later resume.
    std::vector<std::string> leftBehind = {};
  };
  const std::vector<Case> cases = {
      {"a phone with another key", sending(stranger, {offer}, 100), "remote pubkey ≠ paired peer"},
      {"a removed phone", raw(removed, expectUnpair), ""},
      {"a binary frame first", sending(phoneKey, {}, 100),
       "protocol violation: binary frame before FileOffer"},
      {"a second offer",
       sending(phoneKey, {offer, offer}),
       "protocol violation: duplicate FileOffer",
       {"evil.bin.partial", "evil.bin.partial.meta.json"}},
      {"Done without an offer", sending(phoneKey, {msg::Done{}}),
       "protocol violation: Done received without FileOffer"},
      {"Resume from the sender", sending(phoneKey, {msg::Resume{"T-x", 5}}),
       "protocol violation: unexpected Resume(transfer_id: \"T-x\", accepted_offset: 5) from "
       "sender"},
      {"Decline from the sender", sending(phoneKey, {msg::Decline{}}),
       "protocol violation: unexpected Decline from sender"},
      {"a frame that does not open",
       raw(phoneKey,
           [](TestPhone& phone) -> Task {
             co_await phone.handshake();
             const Bytes forged = patternBytes(64, 3);
             co_await phone.wire().sendLengthPrefixed(forged);
           }),
       TransportFramer::Error::decrypt(NoiseError::decrypt("authentication failure").description())
           .what()},
      {"a short first handshake message",
       raw(phoneKey,
           [](TestPhone& phone) -> Task {
             const Bytes garbage = toBytes("hello");
             co_await phone.wire().sendLengthPrefixed(garbage);
           }),
       handshakeFailure(NoiseError::messageTooShort(32, 5))},
      {"a web request instead of a handshake",
       raw(phoneKey,
           [](TestPhone& phone) -> Task {
             const Bytes request = toBytes("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
             co_await asio::async_write(phone.wire().socket(), asio::buffer(request),
                                        asio::use_awaitable);
           }),
       handshakeFailure(WireConnection::Error::oversize(0x47455420))},
      {"a phone that hangs up during the handshake",
       raw(phoneKey,
           [](TestPhone& phone) -> Task {
             co_await phone.sendHandshakeMessage1();
             co_await phone.wire().receiveLengthPrefixed();
             phone.wire().socket().shutdown(tcp::socket::shutdown_send);
           }),
       handshakeFailure(WireConnection::Error::eof())},
      {"a silent connection", raw(phoneKey, [](TestPhone&) -> Task { co_return; }),
       handshakeFailure(
           WireConnection::Error::underlying(asio::error_code(asio::error::timed_out).message()))},
  };

  ReceiverOptions options = defaultOptions();
  options.idleTimeout = 400ms;
  startReceiver(std::move(options));
  receiver->setRemovedPeerPubkeys([key = removed.publicKey()] { return std::vector{key}; });
  std::vector<std::string> expectedNames;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& testCase = cases[i];
    SCOPED_TRACE(testCase.name);
    errors.clear();
    const std::size_t filesBefore = files.size();
    const int phonesBefore = phonesDone;

    // A paired phone sends a file at the same time.
    const FileToSend good{"good " + std::to_string(i) + ".bin",
                          patternBytes(200'000, static_cast<std::uint32_t>(i)),
                          "T-good-" + std::to_string(i)};
    spawnPhone(testCase.phone(port()));
    spawnPhone(pairedPhoneSendsFile(port(), phoneKey, good));
    ASSERT_TRUE(runUntil([&] { return phonesDone == phonesBefore + 2; }));

    EXPECT_EQ(errors, testCase.expectedError.empty()
                          ? std::vector<std::string>{}
                          : std::vector<std::string>{testCase.expectedError});
    ASSERT_EQ(files.size(), filesBefore + 1);
    EXPECT_EQ(*readFileBytes(files.back().savedAt), good.content);
    expectedNames.push_back(good.name);
    expectedNames.insert(expectedNames.end(), testCase.leftBehind.begin(),
                         testCase.leftBehind.end());
    std::sort(expectedNames.begin(), expectedNames.end());
    EXPECT_EQ(names(downloads.path()), expectedNames);
    EXPECT_FALSE(runEnd) << "the listener ended";
  }
  EXPECT_EQ(syncs, std::vector<ProcessOutcome>{outcome::UnpairReplied{keyText(removed)}});
}

// ---- hand-over, stop, accept failures, start failures

TEST_F(ReceiverTest, ReconnectTakesOverATransferFromAHangingConnection) {
  startReceiver();
  const FileToSend file{"movie.bin", patternBytes(50'000, 5), "T-resume"};
  const std::size_t firstPart = 12'000;

  // The first connection sends part of the file and then hangs.
  auto firstSent = std::make_shared<bool>(false);
  auto firstClosed = std::make_shared<bool>(false);
  spawnPhone([](std::uint16_t port, crypto::X25519PrivateKey key, FileToSend sent, std::size_t part,
                std::shared_ptr<bool> partSent, std::shared_ptr<bool> closed) -> Task {
    TestPhone phone(std::move(key));
    co_await phone.connectAndHandshake(loopback(port));
    const msg::FileOffer offer = sent.offer();
    co_await phone.offer(offer);
    const ByteView head = ByteView(sent.content).first(part);
    co_await phone.sendChunk(head);
    *partSent = true;
    co_await awaitClose(phone);
    *closed = true;
  }(port(), phoneKey, file, firstPart, firstSent, firstClosed));
  ASSERT_TRUE(runUntil([&] { return *firstSent; }));
  EXPECT_FALSE(*firstClosed);

  // The phone reconnects with the same transfer and resumes where the partial ends.
  spawnPhone(pairedPhoneSendsFile(port(), phoneKey, file));
  ASSERT_TRUE(runUntil([&] { return phonesDone == 2 && files.size() == 1; }));

  EXPECT_TRUE(*firstClosed);
  EXPECT_EQ(errors,
            std::vector<std::string>{WireConnection::Error::underlying(
                                         asio::error_code(asio::error::operation_aborted).message())
                                         .what()});
  const ReceivedFile& received = files[0];
  EXPECT_EQ(received.savedAt, downloads / "movie.bin");
  EXPECT_EQ(received.resumedFromOffset, static_cast<std::int64_t>(firstPart));
  EXPECT_EQ(received.bytesReceivedThisSession,
            static_cast<std::int64_t>(file.content.size() - firstPart));
  EXPECT_EQ(*readFileBytes(received.savedAt), file.content);
  EXPECT_EQ(names(downloads.path()), std::vector<std::string>{"movie.bin"});
}

TEST_F(ReceiverTest, NewPhoneKeysCountFromTheNextConnectionWhileATransferInFlightGoesOn) {
  startReceiver();
  const FileToSend inFlight{"long.bin", patternBytes(40'000, 8), "T-keys-1"};
  auto gate = std::make_shared<asio::steady_timer>(io, asio::steady_timer::time_point::max());
  auto headSent = std::make_shared<bool>(false);
  spawnPhone(phoneSendsFileInTwoParts(port(), phoneKey, inFlight, 10'000, headSent, gate));
  ASSERT_TRUE(runUntil([&] { return *headSent; }));

  // The sending phone is forgotten and another one paired while its file is on the way.
  const crypto::X25519PrivateKey newPhone = crypto::X25519PrivateKey::generate();
  receiver->setExpectedPeerPubkeys([key = newPhone.publicKey()] { return std::vector{key}; });
  const FileToSend fromNewPhone{"new.bin", patternBytes(5'000, 9), "T-keys-2"};
  spawnPhone(pairedPhoneSendsFile(port(), newPhone, fromNewPhone));
  const msg::FileOffer lateOffer{"late.bin", 10, "application/octet-stream", "T-keys-3"};
  spawnPhone(phoneSendsAndWaits(port(), phoneKey, {lateOffer}, 0));
  ASSERT_TRUE(runUntil([&] { return phonesDone == 2 && files.size() == 1; }));
  EXPECT_EQ(errors, std::vector<std::string>{ReceiveError::unauthorizedPeer().what()});

  gate->cancel();
  ASSERT_TRUE(runUntil([&] { return phonesDone == 3 && files.size() == 2; }));
  EXPECT_EQ(*readFileBytes(downloads / "new.bin"), fromNewPhone.content);
  EXPECT_EQ(*readFileBytes(downloads / "long.bin"), inFlight.content);
  EXPECT_EQ(names(downloads.path()), (std::vector<std::string>{"long.bin", "new.bin"}));
}

TEST_F(ReceiverTest, StopRefusesNewPhonesAtOnceAndEndsAfterTheTransferInFlight) {
  startReceiver();
  const FileToSend file{"big.bin", patternBytes(40'000, 7), "T-stop"};
  auto gate = std::make_shared<asio::steady_timer>(io, asio::steady_timer::time_point::max());
  auto headSent = std::make_shared<bool>(false);
  spawnPhone(phoneSendsFileInTwoParts(port(), phoneKey, file, 10'000, headSent, gate));
  ASSERT_TRUE(runUntil([&] { return *headSent; }));

  const std::uint16_t listeningPort = port();
  receiver->stop();
  auto lateConnect = std::make_shared<std::optional<asio::error_code>>();
  spawnPhone([](std::uint16_t to, std::shared_ptr<std::optional<asio::error_code>> result) -> Task {
    tcp::socket socket(co_await asio::this_coro::executor);
    auto [error] = co_await socket.async_connect({asio::ip::address_v4::loopback(), to}, asTuple);
    *result = error;
  }(listeningPort, lateConnect));
  ASSERT_TRUE(runUntil([&] { return lateConnect->has_value(); }));
  EXPECT_EQ(**lateConnect, asio::error::connection_refused);
  EXPECT_FALSE(runEnd) << "run ended while a transfer was in flight";

  bool fileBeforeRunEnded = false;
  gate->cancel();
  ASSERT_TRUE(runUntil([&] {
    if (files.size() == 1 && !runEnd) fileBeforeRunEnded = true;
    return runEnd.has_value();
  }));
  EXPECT_TRUE(fileBeforeRunEnded);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(*readFileBytes(files[0].savedAt), file.content);
  stopReceiver();  // checks how run ended
}

// Lowers the soft limit on open files until destroyed.
class DescriptorLimit {
 public:
  explicit DescriptorLimit(rlim_t soft) {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = soft;
    ::setrlimit(RLIMIT_NOFILE, &lowered);
  }
  ~DescriptorLimit() { restore(); }
  void restore() { ::setrlimit(RLIMIT_NOFILE, &saved_); }

 private:
  rlimit saved_{};
};

// The sanitizers look at memory through a pipe, so a thread that first runs while no
// descriptor is left has its first virtual call reported as a bad object. The receiver starts
// its file threads when it is made, and on a loaded machine they may not have run yet: this
// waits until every other thread of the process sleeps.
void waitUntilOtherThreadsSleep() {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  const std::string self = std::to_string(::gettid());
  while (std::chrono::steady_clock::now() < deadline) {
    bool allAsleep = true;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
      if (task.path().filename() == self) continue;
      std::ifstream stat(task.path() / "stat");
      std::string line;
      std::getline(stat, line);
      const std::size_t nameEnd = line.rfind(')');  // the state follows the name in brackets
      if (nameEnd == std::string::npos || line.size() < nameEnd + 3 || line[nameEnd + 2] != 'S') {
        allAsleep = false;
      }
    }
    if (allAsleep) return;
    std::this_thread::sleep_for(1ms);
  }
}

TEST_F(ReceiverTest, FailedAcceptsDoNotEndTheReceiver) {
  auto acceptFailures = std::make_shared<std::vector<std::string>>();
  ReceiverOptions options = defaultOptions();
  options.acceptRetryMin = 5ms;
  options.acceptRetryMax = 20ms;
  options.onAcceptFailed = [acceptFailures](const std::string& text) {
    acceptFailures->push_back(text);
  };
  startReceiver(std::move(options));

  // The phone's socket exists before the process runs out of descriptors; connecting needs none.
  tcp::socket phoneSocket(io);
  phoneSocket.open(tcp::v4());
  const int lowestFree = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(lowestFree, 0);
  ::close(lowestFree);
  // Every descriptor below the lowest free one is taken, so the limit leaves none to accept with.
  waitUntilOtherThreadsSleep();
  DescriptorLimit limit(static_cast<rlim_t>(lowestFree));

  // The test phone makes its own socket, so this phone is spelled out.
  spawnPhone([](tcp::socket socket, std::uint16_t port, crypto::X25519PrivateKey key) -> Task {
    co_await socket.async_connect(loopback(port), asio::use_awaitable);
    WireConnection wire(std::move(socket));
    NoiseHandshake noise(NoiseRole::initiator, key);
    const Bytes first = noise.writeMessage();
    co_await wire.sendLengthPrefixed(first);
    noise.readMessage(co_await wire.receiveLengthPrefixed());
    const Bytes third = noise.writeMessage();
    co_await wire.sendLengthPrefixed(third);
    TransportFramer framer(noise.finalize());
    const Bytes clip = framer.encodeJSON(msg::Clipboard{"made it", "text/plain"});
    co_await wire.sendLengthPrefixed(clip);
    try {
      for (;;) co_await wire.receiveLengthPrefixed();
    } catch (const WireConnection::Error&) {
    }
  }(std::move(phoneSocket), port(), phoneKey));
  ASSERT_TRUE(runUntil([&] { return acceptFailures->size() >= 3; }));
  limit.restore();

  ASSERT_TRUE(runUntil([&] { return phonesDone == 1; }));
  EXPECT_EQ(acceptFailures->at(0), asio::error_code(asio::error::no_descriptors).message());
  EXPECT_EQ(clips,
            (std::vector<std::pair<std::string, std::string>>{{"made it", "(unknown peer)"}}));
  EXPECT_FALSE(runEnd);
  EXPECT_EQ(errors, std::vector<std::string>{});
}

TEST_F(ReceiverTest, PortInUseFailsToStart) {
  tcp::acceptor taken(io, {asio::ip::address_v4::loopback(), 0});
  receiver = std::make_unique<Receiver>(io.get_executor(), computerKey, phoneKey.publicKey(),
                                        downloads.path(), taken.local_endpoint().port(),
                                        toBytes(kFerrytidePrologue), defaultOptions());
  asio::co_spawn(io, receiver->run({}), [this](std::exception_ptr failure) { runEnd = failure; });
  ASSERT_TRUE(runUntil([&] { return runEnd.has_value(); }));
  try {
    std::rethrow_exception(*runEnd);
  } catch (const Receiver::Error& error) {
    EXPECT_EQ(error.kind(), Receiver::Error::Kind::listenerStartFailed);
    EXPECT_EQ(error.what(),
              "listener start failed: " + asio::error_code(asio::error::address_in_use).message());
  }
}

TEST_F(ReceiverTest, StopBeforeRunMeansItNeverListens) {
  receiver = std::make_unique<Receiver>(io.get_executor(), computerKey, phoneKey.publicKey(),
                                        downloads.path(), 0, toBytes(kFerrytidePrologue),
                                        defaultOptions());
  receiver->stop();
  asio::co_spawn(io, receiver->run({}), [this](std::exception_ptr failure) { runEnd = failure; });
  stopReceiver();
  EXPECT_FALSE(receiver->boundPort());
}

// The receiver's own io_context on two threads, as an application may run it; the phones run on
// the test's thread.
TEST(ReceiverThreadsTest, ManyPhonesAtOnceOnTwoNetworkThreads) {
  TempDir downloads;
  TempDir state;
  ActiveTransfers transfers;
  const auto phoneKey = crypto::X25519PrivateKey::generate();
  constexpr int kPhones = 24;

  asio::io_context network;
  std::promise<std::uint16_t> listening;
  ReceiverOptions options;
  options.listenAddress = asio::ip::address_v4::loopback();
  options.peerStore = PeerStore(state.path());
  options.activeTransfers = &transfers;
  options.onListening = [&](std::uint16_t port) { listening.set_value(port); };
  Receiver receiver(network.get_executor(), crypto::X25519PrivateKey::generate(),
                    phoneKey.publicKey(), downloads.path(), 0, toBytes(kFerrytidePrologue),
                    std::move(options));
  std::mutex lock;
  std::vector<ReceivedFile> files;
  std::vector<std::string> errors;
  Receiver::Callbacks callbacks;
  callbacks.onTransfer = [&](const ReceivedFile& file) {
    std::lock_guard guard(lock);
    files.push_back(file);
  };
  callbacks.onError = [&](const std::exception& error) {
    std::lock_guard guard(lock);
    errors.push_back(error.what());
  };
  std::promise<std::exception_ptr> runEnd;
  asio::co_spawn(network, receiver.run(std::move(callbacks)),
                 [&](std::exception_ptr failure) { runEnd.set_value(failure); });
  std::thread first([&] { network.run(); });
  std::thread second([&] { network.run(); });
  auto port = listening.get_future();
  ASSERT_EQ(port.wait_for(10s), std::future_status::ready);
  const std::uint16_t receiverPort = port.get();

  asio::io_context phones;
  int done = 0;
  std::vector<std::string> phoneFailures;
  for (int i = 0; i < kPhones; ++i) {
    FileToSend file{"file " + std::to_string(i) + ".bin",
                    patternBytes(70'000, static_cast<std::uint8_t>(i)), "T-" + std::to_string(i)};
    asio::co_spawn(phones, pairedPhoneSendsFile(receiverPort, phoneKey, std::move(file)),
                   [&](std::exception_ptr failure) {
                     ++done;
                     if (failure) phoneFailures.push_back("a phone failed");
                   });
  }
  phones.run_for(20s);
  receiver.stop();
  auto ended = runEnd.get_future();
  const bool stopped = ended.wait_for(10s) == std::future_status::ready;
  if (!stopped) network.stop();
  first.join();
  second.join();
  ASSERT_TRUE(stopped);

  EXPECT_EQ(done, kPhones);
  EXPECT_EQ(phoneFailures, std::vector<std::string>{});
  EXPECT_EQ(errors, std::vector<std::string>{});
  ASSERT_EQ(files.size(), static_cast<std::size_t>(kPhones));
  for (int i = 0; i < kPhones; ++i) {
    EXPECT_EQ(*readFileBytes(downloads / ("file " + std::to_string(i) + ".bin")),
              patternBytes(70'000, static_cast<std::uint8_t>(i)));
  }
}

}  // namespace
}  // namespace ferrytide
