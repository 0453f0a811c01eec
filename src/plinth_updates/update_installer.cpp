#include "plinth_updates/update_installer.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <system_error>

#include "core/support/base64.h"
#include "core/support/crypto.h"
#include "core/support/file_io.h"

namespace plinth {

namespace fs = std::filesystem;
using ferrytide::ByteView;
using ferrytide::file_io::describe;

// ---- UpdateInstallError

UpdateInstallError UpdateInstallError::lengthMismatch(std::uint64_t actual,
                                                      std::uint64_t announced) {
  return {Kind::lengthMismatch, "the update is " + std::to_string(actual) +
                                    " bytes, the feed says " + std::to_string(announced)};
}
UpdateInstallError UpdateInstallError::signatureMissing() {
  return {Kind::signatureMissing, "the update has no signature"};
}
UpdateInstallError UpdateInstallError::signatureInvalid() {
  return {Kind::signatureInvalid, "the update's signature does not match"};
}
UpdateInstallError UpdateInstallError::archiveUnreadable(const std::string& reason) {
  return {Kind::archiveUnreadable, "the update archive cannot be read: " + reason};
}
UpdateInstallError UpdateInstallError::notAnInstall() {
  return {Kind::notAnInstall, "the update archive does not hold Ferrytide"};
}
UpdateInstallError UpdateInstallError::cannotWrite(const std::string& reason) {
  return {Kind::cannotWrite, "cannot install the update: " + reason};
}

namespace {

constexpr const char* kMarkerName = "ferrytide.portable";
constexpr const char* kBinName = "bin";
constexpr const char* kProgramName = "ferrytide";

// ---- Reading the whole download without copying it

class MappedFile {
 public:
  explicit MappedFile(const fs::path& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw unreadable(errno);
    struct stat status {};
    int errorNumber = ::fstat(fd_, &status) != 0 ? errno : S_ISREG(status.st_mode) ? 0 : EINVAL;
    if (errorNumber != 0) {
      ::close(fd_);
      throw unreadable(errorNumber);
    }
    size_ = static_cast<std::uint64_t>(status.st_size);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile() {
    if (data_ != MAP_FAILED) ::munmap(data_, size_);
    ::close(fd_);
  }

  std::uint64_t size() const { return size_; }

  // The size checked above is the size mapped: the same open file is read throughout.
  ByteView bytes() {
    if (size_ == 0) return {};
    if (data_ == MAP_FAILED) {
      data_ = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd_, 0);
      if (data_ == MAP_FAILED) throw unreadable(errno);
    }
    return {static_cast<const std::uint8_t*>(data_), size_};
  }

 private:
  UpdateInstallError unreadable(int errorNumber) const {
    return UpdateInstallError::archiveUnreadable(describe(path_, errorNumber));
  }

