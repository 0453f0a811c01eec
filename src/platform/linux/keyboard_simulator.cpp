#include "platform/linux/keyboard_simulator.h"

#include <X11/keysym.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "core/support/log.h"
#include "platform/linux/x11_connection.h"

namespace ferrytide::platform {
namespace {

constexpr auto kReleasePoll = std::chrono::milliseconds(5);

std::unique_ptr<X11Connection> openTrusted() {
  std::unique_ptr<X11Connection> connection = X11Connection::open();
  if (connection == nullptr || !connection->hasExtension(&xcb_test_id)) return nullptr;
  return connection;
}

// Whether any key other than `allowed` is down.
bool othersHeld(const X11Connection& connection, const std::vector<xcb_keycode_t>& allowed) {
  std::unique_ptr<xcb_query_keymap_reply_t, decltype(&std::free)> keymap(
      xcb_query_keymap_reply(connection.get(), xcb_query_keymap(connection.get()), nullptr),
      &std::free);
  if (keymap == nullptr) return false;
  for (int keycode = 8; keycode < 256; ++keycode) {
    bool down = (keymap->keys[keycode / 8] >> (keycode % 8)) & 1;
    if (down && std::find(allowed.begin(), allowed.end(), keycode) == allowed.end()) return true;
  }
  return false;
}

void waitForRelease(const X11Connection& connection, const std::vector<xcb_keycode_t>& allowed,
                    std::chrono::milliseconds wait) {
  auto deadline = std::chrono::steady_clock::now() + wait;
  while (othersHeld(connection, allowed) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kReleasePoll);
  }
}

void fakeKey(const X11Connection& connection, std::uint8_t type, xcb_keycode_t keycode) {
  xcb_test_fake_input(connection.get(), type, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

}  // namespace

bool KeyboardSimulator::trusted() { return openTrusted() != nullptr; }

bool KeyboardSimulator::synthesizeCopy(std::chrono::milliseconds waitForReleaseOf) {
  std::unique_ptr<X11Connection> connection = openTrusted();
  if (connection == nullptr) return false;
  std::vector<xcb_keycode_t> cKeys = connection->keycodesFor(XK_c);
  std::vector<xcb_keycode_t> controlKeys = connection->keycodesFor(XK_Control_L);
  if (cKeys.empty() || controlKeys.empty()) {
    Logger("keyboard").warning("the keyboard map has no C or Control key: nothing copied");
    return false;
  }
  std::vector<xcb_keycode_t> rightControl = connection->keycodesFor(XK_Control_R);
  std::vector<xcb_keycode_t> allowed = controlKeys;
  allowed.insert(allowed.end(), rightControl.begin(), rightControl.end());
  waitForRelease(*connection, allowed, waitForReleaseOf);

  fakeKey(*connection, XCB_KEY_PRESS, controlKeys.front());
  fakeKey(*connection, XCB_KEY_PRESS, cKeys.front());
  fakeKey(*connection, XCB_KEY_RELEASE, cKeys.front());
  fakeKey(*connection, XCB_KEY_RELEASE, controlKeys.front());
  connection->sync();
  std::this_thread::sleep_for(copyTime);
  return true;
}

}  // namespace ferrytide::platform
