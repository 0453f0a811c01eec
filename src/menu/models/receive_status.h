#pragma once

#include <QString>
#include <cstdint>

namespace ferrytide::menu {

// What the receiver is doing, as the status menu and the settings show it.
struct ReceiveStatus {
  enum class Kind { stopped, listening, error };

  Kind kind = Kind::stopped;
  std::uint16_t port = 0;  // listening only
  QString message;         // error only

  static ReceiveStatus stopped() { return {}; }
  static ReceiveStatus listening(std::uint16_t port) { return {Kind::listening, port, {}}; }
  static ReceiveStatus error(QString message) { return {Kind::error, 0, std::move(message)}; }

  bool operator==(const ReceiveStatus&) const = default;
};

}  // namespace ferrytide::menu
