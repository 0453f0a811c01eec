#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace ferrytide::cli {

struct IntegrateOptions {
  std::string action;  // "install", "remove" or "status"
};

// `integrate install|remove|status`: the "Send to phone" actions of the file managers for this
// user, which run `ferrytide-cli share` with the selected files.
CLI::App* addIntegrateCommand(CLI::App& parent, IntegrateOptions& options);
int runIntegrateCommand(const IntegrateOptions& options);

// Rewrites the actions where they are installed, after the phones changed (pair, forget).
void refreshFileManagerActions();

}  // namespace ferrytide::cli