  fs::path path_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
  void* data_ = MAP_FAILED;
};

std::optional<ferrytide::crypto::Ed25519PublicKey> publicKeyFrom(std::string_view base64) {
  std::optional<ferrytide::Bytes> raw = ferrytide::base64::decode(base64);
  if (!raw) return std::nullopt;
  try {
    return ferrytide::crypto::Ed25519PublicKey::fromRaw(*raw);
  } catch (const ferrytide::crypto::CryptoError&) {
    return std::nullopt;  // an unusable key verifies nothing; the caller refuses the update
  }
}

// ---- Unpacking

struct ReaderDeleter {
  void operator()(archive* reader) const { archive_read_free(reader); }
};
struct WriterDeleter {
  void operator()(archive* writer) const { archive_write_free(writer); }
};
using Reader = std::unique_ptr<archive, ReaderDeleter>;
using Writer = std::unique_ptr<archive, WriterDeleter>;

std::string reasonOf(archive* handle) {
  const char* text = archive_error_string(handle);
  return text != nullptr ? text : "unknown error";
}

// The writer refuses unsafe paths with a library error of its own; a positive number is the
// system's (no space, no permission), which is ours to report, not the archive's.
UpdateInstallError writeFailure(archive* writer, const std::string& entry) {
  std::string reason = entry.empty() ? reasonOf(writer) : entry + ": " + reasonOf(writer);
  if (archive_errno(writer) > 0) return UpdateInstallError::cannotWrite(reason);
  return UpdateInstallError::archiveUnreadable(reason);
}

Reader openArchive(const fs::path& path) {
  Reader reader(archive_read_new());
  if (!reader) throw UpdateInstallError::archiveUnreadable("out of memory");
  archive_read_support_format_tar(reader.get());
  archive_read_support_format_zip(reader.get());
  archive_read_support_filter_gzip(reader.get());
  archive_read_support_filter_xz(reader.get());
  if (archive_read_open_filename(reader.get(), path.c_str(), 64 * 1024) != ARCHIVE_OK) {
    throw UpdateInstallError::archiveUnreadable(reasonOf(reader.get()));
  }
  return reader;
}

Writer openDiskWriter() {
  Writer writer(archive_write_disk_new());
  if (!writer) throw UpdateInstallError::archiveUnreadable("out of memory");
  // Entries are written under an absolute folder of ours (see placeUnder), so absolute names
  // are refused there rather than with the library's flag for them.
  archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                   ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                   ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME);
  return writer;
}

// Only files, folders and symbolic links: no devices, pipes or sockets, and no hard links, whose
// targets the library would look up from the working folder rather than ours (see placeUnder).
void checkEntryType(archive_entry* entry, const std::string& name) {
  mode_t type = archive_entry_filetype(entry);
  bool plain = type == AE_IFREG || type == AE_IFDIR || type == AE_IFLNK;
  if (!plain || archive_entry_hardlink(entry) != nullptr) {
    throw UpdateInstallError::archiveUnreadable(name + ": not a file, folder or symbolic link");
  }
}

// The library writes paths relative to the process's working folder, which is shared by every
// thread and so is not changed here: each name is checked, then placed under `folder`, whose
// path holds no symbolic link (so the check for links on the way still applies in full).
void placeUnder(const fs::path& folder, archive_entry* entry, const std::string& name) {
  if (name.empty()) throw UpdateInstallError::archiveUnreadable("an entry has no name");
  fs::path relative(name);
  if (relative.is_absolute()) {
    throw UpdateInstallError::archiveUnreadable(name + ": the path is absolute");
  }
  for (const fs::path& part : relative) {
    if (part == "..")
      throw UpdateInstallError::archiveUnreadable(name + ": the path contains '..'");
  }
  archive_entry_set_pathname(entry, (folder / relative).c_str());
  // The program runs as the user who installs it; it never gains another user's rights.
  archive_entry_set_perm(entry, archive_entry_perm(entry) & ~(S_ISUID | S_ISGID));
}

void copyData(archive* reader, archive* writer, const std::string& name) {
  for (;;) {
    const void* block = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    int result = archive_read_data_block(reader, &block, &size, &offset);
    if (result == ARCHIVE_EOF) return;
    if (result < ARCHIVE_WARN) {
      throw UpdateInstallError::archiveUnreadable(name + ": " + reasonOf(reader));
    }
    if (archive_write_data_block(writer, block, size, offset) < ARCHIVE_WARN) {
      throw writeFailure(writer, name);
    }
  }
}

void extractInto(const fs::path& archivePath, const fs::path& folder) {
  Reader reader = openArchive(archivePath);
  Writer writer = openDiskWriter();
  archive_entry* entry = nullptr;
  for (;;) {
    int result = archive_read_next_header(reader.get(), &entry);
    if (result == ARCHIVE_EOF) break;
    if (result < ARCHIVE_WARN) throw UpdateInstallError::archiveUnreadable(reasonOf(reader.get()));
    const char* rawName = archive_entry_pathname(entry);
    std::string name = rawName != nullptr ? rawName : "";
    checkEntryType(entry, name);
    placeUnder(folder, entry, name);
    if (archive_write_header(writer.get(), entry) < ARCHIVE_WARN) {
      throw writeFailure(writer.get(), name);
    }
    copyData(reader.get(), writer.get(), name);
    if (archive_write_finish_entry(writer.get()) < ARCHIVE_WARN) {
      throw writeFailure(writer.get(), name);
    }
  }
  // Closing sets the folders' final permissions and times.
  if (archive_write_close(writer.get()) < ARCHIVE_WARN) throw writeFailure(writer.get(), {});
}

// ---- The unpacked folder

bool isFile(const fs::path& path) { return fs::is_regular_file(fs::symlink_status(path)); }
bool isFolder(const fs::path& path) { return fs::is_directory(fs::symlink_status(path)); }

// The folder's contents at the top, or all of it inside one top-level folder.
fs::path contentRootOf(const fs::path& unpacked) {
  if (isFile(unpacked / kMarkerName)) return unpacked;
  std::error_code error;
  fs::directory_iterator entries(unpacked, error);
  if (error) throw UpdateInstallError::cannotWrite(describe(unpacked, error.value()));
  if (entries == fs::directory_iterator()) return unpacked;
  fs::path only = entries->path();
  bool single = entries.increment(error) == fs::directory_iterator() && !error;
  return single && isFolder(only) ? only : unpacked;
}

void checkHoldsInstall(const fs::path& folder) {
  fs::path program = folder / kBinName / kProgramName;
  bool holds = isFile(folder / kMarkerName) && isFolder(folder / kBinName) && isFile(program) &&
               ::access(program.c_str(), X_OK) == 0;
  if (!holds) throw UpdateInstallError::notAnInstall();
}

// Removes a folder even where an install made parts of it read-only.
void removeFolder(const fs::path& folder, std::error_code& error) {
  for (auto it = fs::recursive_directory_iterator(folder, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error) && !it->is_symlink(error)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
  }
  error.clear();
  fs::remove_all(folder, error);
}

// A hidden folder beside the install, on its file system, removed with whatever it holds when
// the install ends: the new copy after a failure, the old one after a swap.
class StagingFolder {
 public:
  explicit StagingFolder(const fs::path& root) {
    std::string pattern =
        (root.parent_path() / ("." + root.filename().string() + ".update-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw UpdateInstallError::cannotWrite(describe(root.parent_path(), errno));
    }
    path_ = pattern;
    std::error_code error;
    fs::path resolved = fs::canonical(path_, error);
    if (error) {
      remove();
      throw UpdateInstallError::cannotWrite(describe(path_, error.value()));
    }
    path_ = resolved;
  }
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;
  // A hidden folder left behind costs only space, so a failure to remove it does not turn an
  // install (or the report of what failed) into a different failure.
  ~StagingFolder() { remove(); }

  const fs::path& path() const { return path_; }

 private:
  void remove() {
    std::error_code ignored;
    removeFolder(path_, ignored);
  }
  fs::path path_;
};

void setMode(const fs::path& folder, mode_t mode) {
  if (::chmod(folder.c_str(), mode) != 0) {
    throw UpdateInstallError::cannotWrite(describe(folder, errno));
  }
}

// Writes the unpacked files to the disk before they replace the install, so that a power loss
// after the swap cannot leave an install of empty files.
void flushToDisk(const fs::path& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw UpdateInstallError::cannotWrite(describe(folder, errno));
  int result = ::syncfs(fd);
  int errorNumber = errno;
  ::close(fd);
  if (result != 0) throw UpdateInstallError::cannotWrite(describe(folder, errorNumber));
}

// Puts `replacement` at `root`; returns where the old install then is. The exchange is one step
// for anyone looking at root. Where the file system cannot exchange, the old folder is moved to
// `parking` and put back if the new one cannot follow.
fs::path swapIn(const fs::path& root, const fs::path& replacement, const fs::path& parking) {
  if (::renameat2(AT_FDCWD, root.c_str(), AT_FDCWD, replacement.c_str(), RENAME_EXCHANGE) == 0) {
    return replacement;
  }
  if (errno != EINVAL && errno != ENOSYS) {
    throw UpdateInstallError::cannotWrite(describe(root, errno));
  }
  if (::rename(root.c_str(), parking.c_str()) != 0) {
    throw UpdateInstallError::cannotWrite(describe(root, errno));
  }
  if (::rename(replacement.c_str(), root.c_str()) != 0) {
    std::string reason = describe(root, errno);
    if (::rename(parking.c_str(), root.c_str()) != 0) {
      reason += "; the current version is kept at " + parking.string();
    }
    throw UpdateInstallError::cannotWrite(reason);
  }
  return parking;
}

fs::path folderPath(const fs::path& folder) {
  fs::path normal = folder.lexically_normal();
  return normal.has_filename() ? normal : normal.parent_path();
}

}  // namespace

// ---- InstallLocation

InstallLocation InstallLocation::detect(const fs::path& executable) {
  InstallLocation location;
  location.executable = executable;
  std::error_code error;
  fs::path program = fs::canonical(executable, error);
  if (error) return location;
  fs::path bin = program.parent_path();
  fs::path root = bin.parent_path();
  bool selfContained = program.filename() == kProgramName && bin.filename() == kBinName &&
                       isFile(root / kMarkerName) &&
                       ::access(root.parent_path().c_str(), W_OK | X_OK) == 0;
  if (selfContained) {
    location.kind = InstallKind::selfContained;
    location.root = root;
  }
  return location;
}

// ---- Verifying and installing

void verifyDownload(const fs::path& archive, std::uint64_t expectedLength,
                    std::string_view edSignatureBase64, std::string_view publicKeyBase64) {
  MappedFile file(archive);
  if (expectedLength == 0 || file.size() != expectedLength) {
    throw UpdateInstallError::lengthMismatch(file.size(), expectedLength);
  }
  if (edSignatureBase64.empty()) throw UpdateInstallError::signatureMissing();
  std::optional<ferrytide::Bytes> signature = ferrytide::base64::decode(edSignatureBase64);
  std::optional<ferrytide::crypto::Ed25519PublicKey> key = publicKeyFrom(publicKeyBase64);
  if (!signature || !key || !key->verify(file.bytes(), *signature)) {
    throw UpdateInstallError::signatureInvalid();
  }
}

fs::path installArchive(const fs::path& archive, const InstallLocation& location) {
  if (location.kind != InstallKind::selfContained) {
    throw UpdateInstallError::cannotWrite(location.executable.string() +
                                          " belongs to the system's package manager");
  }
  const fs::path root = folderPath(location.root);
  struct stat rootStatus {};
  if (::stat(root.c_str(), &rootStatus) != 0) {
    throw UpdateInstallError::cannotWrite(describe(root, errno));
  }
  if (!S_ISDIR(rootStatus.st_mode)) throw UpdateInstallError::cannotWrite(describe(root, ENOTDIR));

  StagingFolder staging(root);
  extractInto(archive, staging.path());
  fs::path newRoot = contentRootOf(staging.path());
  checkHoldsInstall(newRoot);
  setMode(newRoot, rootStatus.st_mode & 07777);
  flushToDisk(staging.path());
  fs::path parking = staging.path().string() + ".old";
  fs::path oldCopy = swapIn(root, newRoot, parking);
  if (oldCopy == parking) {
    std::error_code ignored;  // see ~StagingFolder
    removeFolder(parking, ignored);
  }
  return root / kBinName / kProgramName;
}

}  // namespace plinth
