#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace ferrytide::testing {

// Presses keys the way a user would, through xdotool (XTest), and returns once it is done.
inline void xdotool(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "/usr/bin/xdotool");
  Finished run = runToExit(arguments, {}, std::chrono::seconds(10));
  ASSERT_EQ(run.exitStatus, 0) << run.output;
}

}  // namespace ferrytide::testing
