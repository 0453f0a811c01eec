// WireConnection over real loopback TCP connections; both ends run on one io_context.

#include "core/channel/wire_connection.h"

#include <gtest/gtest.h>

#include <asio/experimental/as_tuple.hpp>
#include <chrono>
#include <exception>
#include <optional>
#include <vector>

#include "support/socket_pair.h"

namespace ferrytide {
namespace {

using namespace std::chrono_literals;
using asio::ip::tcp;
using Kind = WireConnection::Error::Kind;
using Failure = std::optional<WireConnection::Error>;
using Task = asio::awaitable<void>;

constexpr std::size_t kOneOverCap = WireConnection::maxFrameBytes + 1;

Bytes prefixOf(std::uint32_t length) {
  return {static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
          static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
}

Bytes pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i ^ (i >> 9));
  return bytes;
}

std::string ioErrorText(asio::error::basic_errors error) {
  return "wire I/O error: " + asio::error_code(error).message();
}

void expectFailure(const Failure& failure, Kind kind, const std::string& text) {
  ASSERT_TRUE(failure) << "expected to fail with: " << text;
  EXPECT_EQ(failure->kind(), kind);
  EXPECT_EQ(failure->what(), text);
}

// The error an operation fails with; nothing when it succeeds.
template <typename T>
asio::awaitable<Failure> failureOf(asio::awaitable<T> operation) {
  try {
    co_await std::move(operation);
  } catch (const WireConnection::Error& error) {
    co_return error;
  }
  co_return std::nullopt;
}

Task writeRaw(tcp::socket& socket, Bytes bytes) {
  co_await asio::async_write(socket, asio::buffer(bytes), asio::use_awaitable);
}

asio::awaitable<Bytes> readRaw(tcp::socket& socket, std::size_t count) {
  Bytes bytes(count);
  co_await asio::async_read(socket, asio::buffer(bytes), asio::use_awaitable);
  co_return bytes;
}

// True when the other end has closed: a read then ends instead of waiting.
asio::awaitable<bool> seesEndOfStream(tcp::socket& socket) {
  std::uint8_t byte = 0;
  auto [error, read] = co_await asio::async_read(socket, asio::buffer(&byte, 1),
                                                 asio::experimental::as_tuple(asio::use_awaitable));
  co_return read == 0 && error == asio::error::eof;
}

Task pause(std::chrono::milliseconds duration) {
  asio::steady_timer timer(co_await asio::this_coro::executor, duration);
  co_await timer.async_wait(asio::use_awaitable);
}

class WireConnectionTest : public ::testing::Test {
 protected:
  // Runs the coroutines concurrently until all have finished, then rethrows the first failure.
  template <typename... Tasks>
  void run(Tasks&&... tasks) {
    std::vector<std::exception_ptr> failures;
    (asio::co_spawn(io, std::forward<Tasks>(tasks),
                    [&](std::exception_ptr failure) {
                      if (failure) failures.push_back(failure);
                    }),
     ...);
    io.run();
    io.restart();
    for (const auto& failure : failures) std::rethrow_exception(failure);
  }

