#include "core/peers/pair_listener.h"

#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/use_future.hpp>
#include <asio/write.hpp>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/peers/device_info.h"
#include "core/peers/pair_crypto.h"
#include "core/peers/pair_wire.h"
#include "core/peers/pairing_payload.h"
#include "core/peers/peer_store.h"
#include "core/peers/phone_introduction.h"
#include "core/support/base64.h"
#include "core/support/json.h"
#include "support/pair_listener_test_peer.h"
#include "support/temp_dir.h"

namespace ferrytide {
namespace {

using asio::ip::tcp;
using namespace std::chrono_literals;

// Only a bound on how long a broken test may hang; nothing here sleeps.
constexpr auto kHangLimit = 10s;
constexpr auto kLongTimeout = 30s;

const Bytes kSecret = crypto::randomBytes(32);

std::string errorText(asio::error::basic_errors error) { return asio::error_code(error).message(); }

// The wait's error text, or "<success>".
std::string outcomeOf(std::future<PairListener::Result>& wait) {
  if (wait.wait_for(kHangLimit) != std::future_status::ready) return "<still waiting>";
  try {
    wait.get();
    return "<success>";
  } catch (const PairListener::Error& error) {
    return error.what();
  }
}

// One listener waiting on its own network thread, bound to 127.0.0.1.
class Attempt {
 public:
  Attempt(ByteView secret, std::uint16_t port, PairListener::Duration timeout)
      : listener_(std::make_unique<PairListener>(io_.get_executor(), secret, port, timeout,
                                                 asio::ip::make_address("127.0.0.1"))),
        watch_(PairListenerTestPeer::watch(*listener_)),
        result_(asio::co_spawn(io_, listener_->awaitIntroduction(), asio::use_future)),
        thread_([this] { io_.run(); }) {}

  ~Attempt() {
    listener_.reset();
    work_.reset();
    thread_.join();
  }

  PairListener& listener() { return *listener_; }
  void dropListener() { listener_.reset(); }

  std::uint16_t port() {
    if (watch_.listening.wait_for(kHangLimit) != std::future_status::ready) {
      ADD_FAILURE() << "listener did not start: " << outcome();
      return 0;
    }
    return watch_.listening.get();
  }

  bool accepted() { return watch_.accepted.wait_for(kHangLimit) == std::future_status::ready; }

  std::string outcome() { return outcomeOf(result_); }

  PairListener::Result result() {
    EXPECT_EQ(result_.wait_for(kHangLimit), std::future_status::ready);
    return result_.get();
  }

  // A second wait on the same listener, run on the listener's thread.
  std::future<PairListener::Result> awaitAgain() {
    return asio::co_spawn(io_, listener_->awaitIntroduction(), asio::use_future);
  }

 private:
  asio::io_context io_;
  // Keeps the thread running after the wait, for a further call on the same listener.
  asio::executor_work_guard<asio::io_context::executor_type> work_ = asio::make_work_guard(io_);
  std::unique_ptr<PairListener> listener_;
  PairListenerTestPeer::Watch watch_;
  std::future<PairListener::Result> result_;
  std::thread thread_;
};

// The test's phone, with blocking sockets on the test thread.
class Phone {
 public:
  explicit Phone(std::uint16_t port) { socket_.connect(endpoint(port)); }

  static tcp::endpoint endpoint(std::uint16_t port) {
    return {asio::ip::make_address("127.0.0.1"), port};
  }

  void send(ByteView bytes) { asio::write(socket_, asio::buffer(bytes.data(), bytes.size())); }
  void close() { socket_.close(); }
  // Closes with a reset instead of an orderly end of stream.
  void reset() {
    socket_.set_option(asio::socket_base::linger(true, 0));
    socket_.close();
  }
  std::uint16_t localPort() const { return socket_.local_endpoint().port(); }

  // What the computer sent before closing: it should be nothing.
  std::size_t bytesUntilClosed() {
    Bytes buffer(64);
    asio::error_code error;
    std::size_t count = asio::read(socket_, asio::buffer(buffer), error);
    EXPECT_EQ(error, asio::error::eof);
    return count;
  }

