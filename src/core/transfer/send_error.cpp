#include "core/transfer/send_error.h"

namespace ferrytide {

SendError SendError::fileMissing(const std::string& path) {
  return SendError(Kind::fileMissing, "file missing: ", path);
}

SendError SendError::fileRead(const std::string& text) {
  return SendError(Kind::fileRead, "file read: ", text);
}

SendError SendError::network(const std::string& text) {
  return SendError(Kind::network, "network: ", text);
}

SendError SendError::noiseHandshakeFailed(const std::string& text) {
  return SendError(Kind::noiseHandshakeFailed, "noise handshake: ", text);
}

SendError SendError::unexpectedFrame(const std::string& text) {
  return SendError(Kind::unexpectedFrame, "unexpected frame: ", text);
}

SendError SendError::malformedResume(const std::string& text) {
  return SendError(Kind::malformedResume, "malformed Resume: ", text);
}

SendError SendError::unauthorizedPeer() {
  return SendError(Kind::unauthorizedPeer, "remote pubkey \u2260 paired peer", "");
}

SendError SendError::cancelled() { return SendError(Kind::cancelled, "cancelled by user", ""); }

SendError SendError::peerRemoved() {
  return SendError(Kind::peerRemoved, "the phone removed this computer. Pair again to send to it.", "");
}

SendError SendError::declined() {
  return SendError(Kind::declined, "the phone declined the file.", "");
}

}  // namespace ferrytide
