#include "cli/send_progress_display.h"

#include <gtest/gtest.h>

namespace ferrytide::cli {
namespace {

constexpr std::int64_t kMiB = 1024 * 1024;

TEST(SendProgressDisplayTest, FormatsBytes) {
  const struct {
    std::int64_t bytes;
    const char* text;
  } cases[] = {{0, "0 B"},        {1023, "1023 B"},          {1024, "1.0 KiB"},
               {1536, "1.5 KiB"}, {100 * kMiB, "100.0 MiB"}, {3 * 1024 * kMiB, "3.0 GiB"}};
  for (const auto& c : cases) EXPECT_EQ(formatBytes(c.bytes), c.text) << c.bytes;
}

TEST(SendProgressDisplayTest, BarShowsBytesRateAndEta) {
  // Half of 100 MiB, 50 MiB of it in this session's 5 seconds: 10 MiB/s, 5 s left.
  EXPECT_EQ(progressBarLine(50 * kMiB, 100 * kMiB, 50 * kMiB, 5.0),
            "[##########..........]  50.0 MiB / 100.0 MiB  10.0 MiB/s  ETA 0:05");
  // Resumed at 80 MiB: only the 10 MiB of this session count for the rate.
  EXPECT_EQ(progressBarLine(90 * kMiB, 100 * kMiB, 10 * kMiB, 2.0),
            "[##################..]  90.0 MiB / 100.0 MiB  5.0 MiB/s  ETA 0:02");
  EXPECT_EQ(progressBarLine(0, 100 * kMiB, 0, 0.0),
            "[....................]  0 B / 100.0 MiB  -  ETA -");
  EXPECT_EQ(progressBarLine(0, 0, 0, 1.0), "[####################]  0 B / 0 B  -  ETA -");
}

TEST(SendProgressDisplayTest, PlainOutputHasOneLinePerTenth) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  SendProgressDisplay display("a.bin", out, false);
  for (std::int64_t sent = 0; sent <= 100; sent += 5) display.onProgress(sent, 100);
  display.finish();
  std::rewind(out);
  int lines = 0;
  for (int c; (c = std::fgetc(out)) != EOF;) lines += c == '\n';
  std::fclose(out);
  EXPECT_EQ(lines, 11);  // 0 %, 10 %, ... 100 %
}

}  // namespace
}  // namespace ferrytide::cli
