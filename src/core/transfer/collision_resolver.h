#pragma once

// Turns an offered file name into a safe, free name in the save folder, and finds a partial
// download of the same transfer to resume. No instances: static operations only.
//
// A name counts as taken when anything at all is there, a symbolic link (even a dangling one)
// included, or when a partial download of that name is there. Names are numbered "photo.jpg",
// "photo 2.jpg", …, "photo 9999.jpg", then "photo-<UUID>.jpg".

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace ferrytide {

class CollisionResolver {
 public:
  static constexpr int maxNumberedCandidates = 9999;
  static constexpr std::string_view partialSuffix = ".partial";

  struct Target {
    std::filesystem::path finalURL;       // where the finished file goes
    std::filesystem::path partialURL;     // finalURL + ".partial"
    std::int64_t resumeOffset = 0;        // the partial's length when it is this transfer's, else 0
    bool partialIsThisTransfers = false;  // a partial of this transfer is there to resume
  };

  // The last path component of `name` with NUL, "/" and "\" made "_" and white space trimmed;
  // "received" when nothing usable is left. The result never leaves the folder it is put in.
  static std::string sanitize(const std::string& name);

  // The first numbered name that is free, or whose partial carries a sidecar with
  // `transferId` (then resumed from the partial's length). A partial of another transfer, or
  // one without a sidecar, is never reused.
  static Target resolveTarget(const std::filesystem::path& dir, const std::string& baseName,
                              const std::string& transferId);

  // The first numbered name at which neither a file nor a partial exists.
  static std::filesystem::path resolveFinalURL(const std::filesystem::path& dir,
                                               const std::string& baseName);

  // Renames `partial` to `finalURL` without ever replacing what is there: when a file took
  // that name in the meantime, the next free name from resolveFinalURL is used instead.
  // Returns where the file went; throws file_io::FileError with the system's reason.
  static std::filesystem::path moveToFreeName(const std::filesystem::path& partial,
                                              std::filesystem::path finalURL,
                                              const std::filesystem::path& dir,
                                              const std::string& baseName);

  // The same for any way of placing a file at a name that fails with EEXIST when the name is
  // taken: `place` returns 0 or -1 with errno set, as a system call does.
  static std::filesystem::path placeAtFreeName(
      const std::function<int(const std::filesystem::path&)>& place, std::filesystem::path finalURL,
      const std::filesystem::path& dir, const std::string& baseName);

 private:
  // True when `name`, or `name` + ".partial", exists in `dir`.
  static bool exists(const std::filesystem::path& dir, const std::string& name);
};

}  // namespace ferrytide
