#pragma once

#include <string>

#include "core/support/error.h"

namespace ferrytide {

// Why a receive ended. The user interface shows the description unchanged.
class ReceiveError : public Error {
 public:
  enum class Kind {
    listenerStartFailed,
    wire,
    noiseHandshakeFailed,
    protocolViolation,
    fileWriteFailed,
    timedOut,
    noConnection,
    unauthorizedPeer
  };

  static ReceiveError listenerStartFailed(const std::string& text);  // "listener start failed: "
  static ReceiveError wire(const std::string& text);                 // "wire: "
  static ReceiveError noiseHandshakeFailed(const std::string& text); // "noise handshake failed: "
  static ReceiveError protocolViolation(const std::string& text);    // "protocol violation: "
  static ReceiveError fileWriteFailed(const std::string& text);      // "file write failed: "
  static ReceiveError timedOut();                                    // "timed out"
  static ReceiveError noConnection();                                // "no connection arrived"
  static ReceiveError unauthorizedPeer();                            // "remote pubkey ≠ paired peer"

  Kind kind() const { return kind_; }

 private:
  ReceiveError(Kind kind, std::string description) : Error(std::move(description)), kind_(kind) {}
  Kind kind_;
};

}  // namespace ferrytide
