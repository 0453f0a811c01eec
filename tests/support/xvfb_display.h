#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace ferrytide::testing {

// An X server of the tests' own: Xvfb on the first free display, started now and stopped when
// this goes. The display number comes from Xvfb itself (-displayfd), so runs side by side do
// not collide.
class XvfbDisplay {
 public:
  // `extraArguments` go to Xvfb as they are ("-extension", "XTEST" turns XTest off).
  explicit XvfbDisplay(const std::vector<std::string>& extraArguments = {},
                       std::chrono::milliseconds startTimeout = std::chrono::seconds(15));
  ~XvfbDisplay();
  XvfbDisplay(const XvfbDisplay&) = delete;
  XvfbDisplay& operator=(const XvfbDisplay&) = delete;

  // ":N"; empty when Xvfb did not start, and failure() says why.
  const std::string& name() const { return name_; }
  const std::string& failure() const { return failure_; }

 private:
  void stop();

  std::string name_;
  std::string failure_;
  pid_t pid_ = -1;
};

}  // namespace ferrytide::testing
