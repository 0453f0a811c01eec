#include "menu/popover/send_progress_card.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "menu/controllers/popover_model.h"
#include "menu/design_system/theme.h"
#include "menu/models/format.h"

namespace ferrytide::menu {
namespace {

// The bar counts in thousandths: byte counts do not fit its int range.
constexpr int kBarSteps = 1000;

QString fileCount(int count) {
  return count == 1 ? QStringLiteral("1 file") : QString::number(count) + QStringLiteral(" files");
}

// A red that reads on the card in either palette.
QColor failureColour(const QWidget* widget) {
  return theme::isDark(widget) ? QColor(255, 125, 115) : QColor(180, 30, 25);
}

}  // namespace

SendProgressCard::SendProgressCard(PopoverModel& model, QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("sendProgressCard"));
  QFrame* card = theme::card(this);

  title_ = theme::headline({}, card);
  title_->setObjectName(QStringLiteral("sendTitle"));
  detail_ = theme::caption({}, card);
  detail_->setObjectName(QStringLiteral("sendDetail"));
  bar_ = new QProgressBar(card);
  bar_->setObjectName(QStringLiteral("sendProgress"));
  bar_->setAccessibleName(QStringLiteral("Send progress"));
  bar_->setRange(0, kBarSteps);
  bar_->setTextVisible(false);
  bar_->setFixedHeight(6);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), card);
  cancel_->setObjectName(QStringLiteral("cancelSendButton"));
  cancel_->setAccessibleName(QStringLiteral("Cancel sending"));
  connect(cancel_, &QPushButton::clicked, &model, &PopoverModel::cancelSend);

  auto* texts = new QVBoxLayout;
  texts->setSpacing(2);
  texts->addWidget(title_);
  texts->addWidget(detail_);
  auto* top = new QHBoxLayout;
  top->addLayout(texts, 1);
  top->addWidget(cancel_, 0, Qt::AlignTop);
  auto* inside = new QVBoxLayout(card);
  inside->setContentsMargins(12, 10, 12, 12);
  inside->setSpacing(8);
  inside->addLayout(top);
  inside->addWidget(bar_);
  auto* outside = new QVBoxLayout(this);
  outside->setContentsMargins(0, 0, 0, 0);
  outside->addWidget(card);

  connect(&model, &PopoverModel::sendPhaseChanged, this, &SendProgressCard::showPhase);
  showPhase(model.sendPhase());
}

void SendProgressCard::showPhase(const SendPhase& phase) {
  if (const auto* waking = std::get_if<SendPhase::Waking>(&phase.state)) {
    showBusy(QStringLiteral("Waking ") + waking->peerName + QStringLiteral("…"), waking->progress);
  } else if (const auto* running = std::get_if<SendPhase::Running>(&phase.state)) {
    showBusy(QStringLiteral("Sending to ") + running->peerName, running->progress);
  } else if (const auto* done = std::get_if<SendPhase::Done>(&phase.state)) {
    showDone(*done);
  } else if (const auto* failed = std::get_if<SendPhase::Failed>(&phase.state)) {
    showFailed(*failed);
  }
  setVisible(!std::holds_alternative<SendPhase::Idle>(phase.state));
}

void SendProgressCard::setDetailColour(const QColor& colour) {
  QPalette colours = detail_->palette();
  colours.setColor(QPalette::PlaceholderText, colour);
  detail_->setPalette(colours);
}

void SendProgressCard::showBusy(const QString& title, const SendPhase::Progress& progress) {
  title_->setText(title);
  detail_->setText(QStringLiteral("File %1 of %2").arg(progress.fileIndex).arg(progress.fileCount));
  setDetailColour(theme::secondaryText(this));
  const double share = progress.bytesTotal > 0
                           ? static_cast<double>(progress.bytesDone) / progress.bytesTotal
                           : 0.0;
  bar_->setValue(static_cast<int>(qBound(0.0, share, 1.0) * kBarSteps));
  bar_->show();
  cancel_->show();
  setAccessibleName(title_->text());
}

void SendProgressCard::showDone(const SendPhase::Done& done) {
  title_->setText(QStringLiteral("Sent ") + fileCount(done.filesSent) + QStringLiteral(" to ") +
                  done.peerName);
  detail_->setText(Format::byteCount(done.totalBytes) + QStringLiteral(" in ") +
                   Format::duration(done.durationSeconds));
  setDetailColour(theme::secondaryText(this));
  bar_->hide();
  cancel_->hide();
  setAccessibleName(title_->text());
}

void SendProgressCard::showFailed(const SendPhase::Failed& failed) {
  title_->setText(QStringLiteral("Not sent"));
  detail_->setText(failed.message);
  setDetailColour(failureColour(this));
  bar_->hide();
  cancel_->hide();
  setAccessibleName(title_->text() + QStringLiteral(": ") + failed.message);
}

}  // namespace ferrytide::menu
