#include "platform/linux/x11_connection.h"

#include <algorithm>
#include <cstdlib>

namespace ferrytide::platform {
namespace {

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> owned(T* reply) {
  return Reply<T>(reply, &std::free);
}

xcb_window_t rootOfScreen(xcb_connection_t* connection, int screenNumber) {
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber && screens.rem > 1; ++i) xcb_screen_next(&screens);
  return screens.data->root;
}

}  // namespace

std::unique_ptr<X11Connection> X11Connection::open(const char* display) {
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(display, &screenNumber);
  if (xcb_connection_has_error(connection)) {
    xcb_disconnect(connection);
    return nullptr;
  }
  return std::unique_ptr<X11Connection>(
      new X11Connection(connection, rootOfScreen(connection, screenNumber)));
}

X11Connection::X11Connection(xcb_connection_t* connection, xcb_window_t root)
    : connection_(connection), root_(root), keySymbols_(xcb_key_symbols_alloc(connection)) {}

X11Connection::~X11Connection() {
  xcb_key_symbols_free(keySymbols_);
  xcb_disconnect(connection_);
}

bool X11Connection::hasExtension(xcb_extension_t* extension) const {
  const xcb_query_extension_reply_t* data = xcb_get_extension_data(connection_, extension);
  return data != nullptr && data->present;
}

std::vector<xcb_keycode_t> X11Connection::keycodesFor(xcb_keysym_t keysym) const {
  std::vector<xcb_keycode_t> keycodes;
  auto found = owned(xcb_key_symbols_get_keycode(keySymbols_, keysym));
  for (xcb_keycode_t* code = found.get(); code != nullptr && *code != XCB_NO_SYMBOL; ++code) {
    if (std::find(keycodes.begin(), keycodes.end(), *code) == keycodes.end()) {
      keycodes.push_back(*code);
    }
  }
  return keycodes;
}

std::uint16_t X11Connection::modifierMaskOf(xcb_keysym_t keysym) const {
  std::vector<xcb_keycode_t> keycodes = keycodesFor(keysym);
  auto mapping = owned(
      xcb_get_modifier_mapping_reply(connection_, xcb_get_modifier_mapping(connection_), nullptr));
  if (mapping == nullptr || keycodes.empty()) return 0;
  const xcb_keycode_t* table = xcb_get_modifier_mapping_keycodes(mapping.get());
  const int perModifier = mapping->keycodes_per_modifier;
  std::uint16_t mask = 0;
  for (int modifier = 0; modifier < 8; ++modifier) {
    const xcb_keycode_t* row = table + modifier * perModifier;
    bool mapped = std::any_of(row, row + perModifier, [&](xcb_keycode_t code) {
      return std::find(keycodes.begin(), keycodes.end(), code) != keycodes.end();
    });
    if (mapped) mask |= static_cast<std::uint16_t>(1U << modifier);
  }
  return mask;
}

void X11Connection::sync() const {
  std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

}  // namespace ferrytide::platform
