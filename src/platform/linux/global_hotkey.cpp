#include "platform/linux/global_hotkey.h"

#include <QDBusConnection>

#include "core/support/log.h"
#include "platform/linux/hotkey_backend.h"
#include "platform/linux/portal_global_shortcuts.h"
#include "platform/linux/x11_key_grabs.h"

namespace ferrytide::platform {
namespace {

const Logger& logger() {
  static const Logger instance("hotkey");
  return instance;
}

// On Wayland the portal comes first: an X11 grab there succeeds through Xwayland but sees
// keys only while an X11 window has the focus.
std::unique_ptr<HotkeyBackend> openBackend() {
  const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
  if (wayland) {
    if (auto portal = PortalGlobalShortcuts::open(QDBusConnection::sessionBus())) return portal;
  }
  auto grabs = X11KeyGrabs::open();
  if (grabs && wayland) {
    logger().warning(
        "the desktop portal offers no global shortcuts: hot keys work only while an X11 "
        "window has the focus");
  }
  return grabs;
}

}  // namespace

GlobalHotkey::GlobalHotkey(QObject* parent) : QObject(parent) {}

GlobalHotkey::~GlobalHotkey() { unregisterAll(); }

HotkeyBackend* GlobalHotkey::backend() {
  if (backend_) return backend_.get();
  backend_ = openBackend();
  if (!backend_) {
    if (!unavailableLogged_) {
      logger().warning(
          "global shortcuts are unavailable on this desktop: no X display, and no desktop "
          "portal with global shortcuts");
      unavailableLogged_ = true;
    }
    return nullptr;
  }
  connect(backend_.get(), &HotkeyBackend::pressed, this, &GlobalHotkey::onPressed);
  return backend_.get();
}

std::optional<std::uint32_t> GlobalHotkey::registerHotkey(std::uint32_t keyCode,
                                                          std::uint32_t modifiers,
                                                          std::function<void()> onPress) {
  HotkeyBackend* keys = backend();
  if (keys == nullptr) return std::nullopt;
  const std::uint32_t id = nextId_++;
  if (!keys->add(id, keyCode, modifiers)) return std::nullopt;
  entries_[id] = Entry{id, std::move(onPress)};
  return id;
}

void GlobalHotkey::unregister(std::uint32_t id) {
  if (entries_.erase(id) == 0) return;
  backend_->remove(id);
}

void GlobalHotkey::unregisterAll() {
  for (const auto& [id, entry] : entries_) backend_->remove(id);
  entries_.clear();
}

void GlobalHotkey::onPressed(std::uint32_t id) {
  auto found = entries_.find(id);
  if (found == entries_.end()) return;
  // A copy: the action may unregister itself.
  std::function<void()> onPress = found->second.onPress;
  if (onPress) onPress();
}

}  // namespace ferrytide::platform
