#include "platform/linux/desktop_launcher.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QProcess>
#include <QUrl>
#include <set>

#include "core/support/log.h"

namespace ferrytide::platform {
namespace {

const Logger kLog("launcher");

QString localPath(const std::filesystem::path& path) {
  return QString::fromStdString(path.string());
}

}  // namespace

DesktopLauncher::DesktopLauncher(QDBusConnection bus, QString opener)
    : bus_(std::move(bus)), opener_(std::move(opener)) {}

void DesktopLauncher::open(const std::filesystem::path& file) const {
  if (!QProcess::startDetached(opener_, {localPath(file)})) {
    kLog.error("could not start " + opener_.toStdString() + " for " + file.string());
  }
}

void DesktopLauncher::reveal(const std::vector<std::filesystem::path>& files) const {
  if (files.empty()) return;
  if (!bus_.isConnected()) {
    openFolders(files);
    return;
  }
  QStringList uris;
  for (const std::filesystem::path& file : files) {
    uris << QUrl::fromLocalFile(localPath(file)).toString(QUrl::FullyEncoded);
  }
  QString service = QString::fromLatin1(fileManagerService);
  QDBusMessage call = QDBusMessage::createMethodCall(service, QString::fromLatin1(fileManagerPath),
                                                     service, QStringLiteral("ShowItems"));
  call << uris << QString();
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call));
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                   [launcher = *this, files](QDBusPendingCallWatcher* finished) {
                     QDBusPendingReply<> reply = *finished;
                     finished->deleteLater();
                     if (reply.isError()) launcher.openFolders(files);
                   });
}

void DesktopLauncher::openFolders(const std::vector<std::filesystem::path>& files) const {
  std::set<std::filesystem::path> folders;
  for (const std::filesystem::path& file : files) folders.insert(file.parent_path());
  for (const std::filesystem::path& folder : folders) open(folder);
}

}  // namespace ferrytide::platform
