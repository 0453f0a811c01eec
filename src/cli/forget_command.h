#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace ferrytide::cli {

struct ForgetOptions {
  std::string selector;
  bool tell = false;
};

// `forget SELECTOR [--tell]`: removes the phone from the peers file; with --tell the phone is
// sent Unpair first. The phone is forgotten here even when telling it fails; the command then
// reports that error and exits non-zero, so that a script knows the phone still lists us.
CLI::App* addForgetCommand(CLI::App& parent, ForgetOptions& options);
int runForgetCommand(const ForgetOptions& options);

}  // namespace ferrytide::cli
