#pragma once

#include <string>
#include <variant>

#include "core/transfer/received_file.h"

namespace ferrytide {

// How one phone connection to the receiver ended when it did not fail. Public keys are the
// phone's static key in standard Base64 with padding.
namespace outcome {

// A file finished with Done.
struct File {
  ReceivedFile file;
  bool operator==(const File&) const = default;
};

// Clipboard text; `peerHost` is the phone's name in the peers file, or "(unknown peer)".
struct Clipboard {
  std::string text;
  std::string peerHost;
  bool operator==(const Clipboard&) const = default;
};

struct SetName {
  std::string name;
  std::string peerPubkey;
  bool operator==(const SetName&) const = default;
};

struct NameUpdate {
  std::string name;
  std::string peerPubkey;
  bool operator==(const NameUpdate&) const = default;
};

// The phone has forgotten this computer.
struct Unpair {
  std::string peerPubkey;
  bool operator==(const Unpair&) const = default;
};

// A phone unpaired here connected and was sent Unpair.
struct UnpairReplied {
  std::string peerPubkey;
  bool operator==(const UnpairReplied&) const = default;
};

// The offer was refused and Decline sent; nothing was written.
struct Declined {
  std::string name;
  bool operator==(const Declined&) const = default;
};

}  // namespace outcome

using ProcessOutcome =
    std::variant<outcome::File, outcome::Clipboard, outcome::SetName, outcome::NameUpdate,
                 outcome::Unpair, outcome::UnpairReplied, outcome::Declined>;

}  // namespace ferrytide
