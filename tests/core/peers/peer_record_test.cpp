#include "core/peers/peer_record.h"

#include <gtest/gtest.h>

namespace ferrytide {
namespace {

PeerRecord fullRecord() {
  return PeerRecord{.peer_pubkey = "q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA=",
                    .peer_ip = "192.168.1.23",
                    .peer_port = 47820,
                    .peer_subnet = "192.168.1.0/24",
                    .peer_hostname = "Pixel 8",
                    .peer_mac = "",
                    .paired_at_epoch_ms = 1733480000000,
                    .self_pubkey = "3q2+796tvu/erb7v3q2+796tvu/erb7v3q2+796tvu8=",
                    .peer_fcm_token = "token:abc",
                    .peer_android = "Android 14"};
}

TEST(PeerRecordTest, EncodesAllTenKeysEvenEmptyOnesAndDecodesThemBack) {
  EXPECT_EQ(PeerRecord::fromJson(fullRecord().toJson()), fullRecord());
  json::Value empty = PeerRecord().toJson();
  EXPECT_EQ(empty.size(), 10u);
  EXPECT_EQ(empty.value("peer_android", "missing"), "");
}

TEST(PeerRecordTest, OptionalKeysMayBeMissingAndUnknownKeysAreIgnored) {
  json::Value encoded = fullRecord().toJson();
  encoded.erase("self_pubkey");
  encoded.erase("peer_fcm_token");
  encoded.erase("peer_android");
  encoded["added_later"] = {{"anything", 1}};
  PeerRecord expected = fullRecord();
  expected.self_pubkey = "";
  expected.peer_fcm_token = "";
  expected.peer_android = "";
  EXPECT_EQ(PeerRecord::fromJson(encoded), expected);
}

TEST(PeerRecordTest, PortIsKeptAsStoredEvenOutsideThePortRange) {
  for (std::int64_t port : {0LL, 65535LL, 65536LL, -1LL}) {
    json::Value encoded = fullRecord().toJson();
    encoded["peer_port"] = port;
    EXPECT_EQ(PeerRecord::fromJson(encoded).peer_port, port);
  }
}

}  // namespace
}  // namespace ferrytide
