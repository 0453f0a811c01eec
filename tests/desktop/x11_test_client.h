#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdint>
#include <optional>

namespace ferrytide::testing {

// Another X client beside the code under test: it holds key grabs of its own and sees the key
// presses that reach them.
class X11TestClient {
 public:
  X11TestClient();
  ~X11TestClient();
  X11TestClient(const X11TestClient&) = delete;
  X11TestClient& operator=(const X11TestClient&) = delete;

  bool connected() const { return connection_ != nullptr; }
  xcb_keycode_t keycode(xcb_keysym_t keysym) const;
  // Whether the server granted the grab of `keysym` with exactly `modifiers`.
  bool grab(xcb_keysym_t keysym, std::uint16_t modifiers);
  void ungrab(xcb_keysym_t keysym, std::uint16_t modifiers);
  // The modifier state of a key press that reached a grab of this client, if one arrived.
  std::optional<std::uint16_t> takeKeyPress(xcb_keysym_t keysym);
  // The server's current modifier and lock state.
  std::uint16_t modifierState();

 private:
  xcb_connection_t* connection_ = nullptr;
  xcb_window_t root_ = XCB_NONE;
  xcb_key_symbols_t* symbols_ = nullptr;
};

}  // namespace ferrytide::testing
