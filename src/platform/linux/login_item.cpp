#include "platform/linux/login_item.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "core/support/file_io.h"
#include "core/support/paths.h"

namespace ferrytide::platform {
namespace {

std::filesystem::path configHome() {
  const char* configured = std::getenv("XDG_CONFIG_HOME");
  // The base directory specification ignores a relative value.
  if (configured != nullptr && configured[0] == '/') return configured;
  return paths::homeDirectory() / ".config";
}

// An Exec argument: quoted when it holds a reserved character, with the characters that stay
// special inside quotes escaped.
QString quotedArgument(const QString& argument) {
  static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
  bool needsQuotes = std::any_of(argument.begin(), argument.end(),
                                 [](QChar c) { return reserved.contains(c); });
  if (!needsQuotes) return argument;
  QString quoted = QStringLiteral("\"");
  for (QChar c : argument) {
    if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') quoted += u'\\';
    quoted += c;
  }
  return quoted + u'"';
}

// The Exec value: backslashes and line breaks escaped as in every string value, and percent
// signs doubled since one would start a field code.
QString execValue(const QString& value) {
  QString escaped;
  for (QChar c : value) {
    if (c == u'\\') escaped += QStringLiteral("\\\\");
    else if (c == u'\n') escaped += QStringLiteral("\\n");
    else if (c == u'%') escaped += QStringLiteral("%%");
    else escaped += c;
  }
  return escaped;
}

bool skipped(const std::string& text) {
  for (const char* marker : {"\nHidden=true", "\nX-GNOME-Autostart-enabled=false"}) {
    if (text.find(marker) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

std::filesystem::path LoginItem::entryPath() { return configHome() / "autostart" / entryName; }

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
                     .arg(execValue(quotedArgument(program)));
  return text.toStdString();
}

}  // namespace ferrytide::platform
