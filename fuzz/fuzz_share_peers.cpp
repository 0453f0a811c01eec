// The outbox's peers.json as a sharer reads it: a JSON array of SharePeer. The reader is this
// parse and SharePeer::fromJson per element (a document that is not an array counts as no
// phones); only json::DecodeError may come out. The phones read back unchanged from the
// encoding the application writes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/support/json.h"
#include "core/transfer/share_outbox.h"

using namespace ferrytide;
using SharePeer = ShareOutbox::SharePeer;

namespace {

std::vector<SharePeer> decodePeers(const json::Value& array) {
  std::vector<SharePeer> peers;
  if (!array.is_array()) return peers;
  for (const json::Value& element : array) peers.push_back(SharePeer::fromJson(element));
  return peers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<SharePeer> peers;
  try {
    peers = decodePeers(json::parse(ByteView(data, size)));
  } catch (const json::DecodeError&) {
    return 0;
  }
  json::Value array = json::Value::array();
  for (const SharePeer& peer : peers) array.push_back(peer.toJson());
  if (decodePeers(json::parse(json::encodeCompact(array))) != peers) std::abort();
  return 0;
}
