#pragma once

#include <QObject>

#include "menu/services/approval_prompt.h"
#include "platform/linux/desktop_notifications.h"

namespace ferrytide::menu {

// The question as a notification with "Decline" and "Accept", for when no window can be
// shown. A notice the user dismisses, or one that cannot be shown at all, declines.
class NotificationApprovalPrompt : public QObject, public ApprovalPrompt {
  Q_OBJECT

 public:
  static constexpr const char* noticeKey = "ferrytide.approval";
  static constexpr const char* acceptAction = "accept";
  static constexpr const char* declineAction = "decline";

  explicit NotificationApprovalPrompt(platform::DesktopNotifications& notices,
                                      QObject* parent = nullptr);

  void show(const Question& question, std::function<void(bool)> answer) override;
  void hide() override;

 private:
  void answer(bool accepted);

  platform::DesktopNotifications& notices_;
  std::function<void(bool)> answer_;
};

}  // namespace ferrytide::menu
