#include <gtest/gtest.h>

#include <QCoreApplication>

// The updater lives on the main thread's event loop.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
