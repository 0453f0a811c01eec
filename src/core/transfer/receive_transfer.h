#pragma once

// The receiving side of a file: the steps both receive paths share (the handshake as responder,
// and the offer, chunk and finish steps), and the one-shot receive built on them.

#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/channel/noise_handshake.h"
#include "core/channel/transport_framer.h"
#include "core/channel/transport_message.h"
#include "core/channel/wire_connection.h"
#include "core/support/crypto.h"
#include "core/transfer/receive_error.h"
#include "core/transfer/received_file.h"

namespace ferrytide {

// A finished handshake on a phone's connection.
struct ResponderSession {
  TransportFramer framer;
  crypto::X25519PublicKey remoteStaticPublicKey;
};

// Noise XX as responder: message 1 in, message 2 (empty payload) out, message 3 in. Any wire
// or handshake error becomes ReceiveError::noiseHandshakeFailed with the error's text.
asio::awaitable<ResponderSession> respondToHandshake(WireConnection& wire,
                                                     const crypto::X25519PrivateKey& staticKey,
                                                     ByteView prologue);

// One connection's file: the accepted offer, the partial file and the counters. Writing
// happens here; the caller reads frames and sends replies.
//
//   recordOffer (O1) → openPartial (O2–O7, returns the Resume to send) → appendChunk* → finish
//
// Every failure leaves the partial file and its sidecar on disk for a later resume (except an
// empty partial that openPartial itself created and could not give a sidecar: it could never
// be resumed). A small new file is written without a name and becomes a partial only when the
// transfer ends before the file does. Nothing is written outside the save folder: a symbolic
// link at a name counts as taken and is never written through, and finish never replaces a file
// that took the final name meanwhile.
class FileReceiveState {
 public:
  FileReceiveState(std::filesystem::path downloadsDir, std::string remoteEndpoint);
  ~FileReceiveState();
  FileReceiveState(const FileReceiveState&) = delete;
  FileReceiveState& operator=(const FileReceiveState&) = delete;

  bool hasOffer() const;
  bool hasOpenPartial() const;
  const std::optional<msg::FileOffer>& offer() const;

  // O1: remembers the offer and the time it arrived.
  void recordOffer(const msg::FileOffer& offer);
  // O2–O7: picks the names, opens the partial at the resume offset, writes the sidecar.
  // Throws ReceiveError::fileWriteFailed. Returns the Resume message the caller sends (O8).
  msg::Resume openPartial();
  // C1. Throws ReceiveError::fileWriteFailed.
  void appendChunk(ByteView bytes);
  // F1–F7: flushes the partial to disk, then moves it to a free final name. Throws
  // ReceiveError::fileWriteFailed (the flush's reason, or "rename: ...").
  ReceivedFile finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

struct OneShotReceiveOptions {
  crypto::X25519PrivateKey staticKey;
  crypto::X25519PublicKey expectedPeerPubkey;
  std::filesystem::path downloadsDir;
  std::uint16_t port = 0;
  Bytes prologue = toBytes(kFerrytidePrologue);
  // Zero or less: wait for ever.
  std::chrono::steady_clock::duration acceptTimeout{};
  // How long the phone may stay silent once connected; unset: for ever (the caller cancels).
  std::optional<std::chrono::steady_clock::duration> idleTimeout;
  // Where to listen; the default is every interface.
  asio::ip::address listenAddress = asio::ip::address_v4::any();
  // Called once listening, with the bound port (tests listen on port 0).
  std::function<void(std::uint16_t)> onListening;
};

// Listens, accepts exactly one connection, receives one file and returns.
asio::awaitable<ReceivedFile> receiveOneTransfer(OneShotReceiveOptions options);

}  // namespace ferrytide
