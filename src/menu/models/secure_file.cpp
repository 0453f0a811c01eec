#include "menu/models/secure_file.h"

#include "core/support/file_io.h"

namespace ferrytide::menu::SecureFile {

void write(ByteView data, const std::filesystem::path& url) {
  file_io::createDirectories(url.parent_path(), 0700);
  file_io::writeAtomically(url, data, 0600, file_io::Durability::cached);
}

}  // namespace ferrytide::menu::SecureFile
