#include "cli/pending_unpairs.h"

#include <gtest/gtest.h>

#include "core/support/file_io.h"
#include "support/temp_dir.h"

namespace ferrytide::cli {
namespace {

PeerRecord phoneNamed(const std::string& name, const std::string& pubkey) {
  PeerRecord phone;
  phone.peer_pubkey = pubkey;
  phone.peer_hostname = name;
  phone.peer_ip = "127.0.0.1";
  phone.peer_port = 47820;
  return phone;
}

TEST(PendingUnpairsTest, KeepsOneNoticePerPhoneUntilRemoved) {
  testing::TempDir folder;
  PendingUnpairs pending(folder / "state" / "pending-unpairs.json");
  pending.add(phoneNamed("Pixel", "AAAA"));
  pending.add(phoneNamed("Tablet", "BBBB"));
  pending.add(phoneNamed("Pixel renamed", "AAAA"));

  std::vector<PeerRecord> loaded = pending.load();
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded[0].peer_hostname, "Pixel renamed");
  EXPECT_EQ(loaded[1], phoneNamed("Tablet", "BBBB"));

  pending.remove("AAAA");
  pending.remove("not there");
  ASSERT_EQ(pending.load().size(), 1u);
  EXPECT_EQ(pending.load()[0].peer_pubkey, "BBBB");
}

TEST(PendingUnpairsTest, DamagedFileReadsAsEmptyAndIsReplacedByTheNextNotice) {
  testing::TempDir folder;
  std::filesystem::path file = folder / "pending-unpairs.json";
  for (const char* damaged : {"{not json", "[1,2]", R"({"AAAA":{"peer_hostname":3}})"}) {
    file_io::writeAtomically(file, asBytes(damaged));
    PendingUnpairs pending(file);
    EXPECT_TRUE(pending.load().empty()) << damaged;
    pending.add(phoneNamed("Pixel", "CCCC"));
    ASSERT_EQ(pending.load().size(), 1u) << damaged;
  }
}

}  // namespace
}  // namespace ferrytide::cli
