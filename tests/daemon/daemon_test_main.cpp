#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstring>

#include "support/private_session_bus.h"
#include "support/temp_dir.h"
#include "support/xvfb_display.h"

// The daemon runs as a child process with a session bus and an X server of the tests' own; the
// test process plays the notification server on that bus, so it runs an application object
// whose event loop answers the daemon's calls. Listing the tests needs neither.
int main(int argc, char** argv) {
  bool listing = false;
  for (int i = 1; i < argc; ++i)
    listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
  ::testing::InitGoogleTest(&argc, argv);
  if (listing) return RUN_ALL_TESTS();

  ferrytide::testing::PrivateSessionBus bus;
  if (bus.address().empty()) {
    std::fprintf(stderr, "no session bus for the daemon tests: %s\n", bus.failure().c_str());
    return 1;
  }
  ferrytide::testing::XvfbDisplay display;
  if (display.name().empty()) {
    std::fprintf(stderr, "no X server for the daemon tests: %s\n", display.failure().c_str());
    return 1;
  }
  ferrytide::testing::ScopedEnv displayVariable("DISPLAY", display.name());
  ferrytide::testing::ScopedEnv platform("QT_QPA_PLATFORM", "xcb");
  ::unsetenv("WAYLAND_DISPLAY");
  QCoreApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
