#pragma once

#include <chrono>

namespace ferrytide::platform {

// Copies the current selection of the focused application by pressing Ctrl+C for the user,
// through the X server's XTest extension.
class KeyboardSimulator {
 public:
  // How long the focused application is given to copy after the keys were sent.
  static constexpr std::chrono::milliseconds copyTime{80};
  // How long the user may take to let go of the hot key before the copy is sent regardless.
  static constexpr std::chrono::milliseconds releaseTime{1000};

  // Whether key events can be sent: an X server with the XTest extension answers.
  static bool trusted();

  // Sends Ctrl+C to the focused window and waits copyTime; false, with nothing sent, when not
  // trusted. A hot key that triggered this is usually still held; its keys would mix into
  // the copy (Ctrl+Alt+C instead of Ctrl+C) and hit the hot key again, so the keys are sent
  // once the user holds nothing but Ctrl, or after `waitForRelease`.
  static bool synthesizeCopy(std::chrono::milliseconds waitForRelease = releaseTime);
};

}  // namespace ferrytide::platform
