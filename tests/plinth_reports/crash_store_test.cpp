#include "plinth_reports/crash_store.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace plinth {
namespace {

using ferrytide::Bytes;
using ferrytide::testing::entriesIn;
using ferrytide::testing::TempDir;
using ferrytide::testing::writeText;
using SystemClock = std::chrono::system_clock;
using namespace std::chrono_literals;

const SystemClock::time_point kNow = SystemClock::from_time_t(1733480000);

Bytes recordAt(SystemClock::time_point date) {
  auto epochMs = std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch());
  return ferrytide::toBytes(R"({"signal":6,"time_epoch_ms":)" + std::to_string(epochMs.count()) +
                            "}");
}

TEST(CrashStoreTest, SameRecordIsStoredOnceUnderItsHash) {
  TempDir dir;
  CrashStore store(dir.path());
  Bytes record = ferrytide::toBytes(R"({"signal":11,"time_epoch_ms":1733480000250})");

  std::optional<Crash> crash = store.save(record);
  ASSERT_TRUE(crash);
  EXPECT_EQ(crash->url, dir / "crashes" / "adcfa92a9520dd1c.json");
  EXPECT_EQ(crash->date, kNow + 250ms);
  EXPECT_FALSE(store.save(record));
  EXPECT_EQ(entriesIn(store.folder()), 1u);
  ASSERT_EQ(store.all().size(), 1u);
  EXPECT_EQ(store.all()[0].json, record);
  EXPECT_THROW(store.save(ferrytide::toBytes(R"({"signal":11})")), CrashStoreError);
  // Dates the clock cannot hold (it counts nanoseconds) are not records, from memory or disk.
  for (const char* epochMs : {"9223372036854775807", "9223372036855", "-1"}) {
    std::string text = std::string(R"({"signal":11,"time_epoch_ms":)") + epochMs + "}";
    EXPECT_THROW(store.save(ferrytide::toBytes(text)), CrashStoreError) << epochMs;
    writeText(store.folder() / "far.json", text);
    EXPECT_EQ(store.all().size(), 1u) << epochMs;
  }
}

TEST(CrashStoreTest, PruningKeepsTheFiveNewestThatAreAtMostThirtyDaysOld) {
  TempDir dir;
  CrashStore store(dir.path(), [] { return kNow; });
  const std::chrono::seconds ages[] = {
      4 * 24h, 1h, CrashStore::maxAge + 1s, 48h, CrashStore::maxAge, 72h};
  for (std::chrono::seconds age : ages) {
    ASSERT_TRUE(store.save(recordAt(kNow - age)));
  }
  writeText(store.folder() / "not-a-record.json", "{");

  store.prune();
  std::vector<SystemClock::time_point> dates;
  for (const Crash& crash : store.all()) dates.push_back(crash.date);
  EXPECT_EQ(dates, (std::vector{kNow - 1h, kNow - 48h, kNow - 72h, kNow - 4 * 24h,
                                kNow - CrashStore::maxAge}));
  EXPECT_EQ(entriesIn(store.folder()), 5u);

  ASSERT_TRUE(store.save(recordAt(kNow - 5 * 24h)));
  store.prune();
  std::vector<Crash> crashes = store.all();
  ASSERT_EQ(crashes.size(), 5u);
  EXPECT_EQ(crashes.back().date, kNow - 5 * 24h);

  store.remove(crashes.front());
  EXPECT_EQ(store.all().size(), 4u);
  EXPECT_EQ(store.all().front().date, kNow - 48h);
}

}  // namespace
}  // namespace plinth
