#include "menu/services/notifier.h"

#include <QMimeDatabase>
#include <QRegularExpression>
#include <QUuid>
#include <algorithm>
#include <array>
#include <system_error>

#include "menu/models/format.h"

namespace ferrytide::menu {
namespace {

const QString kFilesReceived = QStringLiteral("files.received");
const QString kTextReceived = QStringLiteral("text.received");
const QString kAppCrashed = QStringLiteral("app.crashed");
const QString kSendFailed = QStringLiteral("send.failed");
const QString kOpen = QStringLiteral("open");
const QString kRetry = QStringLiteral("retry");
const QString kDefault = QString::fromLatin1(platform::DesktopNotifications::defaultAction);

QString newKey(const char* prefix) {
  return QString::fromLatin1(prefix) + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString fileName(const std::filesystem::path& file) {
  return QString::fromStdString(file.filename().string());
}

QMimeType typeByName(const std::filesystem::path& file) {
  static const QMimeDatabase database;
  return database.mimeTypeForFile(QString::fromStdString(file.string()),
                                  QMimeDatabase::MatchExtension);
}

bool isKind(const QMimeType& type, const char* group) {
  return !type.isDefault() && type.name().startsWith(QString::fromLatin1(group));
}

// Types that run something when opened, even those that are text underneath.
bool runsSomething(const QMimeType& type) {
  static const std::array<const char*, 6> kRunnable = {"text/html",
                                                       "application/x-desktop",
                                                       "application/x-executable",
                                                       "application/x-shellscript",
                                                       "application/x-ms-dos-executable",
                                                       "application/x-sharedlib"};
  QStringList names = type.allAncestors();
  names.prepend(type.name());
  for (const QString& name : names) {
    if (name.contains(u"script")) return true;
    for (const char* runnable : kRunnable) {
      if (name == QString::fromLatin1(runnable)) return true;
    }
  }
  return false;
}

bool isExecutable(const std::filesystem::path& file) {
  std::error_code error;
  std::filesystem::perms perms = std::filesystem::status(file, error).permissions();
  if (error) return false;
  using std::filesystem::perms;
  return (perms & (perms::owner_exec | perms::group_exec | perms::others_exec)) != perms::none;
}

QString firstNonEmptyLine(const QString& text) {
  static const QRegularExpression kLineBreaks(
      QStringLiteral("[\\n\\v\\f\\r\\x{0085}\\x{2028}\\x{2029}]"));
  for (const QString& line : text.split(kLineBreaks)) {
    if (!line.trimmed().isEmpty()) return line;
  }
  return {};
}

}  // namespace

Notifier::Notifier(Preferences& prefs, platform::DesktopNotifications& notices,
                   platform::DesktopLauncher launcher, Clock clock, QObject* parent)
    : QObject(parent),
      prefs_(prefs),
      notices_(notices),
      launcher_(std::move(launcher)),
      clock_(std::move(clock)) {
  connect(&notices_, &platform::DesktopNotifications::actionInvoked, this, &Notifier::onAction);
  connect(&notices_, &platform::DesktopNotifications::closed, this, [this](const QString& key) {
    shown_.erase(key);
    if (retries_.erase(key) > 0) std::erase(retryOrder_, key);
  });
}

void Notifier::message(const QString& title, const QString& body) {
  post(newKey("ferrytide.msg."), {}, title, body, {});
}

void Notifier::fileReceived(const std::filesystem::path& file, std::int64_t bytes,
                            const QString& from) {
  if (noteStep) noteStep(QStringLiteral("Received a file"));
  if (!prefs_.notifyOnReceive()) return;
  QDateTime now = clock_();
  if (batch_ && batch_->peerName == from && batch_->last.msecsTo(now) < batchWindowMs) {
    batch_->files.push_back(file);
    batch_->bytes += bytes;
    batch_->last = now;
  } else {
    batch_ = Batch{newKey("ferrytide.files."), from, {file}, bytes, now};
  }
  QString body = fileName(batch_->files.front());
  if (batch_->files.size() > 1) {
    body += QStringLiteral(" and %1 more · ").arg(batch_->files.size() - 1);
  } else {
    body += QStringLiteral(" · ");
  }
  body += Format::byteCount(batch_->bytes);
  shown_[batch_->key] = Shown{kFilesReceived, batch_->files};
  post(batch_->key, kFilesReceived, filesTitle(batch_->files, from), body,
       {kDefault, QStringLiteral("Show in Folder"), kOpen, QStringLiteral("Open")});
}

void Notifier::textReceived(const QString& text, const QString& from, bool copied) {
  if (noteStep) noteStep(QStringLiteral("Received text"));
  if (!prefs_.notifyOnReceive()) return;
  QString title = (copied ? QStringLiteral("Copied from ") : QStringLiteral("Text from ")) + from;
  QString line = firstNonEmptyLine(text);
  QString head = Format::prefix(line, 80);
  if (head != line) head += QStringLiteral("…");
  QString body = head + (copied ? QStringLiteral("\nOn your clipboard. Press Ctrl+V to paste.")
                                : QStringLiteral("\nSaved in Clips."));
  QString key = newKey("ferrytide.text.");
  shown_[key] = Shown{kTextReceived, {}};
  post(key, kTextReceived, title, body, {kDefault, QStringLiteral("Show in Clips")});
}

void Notifier::sendFailed(const QString& to, std::function<void()> retry) {
  if (recordError) recordError(QStringLiteral("A send to a paired phone failed"));
  QString key = newKey("ferrytide.failed.");
  QString title = QStringLiteral("Couldn't reach ") + to;
  QString body = QStringLiteral("Check that it's on the same Wi-Fi, then try again.");
  if (!retry) {
    post(key, {}, title, body, {});
    return;
  }
  shown_[key] = Shown{kSendFailed, {}};
  retries_[key] = std::move(retry);
  retryOrder_.push_back(key);
  if (retryOrder_.size() > maxRetries) {
    retries_.erase(retryOrder_.front());
    retryOrder_.pop_front();
  }
  QString tryAgain = QStringLiteral("Try Again");
  post(key, kSendFailed, title, body, {kDefault, tryAgain, kRetry, tryAgain});
}

void Notifier::crashFound() {
  QString key = QStringLiteral("ferrytide.crashed");
  shown_[key] = Shown{kAppCrashed, {}};
  post(key, kAppCrashed, QStringLiteral("Ferrytide quit unexpectedly"),
       QStringLiteral("Click to tell us about it. Nothing is sent until you choose to."),
       {kDefault, QStringLiteral("Report")}, false);
}

void Notifier::post(const QString& key, const QString& category, const QString& title,
                    const QString& body, const QStringList& actions, bool sound) {
  QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("ferrytide")}};
  if (!category.isEmpty()) hints.insert(QStringLiteral("category"), category);
  if (sound && prefs_.playSound()) {
    hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
  } else {
    hints.insert(QStringLiteral("suppress-sound"), true);
  }
  notices_.post(key, {title, body, actions, hints});
}

