#include "platform/linux/login_item.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "core/support/file_io.h"
#include "core/support/paths.h"
#include "platform/linux/desktop_files/desktop_entry.h"

namespace ferrytide::platform {
namespace {

bool skipped(const std::string& text) {
  for (const char* marker : {"\nHidden=true", "\nX-GNOME-Autostart-enabled=false"}) {
    if (text.find(marker) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

std::filesystem::path LoginItem::entryPath() { return paths::configHome() / "autostart" / entryName; }

bool LoginItem::isEnabled() {
  try {
    std::optional<Bytes> content = file_io::readIfExists(entryPath());
    return content && !skipped("\n" + toString(*content));
  } catch (const file_io::FileError&) {
    return false;
  }
}

void LoginItem::setEnabled(bool enabled) {
  setEnabled(enabled, QCoreApplication::applicationFilePath());
}

void LoginItem::setEnabled(bool enabled, const QString& program) {
  std::filesystem::path entry = entryPath();
  if (!enabled) {
    std::error_code error;
    std::filesystem::remove(entry, error);
    if (error) throw LoginItemError(entry.string() + ": " + error.message());
    return;
  }
  try {
    file_io::createDirectories(entry.parent_path());
    std::string text = entryText(program);
    file_io::writeAtomically(entry, asBytes(text), 0644);
  } catch (const file_io::FileError& error) {
    throw LoginItemError(error.what());
  }
}

std::string LoginItem::entryText(const QString& program) {
  QString text = QStringLiteral(
                     "[Desktop Entry]\n"
                     "Type=Application\n"
                     "Name=Ferrytide\n"
                     "Comment=Send files and text between this computer and your phone\n"
                     "Exec=%1\n"
                     "Icon=ferrytide\n"
                     "Terminal=false\n"
                     "X-GNOME-Autostart-enabled=true\n")
                     .arg(QString::fromStdString(desktop_entry::execValue({program.toStdString()})));
  return text.toStdString();
}

}  // namespace ferrytide::platform
