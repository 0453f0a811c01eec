#include "core/channel/noise_handshake.h"

namespace ferrytide {

namespace {
constexpr std::size_t kKeyBytes = crypto::kKeyBytes;
constexpr std::size_t kEncryptedKeyBytes = kKeyBytes + crypto::kTagBytes;
}  // namespace

NoiseHandshake::NoiseHandshake(NoiseRole role, crypto::X25519PrivateKey staticKey,
                               ByteView prologue)
    : role_(role), staticKey_(std::move(staticKey)), symmetric_(protocolName) {
  symmetric_.mixHash(prologue);
}

std::optional<crypto::X25519PublicKey> NoiseHandshake::remoteStaticPublicKey() const {
  if (!remoteStaticPublicBytes_) return std::nullopt;
  try {
    return crypto::X25519PublicKey::fromRaw(*remoteStaticPublicBytes_);
  } catch (const crypto::CryptoError&) {
    return std::nullopt;
  }
}

// Runs one message's tokens. Any failure inside kills the handshake for good, since h, ck and
// the remote keys may already have moved.
template <typename Operation>
Bytes NoiseHandshake::runGuarded(Operation&& operation) {
  if (failure_) std::rethrow_exception(failure_);
  try {
    return operation();
  } catch (...) {
    failure_ = std::current_exception();
    throw;
  }
}

Bytes NoiseHandshake::writeMessage(ByteView payload) {
  if (failure_) std::rethrow_exception(failure_);
  if (done_) throw NoiseError::alreadyComplete();
  bool initiatorTurn = role_ == NoiseRole::initiator && (step_ == 0 || step_ == 2);
  bool responderTurn = role_ == NoiseRole::responder && step_ == 1;
  if (!initiatorTurn && !responderTurn) throw NoiseError::wrongStep(role_, step_, "writeMessage");

  return runGuarded([&] {
    Bytes message;
    if (step_ == 0) {
      writeE(message);
    } else if (step_ == 1) {
      writeE(message);
      mixEE();
      writeS(message);
      mixES();
    } else {
      writeS(message);
      mixSE();
    }
    Bytes sealed = symmetric_.encryptAndHash(payload);
    message.insert(message.end(), sealed.begin(), sealed.end());
    ++step_;
    done_ = step_ == 3;
    return message;
  });
}

Bytes NoiseHandshake::readMessage(ByteView message) {
  if (failure_) std::rethrow_exception(failure_);
  if (done_) throw NoiseError::alreadyComplete();
  bool responderTurn = role_ == NoiseRole::responder && (step_ == 0 || step_ == 2);
  bool initiatorTurn = role_ == NoiseRole::initiator && step_ == 1;
  if (!initiatorTurn && !responderTurn) throw NoiseError::wrongStep(role_, step_, "readMessage");

  return runGuarded([&] {
    std::size_t cursor = 0;
    if (step_ == 0) {
      readE(message, cursor);
    } else if (step_ == 1) {
      readE(message, cursor);
      mixEE();
      readS(message, cursor);
      mixES();
    } else {
      readS(message, cursor);
      mixSE();
    }
    Bytes payload = symmetric_.decryptAndHash(message.subspan(cursor));
    ++step_;
    done_ = step_ == 3;
    return payload;
  });
}

NoiseTransport NoiseHandshake::finalize() {
  if (failure_) std::rethrow_exception(failure_);
  if (finalized_) throw NoiseError::alreadyComplete();
  if (!done_ || !remoteStaticPublicBytes_) throw NoiseError::notComplete();
  auto remoteKey = crypto::X25519PublicKey::fromRaw(*remoteStaticPublicBytes_);
  auto [initiatorToResponder, responderToInitiator] = symmetric_.split();
  finalized_ = true;
  if (role_ == NoiseRole::initiator) {
    return NoiseTransport(symmetric_.h(), std::move(remoteKey), std::move(initiatorToResponder),
                          std::move(responderToInitiator));
  }
  return NoiseTransport(symmetric_.h(), std::move(remoteKey), std::move(responderToInitiator),
                        std::move(initiatorToResponder));
}

void NoiseHandshake::writeE(Bytes& message) {
  if (presetEphemeral_) {
    ephemeralKey_ = std::move(presetEphemeral_);
    presetEphemeral_.reset();
  } else {
    ephemeralKey_ = crypto::X25519PrivateKey::generate();
  }
  ByteView publicBytes = ephemeralKey_->publicKey().view();
  message.insert(message.end(), publicBytes.begin(), publicBytes.end());
  symmetric_.mixHash(publicBytes);
}

void NoiseHandshake::readE(ByteView message, std::size_t& cursor) {
  std::size_t remaining = message.size() - cursor;
  if (remaining < kKeyBytes) throw NoiseError::messageTooShort(kKeyBytes, remaining);
  ByteView publicBytes = message.subspan(cursor, kKeyBytes);
  cursor += kKeyBytes;
  remoteEphemeral_ = crypto::X25519PublicKey::fromRaw(publicBytes);
  symmetric_.mixHash(publicBytes);
}

void NoiseHandshake::writeS(Bytes& message) {
  Bytes sealed = symmetric_.encryptAndHash(staticKey_.publicKey().view());
  message.insert(message.end(), sealed.begin(), sealed.end());
}

void NoiseHandshake::readS(ByteView message, std::size_t& cursor) {
  std::size_t remaining = message.size() - cursor;
  if (remaining < kEncryptedKeyBytes) {
    throw NoiseError::messageTooShort(kEncryptedKeyBytes, remaining);
  }
  Bytes plaintext = symmetric_.decryptAndHash(message.subspan(cursor, kEncryptedKeyBytes));
  cursor += kEncryptedKeyBytes;
  if (plaintext.size() != kKeyBytes) {
    throw NoiseError::malformedKeyMaterial("expected 32 plaintext bytes, got " +
                                           std::to_string(plaintext.size()));
  }
  remoteStaticPublicBytes_ = std::move(plaintext);
}

void NoiseHandshake::mixDH(const std::optional<crypto::X25519PrivateKey>& own,
                           const std::optional<crypto::X25519PublicKey>& remote) {
  if (!own || !remote) throw NoiseError::notComplete();
  crypto::SecretKey shared = own->sharedSecret(*remote);
  symmetric_.mixKey(shared.view());
}

// Unlike the public accessor, a key the library rejects is an error here, passed on as is.
std::optional<crypto::X25519PublicKey> NoiseHandshake::remoteStatic() const {
  if (!remoteStaticPublicBytes_) return std::nullopt;
  return crypto::X25519PublicKey::fromRaw(*remoteStaticPublicBytes_);
}

void NoiseHandshake::mixEE() { mixDH(ephemeralKey_, remoteEphemeral_); }

void NoiseHandshake::mixES() {
  if (role_ == NoiseRole::initiator) {
    mixDH(ephemeralKey_, remoteStatic());
  } else {
    mixDH(staticKey_, remoteEphemeral_);
  }
}

void NoiseHandshake::mixSE() {
  if (role_ == NoiseRole::initiator) {
    mixDH(staticKey_, remoteEphemeral_);
  } else {
    mixDH(ephemeralKey_, remoteStatic());
  }
}

}  // namespace ferrytide
