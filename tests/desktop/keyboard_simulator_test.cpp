#include "platform/linux/keyboard_simulator.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <memory>

#include "desktop/desktop_test_support.h"
#include "desktop/x11_test_client.h"
#include "menu/qt_wait.h"
#include "platform/linux/global_hotkey.h"
#include "support/temp_dir.h"
#include "support/xvfb_display.h"

namespace ferrytide::platform {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::processEventsUntil;
using testing::X11TestClient;
using testing::xdotool;

TEST(KeyboardSimulatorTest, CopyFromTheHotKeyArrivesAsPlainCtrlCOnceTheUserLetsGo) {
  X11TestClient focusedApp;
  ASSERT_TRUE(focusedApp.grab(XK_c, XCB_MOD_MASK_CONTROL));
  GlobalHotkey hotkey;
  int presses = 0;
  bool copied = false;
  std::unique_ptr<ChildProcess> user;
  ASSERT_TRUE(hotkey.registerHotkey(8, 0x1000 | 0x0800, [&] {
    ++presses;
    // The user lets go of Alt and C a moment after pressing them, and keeps Ctrl down.
    user = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/xdotool", "sleep", "0.1", "keyup", "alt+c"},
        testing::Environment{});
    copied = KeyboardSimulator::synthesizeCopy();
  }));

  xdotool({"keydown", "ctrl+alt+c"});
  std::optional<std::uint16_t> copyState;
  ASSERT_TRUE(processEventsUntil(
      [&] { return (copyState = focusedApp.takeKeyPress(XK_c)).has_value(); }, 5s))
      << "presses: " << presses;
  EXPECT_TRUE(copied);
  EXPECT_EQ(*copyState, XCB_MOD_MASK_CONTROL);
  EXPECT_EQ(presses, 1);
  EXPECT_EQ(user->waitForExit(5s), 0);
  xdotool({"keyup", "ctrl"});
}

TEST(KeyboardSimulatorTest, WithoutXTestNothingIsSent) {
  EXPECT_TRUE(KeyboardSimulator::trusted());
  testing::XvfbDisplay withoutXTest({"-extension", "XTEST"});
  ASSERT_FALSE(withoutXTest.name().empty()) << withoutXTest.failure();
  testing::ScopedEnv display("DISPLAY", withoutXTest.name());
  EXPECT_FALSE(KeyboardSimulator::trusted());
  EXPECT_FALSE(KeyboardSimulator::synthesizeCopy());
}

}  // namespace
}  // namespace ferrytide::platform
