#include "core/support/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace ferrytide::paths {

namespace {
std::filesystem::path fromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return {};
  std::filesystem::path path(value);
  // The XDG rules ignore relative paths.
  return path.is_absolute() ? path : std::filesystem::path();
}

// One line of user-dirs.dirs: XDG_DOWNLOAD_DIR="$HOME/Downloads".
std::filesystem::path downloadDirFromUserDirs() {
  std::ifstream file(configHome() / "user-dirs.dirs");
  std::string line;
  const std::string prefix = "XDG_DOWNLOAD_DIR=\"";
  while (std::getline(file, line)) {
    if (line.rfind(prefix, 0) != 0 || line.back() != '"') continue;
    std::string value = line.substr(prefix.size(), line.size() - prefix.size() - 1);
    if (value.rfind("$HOME", 0) == 0) return homeDirectory() / value.substr(value.find('/') + 1);
    if (!value.empty() && value.front() == '/') return value;
  }
  return {};
}
}  // namespace

std::filesystem::path homeDirectory() {
  auto home = fromEnvironment("HOME");
  if (!home.empty()) return home;
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
    return entry->pw_dir;
  }
  return "/";
}

std::filesystem::path dataHome() {
  auto configured = fromEnvironment("XDG_DATA_HOME");
  return configured.empty() ? homeDirectory() / ".local" / "share" : configured;
}

std::filesystem::path configHome() {
  auto configured = fromEnvironment("XDG_CONFIG_HOME");
  return configured.empty() ? homeDirectory() / ".config" : configured;
}

std::vector<std::filesystem::path> configDirs() {
  const char* value = std::getenv("XDG_CONFIG_DIRS");
  std::vector<std::filesystem::path> folders;
  std::string list = value == nullptr ? "" : value;
  for (std::size_t start = 0; start <= list.size();) {
    std::size_t end = std::min(list.find(':', start), list.size());
    std::filesystem::path folder(list.substr(start, end - start));
    if (folder.is_absolute()) folders.push_back(folder);
    start = end + 1;
  }
  if (folders.empty()) folders.emplace_back("/etc/xdg");
  return folders;
}

std::filesystem::path cacheHome() {
  auto configured = fromEnvironment("XDG_CACHE_HOME");
  return configured.empty() ? homeDirectory() / ".cache" : configured;
}

std::filesystem::path applicationSupportDirectory() { return dataHome() / "Ferrytide"; }

std::filesystem::path downloadsDirectory() {
  auto configured = downloadDirFromUserDirs();
  return configured.empty() ? homeDirectory() / "Downloads" : configured;
}

std::filesystem::path temporaryDirectory() {
  auto configured = fromEnvironment("TMPDIR");
  return configured.empty() ? std::filesystem::path("/tmp") : configured;
}

std::filesystem::path appGroupContainer() { return dataHome() / "group.com.quenfold.ferrytide"; }

}  // namespace ferrytide::paths
