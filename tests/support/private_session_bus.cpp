#include "support/private_session_bus.h"

#include <signal.h>
#include <stdlib.h>

#include <cstdio>

namespace ferrytide::testing {

PrivateSessionBus::PrivateSessionBus() {
  // --fork: the command returns once the bus listens, after printing its address and pid.
  FILE* output =
      ::popen("dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 2>&1", "r");
  if (output == nullptr) {
    failure_ = "dbus-daemon could not be started";
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/ferrytide-test-bus", 1);
    return;
  }
  char line[1024];
  std::string address;
  long pid = 0;
  if (std::fgets(line, sizeof line, output) != nullptr) address = line;
  if (std::fgets(line, sizeof line, output) != nullptr) pid = std::strtol(line, nullptr, 10);
  ::pclose(output);
  while (!address.empty() && (address.back() == '\n' || address.back() == '\r')) address.pop_back();
  if (pid <= 0 || address.rfind("unix:", 0) != 0) {
    failure_ = "dbus-daemon did not start: " + address;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/ferrytide-test-bus", 1);
    return;
  }
  address_ = address;
  pid_ = static_cast<pid_t>(pid);
  ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

PrivateSessionBus::~PrivateSessionBus() {
  if (pid_ > 0) ::kill(pid_, SIGTERM);
}

}  // namespace ferrytide::testing
