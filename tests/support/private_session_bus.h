#pragma once

#include <sys/types.h>

#include <string>

namespace ferrytide::testing {

// A session bus of the tests' own: a dbus-daemon started now and stopped when this goes.
// DBUS_SESSION_BUS_ADDRESS points at it meanwhile, so that nothing reaches the user's bus.
// Construct it before the first use of the session bus.
class PrivateSessionBus {
 public:
  PrivateSessionBus();
  ~PrivateSessionBus();
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  // Empty when no dbus-daemon could be started; the reason is in failure().
  const std::string& address() const { return address_; }
  const std::string& failure() const { return failure_; }

 private:
  std::string address_;
  std::string failure_;
  pid_t pid_ = 0;
};

}  // namespace ferrytide::testing
