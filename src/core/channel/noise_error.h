#pragma once

#include <cstdint>
#include <string>

#include "core/support/error.h"

namespace ferrytide {

enum class NoiseRole { initiator, responder };

const char* roleName(NoiseRole role);

// Everything that can go wrong inside the handshake and the cipher states.
class NoiseError : public Error {
 public:
  enum class Kind { wrongStep, messageTooShort, decrypt, malformedKeyMaterial, notComplete, alreadyComplete };

  static NoiseError wrongStep(NoiseRole role, int step, std::string op);
  static NoiseError messageTooShort(std::size_t expected, std::size_t actual);
  static NoiseError decrypt(std::string reason);
  static NoiseError malformedKeyMaterial(std::string text);
  static NoiseError notComplete();
  static NoiseError alreadyComplete();

  Kind kind() const { return kind_; }
  // messageTooShort's counts; zero for the other cases.
  std::size_t expected() const { return expected_; }
  std::size_t actual() const { return actual_; }

 private:
  NoiseError(Kind kind, std::string description, std::size_t expected = 0, std::size_t actual = 0)
      : Error(std::move(description)), kind_(kind), expected_(expected), actual_(actual) {}

  Kind kind_;
  std::size_t expected_;
  std::size_t actual_;
};

}  // namespace ferrytide
