#pragma once

#include <QString>
#include <filesystem>

#include "core/support/error.h"

namespace ferrytide::platform {

class LoginItemError : public Error {
 public:
  using Error::Error;
};

// Starting the application when the user logs in, through the XDG autostart entry
// $XDG_CONFIG_HOME/autostart/ferrytide.desktop (default ~/.config/autostart).
class LoginItem {
 public:
  static constexpr const char* entryName = "ferrytide.desktop";

  static std::filesystem::path entryPath();
  // The entry exists and the desktop has not been told to skip it.
  static bool isEnabled();
  // Writes the entry (atomically) starting `program`, or removes it. Throws LoginItemError with
  // the system's reason when the folder or the file cannot be written or removed.
  static void setEnabled(bool enabled);
  static void setEnabled(bool enabled, const QString& program);

  // The entry's text for `program`, its Exec line quoted as desktop entries require.
  static std::string entryText(const QString& program);
};

}  // namespace ferrytide::platform
