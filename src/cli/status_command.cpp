#include "cli/status_command.h"

#include <asio.hpp>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "core/channel/key_vault.h"
#include "core/channel/noise_handshake.h"
#include "core/channel/transport_framer.h"
#include "core/channel/wire_connection.h"
#include "core/peers/device_info.h"

// g++ 12 wrongly reports -Wmismatched-new-delete for the coroutines of this file: it pairs the
// ::operator new inside Asio's frame allocator with the frame's own operator delete, though
// Asio allocates and frees every frame through its own matching pair.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace ferrytide::cli {
namespace {

constexpr std::size_t kSelfCheckChunks = 8;
constexpr std::size_t kChunkBytes = 1 << 20;

struct SelfCheckResult {
  std::string handshakeHash;
  std::string reply;
  std::size_t binaryBytes = 0;
};

// The phone's side: answers the handshake, the file offer, and counts the chunks until "Done".
asio::awaitable<void> respond(WireConnection& wire, SelfCheckResult& result) {
  NoiseHandshake handshake(NoiseRole::responder, crypto::X25519PrivateKey::generate());
  handshake.readMessage(co_await wire.receiveLengthPrefixed());
  co_await wire.sendLengthPrefixed(handshake.writeMessage());
  handshake.readMessage(co_await wire.receiveLengthPrefixed());
  TransportFramer framer(handshake.finalize());

  DecodedFrame offer = framer.decode(co_await wire.receiveLengthPrefixed());
  const auto* message = offer.asJSON();
  if (message == nullptr || !std::holds_alternative<msg::FileOffer>(*message)) {
    throw std::runtime_error("expected a file offer");
  }
  const auto& fileOffer = std::get<msg::FileOffer>(*message);
  Bytes resume = framer.encodeJSON(msg::Resume{fileOffer.transfer_id, 0});
  co_await wire.sendLengthPrefixed(resume);
  for (;;) {
    DecodedFrame frame = framer.decode(co_await wire.receiveLengthPrefixed());
    if (const Bytes* chunk = frame.asBinary()) {
      result.binaryBytes += chunk->size();
    } else if (frame.asJSON() && std::holds_alternative<msg::Done>(*frame.asJSON())) {
      break;
    } else {
      throw std::runtime_error("unexpected frame before Done");
    }
  }
}

// This computer's side: opens the handshake, offers a file, streams it and ends with "Done".
asio::awaitable<void> initiate(WireConnection& wire, SelfCheckResult& result) {
  NoiseHandshake handshake(NoiseRole::initiator, crypto::X25519PrivateKey::generate());
  co_await wire.sendLengthPrefixed(handshake.writeMessage());
  handshake.readMessage(co_await wire.receiveLengthPrefixed());
  co_await wire.sendLengthPrefixed(handshake.writeMessage());
  result.handshakeHash = toHex(handshake.handshakeHash()).substr(0, 16);
  TransportFramer framer(handshake.finalize());

  msg::FileOffer offer{"self-check.bin", static_cast<std::int64_t>(kSelfCheckChunks * kChunkBytes),
                       "application/octet-stream", "self-check"};
  Bytes offerFrame = framer.encodeJSON(offer);
  co_await wire.sendLengthPrefixed(offerFrame);
  DecodedFrame reply = framer.decode(co_await wire.receiveLengthPrefixed());
  if (reply.asJSON() && std::holds_alternative<msg::Resume>(*reply.asJSON())) {
    result.reply =
        "Resume at " + std::to_string(std::get<msg::Resume>(*reply.asJSON()).accepted_offset);
  }
  Bytes chunk(kChunkBytes, 0x5a);
  for (std::size_t i = 0; i < kSelfCheckChunks; ++i) {
    Bytes frame = framer.encodeBinary(chunk);
    co_await wire.sendLengthPrefixed(frame);
  }
  Bytes done = framer.encodeJSON(msg::Done{});
  co_await wire.sendLengthPrefixed(done);
}

// Two endpoints on loopback: a Noise XX handshake with the system's prologue, then a file offer,
// its answer, binary frames and "Done".
SelfCheckResult runChannelSelfCheck() {
  asio::io_context context;
  asio::ip::tcp::acceptor acceptor(context, {asio::ip::make_address("127.0.0.1"), 0});
  asio::ip::tcp::socket client(context);
  client.connect(acceptor.local_endpoint());
  WireConnection initiatorWire(std::move(client));
  WireConnection responderWire(acceptor.accept());
  responderWire.setIdleTimeout(std::chrono::seconds(10));

  SelfCheckResult result;
  std::exception_ptr failure;
  auto report = [&](std::exception_ptr error) {
    if (error && !failure) failure = error;
  };
  asio::co_spawn(context, respond(responderWire, result), report);
  asio::co_spawn(context, initiate(initiatorWire, result), report);
  context.run();
  if (failure) std::rethrow_exception(failure);
  return result;
}

void printKeyStatus() {
  KeyVault vault;
  std::error_code ec;
  bool exists = std::filesystem::exists(vault.fileURL(), ec);
  std::printf("identity key:   %s (%s)\n", vault.fileURL().c_str(),
              exists ? "present" : "made on first pairing");
}

void printNetworkIdentity() {
  try {
    DeviceInfo device = DeviceInfo::current();
    std::printf("pairing address: %s on %s, %s (%s), host %s\n", device.ipv4.c_str(),
                device.interface.c_str(), device.subnetCIDR.c_str(), device.macAddress.c_str(),
                device.hostname.c_str());
  } catch (const std::exception& error) {
    std::printf("pairing address: none (%s)\n", error.what());
  }
}

}  // namespace

CLI::App* addStatusCommand(CLI::App& parent) {
  return parent.add_subcommand(
      "status",
      "Show the version, this computer's key and address, and check the secure channel "
      "(also what runs without a command)");
}

int runStatusCommand() {
  std::printf("ferrytide %s\n", FERRYTIDE_VERSION);
  printKeyStatus();
  printNetworkIdentity();
  try {
    SelfCheckResult result = runChannelSelfCheck();
    std::printf(
        "channel check:  Noise XX handshake on 127.0.0.1 ok (hash %s...), file offer -> %s, "
        "%zu bytes of sealed binary frames received, Done\n",
        result.handshakeHash.c_str(), result.reply.c_str(), result.binaryBytes);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "channel check failed: %s\n", error.what());
    return 1;
  }
  return 0;
}

}  // namespace ferrytide::cli
