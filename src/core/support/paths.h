#pragma once

// Where this system keeps things on a Linux desktop. Every folder honours the XDG variables,
// so that tests (and users) can point them elsewhere; components take their folder as a
// parameter and use these only as defaults.

#include <filesystem>
#include <vector>

namespace ferrytide::paths {

// $XDG_DATA_HOME, else ~/.local/share.
std::filesystem::path dataHome();
// $XDG_CONFIG_HOME, else ~/.config.
std::filesystem::path configHome();
// The absolute folders of $XDG_CONFIG_DIRS, else /etc/xdg: where system-wide defaults live.
std::vector<std::filesystem::path> configDirs();
// $XDG_CACHE_HOME, else ~/.cache.
std::filesystem::path cacheHome();
// <dataHome>/Ferrytide: the key, the peer file, the journal and the other state files.
std::filesystem::path applicationSupportDirectory();
// The XDG user folder DOWNLOAD from user-dirs.dirs, else ~/Downloads.
std::filesystem::path downloadsDirectory();
// $TMPDIR, else /tmp.
std::filesystem::path temporaryDirectory();
// <dataHome>/group.com.quenfold.ferrytide: the folder shared with the share integration.
std::filesystem::path appGroupContainer();

// $HOME, else the password database's home folder.
std::filesystem::path homeDirectory();

}  // namespace ferrytide::paths
