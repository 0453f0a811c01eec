#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace ferrytide::cli {

struct SendOptions {
  std::vector<std::string> files;
  std::string to;
};

// `send FILE… [--to SELECTOR]`: each file to the phone with its own connection, resuming where an
// earlier attempt stopped. A file that fails does not stop the next ones (the exit status tells),
// except a phone that has removed this computer: it is forgotten here too and nothing more is
// sent. Ctrl-C cancels the file on its way; it stays in the journal and resumes next time.
CLI::App* addSendCommand(CLI::App& parent, SendOptions& options);
int runSendCommand(const SendOptions& options);

}  // namespace ferrytide::cli
