#include "menu/services/receive_approval.h"

#include "menu/models/format.h"

namespace ferrytide::menu {

ReceiveApproval::ReceiveApproval(Preferences& prefs, ApprovalPrompt& prompt, Timing timing,
                                 Clock clock, QObject* parent)
    : QObject(parent), prefs_(prefs), prompt_(&prompt), timing_(timing), clock_(std::move(clock)) {
  askTimer_.setSingleShot(true);
  connect(&askTimer_, &QTimer::timeout, this, [this] {
    if (current_) resolve(current_->id, false);
  });
}

ReceiveApproval::~ReceiveApproval() {
  if (current_) {
    prompt_->hide();
    for (Answer& answer : current_->answers) answer(false);
  }
  for (Offer& offer : waiting_) offer.answer(false);
}

void ReceiveApproval::ask(const QString& peerPubkey, const QString& peerName,
                          const QString& fileName, std::int64_t size, Answer answer) {
  if (!prefs_.askBeforeReceiving() || trusted(peerPubkey)) {
    answer(true);
    return;
  }
  Offer offer{peerPubkey, peerName, fileName, size, std::move(answer)};
  if (!current_) {
    showPrompt(std::move(offer));
  } else if (current_->peerPubkey == peerPubkey) {
    current_->answers.push_back(std::move(offer.answer));
  } else {
    waiting_.push_back(std::move(offer));
  }
}

bool ReceiveApproval::trusted(const QString& peerPubkey) const {
  auto found = trustedUntil_.find(peerPubkey);
  return found != trustedUntil_.end() && found->second > clock_();
}

void ReceiveApproval::showPrompt(Offer offer) {
  std::uint64_t id = nextId_++;
  current_ = Current{id, offer.peerPubkey, {}};
  current_->answers.push_back(std::move(offer.answer));
  std::optional<QString> sizeText;
  if (offer.size >= 1) sizeText = Format::byteCount(offer.size);
  askTimer_.start(timing_.askWindow);
  prompt_->show({offer.peerName, offer.fileName, sizeText},
                [this, id](bool accepted) { resolve(id, accepted); });
}

// The first of accept, decline and the time-out wins; a late one finds another id or none.
void ReceiveApproval::resolve(std::uint64_t id, bool accepted) {
  if (!current_ || current_->id != id) return;
  askTimer_.stop();
  Current answered = std::move(*current_);
  current_.reset();
  prompt_->hide();
  if (accepted) {
    trustedUntil_[answered.peerPubkey] = clock_().addMSecs(timing_.trustWindow.count());
  }
  for (Answer& answer : answered.answers) answer(accepted);
  serveWaiting();
}

// Offers that waited behind the last question: a phone accepted meanwhile passes, the first
// other one gets the next question.
void ReceiveApproval::serveWaiting() {
  while (!current_ && !waiting_.empty()) {
    Offer offer = std::move(waiting_.front());
    waiting_.pop_front();
    if (!prefs_.askBeforeReceiving() || trusted(offer.peerPubkey)) {
      offer.answer(true);
    } else {
      showPrompt(std::move(offer));
    }
  }
}

}  // namespace ferrytide::menu
