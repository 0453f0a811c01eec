#include "core/support/folder_flush_group.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "core/support/file_io.h"
#include "support/temp_dir.h"

namespace ferrytide {
namespace {

using namespace std::chrono_literals;

// A stand-in disk: a flush makes durable what was changed when it began, and takes a while, so
// that callers arrive while one runs.
class RecordingDisk {
 public:
  void change(int id) {
    std::lock_guard lock(mutex_);
    changed_.insert(id);
  }
  void flush() {
    std::set<int> seen;
    {
      std::lock_guard lock(mutex_);
      seen = changed_;
      ++flushes_;
    }
    std::this_thread::sleep_for(2ms);
    std::lock_guard lock(mutex_);
    durable_.insert(seen.begin(), seen.end());
  }
  bool isDurable(int id) {
    std::lock_guard lock(mutex_);
    return durable_.count(id) == 1;
  }
  int flushes() {
    std::lock_guard lock(mutex_);
    return flushes_;
  }

 private:
  std::mutex mutex_;
  std::set<int> changed_, durable_;
  int flushes_ = 0;
};

TEST(FolderFlushGroupTest, EveryCallerReturnsWithItsChangeFlushedAndCallersShareFlushes) {
  RecordingDisk disk;
  FolderFlushGroup group([&disk](const std::filesystem::path&) { disk.flush(); });
  constexpr int kThreads = 8, kCallsEach = 25;
  std::atomic<int> notDurable{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int call = 0; call < kCallsEach; ++call) {
        const int id = t * kCallsEach + call;
        disk.change(id);
        group.flushAfterChange("/downloads");
        if (!disk.isDurable(id)) ++notDurable;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(notDurable.load(), 0);
  EXPECT_LT(disk.flushes(), kThreads * kCallsEach / 2);
}

TEST(FolderFlushGroupTest, AFailedFlushFailsEveryCallerThatWaitedForIt) {
  std::atomic<int> attempts{0};
  FolderFlushGroup failing([&attempts](const std::filesystem::path&) {
    ++attempts;
    std::this_thread::sleep_for(2ms);
    throw file_io::FileError("/downloads: Input/output error");
  });
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      try {
        failing.flushAfterChange("/downloads");
      } catch (const file_io::FileError&) {
        ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 4);
  EXPECT_EQ(attempts.load(), 4);

  // The real flush names the folder it could not open, and the group goes on serving others.
  testing::TempDir temp;
  FolderFlushGroup real(file_io::flushFolder);
  try {
    real.flushAfterChange(temp / "gone");
    ADD_FAILURE() << "flushed a missing folder";
  } catch (const file_io::FileError& error) {
    EXPECT_NE(error.description().find("gone"), std::string::npos) << error.description();
  }
  EXPECT_NO_THROW(real.flushAfterChange(temp.path()));
}

}  // namespace
}  // namespace ferrytide
