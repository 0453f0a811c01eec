// Speed of the secure channel, each figure against a baseline measured in the same run:
//   - raw ChaCha20-Poly1305 sealing of 1 MiB buffers straight through OpenSSL (the baseline),
//   - TransportFramer sealing and opening 1 MiB binary frames,
//   - a stream of 1 MiB binary frames through a WireConnection pair over loopback TCP, sender
//     and receiver on their own threads, next to a raw TCP loopback stream of the same size,
//   - complete Noise XX handshakes per second on one core: both sides run in this process, so
//     each completed pair counts as two handshakes, one for each side (target >= 2500/s).
//
// Usage: ferrytide-bench-channel [--runs N] [--stream-mib N] [--parts seal,stream,handshakes]
//        ferrytide-bench-channel --once handshakes
//   --once handshakes prints the handshakes per second of one run, alone on a line, for scripts
//   that take their own median (bench/transfer.sh).


#include <asio.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "baselines.h"
#include "bench_stats.h"
#include "core/channel/noise_handshake.h"
#include "core/channel/transport_framer.h"
#include "core/channel/wire_connection.h"
#include "core/support/crypto.h"

namespace ferrytide::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kChunk = 1 << 20;
constexpr double kMB = 1e6;

double seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// ---- the framer

struct TransportPair {
  NoiseTransport initiator;
  NoiseTransport responder;
};

TransportPair handshakeInMemory(const crypto::X25519PrivateKey& initiatorKey,
                                const crypto::X25519PrivateKey& responderKey) {
  NoiseHandshake initiator(NoiseRole::initiator, initiatorKey);
  NoiseHandshake responder(NoiseRole::responder, responderKey);
  responder.readMessage(initiator.writeMessage());
  initiator.readMessage(responder.writeMessage());
  responder.readMessage(initiator.writeMessage());
  return TransportPair{initiator.finalize(), responder.finalize()};
}

double framerSealRate(int frames) {
  auto pair = handshakeInMemory(crypto::X25519PrivateKey::generate(),
                                crypto::X25519PrivateKey::generate());
  TransportFramer sender(std::move(pair.initiator));
  Bytes chunk(kChunk, 0x5a);
  // Each sealed frame is dropped at once, as it is after being sent.
  std::size_t sealedBytes = 0;
  auto start = Clock::now();
  for (int i = 0; i < frames; ++i) sealedBytes += sender.encodeBinary(chunk).size();
  double rate = static_cast<double>(kChunk) * frames / seconds(start);
  if (sealedBytes != frames * (kChunk + 17)) std::abort();
  return rate;
}

// Frames open in the order their peer sealed them, so each batch is sealed first, unmeasured,
// and kept small enough to stay in cache like the baseline's buffer.
double framerOpenRate(int batches) {
  constexpr int kBatchFrames = 4;
  Bytes chunk(kChunk, 0x5a);
  double elapsed = 0;
  std::size_t opened = 0;
  for (int batch = 0; batch < batches; ++batch) {
    auto pair = handshakeInMemory(crypto::X25519PrivateKey::generate(),
                                  crypto::X25519PrivateKey::generate());
    TransportFramer sender(std::move(pair.initiator));
    TransportFramer receiver(std::move(pair.responder));
    std::vector<Bytes> sealed;
    for (int i = 0; i < kBatchFrames; ++i) sealed.push_back(sender.encodeBinary(chunk));
    auto start = Clock::now();
    for (const Bytes& frame : sealed) opened += receiver.decode(frame).asBinary()->size();
    elapsed += seconds(start);
  }
  return static_cast<double>(opened) / elapsed;
}

// ---- loopback streams

struct LoopbackSockets {
  asio::io_context senderContext;
  asio::io_context receiverContext;
  asio::ip::tcp::socket sender{senderContext};
  asio::ip::tcp::socket receiver{receiverContext};

  LoopbackSockets() {
    asio::ip::tcp::acceptor acceptor(receiverContext,
                                     {asio::ip::make_address("127.0.0.1"), 0});
    sender.connect(acceptor.local_endpoint());
    receiver = acceptor.accept();
    sender.set_option(asio::ip::tcp::no_delay(true));
  }
};

