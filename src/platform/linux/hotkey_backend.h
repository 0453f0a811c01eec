#pragma once

#include <QObject>
#include <cstdint>

namespace ferrytide::platform {

// What GlobalHotkey needs of the desktop: system-wide key combinations known by an identifier
// of GlobalHotkey's, and a signal when one is pressed. The combinations come in the stored
// encoding (HotkeyCombo's key codes and modifier bits).
class HotkeyBackend : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

  // False when the combination cannot be had: an unknown key, or taken by another program.
  virtual bool add(std::uint32_t id, std::uint32_t keyCode, std::uint32_t modifiers) = 0;
  // An identifier that was never added is ignored.
  virtual void remove(std::uint32_t id) = 0;

 Q_SIGNALS:
  void pressed(std::uint32_t id);
};

}  // namespace ferrytide::platform
