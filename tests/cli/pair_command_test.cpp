#include "cli/pair_command.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "cli/receiver_pid_file.h"
#include "support/temp_dir.h"

namespace ferrytide::cli {
namespace {

TEST(PairCommandTest, OnlyYesConfirms) {
  for (const char* answer : {"y", "Y", "yes", " YES\r", "Yes\n"})
    EXPECT_TRUE(isYes(answer)) << answer;
  for (const char* answer : {"", "n", "no", "yeah", "y y", "ja"})
    EXPECT_FALSE(isYes(answer)) << answer;
}

TEST(ReceiverPidFileTest, OnlyAnotherLiveProcessOfThisToolCounts) {
  testing::TempDir dir;
  std::filesystem::path path = dir / "cli-receive.pid";
  {
    ReceiverPidFile own(path);
    own.claim();
    std::ifstream in(path);
    pid_t recorded = 0;
    in >> recorded;
    EXPECT_EQ(recorded, getpid());
    EXPECT_FALSE(own.runningReceiver());  // this very process
  }
  EXPECT_FALSE(std::filesystem::exists(path));  // removed by its owner

  ReceiverPidFile other(path);
  const char* stale[] = {"1\n", "not a number\n", "-4\n", "999999999\n"};
  for (const char* content : stale) {
    std::ofstream(path) << content;
    EXPECT_FALSE(other.runningReceiver()) << content;  // pid 1 is alive but not this tool
    EXPECT_FALSE(other.stopRunningReceiver(std::chrono::milliseconds(10))) << content;
  }
}

}  // namespace
}  // namespace ferrytide::cli
