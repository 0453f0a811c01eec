#include <gtest/gtest.h>
#include <stdlib.h>

#include <QGuiApplication>
#include <cstdio>
#include <cstring>
#include <optional>

#include "support/private_session_bus.h"
#include "support/temp_dir.h"
#include "support/xvfb_display.h"

// The desktop pieces run against an X server of the tests' own (Xvfb), with a session bus of
// their own and home in a temporary folder, so that no key grab, clipboard content or portal
// request reaches the user's desktop. Listing the tests needs neither.
int main(int argc, char** argv) {
  bool listing = false;
  for (int i = 1; i < argc; ++i)
    listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
  ::testing::InitGoogleTest(&argc, argv);
  if (listing) return RUN_ALL_TESTS();

  ferrytide::testing::TempDir home;
  ferrytide::testing::ScopedEnv homeVariable("HOME", home.path().string());
  ferrytide::testing::ScopedEnv data("XDG_DATA_HOME", (home / "data").string());
  ferrytide::testing::ScopedEnv config("XDG_CONFIG_HOME", (home / "config").string());
  ferrytide::testing::PrivateSessionBus bus;
  if (bus.address().empty()) std::fprintf(stderr, "%s\n", bus.failure().c_str());
  ferrytide::testing::XvfbDisplay display;
  if (display.name().empty()) {
    std::fprintf(stderr, "no X server for the desktop tests: %s\n", display.failure().c_str());
    return 1;
  }
  ferrytide::testing::ScopedEnv displayVariable("DISPLAY", display.name());
  ferrytide::testing::ScopedEnv platform("QT_QPA_PLATFORM", "xcb");
  ::unsetenv("WAYLAND_DISPLAY");
  int result = 0;
  {
    QGuiApplication application(argc, argv);
    result = RUN_ALL_TESTS();
  }
  return result;
}
