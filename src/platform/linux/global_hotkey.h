#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace ferrytide::platform {

class HotkeyBackend;

// System-wide hot keys. A combination is given in the stored encoding of HotkeyCombo (key codes
// of the physical US layout, 8 = C; modifier bits command 0x100, shift 0x200, option 0x800,
// control 0x1000). On X11 the keys are grabbed on the root window; on Wayland the desktop
// portal's global shortcuts are used where the desktop offers them. Used on the main thread;
// `onPress` runs there.
class GlobalHotkey : public QObject {
  Q_OBJECT

 public:
  explicit GlobalHotkey(QObject* parent = nullptr);
  ~GlobalHotkey() override;

  // The registration's identifier, or nothing when the combination cannot be had: taken by
  // another program, already registered here, a key code with no key, or no way to listen to
  // keys system-wide on this desktop.
  std::optional<std::uint32_t> registerHotkey(std::uint32_t keyCode, std::uint32_t modifiers,
                                              std::function<void()> onPress);
  // An unknown identifier is ignored.
  void unregister(std::uint32_t id);
  void unregisterAll();

 private:
  struct Entry {
    std::uint32_t id = 0;
    std::function<void()> onPress;
  };

  // Picks the desktop's facility on first use; a later registration tries again when there is
  // none yet.
  HotkeyBackend* backend();
  void onPressed(std::uint32_t id);

  std::map<std::uint32_t, Entry> entries_;
  std::uint32_t nextId_ = 1;
  std::unique_ptr<HotkeyBackend> backend_;
  bool unavailableLogged_ = false;
};

}  // namespace ferrytide::platform
