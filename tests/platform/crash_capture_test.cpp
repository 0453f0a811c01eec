#include "platform/linux/crash_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sstream>

#include "core/support/json.h"
#include "plinth_reports/crash_store.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace ferrytide::platform {
namespace {

using testing::readText;
using testing::runToExit;
using testing::TempDir;
using testing::writeText;

std::int64_t epochMsNow() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

testing::Finished runChild(const std::filesystem::path& reportFolder, const std::string& mode) {
  return runToExit({FERRYTIDE_CRASH_CHILD_PATH, reportFolder.string(), mode}, {});
}

// The records that the child's next start reports as found.
std::vector<json::Value> foundAtNextStart(const std::filesystem::path& reportFolder) {
  testing::Finished start = runChild(reportFolder, "start");
  EXPECT_EQ(start.exitStatus, 0) << start.output;
  std::vector<json::Value> found;
  std::istringstream lines(start.output);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("found ")) found.push_back(json::parse(line.substr(6)));
  }
  return found;
}

const json::Value& withSignal(const std::vector<json::Value>& records, int signal) {
  static const json::Value none = json::Value::object();
  auto found = std::find_if(records.begin(), records.end(), [signal](const json::Value& record) {
    return record.value("signal", 0) == signal;
  });
  return found == records.end() ? none : *found;
}

bool hasFrameIn(const json::Value& record, const std::string& function) {
  const json::Value& frames = record.value("frames", json::Value::array());
  return std::any_of(frames.begin(), frames.end(), [&function](const json::Value& frame) {
    return frame.value("symbol", "").starts_with(function + "+0x");
  });
}

TEST(CrashCaptureTest, EachCrashIsFoundOnceByTheNextStart) {
  TempDir dir;
  plinth::CrashStore store(dir.path());
  std::int64_t before = epochMsNow();
  testing::Finished segv = runChild(dir.path(), "segv");
  ASSERT_EQ(segv.exitStatus, 128 + SIGSEGV) << segv.output;
  testing::Finished abort = runChild(dir.path(), "abort");
  ASSERT_EQ(abort.exitStatus, 128 + SIGABRT) << abort.output;
  std::int64_t after = epochMsNow();
  const std::string cutOff = "ferrytide-crash 1\nsignal 11\nname SIGSEGV\n";
  writeText(store.pendingFolder() / "1-1.crash", cutOff);
  // A time past what the clock holds could never be stored: set aside, not retried forever.
  const std::string farFuture =
      "ferrytide-crash 1\nsignal 6\nname SIGABRT\npid 1\nversion 0.1.0\n"
      "time_epoch_ms 9223372036855\nmaps\nend\n";
  writeText(store.pendingFolder() / "1-2.crash", farFuture);

  std::vector<json::Value> found = foundAtNextStart(dir.path());
  ASSERT_EQ(found.size(), 2u);
  const json::Value& segvRecord = withSignal(found, SIGSEGV);
  EXPECT_EQ(segvRecord.value("signal_name", ""), "SIGSEGV");
  std::string printedAddress = segv.output.substr(segv.output.find("fault-address ") + 14);
  EXPECT_EQ(std::stoull(segvRecord.value("fault_address", "0"), nullptr, 16),
            std::stoull(printedAddress, nullptr, 16));
  EXPECT_TRUE(hasFrameIn(segvRecord, "ferrytideCrashChildWrite")) << segvRecord.dump();
  const json::Value& abortRecord = withSignal(found, SIGABRT);
  EXPECT_EQ(abortRecord.value("signal_name", ""), "SIGABRT");
  EXPECT_FALSE(abortRecord.contains("fault_address"));
  EXPECT_TRUE(hasFrameIn(abortRecord, "abort")) << abortRecord.dump();
  for (const json::Value& record : found) {
    EXPECT_EQ(record.value("version", ""), FERRYTIDE_VERSION);
    EXPECT_GT(record.value("pid", 0), 0);
    EXPECT_GE(record.value("time_epoch_ms", std::int64_t{0}), before);
    EXPECT_LE(record.value("time_epoch_ms", std::int64_t{0}), after);
  }
  EXPECT_EQ(store.all().size(), 2u);
  EXPECT_EQ(testing::entriesIn(store.pendingFolder()), 2u);
  EXPECT_EQ(readText(store.pendingFolder() / "1-1.crash.damaged"), cutOff);
  EXPECT_EQ(readText(store.pendingFolder() / "1-2.crash.damaged"), farFuture);

  EXPECT_TRUE(foundAtNextStart(dir.path()).empty());
  EXPECT_EQ(store.all().size(), 2u);
}

}  // namespace
}  // namespace ferrytide::platform
