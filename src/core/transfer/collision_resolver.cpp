#include "core/transfer/collision_resolver.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <string_view>

#include "core/support/crypto.h"
#include "core/support/file_io.h"
#include "core/support/uuid.h"
#include "core/transfer/partial_meta.h"

namespace ferrytide {
namespace {

// Unicode white space, as UTF-8, besides the ASCII white space that isspace() knows.
constexpr std::array<std::string_view, 19> kUnicodeSpaces = {
    "\u0085", "\u00A0", "\u1680", "\u2000", "\u2001", "\u2002", "\u2003",
    "\u2004", "\u2005", "\u2006", "\u2007", "\u2008", "\u2009", "\u200A",
    "\u2028", "\u2029", "\u202F", "\u205F", "\u3000"};

bool isAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The length of the white space that `text` starts with (atEnd: ends with), one character.
std::size_t spaceAtEdge(std::string_view text, bool atEnd) {
  if (text.empty()) return 0;
  if (isAsciiSpace(atEnd ? text.back() : text.front())) return 1;
  for (std::string_view space : kUnicodeSpaces) {
    if (atEnd ? text.ends_with(space) : text.starts_with(space)) return space.size();
  }
  return 0;
}

std::string_view trimSpace(std::string_view text) {
  while (std::size_t n = spaceAtEdge(text, false)) text.remove_prefix(n);
  while (std::size_t n = spaceAtEdge(text, true)) text.remove_suffix(n);
  return text;
}

// "photo.jpg" → {"photo", "jpg"}. A leading dot starts a hidden name, not an extension
// (".bashrc" has none), and a trailing dot leaves the extension empty.
struct NameParts {
  std::string stem;
  std::string extension;
};

NameParts splitExtension(const std::string& baseName) {
  const std::size_t dot = baseName.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == baseName.size()) return {baseName, ""};
  return {baseName.substr(0, dot), baseName.substr(dot + 1)};
}

std::string withExtension(std::string stem, const NameParts& parts) {
  if (!parts.extension.empty()) stem += "." + parts.extension;
  return stem;
}

// n = 1: the name itself; n ≥ 2: "photo 2.jpg", "notes 3".
std::string numberedName(const std::string& baseName, const NameParts& parts, int n) {
  if (n == 1) return baseName;
  return withExtension(parts.stem + " " + std::to_string(n), parts);
}

std::string uuidName(const NameParts& parts) {
  return withExtension(parts.stem + "-" + randomUuid(), parts);
}

std::filesystem::path withPartialSuffix(const std::filesystem::path& finalURL) {
  std::filesystem::path partial = finalURL;
  partial += CollisionResolver::partialSuffix;
  return partial;
}

// Anything at the path counts, a dangling symbolic link too. A path the system refuses to look
// up (a name too long, say) counts as free: creating the file then fails with the reason.
bool entryExists(const std::filesystem::path& path, struct stat* info = nullptr) {
  struct stat ignored {};
  return ::lstat(path.c_str(), info ? info : &ignored) == 0;
}

}  // namespace

std::string CollisionResolver::sanitize(const std::string& name) {
  std::string_view last = name;
  while (last.ends_with('/')) last.remove_suffix(1);
  if (const std::size_t slash = last.rfind('/'); slash != std::string_view::npos) {
    last.remove_prefix(slash + 1);
  }
  std::string cleaned(last);
  for (char& c : cleaned) {
    if (c == '\0' || c == '/' || c == '\\') c = '_';
  }
  std::string result(trimSpace(cleaned));
  if (result.empty() || result == "." || result == "..") return "received";
  return result;
}

bool CollisionResolver::exists(const std::filesystem::path& dir, const std::string& name) {
  const std::filesystem::path finalURL = dir / name;
  return entryExists(finalURL) || entryExists(withPartialSuffix(finalURL));
}

CollisionResolver::Target CollisionResolver::resolveTarget(const std::filesystem::path& dir,
                                                           const std::string& baseName,
                                                           const std::string& transferId) {
  const NameParts parts = splitExtension(baseName);
  for (int n = 1; n <= maxNumberedCandidates; ++n) {
    std::filesystem::path finalURL = dir / numberedName(baseName, parts, n);
    std::filesystem::path partial = withPartialSuffix(finalURL);
    if (entryExists(finalURL)) continue;
    struct stat info {};
    if (!entryExists(partial, &info)) return {finalURL, partial, 0};
    // Only a plain file is ever resumed: a symbolic link at the partial's name is someone
    // else's, whatever its sidecar says.
    if (!S_ISREG(info.st_mode)) continue;
    std::optional<PartialMeta> meta = PartialMetaIO::load(partial);
    if (!meta || meta->transferId != transferId) continue;
    return {finalURL, partial, static_cast<std::int64_t>(info.st_size), true};
  }
  std::filesystem::path finalURL = dir / uuidName(parts);
  return {finalURL, withPartialSuffix(finalURL), 0};
}

std::filesystem::path CollisionResolver::resolveFinalURL(const std::filesystem::path& dir,
                                                         const std::string& baseName) {
  const NameParts parts = splitExtension(baseName);
  for (int n = 1; n <= maxNumberedCandidates; ++n) {
    std::string candidate = numberedName(baseName, parts, n);
    if (!exists(dir, candidate)) return dir / candidate;
  }
  return dir / uuidName(parts);
}

std::filesystem::path CollisionResolver::moveToFreeName(const std::filesystem::path& partial,
                                                        std::filesystem::path finalURL,
                                                        const std::filesystem::path& dir,
                                                        const std::string& baseName) {
  const auto renameWithoutReplacing = [&partial](const std::filesystem::path& to) {
    int result = ::renameat2(AT_FDCWD, partial.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
      // A file system without the no-replace rename: a hard link also fails rather than
      // replace, and the partial's name goes once the link is made.
      result = ::link(partial.c_str(), to.c_str());
      if (result == 0) ::unlink(partial.c_str());
    }
    return result;
  };
  return placeAtFreeName(renameWithoutReplacing, std::move(finalURL), dir, baseName);
}

std::filesystem::path CollisionResolver::placeAtFreeName(
    const std::function<int(const std::filesystem::path&)>& place, std::filesystem::path finalURL,
    const std::filesystem::path& dir, const std::string& baseName) {
  // Each failed attempt means another file took the name just now; give up only when that
  // keeps happening.
  constexpr int kMaxAttempts = 100;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    if (place(finalURL) == 0) return finalURL;
    if (errno != EEXIST) throw file_io::FileError(file_io::describe(finalURL, errno));
    finalURL = resolveFinalURL(dir, baseName);
  }
  throw file_io::FileError(file_io::describe(finalURL, EEXIST));
}

}  // namespace ferrytide
