#include "core/support/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace ferrytide::file_io {

std::string describe(const std::filesystem::path& path, int errorNumber) {
  return path.string() + ": " + std::strerror(errorNumber);
}

namespace {
[[noreturn]] void failWith(const std::filesystem::path& path, int errorNumber) {
  throw FileError(describe(path, errorNumber));
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now so that a failing close (a late write error) can be reported.
  int close() {
    int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

bool writeAll(int fd, ByteView bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}
}  // namespace

std::optional<Bytes> readIfExists(const std::filesystem::path& path) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == ENOENT) return std::nullopt;
    failWith(path, errno);
  }
  Bytes content;
  std::uint8_t buffer[64 * 1024];
  for (;;) {
    ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failWith(path, errno);
    if (n == 0) break;
    content.insert(content.end(), buffer, buffer + n);
  }
  return content;
}

namespace {
// A bare file name lives in the current folder.
std::filesystem::path parentFolder(const std::filesystem::path& path) {
  return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

// A complete copy of `bytes` under a temporary name beside `path`, flushed unless `cached`.
std::filesystem::path writeTemporarySibling(const std::filesystem::path& path, ByteView bytes,
                                            mode_t mode, Durability durability) {
  // Built by appending: g++ 12 at -O3 reports a false -Wrestrict for "." + a temporary string.
  std::string hiddenName = ".";
  hiddenName += path.filename().native();
  hiddenName += ".XXXXXX";
  std::string pattern = (path.parent_path() / hiddenName).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  FileDescriptor file(::mkostemp(name.data(), O_CLOEXEC));
  if (file.get() < 0) failWith(path, errno);
  std::filesystem::path temporary(name.data());

  int error = 0;
  if (!writeAll(file.get(), bytes) || ::fchmod(file.get(), mode) != 0 ||
      (durability == Durability::flushed && ::fsync(file.get()) != 0)) {
    error = errno;
  }
  if (file.close() != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    failWith(path, error);
  }
  return temporary;
}
}  // namespace

void writeAtomically(const std::filesystem::path& path, ByteView bytes, mode_t mode,
                     Durability durability) {
  std::filesystem::path temporary = writeTemporarySibling(path, bytes, mode, durability);
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    int error = errno;
    ::unlink(temporary.c_str());
    failWith(path, error);
  }
  if (durability == Durability::flushed) flushFolder(parentFolder(path));
}

bool writeAtomicallyIfAbsent(const std::filesystem::path& path, ByteView bytes, mode_t mode) {
  std::filesystem::path temporary = writeTemporarySibling(path, bytes, mode, Durability::flushed);
  // link() fails with EEXIST instead of replacing, which rename() would do.
  int result = ::link(temporary.c_str(), path.c_str());
  int error = errno;
  ::unlink(temporary.c_str());
  if (result == 0) {
    flushFolder(parentFolder(path));
    return true;
  }
  if (error == EEXIST) return false;
  failWith(path, error);
}

void flushFolder(const std::filesystem::path& folder) {
  FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // A folder one may write in but not list (a drop box) cannot be opened to be flushed: the
  // file system writes its names in its own time, as it did before there was a flush here.
  if (directory.get() < 0 && errno == EACCES) return;
  if (directory.get() < 0) failWith(folder, errno);
  while (::fsync(directory.get()) != 0) {
    if (errno != EINTR) failWith(folder, errno);
  }
}

void append(const std::filesystem::path& path, ByteView bytes, mode_t mode) {
  FileDescriptor file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, mode));
  if (file.get() < 0) failWith(path, errno);
  if (!writeAll(file.get(), bytes)) failWith(path, errno);
  if (file.close() != 0) failWith(path, errno);
}

void createDirectories(const std::filesystem::path& path, mode_t mode) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return;
  if (path.has_parent_path() && path.parent_path() != path) {
    createDirectories(path.parent_path(), mode);
  }
  if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) failWith(path, errno);
  if (!std::filesystem::is_directory(path, ec)) failWith(path, ENOTDIR);
}

}  // namespace ferrytide::file_io
