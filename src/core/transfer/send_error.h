#pragma once

#include <string>

#include "core/support/error.h"

namespace ferrytide {

// Why a send to a phone (a file, a clipboard text or a control message) ended. The user
// interface shows the description unchanged.
class SendError : public Error {
 public:
  enum class Kind {
    fileMissing,
    fileRead,
    network,
    noiseHandshakeFailed,
    unexpectedFrame,
    malformedResume,
    unauthorizedPeer,
    cancelled,
    peerRemoved,
    declined
  };

  static SendError fileMissing(const std::string& path);           // "file missing: "
  static SendError fileRead(const std::string& text);              // "file read: "
  static SendError network(const std::string& text);               // "network: "
  static SendError noiseHandshakeFailed(const std::string& text);  // "noise handshake: "
  static SendError unexpectedFrame(const std::string& text);       // "unexpected frame: "
  static SendError malformedResume(const std::string& text);       // "malformed Resume: "
  static SendError unauthorizedPeer();  // "remote pubkey ≠ paired peer"
  static SendError cancelled();         // "cancelled by user"
  static SendError peerRemoved();       // "the phone removed this computer. Pair again to send to it."
  static SendError declined();          // "the phone declined the file."

  Kind kind() const { return kind_; }
  // The text after the case's fixed beginning; empty for the cases without one.
  const std::string& detail() const { return detail_; }

 private:
  SendError(Kind kind, const std::string& prefix, std::string detail)
      : Error(prefix + detail), kind_(kind), detail_(std::move(detail)) {}
  Kind kind_;
  std::string detail_;
};

}  // namespace ferrytide
