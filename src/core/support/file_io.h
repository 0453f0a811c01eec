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

// Whether a write waits until its bytes are on the disk. A file that only saves work (it can
// be rebuilt, as a resume starts over without it) may skip that wait, which costs a disk round
// trip per write.
enum class Durability { flushed, cached };

// Writes `bytes` to a new temporary file beside `path`, flushes it to disk (unless `cached`),
// gives it `mode`, and renames it over `path`; unless `cached`, the folder is flushed too, so
// that the new name survives a power cut. Readers see the old or the new content, never a mix.
// On failure the old file (if any) is untouched and the temporary file is removed.
void writeAtomically(const std::filesystem::path& path, ByteView bytes, mode_t mode = 0600,
                     Durability durability = Durability::flushed);

// Like writeAtomically (flushed), but never replaces: when a file already exists at `path`
// (even one that appeared while writing), nothing changes and the result is false.
bool writeAtomicallyIfAbsent(const std::filesystem::path& path, ByteView bytes, mode_t mode = 0600);

// Appends `bytes` to the end of the file at `path` in one write, creating it with `mode` when
// absent. For logs that only grow; a reader may see a partly written last line.
void append(const std::filesystem::path& path, ByteView bytes, mode_t mode = 0600);

// Flushes the folder's own entries to disk: a file's name that was created, renamed or removed
// there is then kept through a power cut. The file's content needs its own flush first. A
// folder that may be written but not read cannot be opened to be flushed, and is left as it is.
void flushFolder(const std::filesystem::path& folder);

// Creates the folder and its parents; a folder that already exists keeps its permissions.
void createDirectories(const std::filesystem::path& path, mode_t mode = 0700);

// "<path>: <system description>"
std::string describe(const std::filesystem::path& path, int errorNumber);

}  // namespace ferrytide::file_io
