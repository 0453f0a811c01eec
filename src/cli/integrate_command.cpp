#include "cli/integrate_command.h"

#include <cstdio>
#include <filesystem>
#include <map>

#include "cli/cli_context.h"
#include "cli/peer_format.h"
#include "core/transfer/share_outbox.h"
#include "platform/linux/desktop_files/file_manager_actions.h"

namespace ferrytide::cli {
namespace {

using platform::FileManager;
using platform::FileManagerActions;

FileManagerActions actionsForThisProgram() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) self = "ferrytide-cli";
  return FileManagerActions(platform::FileManagerActionsOptions::standard(self));
}

// The paired phones, newest first, under the names the application shows when it has
// published them (a name the user gave a phone lives in the application's settings).
std::vector<ShareOutbox::SharePeer> phonesToOffer() {
  CliContext context;
  std::map<std::string, std::string> shownNames;
  for (const ShareOutbox::SharePeer& published : ShareOutbox().readPeers()) {
    shownNames[published.pubkey] = published.hostname;
  }
  std::vector<ShareOutbox::SharePeer> phones;
  for (const PeerRecord& record : newestFirst(context.peerStore.loadBook().peers)) {
    auto shown = shownNames.find(record.peer_pubkey);
    phones.push_back(ShareOutbox::SharePeer::fromPeer(
        record, shown == shownNames.end() ? std::string_view() : std::string_view(shown->second)));
  }
  return phones;
}

std::string joinedNames(const std::vector<FileManager>& managers) {
  std::string text;
  for (FileManager manager : managers) {
    if (!text.empty()) text += ", ";
    text += FileManagerActions::displayName(manager);
  }
  return text;
}

int install() {
  std::vector<FileManager> written = actionsForThisProgram().install(phonesToOffer());
  if (written.empty()) {
    std::fprintf(stderr,
                 "No supported file manager found on the PATH (Dolphin, Nautilus, Thunar, Nemo)\n");
    return 1;
  }
  std::printf("\"Send to phone\" is in %s\n", joinedNames(written).c_str());
  return 0;
}

int remove() {
  actionsForThisProgram().remove();
  std::printf("\"Send to phone\" is out of every file manager\n");
  return 0;
}

std::string stateText(const platform::FileManagerState& state) {
  if (state.installed) return state.present ? "installed" : "installed (not found on the PATH)";
  return state.present ? "not installed" : "not found";
}

int status() {
  for (const platform::FileManagerState& state : actionsForThisProgram().status()) {
    std::printf("%-9s %s\n", state.name.c_str(), stateText(state).c_str());
    for (const std::filesystem::path& file : state.files) std::printf("          %s\n", file.c_str());
  }
  return 0;
}

}  // namespace

CLI::App* addIntegrateCommand(CLI::App& parent, IntegrateOptions& options) {
  CLI::App* command = parent.add_subcommand(
      "integrate", "Add \"Send to phone\" to the file managers (Dolphin, Nautilus, Thunar, Nemo)");
  command->add_option("action", options.action, "install, remove or status")
      ->required()
      ->check(CLI::IsMember({"install", "remove", "status"}));
  return command;
}

int runIntegrateCommand(const IntegrateOptions& options) {
  if (options.action == "install") return install();
  if (options.action == "remove") return remove();
  return status();
}

void refreshFileManagerActions() {
  try {
    actionsForThisProgram().refresh(phonesToOffer());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "The file managers' \"Send to phone\" was not updated: %s\n", error.what());
  }
}

}  // namespace ferrytide::cli
