#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace ferrytide::menu {

// The clipboard hot key as it is stored: a key code of the keyboard's physical layout (8 is
// the C key) and a modifier mask. The codes are kept in the stored encoding so that a
// combination chosen once reads back the same everywhere; the hot-key service translates them
// to the display server's key symbols.
struct HotkeyCombo {
  static constexpr std::uint32_t command = 0x0100;  // shown as Super
  static constexpr std::uint32_t shift = 0x0200;
  static constexpr std::uint32_t option = 0x0800;  // shown as Alt
  static constexpr std::uint32_t control = 0x1000;

  static constexpr std::uint32_t defaultKeyCode = 8;  // C
  static constexpr std::uint32_t defaultModifiers = control | option;

  std::uint32_t keyCode = defaultKeyCode;
  std::uint32_t modifiers = defaultModifiers;

  // Ctrl, Alt, Shift, Super (those that are set, in this order), then the key's name.
  QStringList keycaps() const;
  // The name printed on the key: "Enter", "F5", "C"; "?" for a code with no key.
  static QString keyName(std::uint32_t keyCode);

  bool operator==(const HotkeyCombo&) const = default;
};

}  // namespace ferrytide::menu
