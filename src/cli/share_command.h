#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace ferrytide::cli {

struct ShareOptions {
  std::vector<std::string> files;
  std::string to;
};

// `share FILE… [--to SELECTOR]`: lays down an outbox job as a file manager's "send to phone"
// action does (copies, then the manifest, then the pending marker); the application's outbox
// watcher sends it. Without --to the job names no phone: the application's default phone.
CLI::App* addShareCommand(CLI::App& parent, ShareOptions& options);
int runShareCommand(const ShareOptions& options);

}  // namespace ferrytide::cli
