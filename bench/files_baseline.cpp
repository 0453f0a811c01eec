// The baseline for many small files: writes each file of SOURCE_DIR into TARGET_DIR the way the
// receiver makes a received file durable, with no network and no encryption in between: a new
// temporary file beside the target (O_CREAT | O_EXCL), the content in one write(), fdatasync(),
// close(), rename() to its name, then fsync() of the folder, so that the name is kept as well.
// One file at a time, each flushed on its own, as the receiver does with one phone connection.
// The sources are read into memory first; only the writing is timed. Prints files per second.
//
// Usage: ferrytide-bench-files SOURCE_DIR TARGET_DIR

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "ferrytide-bench-files: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

struct Source {
  std::string name;
  std::vector<char> content;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ferrytide-bench-files SOURCE_DIR TARGET_DIR\n");
    return 2;
  }
  const fs::path target = argv[2];
  std::vector<Source> sources;
  for (const fs::directory_entry& entry : fs::directory_iterator(argv[1])) {
    std::ifstream in(entry.path(), std::ios::binary);
    sources.push_back({entry.path().filename().string(),
                       std::vector<char>(std::istreambuf_iterator<char>(in), {})});
  }
  std::sort(sources.begin(), sources.end(),
            [](const Source& a, const Source& b) { return a.name < b.name; });

  const auto start = std::chrono::steady_clock::now();
  const int folder = ::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) fail(target.string());
  for (const Source& source : sources) {
    const std::string final = (target / source.name).string();
    const std::string temporary = (target / ("." + source.name + ".part")).string();
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) fail(temporary);
    const ssize_t written = ::write(fd, source.content.data(), source.content.size());
    if (written != static_cast<ssize_t>(source.content.size())) fail(temporary);
    if (::fdatasync(fd) != 0 || ::close(fd) != 0) fail(temporary);
    if (::rename(temporary.c_str(), final.c_str()) != 0) fail(final);
    if (::fsync(folder) != 0) fail(target.string());
  }
  ::close(folder);
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.1f\n", static_cast<double>(sources.size()) / elapsed);
  return 0;
}
