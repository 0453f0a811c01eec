#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>

#include "support/private_session_bus.h"
#include "support/temp_dir.h"

// The tray application's views under Qt's offscreen platform, inside an application object.
// Home and the XDG folders point into a temporary folder, and the session bus is one of the
// tests' own, so that nothing the tests do reaches the user's.
int main(int argc, char** argv) {
  ferrytide::testing::TempDir home;
  ferrytide::testing::ScopedEnv homeVariable("HOME", home.path().string());
  ferrytide::testing::ScopedEnv data("XDG_DATA_HOME", (home / "data").string());
  ferrytide::testing::ScopedEnv config("XDG_CONFIG_HOME", (home / "config").string());
  ferrytide::testing::PrivateSessionBus bus;
  if (bus.address().empty()) std::fprintf(stderr, "%s\n", bus.failure().c_str());
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
