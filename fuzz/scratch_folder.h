#pragma once

// A folder of this process's own for the parsers that only read files: on the memory file
// system when there is one, so that writing each input costs no disk work.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace fuzzing {

inline constexpr std::string_view scratchPrefix = "ferrytide-fuzz-";

// libFuzzer leaves with _Exit, so no run can remove its own folder: each start removes those of
// the runs that have ended.
inline void removeEndedRuns(const std::filesystem::path& base) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(base, error)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(scratchPrefix)) continue;
    const long pid = std::strtol(name.c_str() + scratchPrefix.size(), nullptr, 10);
    if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      std::filesystem::remove_all(entry.path(), error);
    }
  }
}

inline const std::filesystem::path& scratchFolder() {
  static const std::filesystem::path folder = [] {
    std::error_code error;
    std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                     ? std::filesystem::path("/dev/shm")
                                     : std::filesystem::temp_directory_path();
    removeEndedRuns(base);
    std::filesystem::path made = base / (std::string(scratchPrefix) + std::to_string(::getpid()));
    std::filesystem::create_directories(made);
    return made;
  }();
  return folder;
}

// Replaces `file` with exactly these bytes; a harness that cannot write its input stops.
inline void writeInput(const std::filesystem::path& file, const std::uint8_t* data,
                       std::size_t size) {
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) std::abort();
  while (size > 0) {
    ssize_t written = ::write(fd, data, size);
    if (written <= 0) std::abort();
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  ::close(fd);
}

// Empties `folder` (made when missing), so that no input sees what an earlier one left.
inline void emptyFolder(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::remove_all(folder, error);
  std::filesystem::create_directories(folder);
}

// Diagnostics go to stderr rather than the system log: a fuzzing run would flood it.
// `-close_fd_mask=2` then discards them while libFuzzer keeps its own output.
inline void keepLogsOutOfSyslog() { ::setenv("FERRYTIDE_LOG_STDERR", "1", 1); }

}  // namespace fuzzing
