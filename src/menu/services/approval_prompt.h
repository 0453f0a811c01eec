#pragma once

#include <QString>
#include <functional>
#include <optional>

namespace ferrytide::menu {

// Where the question "accept this file?" is put to the user: a notification with two actions
// when no window can be shown, the tray application's panel otherwise.
class ApprovalPrompt {
 public:
  struct Question {
    QString peerName;
    QString fileName;
    // Absent for an empty file.
    std::optional<QString> sizeText;
  };

  virtual ~ApprovalPrompt() = default;

  // Shows the question; `answer` is called with the user's choice, at most once and on the
  // main thread. A prompt that can no longer be answered (dismissed, never shown) answers no.
  virtual void show(const Question& question, std::function<void(bool)> answer) = 0;
  // Takes the question off the screen; a pending answer is no longer wanted.
  virtual void hide() = 0;
};

}  // namespace ferrytide::menu
