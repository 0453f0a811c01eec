#include "core/transfer/file_fingerprint.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>

#include "core/support/crypto.h"
#include "core/support/file_io.h"

namespace ferrytide {

FileFingerprintError FileFingerprintError::io(const std::filesystem::path& path, int errorNumber) {
  return FileFingerprintError(file_io::describe(path, errorNumber));
}

namespace {

class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::filesystem::path& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0) throw FileFingerprintError::io(path, errno);
  }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  ~ReadOnlyFile() { ::close(fd_); }
  int get() const { return fd_; }

 private:
  int fd_;
};

std::array<std::uint8_t, 8> bigEndian(std::int64_t value) {
  std::array<std::uint8_t, 8> out{};
  auto bits = static_cast<std::uint64_t>(value);
  for (int i = 7; i >= 0; --i) {
    out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits & 0xff);
    bits >>= 8;
  }
  return out;
}

}  // namespace

std::string FileFingerprint::compute(const std::filesystem::path& path) {
  ReadOnlyFile file(path);
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) throw FileFingerprintError::io(path, errno);
  if (S_ISDIR(info.st_mode)) throw FileFingerprintError::io(path, EISDIR);

  crypto::Sha256 hash;
  std::array<std::uint8_t, 16 * 1024> buffer{};
  std::size_t total = 0;
  while (total < bytes) {
    std::size_t wanted = std::min(buffer.size(), bytes - total);
    ssize_t n = ::read(file.get(), buffer.data(), wanted);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw FileFingerprintError::io(path, errno);
    if (n == 0) break;
    hash.update(ByteView(buffer.data(), static_cast<std::size_t>(n)));
    total += static_cast<std::size_t>(n);
  }
  std::int64_t modifiedNs =
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
  hash.update(bigEndian(modifiedNs));
  crypto::Digest digest = hash.finish();
  return toHex(ByteView(digest.data(), 8));
}

}  // namespace ferrytide