 private:
  asio::io_context io_;
  tcp::socket socket_{io_};
};

Bytes sealedFrame(ByteView plaintext, ByteView secret = kSecret) {
  return PairWire::encodeFrame(
      PairCrypto::sealIntroduction(plaintext, PairCrypto::deriveAEADKey(secret)));
}

Bytes lengthPrefix(std::uint32_t length) {
  return {static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
          static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
}

// A listener on `port` still takes a good introduction.
void expectPortWorksAgain(std::uint16_t port) {
  Attempt attempt(kSecret, port, kLongTimeout);
  ASSERT_EQ(attempt.port(), port);
  Phone phone(port);
  phone.send(sealedFrame(toBytes("{}")));
  EXPECT_EQ(toString(attempt.result().phoneIntroductionPlaintext), "{}");
}

TEST(PairListenerTest, HostileFramesEndWithTheirErrorAndLeaveThePortUsable) {
  enum class Ending { close, reset };
  struct Case {
    const char* name;
    Bytes bytes;
    Ending ending;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"huge prefix", lengthPrefix(0xffffffff), Ending::close,
       "read failed: bad length prefix: pair frame size 4294967295 exceeds 65536"},
      {"two bytes", {0x00, 0x00}, Ending::close, "read failed: prefix EOF"},
      {"reset in prefix",
       {0x00, 0x00},
       Ending::reset,
       "read failed: prefix: " + errorText(asio::error::connection_reset)},
      {"short payload", concat({lengthPrefix(65536), Bytes(100, 1)}), Ending::close,
       "read failed: payload short read"},
      {"reset in payload", concat({lengthPrefix(65536), Bytes(100, 1)}), Ending::reset,
       "read failed: payload: " + errorText(asio::error::connection_reset)},
      {"other secret", sealedFrame(toBytes("{}"), crypto::randomBytes(32)), Ending::close,
       "decrypt failed: ChaChaPoly.open failed: authentication failure"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::uint16_t port = 0;
    {
      Attempt attempt(kSecret, 0, kLongTimeout);
      port = attempt.port();
      Phone phone(port);
      phone.send(c.bytes);
      if (c.ending == Ending::reset) {
        ASSERT_TRUE(attempt.accepted());
        phone.reset();
      } else {
        phone.close();
      }
      EXPECT_EQ(attempt.outcome(), c.expected);
    }
    expectPortWorksAgain(port);
  }
}

TEST(PairListenerTest, LargestFrameAndEmptyIntroductionAreRead) {
  for (std::size_t plaintextSize : {std::size_t{65536 - 28}, std::size_t{0}}) {
    Bytes plaintext = crypto::randomBytes(plaintextSize);
    Attempt attempt(kSecret, 0, kLongTimeout);
    Phone phone(attempt.port());
    phone.send(sealedFrame(plaintext));
    auto result = attempt.result();
    EXPECT_EQ(result.phoneIntroductionPlaintext, plaintext);
    EXPECT_EQ(result.remoteEndpoint, "127.0.0.1:" + std::to_string(phone.localPort()));
  }
}

TEST(PairListenerTest, TimeoutOrCancelEndsTheWaitWhileListeningOrReading) {
  for (bool cancel : {false, true}) {
    for (bool connect : {false, true}) {
      SCOPED_TRACE(std::string(cancel ? "cancel" : "timeout") + (connect ? " reading" : ""));
      Attempt attempt(kSecret, 0, cancel ? kLongTimeout : 150ms);
      std::uint16_t port = attempt.port();
      std::optional<Phone> phone;
      if (connect) {
        phone.emplace(port);
        phone->send(lengthPrefix(100));
        ASSERT_TRUE(attempt.accepted());
      }
      if (cancel) attempt.listener().cancel();
      EXPECT_EQ(attempt.outcome(), cancel ? "cancelled" : "pair-mode timeout");
      if (phone) {
        EXPECT_EQ(phone->bytesUntilClosed(), 0u);
      }
      expectPortWorksAgain(port);
    }
  }
}

TEST(PairListenerTest, CancelBeforeTheWaitMakesTheWaitFailAtOnce) {
  asio::io_context io;
  PairListener listener(io.get_executor(), kSecret, 0, kLongTimeout,
                        asio::ip::make_address("127.0.0.1"));
  listener.cancel();
  auto result = asio::co_spawn(io, listener.awaitIntroduction(), asio::use_future);
  io.run();
  EXPECT_EQ(outcomeOf(result), "cancelled");
}

TEST(PairListenerTest, DroppingTheListenerEndsTheWaitAndFreesThePort) {
  Attempt attempt(kSecret, 0, kLongTimeout);
  std::uint16_t port = attempt.port();
  attempt.dropListener();
  EXPECT_EQ(attempt.outcome(), "cancelled");
  expectPortWorksAgain(port);
}

TEST(PairListenerTest, OnlyOneWaitPerListener) {
  Attempt attempt(kSecret, 0, kLongTimeout);
  std::uint16_t port = attempt.port();
  auto again = [&] {
    auto second = attempt.awaitAgain();
    return outcomeOf(second);
  };
  EXPECT_EQ(again(), "PairListener already running");

  // The first wait goes on undisturbed; a call after it has ended fails the same way.
  Phone phone(port);
  phone.send(sealedFrame(toBytes("{}")));
  EXPECT_EQ(attempt.outcome(), "<success>");
  EXPECT_EQ(again(), "PairListener already running");
}

TEST(PairListenerTest, SecondConnectionIsRefusedOnceThePhoneIsConnected) {
  Attempt attempt(kSecret, 0, kLongTimeout);
  std::uint16_t port = attempt.port();
  Phone phone(port);
  ASSERT_TRUE(attempt.accepted());

  asio::io_context io;
  tcp::socket intruder(io);
  asio::error_code error;
  intruder.connect(Phone::endpoint(port), error);
  EXPECT_EQ(error, asio::error::connection_refused);

  phone.send(sealedFrame(toBytes("{\"peer_hostname\":\"first\"}")));
  EXPECT_EQ(toString(attempt.result().phoneIntroductionPlaintext), "{\"peer_hostname\":\"first\"}");
}

TEST(PairListenerTest, PortHeldByAnotherListenerFailsToStart) {
  Attempt holder(kSecret, 0, kLongTimeout);
  std::uint16_t port = holder.port();
  Attempt second(kSecret, port, kLongTimeout);
  EXPECT_EQ(second.outcome(),
            "listener failed to start: " + errorText(asio::error::address_in_use));
}

// A whole pairing: the computer mints a payload, the phone seals its introduction with the
// payload's secret, both compute the same code, and the phone is stored in place of the record
// it had before reinstalling (same name and address, new key).
TEST(PairingExchangeTest, BothSidesShowTheSameCodeAndThePhoneBecomesAPeer) {
  const auto macKey = crypto::X25519PrivateKey::generate();
  const auto phoneKey = crypto::X25519PrivateKey::generate();
  const std::string phoneKeyB64 = base64::encode(phoneKey.publicKey().view());
  DeviceInfo device{"eth0", "192.168.1.20", "192.168.1.0/24", "a4:83:e7:12:34:56", "Studio"};
  const PairingPayload payload = PairingPayload::mint(macKey.publicKey(), device, 47819);
  const Bytes secret = *base64::decode(payload.pairing_secret);

  testing::TempDir temp;
  PeerStore store(temp.path());
  PeerRecord stale;
  stale.peer_pubkey = base64::encode(crypto::X25519PrivateKey::generate().publicKey().view());
  stale.peer_ip = "192.168.1.23";
  stale.peer_hostname = "Pixel 8";
  store.upsert(stale);

  Attempt attempt(secret, 0, kLongTimeout);
  Phone phone(attempt.port());
  const Bytes sent = toBytes(json::encodeCompact({
      {"peer_pubkey", phoneKeyB64},
      {"peer_hostname", "Pixel 8"},
      {"peer_ip", "192.168.1.23"},
      {"peer_port", 47820},
      {"peer_subnet", "192.168.1.0/24"},
      {"peer_fcm_token", "fcm:token-1"},
      {"peer_android", "Android 14"},
  }));
  phone.send(sealedFrame(sent, secret));
  const auto result = attempt.result();
  EXPECT_EQ(phone.bytesUntilClosed(), 0u);

  const auto intro = PhoneIntroduction::decode(result.phoneIntroductionPlaintext, payload.peer_port);
  const Bytes macPublic = *base64::decode(payload.peer_pubkey);
  const std::string computerCode = PairCrypto::confirmationCode(
      secret, macPublic, intro.pubkeyBytes(), result.phoneIntroductionPlaintext);
  const std::string phoneCode =
      PairCrypto::confirmationCode(secret, macPublic, phoneKey.publicKey().view(), sent);
  EXPECT_EQ(computerCode, phoneCode);
  EXPECT_EQ(computerCode.size(), 4u);

  const PeerRecord record = intro.toPeerRecord(payload.peer_pubkey, 1733480000000);
  EXPECT_EQ(record.peer_pubkey, phoneKeyB64);
  EXPECT_EQ(record.self_pubkey, payload.peer_pubkey);
  EXPECT_EQ(record.peer_fcm_token, "fcm:token-1");

  EXPECT_EQ(store.upsertReplacingStale(record), std::vector<PeerRecord>{stale});
  EXPECT_EQ(store.loadBook().peers, std::vector<PeerRecord>{record});
}

}  // namespace
}  // namespace ferrytide
