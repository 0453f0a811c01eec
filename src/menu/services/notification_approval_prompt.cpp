#include "menu/services/notification_approval_prompt.h"

namespace ferrytide::menu {
namespace {

constexpr int kLongestFileName = 60;

QString key() { return QString::fromLatin1(NotificationApprovalPrompt::noticeKey); }

// "IMG_2024…_0042.jpg": the start and the extension are what tell files apart.
QString middleTruncated(const QString& name) {
  if (name.size() <= kLongestFileName) return name;
  int keep = (kLongestFileName - 1) / 2;
  return name.left(keep) + QChar(0x2026) + name.right(kLongestFileName - 1 - keep);
}

}  // namespace

NotificationApprovalPrompt::NotificationApprovalPrompt(platform::DesktopNotifications& notices,
                                                       QObject* parent)
    : QObject(parent), notices_(notices) {
  connect(&notices_, &platform::DesktopNotifications::actionInvoked, this,
          [this](const QString& posted, const QString& action) {
            if (posted != key()) return;
            if (action == QLatin1String(acceptAction)) answer(true);
            if (action == QLatin1String(declineAction)) answer(false);
          });
  connect(&notices_, &platform::DesktopNotifications::closed, this,
          [this](const QString& posted) {
            if (posted == key()) answer(false);
          });
}

void NotificationApprovalPrompt::show(const Question& question,
                                      std::function<void(bool)> answer) {
  answer_ = std::move(answer);
  QString body = middleTruncated(question.fileName);
  if (question.sizeText) body += QLatin1Char('\n') + *question.sizeText;
  platform::DesktopNotifications::Notice notice{
      .summary = question.peerName + QStringLiteral(" wants to send"),
      .body = body,
      .actions = {QLatin1String(declineAction), QStringLiteral("Decline"),
                  QLatin1String(acceptAction), QStringLiteral("Accept")},
      .hints = {{QStringLiteral("desktop-entry"), QStringLiteral("ferrytide")},
                {QStringLiteral("category"), QStringLiteral("transfer")},
                {QStringLiteral("urgency"), QVariant::fromValue(uchar(2))},
                {QStringLiteral("resident"), true},
                {QStringLiteral("sound-name"), QStringLiteral("dialog-question")}},
      // It stays until answered; the ask window takes it away.
      .expireTimeoutMs = 0};
  notices_.post(key(), notice);
}

void NotificationApprovalPrompt::hide() {
  answer_ = nullptr;
  notices_.close(key());
}

void NotificationApprovalPrompt::answer(bool accepted) {
  if (!answer_) return;
  std::function<void(bool)> answer = std::move(answer_);
  answer_ = nullptr;
  answer(accepted);
}

}  // namespace ferrytide::menu
