#pragma once

#include <QDBusConnection>
#include <QString>
#include <filesystem>
#include <vector>

namespace ferrytide::platform {

// Opens files with the user's default applications and shows them in the file manager.
class DesktopLauncher {
 public:
  static constexpr const char* fileManagerService = "org.freedesktop.FileManager1";
  static constexpr const char* fileManagerPath = "/org/freedesktop/FileManager1";

  // `opener` is the program that opens a file or folder with its default application.
  explicit DesktopLauncher(QDBusConnection bus = QDBusConnection::sessionBus(),
                           QString opener = QStringLiteral("xdg-open"));

  void open(const std::filesystem::path& file) const;
  // Shows the files selected in a file-manager window; where no file manager answers on the
  // bus, their folders are opened instead.
  void reveal(const std::vector<std::filesystem::path>& files) const;

 private:
  void openFolders(const std::vector<std::filesystem::path>& files) const;

  QDBusConnection bus_;
  QString opener_;
};

}  // namespace ferrytide::platform
