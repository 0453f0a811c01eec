#pragma once

#include <Qt>
#include <cstdint>
#include <optional>

namespace ferrytide::platform {

// A key pressed in one of the application's windows, in the stored hot-key encoding
// (HotkeyCombo's codes, through the same table as key_symbols.h).

// The stored code of Qt's key (`keypad` when Qt reported the keypad modifier); when Qt's key
// has none, that of the X key symbol the display server reported (0: none reported). Nothing
// for a lone modifier or a key without a stored code.
std::optional<std::uint32_t> storedKeyCode(int qtKey, bool keypad, std::uint32_t nativeKeysym = 0);

// Ctrl, Alt, Shift and Super (Qt's Meta) as the stored modifier mask.
std::uint32_t storedModifiers(Qt::KeyboardModifiers modifiers);

}  // namespace ferrytide::platform
