#pragma once

#include <exception>
#include <optional>
#include <string_view>

#include "core/channel/noise_error.h"
#include "core/channel/noise_transport.h"
#include "core/channel/symmetric_state.h"
#include "core/support/crypto.h"

namespace ferrytide {

// The prologue every connection of this system mixes in.
inline constexpr std::string_view kFerrytidePrologue = "Ferrytide_v1";

// One Noise_XX_25519_ChaChaPoly_SHA256 handshake, for one connection attempt. It does no I/O:
// the caller carries each message as one wire frame.
//
//   initiator: writeMessage (1) → readMessage (2) → writeMessage (3) → finalize
//   responder: readMessage (1) → writeMessage (2) → readMessage (3) → finalize
//
// A handshake that failed inside a message is dead: every later call throws the same error.
// finalize() hands out the transport once.
class NoiseHandshake {
 public:
  static constexpr std::string_view protocolName = "Noise_XX_25519_ChaChaPoly_SHA256";

  NoiseHandshake(NoiseRole role, crypto::X25519PrivateKey staticKey,
                 ByteView prologue = asBytes(kFerrytidePrologue));

  Bytes writeMessage(ByteView payload = {});
  // Returns the message's decrypted payload.
  Bytes readMessage(ByteView message);
  NoiseTransport finalize();

  NoiseRole role() const { return role_; }
  bool isComplete() const { return done_; }
  const crypto::Digest& handshakeHash() const { return symmetric_.h(); }
  // Absent until message 2 (initiator) or 3 (responder) has been read.
  std::optional<crypto::X25519PublicKey> remoteStaticPublicKey() const;

 private:
  friend class NoiseHandshakeTestPeer;  // injects fixed ephemeral keys for published vectors

  template <typename Operation>
  Bytes runGuarded(Operation&& operation);

  void writeE(Bytes& message);
  void readE(ByteView message, std::size_t& cursor);
  void writeS(Bytes& message);
  void readS(ByteView message, std::size_t& cursor);
  void mixDH(const std::optional<crypto::X25519PrivateKey>& own,
             const std::optional<crypto::X25519PublicKey>& remote);
  std::optional<crypto::X25519PublicKey> remoteStatic() const;
  void mixEE();
  void mixES();
  void mixSE();

  NoiseRole role_;
  crypto::X25519PrivateKey staticKey_;
  std::optional<crypto::X25519PrivateKey> ephemeralKey_;
  std::optional<crypto::X25519PrivateKey> presetEphemeral_;
  std::optional<crypto::X25519PublicKey> remoteEphemeral_;
  std::optional<Bytes> remoteStaticPublicBytes_;
  SymmetricState symmetric_;
  int step_ = 0;
  bool done_ = false;
  bool finalized_ = false;
  std::exception_ptr failure_;
};

}  // namespace ferrytide
