#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "platform/linux/hotkey_backend.h"
#include "platform/linux/x11_connection.h"

class QSocketNotifier;

namespace ferrytide::platform {

// System-wide hot keys as passive key grabs on the X root window, over a connection of its own.
// A combination is grabbed with every state of Caps Lock, Num Lock and Scroll Lock, so that it
// works whichever of them is on; it is all or nothing: when another client holds any of those
// grabs, none is kept.
class X11KeyGrabs final : public HotkeyBackend {
  Q_OBJECT

 public:
  // Nothing when no X server answers at `display` (null: $DISPLAY).
  static std::unique_ptr<X11KeyGrabs> open(const char* display = nullptr);
  ~X11KeyGrabs() override;

  bool add(std::uint32_t id, std::uint32_t keyCode, std::uint32_t modifiers) override;
  void remove(std::uint32_t id) override;

 private:
  struct Grab {
    std::vector<xcb_keycode_t> keycodes;
    std::uint16_t modifiers = 0;
    bool operator==(const Grab&) const = default;
  };

  explicit X11KeyGrabs(std::unique_ptr<X11Connection> connection);

  bool grab(const Grab& grab);
  void ungrab(const Grab& grab);
  // The events that reading replies has already taken off the socket wait in xcb's queue,
  // where the socket notifier does not see them.
  void scheduleEventCheck();
  void processEvents();
  void onKeyPress(const xcb_key_press_event_t& press);

  std::unique_ptr<X11Connection> connection_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::vector<std::uint16_t> lockCombinations_;
  std::uint16_t lockMask_ = 0;
  std::map<std::uint32_t, Grab> grabs_;
};

}  // namespace ferrytide::platform