void Notifier::onAction(const QString& key, const QString& action) {
  auto found = shown_.find(key);
  if (found == shown_.end()) return;
  const Shown& shown = found->second;
  if (shown.category == kFilesReceived) {
    openFiles(shown, action);
  } else if (shown.category == kTextReceived) {
    if (action == kDefault && onShowClips) onShowClips();
  } else if (shown.category == kAppCrashed) {
    if (action == kDefault && onShowReport) onShowReport();
  } else if (shown.category == kSendFailed) {
    if (action == kDefault || action == kRetry) runRetry(key);
  }
}

void Notifier::openFiles(const Shown& shown, const QString& action) const {
  std::vector<std::filesystem::path> existing;
  std::error_code error;
  for (const std::filesystem::path& file : shown.files) {
    if (std::filesystem::exists(file, error)) existing.push_back(file);
  }
  if (existing.empty()) return;
  if (action == kDefault) {
    launcher_.reveal(existing);
    return;
  }
  if (action != kOpen) return;
  std::vector<std::filesystem::path> toReveal;
  for (const std::filesystem::path& file : existing) {
    if (isSafeToOpen(file)) {
      launcher_.open(file);
    } else {
      toReveal.push_back(file);
    }
  }
  launcher_.reveal(toReveal);
}

// Each retry runs at most once.
void Notifier::runRetry(const QString& key) {
  auto found = retries_.find(key);
  if (found == retries_.end()) return;
  std::function<void()> retry = std::move(found->second);
  retries_.erase(found);
  std::erase(retryOrder_, key);
  retry();
}

QString Notifier::filesTitle(const std::vector<std::filesystem::path>& files,
                             const QString& peerName) {
  if (files.size() == 1) return fileName(files.front()) + QStringLiteral(" from ") + peerName;
  auto all = [&](const char* group) {
    return std::all_of(files.begin(), files.end(), [&](const std::filesystem::path& file) {
      return isKind(typeByName(file), group);
    });
  };
  QString kind = all("image/")   ? QStringLiteral("photos")
                 : all("video/") ? QStringLiteral("videos")
                                 : QStringLiteral("files");
  return QStringLiteral("%1 %2 from %3").arg(files.size()).arg(kind, peerName);
}

bool Notifier::isSafeToOpen(const std::filesystem::path& file) {
  if (isExecutable(file)) return false;
  QMimeType type = typeByName(file);
  if (type.isDefault() || runsSomething(type)) return false;
  return isKind(type, "image/") || isKind(type, "video/") || isKind(type, "audio/") ||
         type.name() == u"application/pdf" || type.inherits(QStringLiteral("text/plain"));
}

}  // namespace ferrytide::menu
