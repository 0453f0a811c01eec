#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace ferrytide::testing {

// A fresh folder under the system temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Sets an environment variable until destroyed, then restores what was there.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv();

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

// A file's whole content; empty when it cannot be read.
std::string readText(const std::filesystem::path& path);
// Writes `text`, making the folders above it first.
void writeText(const std::filesystem::path& path, const std::string& text);
// How many entries a folder holds.
std::size_t entriesIn(const std::filesystem::path& folder);

}  // namespace ferrytide::testing
