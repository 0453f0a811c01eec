#include "cli/peer_format.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "cli/peers_command.h"
#include "core/peers/peer_store.h"
#include "core/support/base64.h"
#include "support/temp_dir.h"
#include "support/text_shape.h"

namespace ferrytide::cli {
namespace {

PeerRecord phone(std::string name, std::uint8_t keyByte, std::int64_t pairedAt) {
  PeerRecord record;
  record.peer_pubkey = base64::encode(Bytes(32, keyByte));
  record.peer_ip = "192.168.1.23";
  record.peer_port = 47820;
  record.peer_subnet = "192.168.1.0/24";
  record.peer_hostname = std::move(name);
  record.paired_at_epoch_ms = pairedAt;
  return record;
}

TEST(PeerFormatTest, FingerprintIsTheStartOfTheKeysSha256InFourGroups) {
  // SHA-256 of 32 zero bytes begins 66687aadf862bd77.
  EXPECT_EQ(keyFingerprint(base64::encode(Bytes(32, 0))), "6668 7AAD F862 BD77");
  for (std::uint8_t byte : {1, 2, 0xff}) {
    std::string fingerprint = keyFingerprint(base64::encode(Bytes(32, byte)));
    EXPECT_TRUE(testing::matchesShape(fingerprint, "XXXX XXXX XXXX XXXX")) << fingerprint;
    EXPECT_NE(fingerprint, keyFingerprint(base64::encode(Bytes(32, 0))));
  }
}

TEST(PeerFormatTest, FingerprintOfSomethingThatIsNoKey) {
  for (const std::string& text : {std::string(), std::string("not base64!"),
                                  base64::encode(Bytes(31, 1)), base64::encode(Bytes(33, 1))}) {
    EXPECT_EQ(keyFingerprint(text), "(invalid key)") << text;
  }
}

TEST(PeerFormatTest, NewestFirstKeepsTheBookOrderOnATie) {
  std::vector<PeerRecord> sorted = newestFirst({phone("old", 1, 1000), phone("tie-a", 2, 5000),
                                                phone("new", 3, 9000), phone("tie-b", 4, 5000)});
  std::vector<std::string> names;
  for (const PeerRecord& record : sorted) names.push_back(record.peer_hostname);
  EXPECT_EQ(names, (std::vector<std::string>{"new", "tie-a", "tie-b", "old"}));
}

TEST(PeerFormatTest, TableHasOneAlignedRowPerPhone) {
  std::string table = peersTable({phone("Pixel 8", 1, 1733480000000), phone("A", 2, 0)});
  std::istringstream lines(table);
  std::string header, first, second, extra;
  std::getline(lines, header);
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_FALSE(std::getline(lines, extra));
  EXPECT_EQ(header.find("ADDRESS"), first.find("192.168.1.23:47820"));
  EXPECT_EQ(header.find("FINGERPRINT"), second.find(keyFingerprint(phone("A", 2, 0).peer_pubkey)));
  EXPECT_NE(first.find("2024-12-06 10:13"), std::string::npos);  // TZ=UTC in the test run
}

class PeersCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_DATA_HOME");
    if (old) oldDataHome_ = old;
    setenv("XDG_DATA_HOME", dataHome_.path().c_str(), 1);
  }
  void TearDown() override {
    if (oldDataHome_) {
      setenv("XDG_DATA_HOME", oldDataHome_->c_str(), 1);
    } else {
      unsetenv("XDG_DATA_HOME");
    }
  }

  testing::TempDir dataHome_;
  std::optional<std::string> oldDataHome_;
};

TEST_F(PeersCommandTest, JsonListsThePeersFileNewestFirst) {
  PeerStore store;
  ASSERT_EQ(store.directoryURL(), dataHome_.path() / "Ferrytide");
  PeerRecord older = phone("Pixel 8", 1, 1733480000000);
  PeerRecord newer = phone("Tablet", 2, 1733490000000);
  store.upsert(newer);
  store.upsert(older);

  ::testing::internal::CaptureStdout();
  EXPECT_EQ(runPeersCommand(PeersOptions{true}), 0);
  json::Value list = json::parse(::testing::internal::GetCapturedStdout());

  ASSERT_EQ(list.size(), 2u);
  const PeerRecord* expected[] = {&newer, &older};
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(list[i]["name"], expected[i]->peer_hostname);
    EXPECT_EQ(list[i]["pubkey"], expected[i]->peer_pubkey);
    EXPECT_EQ(list[i]["address"], expected[i]->peer_ip);
    EXPECT_EQ(list[i]["port"], expected[i]->peer_port);
    EXPECT_EQ(list[i]["paired_at_epoch_ms"], expected[i]->paired_at_epoch_ms);
    EXPECT_EQ(list[i]["fingerprint"], keyFingerprint(expected[i]->peer_pubkey));
  }
  EXPECT_EQ(list[1]["paired_at"], "2024-12-06T10:13:20Z");
}

TEST_F(PeersCommandTest, JsonOfNoPeersIsAnEmptyArray) {
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(runPeersCommand(PeersOptions{true}), 0);
  EXPECT_EQ(json::parse(::testing::internal::GetCapturedStdout()), json::Value::array());
}

}  // namespace
}  // namespace ferrytide::cli
