#pragma once

#include <cstdint>
#include <optional>

namespace ferrytide::platform {

// The key a stored hot-key code stands for (the codes of HotkeyCombo: physical positions of
// the US layout, 8 = C) as the display server names it.
struct KeySymbol {
  std::uint32_t keysym;  // the X key symbol
  const char* name;      // its name, as the desktop portal's trigger texts spell it
};

// The modifier bits of the stored encoding (HotkeyCombo's).
namespace storedModifier {
inline constexpr std::uint32_t command = 0x0100;  // the Super key
inline constexpr std::uint32_t shift = 0x0200;
inline constexpr std::uint32_t option = 0x0800;  // Alt
inline constexpr std::uint32_t control = 0x1000;
}  // namespace storedModifier

// Nothing for a code with no key in the table.
std::optional<KeySymbol> keySymbolForStoredCode(std::uint32_t keyCode);

}  // namespace ferrytide::platform
