#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstdio>

#include "support/private_session_bus.h"
#include "support/temp_dir.h"

// The models post their results to the main thread's event loop, so the tests run inside an
// application object. Home and the XDG folders point into a temporary folder, and the session
// bus is one of the tests' own, so that nothing the tests do reaches the user's.
int main(int argc, char** argv) {
  ferrytide::testing::TempDir home;
  ferrytide::testing::ScopedEnv homeVariable("HOME", home.path().string());
  ferrytide::testing::ScopedEnv data("XDG_DATA_HOME", (home / "data").string());
  ferrytide::testing::ScopedEnv config("XDG_CONFIG_HOME", (home / "config").string());
  ferrytide::testing::PrivateSessionBus bus;
  if (bus.address().empty()) std::fprintf(stderr, "%s\n", bus.failure().c_str());
  QCoreApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
