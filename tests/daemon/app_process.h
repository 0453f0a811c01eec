#pragma once

// Waiting on the application run as a child process. Its calls to the notification server are
// answered by the test process's event loop, so every wait keeps that loop running.

#include <optional>
#include <string>
#include <vector>

#include "e2e/two_devices.h"
#include "menu/qt_wait.h"

namespace ferrytide::testing {

inline bool waitForOutput(ChildProcess& child, const std::string& text) {
  return processEventsUntil([&] { return contains(child.output(), text); }, kProcessTimeout);
}

inline std::optional<int> waitForExit(ChildProcess& child) {
  std::optional<int> status;
  processEventsUntil(
      [&] { return (status = child.waitForExit(std::chrono::milliseconds(0))).has_value(); },
      kProcessTimeout);
  return status;
}

inline Finished runPumping(std::vector<std::string> arguments, const Environment& environment) {
  ChildProcess child(std::move(arguments), environment);
  std::optional<int> status = waitForExit(child);
  return {status.value_or(-1), child.output()};
}

}  // namespace ferrytide::testing
