#pragma once

#include <string_view>

namespace ferrytide::testing {

// Whether `text` has the shape `pattern`: 'X' stands for an upper-case hexadecimal digit, 'x'
// for a lower-case one, anything else for itself. (std::regex trips g++ 12's warnings in
// sanitizer builds.)
inline bool matchesShape(std::string_view text, std::string_view pattern) {
  if (text.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    bool digit = c >= '0' && c <= '9';
    if (pattern[i] == 'X') {
      if (!digit && !(c >= 'A' && c <= 'F')) return false;
    } else if (pattern[i] == 'x') {
      if (!digit && !(c >= 'a' && c <= 'f')) return false;
    } else if (c != pattern[i]) {
      return false;
    }
  }
  return true;
}

// A version-4 UUID in upper case.
inline bool isUpperUuid(std::string_view text) {
  return matchesShape(text, "XXXXXXXX-XXXX-4XXX-XXXX-XXXXXXXXXXXX") &&
         std::string_view("89AB").find(text[19]) != std::string_view::npos;
}

}  // namespace ferrytide::testing
