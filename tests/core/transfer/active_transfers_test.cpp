#include "core/transfer/active_transfers.h"

#include <gtest/gtest.h>

namespace ferrytide {
namespace {

using Connection = ActiveTransfers::Connection;

std::shared_ptr<Connection> connection() {
  return std::make_shared<Connection>([] {});
}

TEST(ActiveTransfersTest, ClaimReturnsOnlyAnotherPreviousOwner) {
  ActiveTransfers transfers;
  auto first = connection();
  auto second = connection();
  EXPECT_EQ(transfers.claim("T", first), nullptr);
  EXPECT_EQ(transfers.claim("T", first), nullptr);  // the same connection again
  EXPECT_EQ(transfers.claim("T", second), first);
  EXPECT_EQ(transfers.claim("other", first), nullptr);
}

TEST(ActiveTransfersTest, SupersededConnectionIsReleasedOnlyWhenItLeaves) {
  ActiveTransfers transfers;
  auto old = connection();
  auto successor = connection();
  transfers.claim("T", old);
  EXPECT_FALSE(transfers.isReleased(*old));

  transfers.claim("T", successor);
  // No longer the owner, but still draining until it ends.
  EXPECT_FALSE(transfers.isReleased(*old));
  transfers.release("T", *old);
  EXPECT_TRUE(transfers.isReleased(*old));

  // The old connection's release left the successor's claim alone.
  EXPECT_FALSE(transfers.isReleased(*successor));
  auto third = connection();
  EXPECT_EQ(transfers.claim("T", third), successor);
}

TEST(ActiveTransfersTest, ReleaseFreesTheKey) {
  ActiveTransfers transfers;
  auto first = connection();
  transfers.claim("T", first);
  transfers.release("T", *first);
  EXPECT_TRUE(transfers.isReleased(*first));
  EXPECT_EQ(transfers.claim("T", connection()), nullptr);
}

}  // namespace
}  // namespace ferrytide
