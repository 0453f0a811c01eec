#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>

namespace ferrytide {

// The MIME type of a file from its name's extension, through the system's shared MIME
// database (the "weight:type:glob[:flags]" lines of its globs2 file). Only globs of the form
// "*.ext" take part; they match the end of the name without regard to letter case, unless
// flagged "cs". The highest weight wins, then the longest glob, then a case-sensitive glob,
// then the earlier line.
// Unknown extensions, names without one, and a missing database give `fallback`.
class MimeTypes {
 public:
  static constexpr std::string_view fallback = "application/octet-stream";
  static constexpr std::string_view defaultDatabasePath = "/usr/share/mime/globs2";

  // Reads the database now; a missing or unreadable file leaves it empty.
  explicit MimeTypes(const std::filesystem::path& globsFile = std::string(defaultDatabasePath));

  // The system database, read once on first use.
  static const MimeTypes& shared();

  // A file name, or a path whose last component is taken.
  std::string mimeType(std::string_view fileName) const;

  std::size_t size() const { return caseFolded_.size() + caseSensitive_.size(); }

 private:
  struct Match {
    int weight = 0;
    std::size_t globLength = 0;
    std::string type;
  };
  void add(std::unordered_map<std::string, Match>& table, std::string suffix, Match match);
  static bool better(const Match& candidate, const Match& current);

  // Keyed by the glob without its "*" (".tar.gz"); case-folded keys are lower case.
  std::unordered_map<std::string, Match> caseFolded_;
  std::unordered_map<std::string, Match> caseSensitive_;
};

}  // namespace ferrytide
