#include "menu/popover/compose_box.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "menu/controllers/popover_model.h"
#include "menu/design_system/theme.h"

namespace ferrytide::menu {
namespace {

using Status = PopoverModel::ComposeStatus;

QColor failureColour(const QWidget* widget) {
  return theme::isDark(widget) ? QColor(255, 125, 115) : QColor(180, 30, 25);
}

}  // namespace

void ComposeEdit::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Z &&
      event->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier)) {
    redo();
    event->accept();
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

ComposeBox::ComposeBox(PopoverModel& model, QWidget* parent) : QWidget(parent), model_(model) {
  setObjectName(QStringLiteral("composeBox"));
  edit_ = new ComposeEdit(this);
  edit_->setObjectName(QStringLiteral("composeEdit"));
  edit_->setAccessibleName(QStringLiteral("Text to send"));
  edit_->setPlaceholderText(QStringLiteral("Copy something, or type here"));
  edit_->setTabChangesFocus(true);
  const int lines = QFontMetrics(edit_->font()).lineSpacing();
  edit_->setFixedHeight(lines * 4 + 14);

  status_ = theme::caption({}, this);
  status_->setObjectName(QStringLiteral("composeStatus"));
  // Room for a failure message of two lines, so that the box does not jump.
  status_->setMinimumHeight(QFontMetrics(status_->font()).lineSpacing() * 2);
  status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  send_ = theme::primaryButton(QStringLiteral("Send"), this);
  send_->setObjectName(QStringLiteral("sendTextButton"));
  send_->setAccessibleName(QStringLiteral("Send text"));
  connect(send_, &QPushButton::clicked, &model_, &PopoverModel::sendText);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(status_, 1);
  bottom->addWidget(send_, 0, Qt::AlignTop);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(6);
  layout->addWidget(edit_);
  layout->addLayout(bottom);

  connect(edit_, &QPlainTextEdit::textChanged, this, &ComposeBox::userEdited);
  connect(&model_, &PopoverModel::composeTextChanged, this, &ComposeBox::showModelText);
  connect(&model_, &PopoverModel::composeStatusChanged, this, &ComposeBox::refreshStatus);
  connect(&model_, &PopoverModel::selectedPeerNameChanged, this, &ComposeBox::refreshStatus);
  showModelText(model_.composeText());
  refreshStatus();
}

void ComposeBox::showModelText(const QString& text) {
  if (edit_->toPlainText() == text) return;
  updating_ = true;
  edit_->setPlainText(text);
  edit_->moveCursor(QTextCursor::End);
  updating_ = false;
  refreshStatus();
}

void ComposeBox::userEdited() {
  if (updating_) return;
  model_.setComposeText(edit_->toPlainText());
  model_.composeEdited();
  refreshStatus();
}

void ComposeBox::refreshStatus() {
  const Status& status = model_.composeStatus();
  QString text;
  QColor colour = theme::secondaryText(this);
  switch (status.kind) {
    case Status::Kind::sending: text = QStringLiteral("Sending…"); break;
    case Status::Kind::sent: text = QStringLiteral("Sent to ") + status.text; break;
    case Status::Kind::failed:
      text = status.text;
      colour = failureColour(this);
      break;
    case Status::Kind::ready: break;
  }
  status_->setText(text);
  QPalette colours = status_->palette();
  colours.setColor(QPalette::PlaceholderText, colour);
  status_->setPalette(colours);
  send_->setEnabled(status.kind != Status::Kind::sending && !model_.composeText().isEmpty() &&
                    !model_.selectedPeerName().isEmpty());
}

}  // namespace ferrytide::menu