  asio::io_context io;
  std::pair<tcp::socket, tcp::socket> ends = testing::makeLoopbackPair(io);
  WireConnection connection{std::move(ends.first)};
  tcp::socket& peer = ends.second;
};

TEST_F(WireConnectionTest, EmptyAndCapSizedFramesRoundTripAndOneByteMoreFailsWithoutWriting) {
  const Bytes atCap = pattern(WireConnection::maxFrameBytes);
  const Bytes overCap(kOneOverCap);
  WireConnection remote(std::move(peer));
  Failure failure;
  std::vector<Bytes> received;
  run(
      [&]() -> Task {
        co_await connection.sendLengthPrefixed({});
        failure = co_await failureOf(connection.sendLengthPrefixed(overCap));
        co_await connection.sendLengthPrefixed(atCap);
      },
      [&]() -> Task {
        for (int i = 0; i < 2; ++i) received.push_back(co_await remote.receiveLengthPrefixed());
      });
  ASSERT_NO_FATAL_FAILURE(
      expectFailure(failure, Kind::oversize, "wire frame size 16777281 exceeds cap"));
  EXPECT_EQ(failure->size(), 16'777'281u);
  // After the empty frame comes the one at the cap: nothing of the refused one went out.
  ASSERT_EQ(received.size(), 2u);
  EXPECT_TRUE(received[0].empty());
  EXPECT_TRUE(received[1] == atCap);
}

TEST_F(WireConnectionTest, OversizeLengthFailsBeforeReadingBody) {
  const Bytes sent = concat({prefixOf(kOneOverCap), asBytes("body")});
  Failure failure;
  Bytes afterFailure;
  run([&]() -> Task { co_await writeRaw(peer, sent); },
      [&]() -> Task {
        failure = co_await failureOf(connection.receiveLengthPrefixed());
        afterFailure = co_await readRaw(connection.socket(), 4);
      });
  ASSERT_NO_FATAL_FAILURE(
      expectFailure(failure, Kind::oversize, "wire frame size 16777281 exceeds cap"));
  EXPECT_EQ(toString(afterFailure), "body");
}

TEST_F(WireConnectionTest, PeerEndingMidFrameFailsWithEofOrReset) {
  struct Case {
    const char* name;
    Bytes sent;
    bool reset;  // abort the connection instead of closing it in order
    Kind kind;
    std::string text;
  };
  const std::string eofText = "wire EOF before expected bytes";
  const std::vector<Case> cases = {
      {"two bytes of a prefix", {0x00, 0x00}, false, Kind::eof, eofText},
      {"10 bytes of an announced 16 MiB",
       concat({prefixOf(WireConnection::maxFrameBytes), pattern(10)}), false, Kind::eof, eofText},
      {"reset", {}, true, Kind::underlying, ioErrorText(asio::error::connection_reset)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto [ours, theirs] = testing::makeLoopbackPair(io);
    WireConnection wire(std::move(ours));
    Failure failure;
    run(
        [&]() -> Task {
          co_await writeRaw(theirs, c.sent);
          if (c.reset) theirs.set_option(asio::socket_base::linger(true, 0));
          theirs.close();
        },
        [&]() -> Task { failure = co_await failureOf(wire.receiveLengthPrefixed()); });
    expectFailure(failure, c.kind, c.text);
  }
}

TEST_F(WireConnectionTest, ReceiveBufferGrowsWithArrivingBytesNotWithAnnouncedLength) {
  // A 1 MiB file chunk frame fits the first step whole, so it is never copied.
  EXPECT_EQ(WireConnection::nextReceiveCapacity(0, 1'048'593), 1'048'593u);

  const std::size_t announced = WireConnection::maxFrameBytes;
  std::size_t have = WireConnection::nextReceiveCapacity(0, announced);
  EXPECT_LE(have, announced / 8);
  int steps = 1;
  while (have < announced) {
    const std::size_t next = WireConnection::nextReceiveCapacity(have, announced);
    ASSERT_GT(next, have);
    EXPECT_LE(next, 2 * have) << "grew faster than the bytes that arrived";
    have = next;
    ++steps;
  }
  EXPECT_EQ(have, announced);
  EXPECT_LE(steps, 6);
}

// A reset, so that a peer waiting for an orderly close cannot take the time-out for one.
TEST_F(WireConnectionTest, IdleTimeoutResetsConnectionToSilentPeer) {
  connection.setIdleTimeout(50ms);
  Failure failure;
  asio::error_code peerRead;
  const auto started = std::chrono::steady_clock::now();
  run([&]() -> Task { failure = co_await failureOf(connection.receiveLengthPrefixed()); },
      [&]() -> Task {
        std::uint8_t byte = 0;
        std::tie(peerRead, std::ignore) = co_await peer.async_read_some(
            asio::buffer(&byte, 1), asio::experimental::as_tuple(asio::use_awaitable));
      });
  EXPECT_GE(std::chrono::steady_clock::now() - started, 50ms);
  expectFailure(failure, Kind::underlying, ioErrorText(asio::error::timed_out));
  EXPECT_FALSE(connection.socket().is_open());
  EXPECT_EQ(peerRead, asio::error::connection_reset) << peerRead.message();
}

TEST_F(WireConnectionTest, PeerPausingLessThanIdleTimeoutIsNeverCutOff) {
  constexpr auto timeout = 200ms;
  constexpr auto gap = 20ms;
  constexpr int frames = 6;  // frames * 2 * gap outlasts the timeout
  connection.setIdleTimeout(timeout);
  std::vector<Bytes> received;
  bool openAfterIdle = false;
  run(
      [&]() -> Task {
        for (int i = 0; i <= frames; ++i) {
          const Bytes body = pattern(1000 + i);
          co_await writeRaw(peer, prefixOf(static_cast<std::uint32_t>(body.size())));
          co_await pause(gap);
          co_await writeRaw(peer, body);
          if (i < frames) co_await pause(gap);
        }
      },
      [&]() -> Task {
        for (int i = 0; i < frames; ++i)
          received.push_back(co_await connection.receiveLengthPrefixed());
        // No receive pending for twice the timeout: a timer left over from the frames above
        // must not close the connection now.
        co_await pause(2 * timeout);
        openAfterIdle = connection.socket().is_open();
        received.push_back(co_await connection.receiveLengthPrefixed());
      });
  EXPECT_TRUE(openAfterIdle);
  ASSERT_EQ(received.size(), static_cast<std::size_t>(frames + 1));
  for (int i = 0; i <= frames; ++i) EXPECT_EQ(received[i], pattern(1000 + i)) << "frame " << i;
}

// Bytes already waiting are taken without a pass through the scheduler; a peer that always has
// the next frame ready must still not keep the other work on the thread from running.
TEST_F(WireConnectionTest, FramesAlreadyWaitingStillLetOtherWorkRun) {
  constexpr std::size_t frames = 200;
  Bytes queued;
  for (std::size_t i = 0; i < frames; ++i) queued = concat({queued, prefixOf(1), pattern(1)});
  asio::write(peer, asio::buffer(queued));
  std::size_t received = 0;
  std::optional<std::size_t> receivedWhenOtherRan;
  // Tasks start in order: the second runs once the first lets the thread go.
  run(
      [&]() -> Task {
        for (std::size_t i = 0; i < frames; ++i) {
          EXPECT_EQ(co_await connection.receiveLengthPrefixed(), pattern(1));
          ++received;
        }
      },
      [&]() -> Task {
        receivedWhenOtherRan = received;
        co_return;
      });
  EXPECT_EQ(received, frames);
  ASSERT_TRUE(receivedWhenOtherRan);
  EXPECT_LT(*receivedWhenOtherRan, frames / 4);
}

TEST_F(WireConnectionTest, CloseFailsPendingReceiveWithUnderlying) {
  for (const auto timeout : {std::optional<std::chrono::steady_clock::duration>{}, {10s}}) {
    SCOPED_TRACE(timeout ? "with idle timeout" : "without idle timeout");
    auto [ours, theirs] = testing::makeLoopbackPair(io);
    WireConnection wire(std::move(ours));
    wire.setIdleTimeout(timeout);
    Failure receiveFailure;
    Failure sendFailure;
    bool peerSawClose = false;
    // Tasks start in order, so the receive is pending when the second one closes.
    run([&]() -> Task { receiveFailure = co_await failureOf(wire.receiveLengthPrefixed()); },
        [&]() -> Task {
          wire.close();
          wire.close();
          sendFailure = co_await failureOf(wire.sendLengthPrefixed(asBytes("late")));
          peerSawClose = co_await seesEndOfStream(theirs);
        });
    expectFailure(receiveFailure, Kind::underlying, ioErrorText(asio::error::operation_aborted));
    expectFailure(sendFailure, Kind::underlying, ioErrorText(asio::error::bad_descriptor));
    EXPECT_TRUE(peerSawClose);
  }
}

}  // namespace
}  // namespace ferrytide
