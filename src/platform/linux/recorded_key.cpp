#include "platform/linux/recorded_key.h"

#include <X11/keysym.h>

#include "platform/linux/key_symbols.h"

namespace ferrytide::platform {
namespace {

// Every stored code lies below this.
constexpr std::uint32_t kStoredCodeLimit = 128;

std::optional<std::uint32_t> storedCodeOfKeysym(std::uint32_t keysym) {
  // Shifted letters name the same key.
  if (keysym >= XK_A && keysym <= XK_Z) keysym += XK_a - XK_A;
  for (std::uint32_t code = 0; code < kStoredCodeLimit; ++code) {
    std::optional<KeySymbol> symbol = keySymbolForStoredCode(code);
    if (symbol && symbol->keysym == keysym) return code;
  }
  return std::nullopt;
}

// Qt names the printable keys by their Latin-1 character, upper-case letters included, as X
// does; the other keys that have a stored code are listed.
std::optional<std::uint32_t> keysymOfQtKey(int key, bool keypad) {
  if (keypad && key >= Qt::Key_0 && key <= Qt::Key_9) return XK_KP_0 + (key - Qt::Key_0);
  if (key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde) return static_cast<std::uint32_t>(key);
  if (key >= Qt::Key_F1 && key <= Qt::Key_F12) return XK_F1 + (key - Qt::Key_F1);
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return XK_Return;
    case Qt::Key_Tab: return XK_Tab;
    case Qt::Key_Backspace: return XK_BackSpace;
    case Qt::Key_Escape: return XK_Escape;
    case Qt::Key_Left: return XK_Left;
    case Qt::Key_Right: return XK_Right;
    case Qt::Key_Up: return XK_Up;
    case Qt::Key_Down: return XK_Down;
    default: return std::nullopt;
  }
}

}  // namespace

std::optional<std::uint32_t> storedKeyCode(int qtKey, bool keypad, std::uint32_t nativeKeysym) {
  if (std::optional<std::uint32_t> keysym = keysymOfQtKey(qtKey, keypad)) {
    if (std::optional<std::uint32_t> code = storedCodeOfKeysym(*keysym)) return code;
  }
  if (nativeKeysym != 0) return storedCodeOfKeysym(nativeKeysym);
  return std::nullopt;
}

std::uint32_t storedModifiers(Qt::KeyboardModifiers modifiers) {
  std::uint32_t mask = 0;
  if (modifiers & Qt::ControlModifier) mask |= storedModifier::control;
  if (modifiers & Qt::AltModifier) mask |= storedModifier::option;
  if (modifiers & Qt::ShiftModifier) mask |= storedModifier::shift;
  if (modifiers & Qt::MetaModifier) mask |= storedModifier::command;
  return mask;
}

}  // namespace ferrytide::platform
