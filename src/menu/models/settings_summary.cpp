#include "menu/models/settings_summary.h"

#include <algorithm>

namespace ferrytide::menu {
namespace {

std::string yesNo(bool value) { return value ? "true" : "false"; }

std::string receiverState(const ReceiveStatus& status) {
  switch (status.kind) {
    case ReceiveStatus::Kind::listening:
      return "listening on " + std::to_string(status.port);
    case ReceiveStatus::Kind::error:
      return "error";
    case ReceiveStatus::Kind::stopped:
      return "stopped";
  }
  return "stopped";
}

}  // namespace

std::map<std::string, std::string> settingsSummary(const Preferences& prefs,
                                                   const AppState& state) {
  const std::vector<PeerRecord>& peers = state.peers();
  auto withToken = std::count_if(peers.begin(), peers.end(), [](const PeerRecord& peer) {
    return !peer.peer_fcm_token.empty();
  });
  return {
      {"copyReceivedText", yesNo(prefs.copyReceivedText())},
      {"notifyOnReceive", yesNo(prefs.notifyOnReceive())},
      {"playSound", yesNo(prefs.playSound())},
      {"askBeforeReceiving", yesNo(prefs.askBeforeReceiving())},
      {"welcomeCompleted", yesNo(prefs.welcomeCompleted())},
      {"popoverTab", prefs.popoverTab().toStdString()},
      {"clipHotkey", prefs.clipHotkey().keycaps().join(u'+').toStdString()},
      {"customSaveFolder", yesNo(prefs.saveFolder() != Preferences::defaultSaveFolder())},
      {"customDeviceName", yesNo(!prefs.deviceName().isEmpty())},
      {"pairedPhones", std::to_string(peers.size())},
      {"phonesWithWakeToken", std::to_string(withToken)},
      {"customPhoneNames", std::to_string(prefs.displayNames().size())},
      {"receiver", receiverState(state.receiveStatus())},
  };
}

}  // namespace ferrytide::menu
