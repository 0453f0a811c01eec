#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace ferrytide::platform {

// A connection of our own to the X server (not the toolkit's), with the keyboard look-ups that
// key grabs and synthetic key events need.
class X11Connection {
 public:
  // Nothing when no X server answers at `display` (null: $DISPLAY).
  static std::unique_ptr<X11Connection> open(const char* display = nullptr);
  ~X11Connection();
  X11Connection(const X11Connection&) = delete;
  X11Connection& operator=(const X11Connection&) = delete;

  xcb_connection_t* get() const { return connection_; }
  xcb_window_t root() const { return root_; }
  bool broken() const { return xcb_connection_has_error(connection_) != 0; }
  bool hasExtension(xcb_extension_t* extension) const;

  // Every key that produces `keysym` in the current keyboard map; empty when none does.
  std::vector<xcb_keycode_t> keycodesFor(xcb_keysym_t keysym) const;
  // The modifier bits that the keys producing `keysym` are mapped to (Num Lock: usually Mod2).
  std::uint16_t modifierMaskOf(xcb_keysym_t keysym) const;
  // Waits until the server has carried out every request sent so far.
  void sync() const;

 private:
  X11Connection(xcb_connection_t* connection, xcb_window_t root);

  xcb_connection_t* connection_;
  xcb_window_t root_;
  xcb_key_symbols_t* keySymbols_;
};

}  // namespace ferrytide::platform
