#include "menu/popover/peer_chooser.h"

#include "menu/models/app_state.h"

namespace ferrytide::menu {

PeerChooser::PeerChooser(AppState& appState, QWidget* parent)
    : QComboBox(parent), appState_(appState) {
  setObjectName(QStringLiteral("phoneChooser"));
  setAccessibleName(QStringLiteral("Send to"));
  setToolTip(QStringLiteral("The phone that files and text go to"));
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  setMinimumContentsLength(12);
  connect(&appState_, &AppState::peersChanged, this, &PeerChooser::reload);
  connect(&appState_, &AppState::selectedPeerChanged, this, &PeerChooser::reload);
  connect(&appState_.prefs(), &Preferences::displayNamesChanged, this, &PeerChooser::reload);
  connect(this, &QComboBox::activated, this, &PeerChooser::choose);
  reload();
}

void PeerChooser::reload() {
  const std::optional<PeerRecord> selected = appState_.selectedPeer();
  const QSignalBlocker quiet(this);
  clear();
  for (const PeerRecord& peer : appState_.peers()) {
    addItem(appState_.displayName(peer), QString::fromStdString(peer.peer_pubkey));
    if (selected && selected->peer_pubkey == peer.peer_pubkey) setCurrentIndex(count() - 1);
  }
  setVisible(count() > 1);
}

void PeerChooser::choose(int index) {
  if (index < 0) return;
  appState_.setLastSelectedPeerPubkey(itemData(index).toString());
}

}  // namespace ferrytide::menu
