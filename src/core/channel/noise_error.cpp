#include "core/channel/noise_error.h"

namespace ferrytide {

const char* roleName(NoiseRole role) {
  return role == NoiseRole::initiator ? "initiator" : "responder";
}

NoiseError NoiseError::wrongStep(NoiseRole role, int step, std::string op) {
  return NoiseError(Kind::wrongStep, std::string("noise ") + roleName(role) + " cannot " + op +
                                         " at step " + std::to_string(step));
}

NoiseError NoiseError::messageTooShort(std::size_t expected, std::size_t actual) {
  return NoiseError(Kind::messageTooShort,
                    "noise message too short (expected \u2265 " + std::to_string(expected) +
                        ", got " + std::to_string(actual) + ")",
                    expected, actual);
}

NoiseError NoiseError::decrypt(std::string reason) {
  return NoiseError(Kind::decrypt, "noise decrypt failed: " + reason);
}

NoiseError NoiseError::malformedKeyMaterial(std::string text) {
  return NoiseError(Kind::malformedKeyMaterial, "noise key material malformed: " + text);
}

NoiseError NoiseError::notComplete() { return NoiseError(Kind::notComplete, "handshake not complete"); }

NoiseError NoiseError::alreadyComplete() {
  return NoiseError(Kind::alreadyComplete, "handshake already complete");
}

}  // namespace ferrytide