void runCoroutine(asio::io_context& context, asio::awaitable<void> work) {
  std::exception_ptr failure;
  asio::co_spawn(context, std::move(work), [&](std::exception_ptr error) { failure = error; });
  context.run();
  context.restart();
  if (failure) std::rethrow_exception(failure);
}

asio::awaitable<TransportFramer> initiate(WireConnection& wire) {
  NoiseHandshake handshake(NoiseRole::initiator, crypto::X25519PrivateKey::generate());
  co_await wire.sendLengthPrefixed(handshake.writeMessage());
  handshake.readMessage(co_await wire.receiveLengthPrefixed());
  co_await wire.sendLengthPrefixed(handshake.writeMessage());
  co_return TransportFramer(handshake.finalize());
}

asio::awaitable<TransportFramer> respond(WireConnection& wire) {
  NoiseHandshake handshake(NoiseRole::responder, crypto::X25519PrivateKey::generate());
  handshake.readMessage(co_await wire.receiveLengthPrefixed());
  co_await wire.sendLengthPrefixed(handshake.writeMessage());
  handshake.readMessage(co_await wire.receiveLengthPrefixed());
  co_return TransportFramer(handshake.finalize());
}

double wireStreamRate(std::size_t totalBytes) {
  LoopbackSockets sockets;
  WireConnection senderWire(std::move(sockets.sender));
  WireConnection receiverWire(std::move(sockets.receiver));
  std::optional<TransportFramer> senderFramer;
  std::optional<TransportFramer> receiverFramer;
  std::thread handshakeThread([&] {
    runCoroutine(sockets.receiverContext,
                 [&]() -> asio::awaitable<void> { receiverFramer.emplace(co_await respond(receiverWire)); }());
  });
  runCoroutine(sockets.senderContext,
               [&]() -> asio::awaitable<void> { senderFramer.emplace(co_await initiate(senderWire)); }());
  handshakeThread.join();

  const std::size_t frames = totalBytes / kChunk;
  Bytes chunk(kChunk, 0x5a);
  std::size_t received = 0;
  auto start = Clock::now();
  std::thread receiverThread([&] {
    runCoroutine(sockets.receiverContext, [&]() -> asio::awaitable<void> {
      for (std::size_t i = 0; i < frames; ++i) {
        DecodedFrame frame = receiverFramer->decode(co_await receiverWire.receiveLengthPrefixed());
        received += frame.asBinary()->size();
      }
    }());
  });
  runCoroutine(sockets.senderContext, [&]() -> asio::awaitable<void> {
    for (std::size_t i = 0; i < frames; ++i) {
      Bytes sealed = senderFramer->encodeBinary(chunk);
      co_await senderWire.sendLengthPrefixed(sealed);
    }
  }());
  receiverThread.join();
  double elapsed = seconds(start);
  if (received != frames * kChunk) throw std::runtime_error("stream lost bytes");
  return static_cast<double>(received) / elapsed;
}

double rawTcpRate(std::size_t totalBytes) {
  LoopbackSockets sockets;
  const std::size_t frames = totalBytes / kChunk;
  auto start = Clock::now();
  std::thread receiverThread([&] {
    std::vector<std::uint8_t> buffer(kChunk);
    for (std::size_t i = 0; i < frames; ++i) asio::read(sockets.receiver, asio::buffer(buffer));
  });
  std::vector<std::uint8_t> chunk(kChunk, 0x5a);
  for (std::size_t i = 0; i < frames; ++i) asio::write(sockets.sender, asio::buffer(chunk));
  receiverThread.join();
  return static_cast<double>(frames * kChunk) / seconds(start);
}

// ---- handshakes

