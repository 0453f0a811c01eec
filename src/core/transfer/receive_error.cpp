#include "core/transfer/receive_error.h"

namespace ferrytide {

ReceiveError ReceiveError::listenerStartFailed(const std::string& text) {
  return ReceiveError(Kind::listenerStartFailed, "listener start failed: " + text);
}

ReceiveError ReceiveError::wire(const std::string& text) {
  return ReceiveError(Kind::wire, "wire: " + text);
}

ReceiveError ReceiveError::noiseHandshakeFailed(const std::string& text) {
  return ReceiveError(Kind::noiseHandshakeFailed, "noise handshake failed: " + text);
}

ReceiveError ReceiveError::protocolViolation(const std::string& text) {
  return ReceiveError(Kind::protocolViolation, "protocol violation: " + text);
}

ReceiveError ReceiveError::fileWriteFailed(const std::string& text) {
  return ReceiveError(Kind::fileWriteFailed, "file write failed: " + text);
}

ReceiveError ReceiveError::timedOut() { return ReceiveError(Kind::timedOut, "timed out"); }

ReceiveError ReceiveError::noConnection() {
  return ReceiveError(Kind::noConnection, "no connection arrived");
}

ReceiveError ReceiveError::unauthorizedPeer() {
  return ReceiveError(Kind::unauthorizedPeer, "remote pubkey \u2260 paired peer");
}

}  // namespace ferrytide
