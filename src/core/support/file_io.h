#pragma once

// Whole-file reads and atomic whole-file writes. Errors carry the system's description.

#include <filesystem>
#include <optional>
#include <string>

#include "core/support/bytes.h"
#include "core/support/error.h"

namespace ferrytide::file_io {

class FileError : public Error {
 public:
  using Error::Error;
};

// Nothing when no file exists at `path`; throws FileError when one exists but cannot be read.
std::optional<Bytes> readIfExists(const std::filesystem::path& path);

// Writes `bytes` to a new temporary file beside `path`, flushes it to disk, gives it `mode`,
// and renames it over `path`. On failure the old file (if any) is untouched and the temporary
// file is removed.
void writeAtomically(const std::filesystem::path& path, ByteView bytes, mode_t mode = 0600);

// Like writeAtomically, but never replaces: when a file already exists at `path` (even one
// that appeared while writing), nothing changes and the result is false.
bool writeAtomicallyIfAbsent(const std::filesystem::path& path, ByteView bytes, mode_t mode = 0600);

// Creates the folder and its parents; a folder that already exists keeps its permissions.
void createDirectories(const std::filesystem::path& path, mode_t mode = 0700);

// "<path>: <system description>"
std::string describe(const std::filesystem::path& path, int errorNumber);

}  // namespace ferrytide::file_io