// Handshakes per second, each side counted: twice the completed pairs.
double handshakeRate(double forSeconds) {
  auto initiatorKey = crypto::X25519PrivateKey::generate();
  auto responderKey = crypto::X25519PrivateKey::generate();
  int completed = 0;
  auto start = Clock::now();
  while (seconds(start) < forSeconds) {
    auto pair = handshakeInMemory(initiatorKey, responderKey);
    if (pair.initiator.handshakeHash() != pair.responder.handshakeHash()) std::abort();
    ++completed;
  }
  return 2 * completed / seconds(start);
}

double x25519Rate(double forSeconds) {
  auto key = crypto::X25519PrivateKey::generate();
  auto peer = crypto::X25519PrivateKey::generate().publicKey();
  int operations = 0;
  auto start = Clock::now();
  while (seconds(start) < forSeconds) {
    (void)key.sharedSecret(peer);
    ++operations;
  }
  return operations / seconds(start);
}

void printRow(const char* name, const std::string& figure, const char* ratio) {
  std::printf("%-44s %s  %s\n", name, figure.c_str(), ratio);
}

}  // namespace
}  // namespace ferrytide::bench

int main(int argc, char** argv) {
  using namespace ferrytide::bench;
  int runs = 5;
  std::size_t streamMiB = 1024;
  std::string parts = "seal,stream,handshakes";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(3, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--stream-mib") == 0) streamMiB = std::strtoul(argv[i + 1], nullptr, 10);
    if (std::strcmp(argv[i], "--parts") == 0) parts = argv[i + 1];
    if (std::strcmp(argv[i], "--once") == 0) {
      if (std::strcmp(argv[i + 1], "handshakes") != 0) {
        std::fprintf(stderr, "ferrytide-bench-channel: --once takes handshakes\n");
        return 2;
      }
      std::printf("%.1f\n", handshakeRate(1.0));
      return 0;
    }
  }
  auto wants = [&](const char* part) { return parts.find(part) != std::string::npos; };
  std::printf("secure channel, %d measured runs after one warm-up; median (min, max)\n\n", runs);

  Summary raw = measure(runs, [] { return rawSealRate(256); });
  printRow("raw ChaCha20-Poly1305 seal, 1 MiB (baseline)", formatRate(raw, kMB, "MB/s"), "");

  if (wants("seal")) {
    Summary seal = measure(runs, [] { return framerSealRate(256); });
    Summary open = measure(runs, [] { return framerOpenRate(64); });
    printRow("TransportFramer seal, 1 MiB binary frames", formatRate(seal, kMB, "MB/s"),
             ratio(seal.median, raw.median, 0.9).c_str());
    char openRatio[64];
    std::snprintf(openRatio, sizeof openRatio, "%.2fx (no target)", open.median / raw.median);
    printRow("TransportFramer open, 1 MiB binary frames", formatRate(open, kMB, "MB/s"), openRatio);
  }

  if (wants("stream")) {
    std::size_t streamBytes = streamMiB << 20;
    Summary tcp = measure(runs, [&] { return rawTcpRate(streamBytes); });
    char label[96];
    std::snprintf(label, sizeof label, "raw TCP loopback, %zu MiB (reference)", streamMiB);
    printRow(label, formatRate(tcp, kMB, "MB/s"), "");
    Summary stream = measure(runs, [&] { return wireStreamRate(streamBytes); });
    std::snprintf(label, sizeof label, "sealed frames over WireConnection, %zu MiB", streamMiB);
    printRow(label, formatRate(stream, kMB, "MB/s"), ratio(stream.median, raw.median, 0.35).c_str());
  }

  if (wants("handshakes")) {
    Summary x25519 = measure(runs, [] { return x25519Rate(0.5); });
    printRow("X25519 key agreements (reference)", formatRate(x25519, 1, "op/s"), "");
    Summary handshakes = measure(runs, [] { return handshakeRate(1.0); });
    char target[64];
    std::snprintf(target, sizeof target, "(target >= 2500/s) %s",
                  handshakes.median >= 2500 ? "ok" : "BELOW TARGET");
    printRow("Noise XX handshakes, one core, each side counted", formatRate(handshakes, 1, "hs/s"),
             target);
  }
  return 0;
}
