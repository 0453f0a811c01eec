#include "plinth_updates/app_version.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace plinth {

namespace {

constexpr int kReleaseRank = 0;
constexpr int kOtherWordRank = 5;

// One stretch of a version: the release numbers (no word) or a pre-release word and the numbers
// that follow it. Numbers are kept as digit text without leading zeros.
struct VersionGroup {
  int wordRank = kReleaseRank;
  std::string word;
  std::vector<std::string_view> numbers;
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isSeparator(char c) { return c == '.' || c == '-' || c == '_' || c == '+' || c == ' '; }

int preReleaseRank(std::string_view word) {
  if (word == "dev") return 1;
  if (word == "alpha" || word == "a") return 2;
  if (word == "beta" || word == "b") return 3;
  if (word == "pre" || word == "rc") return 4;
  return kOtherWordRank;
}

std::string lowercase(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return lower;
}

std::string_view withoutLeadingZeros(std::string_view digits) {
  const auto first = digits.find_first_not_of('0');
  return first == std::string_view::npos ? std::string_view{} : digits.substr(first);
}

template <typename Predicate>
std::string_view takeRun(std::string_view text, std::size_t& pos, Predicate belongs) {
  const std::size_t start = pos;
  while (pos < text.size() && belongs(text[pos])) ++pos;
  return text.substr(start, pos - start);
}

// The groups of a well-formed version; nothing when `text` is not one.
std::optional<std::vector<VersionGroup>> parseVersion(std::string_view text) {
  if (text.empty() || !isDigit(text.front())) return std::nullopt;
  std::vector<VersionGroup> groups(1);
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (isDigit(c)) {
      groups.back().numbers.push_back(withoutLeadingZeros(takeRun(text, pos, isDigit)));
    } else if (isLetter(c)) {
      VersionGroup group;
      group.word = lowercase(takeRun(text, pos, isLetter));
      group.wordRank = preReleaseRank(group.word);
      groups.push_back(std::move(group));
    } else if (isSeparator(c)) {
      ++pos;
    } else {
      return std::nullopt;
    }
  }
  return groups;
}

int sign(int value) { return (value > 0) - (value < 0); }

int compareNumbers(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return sign(a.compare(b));
}

int compareNumberLists(const std::vector<std::string_view>& a,
                       const std::vector<std::string_view>& b) {
  const std::size_t count = std::max(a.size(), b.size());
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view left = i < a.size() ? a[i] : std::string_view{};
    const std::string_view right = i < b.size() ? b[i] : std::string_view{};
    if (const int order = compareNumbers(left, right); order != 0) return order;
  }
  return 0;
}

int compareGroups(const VersionGroup& a, const VersionGroup& b) {
  if (a.wordRank != b.wordRank) return a.wordRank < b.wordRank ? -1 : 1;
  if (a.wordRank == kOtherWordRank) {
    if (const int order = sign(a.word.compare(b.word)); order != 0) return order;
  }
  return compareNumberLists(a.numbers, b.numbers);
}

int compareParsed(const std::vector<VersionGroup>& a, const std::vector<VersionGroup>& b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (const int order = compareGroups(a[i], b[i]); order != 0) return order;
  }
  // Equal so far: the one that goes on has a pre-release of the other, so it is older.
  if (a.size() == b.size()) return 0;
  return a.size() > b.size() ? -1 : 1;
}

}  // namespace

int compareVersions(std::string_view a, std::string_view b) {
  const auto left = parseVersion(a);
  const auto right = parseVersion(b);
  if (left && right) return compareParsed(*left, *right);
  if (left) return 1;
  if (right) return -1;
  return sign(a.compare(b));
}

}  // namespace plinth
