#include "platform/linux/x11_key_grabs.h"

#include <X11/keysym.h>

#include <QMetaObject>
#include <QSocketNotifier>
#include <algorithm>
#include <cstdlib>

#include "core/support/log.h"
#include "platform/linux/key_symbols.h"

namespace ferrytide::platform {
namespace {

const Logger& logger() {
  static const Logger instance("hotkey");
  return instance;
}

constexpr std::uint16_t kModifierKeys = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_LOCK |
                                        XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_2 |
                                        XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5;

std::uint16_t xModifiers(std::uint32_t stored) {
  std::uint16_t mask = 0;
  if (stored & storedModifier::control) mask |= XCB_MOD_MASK_CONTROL;
  if (stored & storedModifier::option) mask |= XCB_MOD_MASK_1;
  if (stored & storedModifier::shift) mask |= XCB_MOD_MASK_SHIFT;
  if (stored & storedModifier::command) mask |= XCB_MOD_MASK_4;
  return mask;
}

// Every combination of the lock modifiers that are mapped, none of them included.
std::vector<std::uint16_t> combinationsOf(const std::vector<std::uint16_t>& locks) {
  std::vector<std::uint16_t> combinations{0};
  for (std::uint16_t lock : locks) {
    if (lock == 0) continue;
    std::size_t count = combinations.size();
    for (std::size_t i = 0; i < count; ++i) {
      auto combined = static_cast<std::uint16_t>(combinations[i] | lock);
      if (std::find(combinations.begin(), combinations.end(), combined) == combinations.end()) {
        combinations.push_back(combined);
      }
    }
  }
  return combinations;
}

}  // namespace

std::unique_ptr<X11KeyGrabs> X11KeyGrabs::open(const char* display) {
  std::unique_ptr<X11Connection> connection = X11Connection::open(display);
  if (connection == nullptr) return nullptr;
  return std::unique_ptr<X11KeyGrabs>(new X11KeyGrabs(std::move(connection)));
}

X11KeyGrabs::X11KeyGrabs(std::unique_ptr<X11Connection> connection)
    : connection_(std::move(connection)) {
  std::uint16_t numLock = connection_->modifierMaskOf(XK_Num_Lock);
  std::uint16_t scrollLock = connection_->modifierMaskOf(XK_Scroll_Lock);
  lockCombinations_ = combinationsOf({XCB_MOD_MASK_LOCK, numLock, scrollLock});
  lockMask_ = XCB_MOD_MASK_LOCK | numLock | scrollLock;
  notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection_->get()),
                                                QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &X11KeyGrabs::processEvents);
}

X11KeyGrabs::~X11KeyGrabs() {
  notifier_.reset();
  for (const auto& [id, grab] : grabs_) ungrab(grab);
}

bool X11KeyGrabs::add(std::uint32_t id, std::uint32_t keyCode, std::uint32_t modifiers) {
  std::optional<KeySymbol> symbol = keySymbolForStoredCode(keyCode);
  if (!symbol) return false;
  Grab wanted{connection_->keycodesFor(symbol->keysym), xModifiers(modifiers)};
  if (wanted.keycodes.empty()) return false;
  // The server lets a client grab what it holds already; a second registration of the same
  // combination must fail all the same, or removing one would silence the other.
  for (const auto& [otherId, held] : grabs_) {
    if (held == wanted) return false;
  }
  if (!grab(wanted)) return false;
  grabs_[id] = std::move(wanted);
  return true;
}

void X11KeyGrabs::remove(std::uint32_t id) {
  auto found = grabs_.find(id);
  if (found == grabs_.end()) return;
  ungrab(found->second);
  grabs_.erase(found);
}

bool X11KeyGrabs::grab(const Grab& wanted) {
  xcb_connection_t* c = connection_->get();
  std::vector<xcb_void_cookie_t> cookies;
  for (xcb_keycode_t keycode : wanted.keycodes) {
    for (std::uint16_t locks : lockCombinations_) {
      cookies.push_back(xcb_grab_key_checked(c, 1, connection_->root(), wanted.modifiers | locks,
                                             keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
  }
  bool refused = false;
  for (xcb_void_cookie_t cookie : cookies) {
    if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
      refused = true;
      std::free(error);
    }
  }
  // Releasing a grab that another client holds does not touch it, so all of them can go.
  if (refused) ungrab(wanted);
  scheduleEventCheck();
  return !refused;
}

void X11KeyGrabs::ungrab(const Grab& held) {
  for (xcb_keycode_t keycode : held.keycodes) {
    for (std::uint16_t locks : lockCombinations_) {
      xcb_ungrab_key(connection_->get(), keycode, connection_->root(), held.modifiers | locks);
    }
  }
  connection_->sync();
  scheduleEventCheck();
}

void X11KeyGrabs::scheduleEventCheck() {
  QMetaObject::invokeMethod(this, &X11KeyGrabs::processEvents, Qt::QueuedConnection);
}

void X11KeyGrabs::processEvents() {
  while (xcb_generic_event_t* event = xcb_poll_for_event(connection_->get())) {
    if ((event->response_type & 0x7f) == XCB_KEY_PRESS) {
      onKeyPress(*reinterpret_cast<xcb_key_press_event_t*>(event));
    }
    std::free(event);
  }
  if (connection_->broken() && notifier_ && notifier_->isEnabled()) {
    notifier_->setEnabled(false);
    logger().error("the connection to the X server is lost: hot keys no longer work");
  }
}

void X11KeyGrabs::onKeyPress(const xcb_key_press_event_t& press) {
  const auto modifiers = static_cast<std::uint16_t>(press.state & kModifierKeys & ~lockMask_);
  std::vector<std::uint32_t> matching;
  for (const auto& [id, held] : grabs_) {
    bool sameKey =
        std::find(held.keycodes.begin(), held.keycodes.end(), press.detail) != held.keycodes.end();
    if (sameKey && held.modifiers == modifiers) matching.push_back(id);
  }
  for (std::uint32_t id : matching) Q_EMIT pressed(id);
}

}  // namespace ferrytide::platform
