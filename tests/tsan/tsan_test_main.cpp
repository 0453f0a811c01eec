#include <gtest/gtest.h>

#include <QCoreApplication>

// The receiver, sender and bridge tests under ThreadSanitizer. The bridge posts results to the
// main thread's event loop, so the tests run inside an application object.
int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
