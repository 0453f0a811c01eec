#pragma once

// Update archives made in the test with the archive library's writer.

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace plinth::testing {

namespace fs = std::filesystem;

struct Entry {
  std::string name;
  std::string content;
  int perm = 0644;
  mode_t type = AE_IFREG;
  std::string linkTarget;
};

inline Entry file(std::string name, std::string content, int perm = 0644) {
  return {std::move(name), std::move(content), perm, AE_IFREG, ""};
}
inline Entry folder(std::string name) { return {std::move(name), "", 0755, AE_IFDIR, ""}; }
inline Entry link(std::string name, std::string target) {
  return {std::move(name), "", 0777, AE_IFLNK, std::move(target)};
}
inline Entry device(std::string name) { return {std::move(name), "", 0666, AE_IFCHR, ""}; }

enum class Format { tarGz, tarXz, zip };

inline void writeArchive(const fs::path& path, Format format, const std::vector<Entry>& entries) {
  std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(),
                                                                 &archive_write_free);
  if (format == Format::zip) {
    archive_write_set_format_zip(writer.get());
  } else {
    archive_write_set_format_pax_restricted(writer.get());
    if (format == Format::tarGz) archive_write_add_filter_gzip(writer.get());
    if (format == Format::tarXz) archive_write_add_filter_xz(writer.get());
  }
  if (archive_write_open_filename(writer.get(), path.c_str()) != ARCHIVE_OK) {
    throw std::runtime_error(archive_error_string(writer.get()));
  }
  for (const Entry& e : entries) {
    std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                        &archive_entry_free);
    archive_entry_set_pathname(entry.get(), e.name.c_str());
    archive_entry_set_filetype(entry.get(), e.type);
    archive_entry_set_perm(entry.get(), e.type == AE_IFDIR ? 0755 : e.perm);
    if (e.type == AE_IFLNK) archive_entry_set_symlink(entry.get(), e.linkTarget.c_str());
    if (e.type == AE_IFREG) archive_entry_set_size(entry.get(), e.content.size());
    if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK) {
      throw std::runtime_error(archive_error_string(writer.get()));
    }
    archive_write_data(writer.get(), e.content.data(), e.content.size());
  }
  archive_write_close(writer.get());
}

}  // namespace plinth::testing
