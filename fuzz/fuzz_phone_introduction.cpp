// The plaintext of a phone's sealed introduction, as the pairing hands it over: arbitrary
// bytes. Only PhoneIntroduction::Error may come out. The peer record made from an introduction
// that decodes must be storable (its text is valid UTF-8) and read back unchanged from the
// peer file's encoding, and the confirmation code is always four digits.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/peers/pair_crypto.h"
#include "core/peers/phone_introduction.h"
#include "core/support/json.h"

using namespace ferrytide;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ByteView plaintext(data, size);
  PhoneIntroduction intro;
  try {
    intro = PhoneIntroduction::decode(plaintext, 47819);
  } catch (const PhoneIntroduction::Error&) {
    return 0;
  }
  PeerRecord record = intro.toPeerRecord("q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA=", 1);
  if (!(PeerRecord::fromJson(json::parse(json::encodePretty(record.toJson()))) == record)) {
    std::abort();
  }
  std::string code = PairCrypto::confirmationCode(Bytes(32, 0x5A), Bytes(32, 0x11),
                                                  intro.pubkeyBytes(), plaintext);
  if (code.size() != 4 || code.find_first_not_of("0123456789") != std::string::npos) std::abort();
  return 0;
}
