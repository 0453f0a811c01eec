#include "menu/popover/peer_chooser.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>

#include "menu/design_system/theme.h"
#include "menu/models/app_state.h"

namespace ferrytide::menu {

PeerChooser::PeerChooser(AppState& appState, QWidget* parent)
    : QWidget(parent), appState_(appState) {
  setObjectName(QStringLiteral("peerChooser"));
  phones_ = new QComboBox(this);
  phones_->setObjectName(QStringLiteral("phoneChooser"));
  phones_->setAccessibleName(QStringLiteral("Send to"));
  phones_->setToolTip(QStringLiteral("The phone that files and text go to"));
  phones_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  phones_->setMinimumContentsLength(12);
  QLabel* label = theme::caption(QStringLiteral("Send to"), this);
  label->setObjectName(QStringLiteral("phoneChooserLabel"));
  label->setWordWrap(false);
  label->setTextInteractionFlags(Qt::NoTextInteraction);
  label->setBuddy(phones_);

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(label);
  layout->addWidget(phones_, 1);

  connect(&appState_, &AppState::peersChanged, this, &PeerChooser::reload);
  connect(&appState_, &AppState::selectedPeerChanged, this, &PeerChooser::reload);
  connect(&appState_.prefs(), &Preferences::displayNamesChanged, this, &PeerChooser::reload);
  connect(phones_, &QComboBox::activated, this, &PeerChooser::choose);
  reload();
}

void PeerChooser::reload() {
  const std::optional<PeerRecord> selected = appState_.selectedPeer();
  const QSignalBlocker quiet(phones_);
  phones_->clear();
  for (const PeerRecord& peer : appState_.peers()) {
    phones_->addItem(appState_.displayName(peer), QString::fromStdString(peer.peer_pubkey));
    if (selected && selected->peer_pubkey == peer.peer_pubkey) {
      phones_->setCurrentIndex(phones_->count() - 1);
    }
  }
  setVisible(phones_->count() > 1);
}

void PeerChooser::choose(int index) {
  if (index < 0) return;
  appState_.setLastSelectedPeerPubkey(phones_->itemData(index).toString());
}

}  // namespace ferrytide::menu
