#pragma once

#include <CLI/CLI.hpp>
#include <istream>
#include <optional>
#include <string>

namespace ferrytide::cli {

struct ClipOptions {
  std::optional<std::string> text;
  std::string to;
};

// `clip [TEXT] [--to SELECTOR]`: the text, or all of standard input, to the phone's clipboard.
CLI::App* addClipCommand(CLI::App& parent, ClipOptions& options);
int runClipCommand(const ClipOptions& options, std::istream& input);

}  // namespace ferrytide::cli
