#include <gtest/gtest.h>
TEST(UpdatesScaffold, Builds) { SUCCEED(); }
