#include "cli/peer_format.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>

#include "core/support/base64.h"
#include "core/support/crypto.h"

namespace ferrytide::cli {
namespace {

constexpr std::size_t kFingerprintBytes = 8;
constexpr std::size_t kPublicKeyBytes = 32;

std::string formatTime(std::int64_t epochMs, const char* format, bool utc) {
  std::time_t seconds = static_cast<std::time_t>(epochMs / 1000);
  std::tm parts{};
  if (utc) {
    gmtime_r(&seconds, &parts);
  } else {
    localtime_r(&seconds, &parts);
  }
  char text[64];
  std::size_t length = std::strftime(text, sizeof text, format, &parts);
  return std::string(text, length);
}

std::string padded(const std::string& text, std::size_t width) {
  if (text.size() >= width) return text + "  ";
  return text + std::string(width - text.size() + 2, ' ');
}

std::string address(const PeerRecord& peer) {
  return peer.peer_ip + ":" + std::to_string(peer.peer_port);
}

}  // namespace

std::string keyFingerprint(std::string_view peerPubkeyBase64) {
  std::optional<Bytes> raw = base64::decode(peerPubkeyBase64);
  if (!raw || raw->size() != kPublicKeyBytes) return "(invalid key)";
  crypto::Digest digest = crypto::sha256(*raw);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < kFingerprintBytes; ++i) {
    if (i > 0 && i % 2 == 0) text += ' ';
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0x0f];
  }
  return text;
}

std::string formatPairedDate(std::int64_t epochMs) {
  return formatTime(epochMs, "%Y-%m-%d %H:%M", false);
}

std::string formatIsoUtc(std::int64_t epochMs) {
  return formatTime(epochMs, "%Y-%m-%dT%H:%M:%SZ", true);
}

std::vector<PeerRecord> newestFirst(std::vector<PeerRecord> peers) {
  std::stable_sort(peers.begin(), peers.end(), [](const PeerRecord& a, const PeerRecord& b) {
    return a.paired_at_epoch_ms > b.paired_at_epoch_ms;
  });
  return peers;
}

std::string peersTable(const std::vector<PeerRecord>& peers) {
  // Widths in bytes: a name with non-ASCII letters may shift its row a little.
  std::size_t nameWidth = 4;
  std::size_t addressWidth = 7;
  for (const PeerRecord& peer : peers) {
    nameWidth = std::max(nameWidth, peer.peer_hostname.size());
    addressWidth = std::max(addressWidth, address(peer).size());
  }
  std::string table = padded("NAME", nameWidth) + padded("ADDRESS", addressWidth) +
                      padded("FINGERPRINT", 19) + "PAIRED\n";
  for (const PeerRecord& peer : peers) {
    table += padded(peer.peer_hostname, nameWidth) + padded(address(peer), addressWidth) +
             padded(keyFingerprint(peer.peer_pubkey), 19) +
             formatPairedDate(peer.paired_at_epoch_ms) + "\n";
  }
  return table;
}

json::Value peersJson(const std::vector<PeerRecord>& peers) {
  json::Value list = json::Value::array();
  for (const PeerRecord& peer : peers) {
    list.push_back({{"name", peer.peer_hostname},
                    {"address", peer.peer_ip},
                    {"port", peer.peer_port},
                    {"fingerprint", keyFingerprint(peer.peer_pubkey)},
                    {"pubkey", peer.peer_pubkey},
                    {"paired_at_epoch_ms", peer.paired_at_epoch_ms},
                    {"paired_at", formatIsoUtc(peer.paired_at_epoch_ms)}});
  }
  return list;
}

}  // namespace ferrytide::cli
