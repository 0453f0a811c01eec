#include "platform/linux/global_hotkey.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include "desktop/desktop_test_support.h"
#include "desktop/x11_test_client.h"
#include "menu/qt_wait.h"
#include "support/temp_dir.h"

namespace ferrytide::platform {
namespace {

using namespace std::chrono_literals;
using testing::processEventsUntil;
using testing::X11TestClient;
using testing::xdotool;

constexpr std::uint32_t kKeyC = 8;
constexpr std::uint32_t kControlOption = 0x1000 | 0x0800;
constexpr std::uint16_t kCtrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
constexpr std::uint16_t kNumLock = XCB_MOD_MASK_2;  // where Xvfb's keyboard map puts it
constexpr std::uint16_t kCapsLock = XCB_MOD_MASK_LOCK;

// Caps Lock and Num Lock on while it lives, so that later tests start with them off.
struct LocksOn {
  LocksOn() { xdotool({"key", "Num_Lock", "Caps_Lock"}); }
  ~LocksOn() { xdotool({"key", "Num_Lock", "Caps_Lock"}); }
};

TEST(GlobalHotkeyTest, PressReachesItsActionWithLocksOnUntilUnregistered) {
  GlobalHotkey hotkey;
  int presses = 0;
  std::optional<std::uint32_t> id =
      hotkey.registerHotkey(kKeyC, kControlOption, [&] { ++presses; });
  ASSERT_TRUE(id);
  xdotool({"key", "ctrl+alt+c"});
  ASSERT_TRUE(processEventsUntil([&] { return presses == 1; }, 5s));

  X11TestClient observer;
  LocksOn locks;
  ASSERT_EQ(observer.modifierState() & (kNumLock | kCapsLock), kNumLock | kCapsLock);
  xdotool({"key", "ctrl+alt+c"});
  ASSERT_TRUE(processEventsUntil([&] { return presses == 2; }, 5s));

  // Unregistered, every variant is free for others again and presses go to them.
  hotkey.unregister(*id);
  EXPECT_TRUE(observer.grab(XK_c, kCtrlAlt));
  EXPECT_TRUE(observer.grab(XK_c, kCtrlAlt | kNumLock | kCapsLock));
  xdotool({"key", "ctrl+alt+c"});
  EXPECT_TRUE(processEventsUntil([&] { return observer.takeKeyPress(XK_c).has_value(); }, 5s));
  EXPECT_EQ(presses, 2);
}

TEST(GlobalHotkeyTest, CombinationHeldElsewhereIsRefusedAndLeavesNoGrabBehind) {
  X11TestClient other;
  // Only the Num Lock variant, so that some grabs of ours succeed before one is refused.
  ASSERT_TRUE(other.grab(XK_c, kCtrlAlt | kNumLock));
  GlobalHotkey hotkey;
  EXPECT_FALSE(hotkey.registerHotkey(kKeyC, kControlOption, [] {}));
  EXPECT_TRUE(other.grab(XK_c, kCtrlAlt));
  EXPECT_TRUE(other.grab(XK_c, kCtrlAlt | kCapsLock));

  other.ungrab(XK_c, kCtrlAlt);
  other.ungrab(XK_c, kCtrlAlt | kCapsLock);
  other.ungrab(XK_c, kCtrlAlt | kNumLock);
  EXPECT_TRUE(hotkey.registerHotkey(kKeyC, kControlOption, [] {}));
  // The same combination twice, and a code that names no key.
  EXPECT_FALSE(hotkey.registerHotkey(kKeyC, kControlOption, [] {}));
  EXPECT_FALSE(hotkey.registerHotkey(10, kControlOption, [] {}));
}

TEST(GlobalHotkeyTest, OnWaylandWithoutPortalShortcutsOnlyXwaylandServes) {
  testing::ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-ferrytide-test");
  {
    GlobalHotkey hotkey;
    EXPECT_TRUE(hotkey.registerHotkey(kKeyC, kControlOption, [] {}));
  }
  testing::ScopedEnv noDisplay("DISPLAY", "");
  GlobalHotkey hotkey;
  EXPECT_FALSE(hotkey.registerHotkey(kKeyC, kControlOption, [] {}));
}

}  // namespace
}  // namespace ferrytide::platform
