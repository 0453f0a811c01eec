#pragma once

#include <string>

#include "core/support/error.h"

namespace ferrytide::phone {

// What goes wrong in the phone emulator itself, apart from the core's own errors.
class PhoneError : public Error {
 public:
  enum class Kind { payloadUnreadable, notPaired, noAdvert, browseFailed, stateFailed };

  static PhoneError payloadUnreadable(const std::string& text) {
    return {Kind::payloadUnreadable, "pairing payload unreadable: " + text};
  }
  static PhoneError notPaired() { return {Kind::notPaired, "not paired with a computer"}; }
  static PhoneError noAdvert(const std::string& code) {
    return {Kind::noAdvert, "no pairing computer advertises the code " + code};
  }
  static PhoneError browseFailed(const std::string& text) {
    return {Kind::browseFailed, "DNS-SD browse failed: " + text};
  }
  static PhoneError stateFailed(const std::string& text) {
    return {Kind::stateFailed, "phone state: " + text};
  }

  Kind kind() const { return kind_; }

 private:
  PhoneError(Kind kind, std::string description) : Error(std::move(description)), kind_(kind) {}
  Kind kind_;
};

}  // namespace ferrytide::phone
