#include "platform/linux/desktop_files/desktop_entry.h"

namespace ferrytide::platform::desktop_entry {
namespace {

constexpr std::string_view reservedInExec = " \t\n\"'\\><~|&;$*?#()`";

// One Exec argument: quoted when it holds a reserved character, with the characters that stay
// special inside quotes escaped.
std::string execArgument(std::string_view argument) {
  if (argument.find_first_of(reservedInExec) == std::string_view::npos) return std::string(argument);
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + '"';
}

std::string withFieldCode(std::string line, std::string_view fieldCode) {
  if (!fieldCode.empty()) line.append(" ").append(fieldCode);
  return line;
}

}  // namespace

std::string stringValue(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    if (c == '\\') escaped += "\\\\";
    else if (c == '\n') escaped += "\\n";
    else if (c == '\r') escaped += "\\r";
    else if (c == '\t') escaped += "\\t";
    else escaped += c;
  }
  return escaped;
}

std::string execValue(const std::vector<std::string>& arguments, std::string_view fieldCode) {
  std::string line;
  for (const std::string& argument : arguments) {
    if (!line.empty()) line += ' ';
    for (char c : execArgument(argument)) {
      // A lone percent sign would start a field code.
      line += c == '%' ? std::string("%%") : std::string(1, c);
    }
  }
  return withFieldCode(stringValue(line), fieldCode);
}

std::string shellQuoted(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + '\'';
}

std::string shellCommand(const std::vector<std::string>& arguments, std::string_view fieldCode) {
  std::string line;
  for (const std::string& argument : arguments) {
    if (!line.empty()) line += ' ';
    line += shellQuoted(argument);
  }
  return withFieldCode(line, fieldCode);
}

}  // namespace ferrytide::platform::desktop_entry
