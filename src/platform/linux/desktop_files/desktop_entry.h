#pragma once

// Writing the values of desktop entries (.desktop files and the file managers' action files
// that share their syntax) and of the command lines that file managers run.

#include <string>
#include <string_view>
#include <vector>

namespace ferrytide::platform::desktop_entry {

// An Exec value starting `arguments`, each quoted where it holds a reserved character, then
// `fieldCode` (such as "%F") when given. Backslashes and percent signs are escaped as the
// format asks, so that a path such as "/opt/100% Apps/ferrytide" survives.
std::string execValue(const std::vector<std::string>& arguments, std::string_view fieldCode = {});

// A string value: line breaks and backslashes escaped, so that a name cannot start a new key.
std::string stringValue(std::string_view text);

// `text` as one word for a POSIX shell (and for GLib's command-line parser): single-quoted.
std::string shellQuoted(std::string_view text);

// `arguments` joined into a command line of shell-quoted words, then `fieldCode` when given.
std::string shellCommand(const std::vector<std::string>& arguments, std::string_view fieldCode = {});

}  // namespace ferrytide::platform::desktop_entry
