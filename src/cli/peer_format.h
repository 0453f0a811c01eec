#pragma once

// How `peers` shows the paired phones: a table for people, JSON for scripts.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/peers/peer_record.h"
#include "core/support/json.h"

namespace ferrytide::cli {

// A short, stable name for a phone's key that a person can compare: the first 8 bytes of the
// SHA-256 of the raw 32-byte public key, as four groups of four upper-case hex digits
// ("3F9A 1C0B 7D2E 4A55"). "(invalid key)" when `peerPubkeyBase64` is not the Base64 of 32 bytes.
std::string keyFingerprint(std::string_view peerPubkeyBase64);

// "2026-12-06 08:27" in the local time zone.
std::string formatPairedDate(std::int64_t epochMs);
// "2026-12-06T08:27:00Z".
std::string formatIsoUtc(std::int64_t epochMs);

// The records, newest pairing first; equal times keep the book's order.
std::vector<PeerRecord> newestFirst(std::vector<PeerRecord> peers);

// One line per phone under a header: name, address, fingerprint, paired date.
std::string peersTable(const std::vector<PeerRecord>& peers);

// [{"address":"192.168.1.23","fingerprint":"3F9A 1C0B 7D2E 4A55","name":"Pixel 8",
//   "paired_at":"2026-12-06T08:27:00Z","paired_at_epoch_ms":1796545620000,"port":47820,
//   "pubkey":"q83v..."}, ...] in the order given.
json::Value peersJson(const std::vector<PeerRecord>& peers);

}  // namespace ferrytide::cli
