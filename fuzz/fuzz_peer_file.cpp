// The peer file (peer.json) as the peer store decodes it: the book {"peers": [...]}, else the
// older form of one bare record. The store's reader is this parse and these two fromJson; only
// json::DecodeError may come out. A book that decodes is written (valid UTF-8) and read back
// unchanged.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/peers/peer_record.h"
#include "core/support/json.h"

using namespace ferrytide;

namespace {

PeerBook decodeBook(const json::Value& document) {
  try {
    return PeerBook::fromJson(document);
  } catch (const json::DecodeError&) {
    return PeerBook{{PeerRecord::fromJson(document)}};
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PeerBook book;
  try {
    book = decodeBook(json::parse(ByteView(data, size)));
  } catch (const json::DecodeError&) {
    return 0;
  }
  if (!(PeerBook::fromJson(json::parse(json::encodePretty(book.toJson()))) == book)) std::abort();
  return 0;
}
