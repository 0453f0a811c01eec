#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "core/support/error.h"

namespace ferrytide {

// The file could not be opened, examined or read: "<path>: <system description>".
class FileFingerprintError : public Error {
 public:
  static FileFingerprintError io(const std::filesystem::path& path, int errorNumber);

 private:
  using Error::Error;
};

// A short identity of a file's content, part of the in-flight journal's key: a file that
// changed gets a new transfer identifier, so the phone never resumes from stale bytes.
//
// It is the first 8 bytes of the SHA-256 of the file's first `bytes` bytes (all of it when
// shorter) followed by its modification time (nanoseconds since 1970, 8 bytes big-endian),
// as 16 lower-case hexadecimal digits. The modification time catches files rewritten beyond
// their first 64 KiB at the same size, which the leading bytes alone would not.
struct FileFingerprint {
  static constexpr std::size_t bytes = 65'536;

  // Throws FileFingerprintError.
  static std::string compute(const std::filesystem::path& path);
};

}  // namespace ferrytide
