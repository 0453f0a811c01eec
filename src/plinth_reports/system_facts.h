#pragma once

#include <string>
#include <string_view>

namespace plinth {

// What a report says about the computer it comes from.
struct SystemFacts {
  // "Debian GNU/Linux 12 (bookworm) (kernel 6.1.0-18-amd64; KDE, wayland; Qt 6.4.2)"
  std::string os;
  // The maker's model name, else the processor architecture.
  std::string model;

  // `toolkit` names the user-interface library and its version ("Qt 6.4.2").
  static SystemFacts current(std::string_view toolkit);
};

}  // namespace plinth
