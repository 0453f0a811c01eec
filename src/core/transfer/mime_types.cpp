#include "core/transfer/mime_types.h"

#include <charconv>
#include <fstream>
#include <vector>

namespace ferrytide {

namespace {

std::string lowercased(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

std::vector<std::string_view> splitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t colon = line.find(':', start);
    fields.push_back(line.substr(start, colon - start));
    if (colon == std::string_view::npos) return fields;
    start = colon + 1;
  }
}

// "*.ext" with no further wildcard: the suffix ".ext"; anything else: empty.
std::string_view simpleSuffix(std::string_view glob) {
  if (glob.size() < 3 || glob[0] != '*' || glob[1] != '.') return {};
  std::string_view suffix = glob.substr(1);
  if (suffix.find_first_of("*?[]\\") != std::string_view::npos) return {};
  return suffix;
}

bool flagged(std::string_view flags, std::string_view wanted) {
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = flags.find(',', start);
    if (flags.substr(start, comma - start) == wanted) return true;
    if (comma == std::string_view::npos) return false;
    start = comma + 1;
  }
}

}  // namespace

MimeTypes::MimeTypes(const std::filesystem::path& globsFile) {
  std::ifstream file(globsFile);
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string_view> fields = splitFields(line);
    if (fields.size() < 3) continue;
    Match match;
    auto [end, error] =
        std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), match.weight);
    if (error != std::errc() || end != fields[0].data() + fields[0].size()) continue;
    std::string_view suffix = simpleSuffix(fields[2]);
    if (fields[1].empty() || suffix.empty()) continue;
    match.type = std::string(fields[1]);
    match.globLength = fields[2].size();
    bool caseSensitive = fields.size() > 3 && flagged(fields[3], "cs");
    if (caseSensitive) {
      add(caseSensitive_, std::string(suffix), std::move(match));
    } else {
      add(caseFolded_, lowercased(suffix), std::move(match));
    }
  }
}

const MimeTypes& MimeTypes::shared() {
  static const MimeTypes instance;
  return instance;
}

bool MimeTypes::better(const Match& candidate, const Match& current) {
  if (candidate.weight != current.weight) return candidate.weight > current.weight;
  return candidate.globLength > current.globLength;
}

void MimeTypes::add(std::unordered_map<std::string, Match>& table, std::string suffix,
                    Match match) {
  auto [it, inserted] = table.try_emplace(std::move(suffix), match);
  if (!inserted && better(match, it->second)) it->second = std::move(match);
}

std::string MimeTypes::mimeType(std::string_view fileName) const {
  if (std::size_t slash = fileName.rfind('/'); slash != std::string_view::npos) {
    fileName.remove_prefix(slash + 1);
  }
  const Match* best = nullptr;
  auto consider = [&best](const std::unordered_map<std::string, Match>& table,
                          const std::string& suffix) {
    auto found = table.find(suffix);
    if (found != table.end() && (best == nullptr || better(found->second, *best))) {
      best = &found->second;
    }
  };
  // Every dot after the first character starts a candidate suffix: "a.tar.gz" tries
  // ".tar.gz" and ".gz". A leading dot names a hidden file, not an extension.
  for (std::size_t dot = fileName.find('.', 1); dot != std::string_view::npos;
       dot = fileName.find('.', dot + 1)) {
    std::string suffix(fileName.substr(dot));
    consider(caseSensitive_, suffix);
    consider(caseFolded_, lowercased(suffix));
  }
  return best ? best->type : std::string(fallback);
}

}  // namespace ferrytide
