#include "phone_state.h"

#include "core/channel/key_vault.h"
#include "core/support/base64.h"
#include "core/support/file_io.h"
#include "phone_error.h"

namespace ferrytide::phone {

namespace {
constexpr const char* tokenFileName = "fcm_token";
}

PhoneState::PhoneState(std::filesystem::path directory) : directory_(std::move(directory)) {
  std::error_code error;
  std::filesystem::create_directories(directory_, error);
  if (error) throw PhoneError::stateFailed(directory_.string() + ": " + error.message());
}

crypto::X25519PrivateKey PhoneState::staticKey() const {
  return KeyVault(directory_).loadOrCreate();
}

PeerRecord PhoneState::computer() const {
  std::optional<PeerRecord> record = peerStore().mostRecent();
  if (!record) throw PhoneError::notPaired();
  return *record;
}

void PhoneState::storeComputer(const PeerRecord& record) const {
  // The phone keeps one computer: a new pairing replaces the old one.
  PeerStore store = peerStore();
  store.writeBook(PeerBook{{record}});
}

void PhoneState::forgetComputers() const { peerStore().writeBook(PeerBook{}); }

std::string PhoneState::fcmToken() const {
  if (std::optional<Bytes> stored = file_io::readIfExists(directory_ / tokenFileName)) {
    std::string token = toString(*stored);
    while (!token.empty() && (token.back() == '\n' || token.back() == '\r')) token.pop_back();
    return token;
  }
  std::string token = base64::encodeUrl(crypto::randomBytes(24));
  setFcmToken(token);
  return token;
}

void PhoneState::setFcmToken(const std::string& token) const {
  file_io::writeAtomically(directory_ / tokenFileName, toBytes(token + "\n"));
}

}  // namespace ferrytide::phone
