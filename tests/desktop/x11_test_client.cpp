#include "desktop/x11_test_client.h"

#include <cstdlib>

namespace ferrytide::testing {

X11TestClient::X11TestClient() {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(connection)) {
    xcb_disconnect(connection);
    return;
  }
  connection_ = connection;
  root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
  symbols_ = xcb_key_symbols_alloc(connection_);
}

X11TestClient::~X11TestClient() {
  if (connection_ == nullptr) return;
  xcb_key_symbols_free(symbols_);
  xcb_disconnect(connection_);
}

xcb_keycode_t X11TestClient::keycode(xcb_keysym_t keysym) const {
  xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, keysym);
  xcb_keycode_t first = codes != nullptr ? codes[0] : XCB_NO_SYMBOL;
  std::free(codes);
  return first;
}

bool X11TestClient::grab(xcb_keysym_t keysym, std::uint16_t modifiers) {
  xcb_void_cookie_t cookie = xcb_grab_key_checked(connection_, 1, root_, modifiers, keycode(keysym),
                                                  XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
  xcb_generic_error_t* error = xcb_request_check(connection_, cookie);
  bool granted = error == nullptr;
  std::free(error);
  return granted;
}

void X11TestClient::ungrab(xcb_keysym_t keysym, std::uint16_t modifiers) {
  std::free(xcb_request_check(
      connection_, xcb_ungrab_key_checked(connection_, keycode(keysym), root_, modifiers)));
}

std::optional<std::uint16_t> X11TestClient::takeKeyPress(xcb_keysym_t keysym) {
  std::optional<std::uint16_t> state;
  while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
    auto* press = reinterpret_cast<xcb_key_press_event_t*>(event);
    if ((event->response_type & 0x7f) == XCB_KEY_PRESS && press->detail == keycode(keysym)) {
      state = press->state;
    }
    std::free(event);
    if (state) break;
  }
  return state;
}

std::uint16_t X11TestClient::modifierState() {
  xcb_query_pointer_reply_t* pointer =
      xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), nullptr);
  std::uint16_t state = pointer != nullptr ? pointer->mask : 0;
  std::free(pointer);
  return state & 0xff;
}

}  // namespace ferrytide::testing
