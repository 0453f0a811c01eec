#include "plinth_reports/diary.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "support/temp_dir.h"

namespace plinth {
namespace {

using ferrytide::testing::readText;
using ferrytide::testing::TempDir;
using SystemClock = std::chrono::system_clock;
using namespace std::chrono_literals;

std::string repeated(const std::string& text, int times) {
  std::string result;
  for (int i = 0; i < times; ++i) result += text;
  return result;
}

TEST(DiaryTest, StepsKeepTheNewestTenCutToTheirLengthAndPassToTheNextRun) {
  TempDir dir;
  std::vector<std::string> expected = {repeated("é", 120)};
  {
    Diary diary(dir.path());
    diary.startRun();
    diary.note("dropped by the eleventh");
    diary.note(repeated("é", 200));
    for (int i = 2; i < 10; ++i) {
      diary.note("step " + std::to_string(i));
      expected.push_back("step " + std::to_string(i));
    }
    diary.note("cut \xff byte");
    expected.push_back("cut \xEF\xBF\xBD byte");
    EXPECT_EQ(diary.steps(), expected);
  }
  Diary next(dir.path());
  next.startRun();
  EXPECT_EQ(next.previousSteps(), expected);
  EXPECT_TRUE(next.steps().empty());
  EXPECT_FALSE(std::filesystem::exists(dir / "steps.json"));
}

TEST(DiaryTest, LogLinesOlderThanSevenDaysGoAtTheNextStartAndTheShownErrorStays) {
  TempDir dir;
  const SystemClock::time_point now = SystemClock::from_time_t(1733480000);  // 10:13:20 UTC
  const SystemClock::time_point eightDaysAgo = now - Diary::logLifetime - 1s;
  SystemClock::time_point clockTime = eightDaysAgo;
  Diary::Clock clock = [&clockTime] { return clockTime; };
  const std::string message = "Could not reach Pixel\nafter 3 tries";
  const std::string keptLine = "2024-11-29T10:13:20Z warning " + std::string(500, 'w') + "\n";
  {
    Diary diary(dir.path(), clock);
    diary.startRun();
    diary.log(message, true, Diary::Level::error);
    clockTime = now - Diary::logLifetime;
    diary.log(std::string(600, 'w'), false, Diary::Level::warning);
    EXPECT_EQ(diary.errorLog(),
              "2024-11-29T10:13:19Z error Could not reach Pixel after 3 tries\n" + keptLine);
    EXPECT_EQ(diary.lastError(), (LastError{message, eightDaysAgo}));
  }
  clockTime = now;
  Diary next(dir.path(), clock);
  next.startRun();
  EXPECT_EQ(next.errorLog(), keptLine);
  EXPECT_EQ(next.lastError(), (LastError{message, eightDaysAgo}));
}

TEST(DiaryTest, LongErrorLogGivesItsNewestWholeLinesThatFit) {
  TempDir dir;
  Diary::Clock clock = [] { return SystemClock::from_time_t(1733480000); };
  Diary diary(dir.path(), clock);
  diary.startRun();
  const int lines = 600;
  for (int i = 0; i < lines; ++i) {
    char number[8];
    std::snprintf(number, sizeof number, "%03d ", i);
    diary.log(number + std::string(480, 'x'), false, Diary::Level::error);
  }
  std::string log = diary.errorLog();
  std::string whole = readText(dir / "errors.log");
  ASSERT_GT(whole.size(), Diary::maxErrorLogBytes);
  std::size_t lineSize = whole.size() / lines;
  EXPECT_EQ(log, whole.substr(whole.size() - Diary::maxErrorLogBytes / lineSize * lineSize));

  Diary next(dir.path(), clock);
  next.startRun();
  EXPECT_EQ(next.errorLog(), log);
}

}  // namespace
}  // namespace plinth
