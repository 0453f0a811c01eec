#pragma once

#include <filesystem>

#include "core/support/bytes.h"

namespace ferrytide::menu::SecureFile {

// Writes a private file whole: its folder is made owner-only (0700) when missing, the content
// goes to a temporary file (0600) beside it that then replaces the old one in one step, so a
// reader sees the old list or the new one. The lists written this way can be rebuilt, so the
// write does not wait for the disk. Throws file_io::FileError.
void write(ByteView data, const std::filesystem::path& url);

}  // namespace ferrytide::menu::SecureFile
