#include "menu/popover/clip_notice.h"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "menu/controllers/popover_model.h"
#include "menu/design_system/popover_icons.h"
#include "menu/design_system/theme.h"

namespace ferrytide::menu {
namespace {

constexpr int kTextWidth = 270;

}  // namespace

ClipNotice::ClipNotice(PopoverModel& model, QWidget* parent) : QWidget(parent), model_(model) {
  setObjectName(QStringLiteral("clipNotice"));
  QFrame* card = theme::card(this);
  text_ = theme::headline({}, card);
  text_->setObjectName(QStringLiteral("noticeText"));
  text_->setFont(QApplication::font());
  text_->setWordWrap(false);

  sendAnyway_ = new QPushButton(QStringLiteral("Send anyway"), card);
  sendAnyway_->setObjectName(QStringLiteral("sendAnywayButton"));
  sendAnyway_->setAccessibleName(QStringLiteral("Send anyway"));
  connect(sendAnyway_, &QPushButton::clicked, &model_, &PopoverModel::sendAnyway);
  dontSend_ = new QPushButton(QStringLiteral("Don't send"), card);
  dontSend_->setObjectName(QStringLiteral("dontSendButton"));
  dontSend_->setAccessibleName(QStringLiteral("Don't send"));
  connect(dontSend_, &QPushButton::clicked, &model_, &PopoverModel::dismissNotice);
  close_ = new QToolButton(card);
  close_->setObjectName(QStringLiteral("closeNoticeButton"));
  close_->setAccessibleName(QStringLiteral("Close notice"));
  close_->setToolTip(QStringLiteral("Close"));
  close_->setAutoRaise(true);
  close_->setFocusPolicy(Qt::StrongFocus);
  close_->setIcon(popover_icons::cross(this));
  connect(close_, &QToolButton::clicked, &model_, &PopoverModel::dismissNotice);

  auto* top = new QHBoxLayout;
  top->addWidget(text_, 1);
  top->addWidget(close_, 0, Qt::AlignTop);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(dontSend_);
  buttons->addWidget(sendAnyway_);
  auto* inside = new QVBoxLayout(card);
  inside->setContentsMargins(12, 8, 8, 10);
  inside->addLayout(top);
  inside->addLayout(buttons);
  auto* outside = new QVBoxLayout(this);
  outside->setContentsMargins(0, 0, 0, 0);
  outside->addWidget(card);

  connect(&model_, &PopoverModel::noticeChanged, this, &ClipNotice::refresh);
  refresh();
}

void ClipNotice::refresh() {
  const auto& notice = model_.notice();
  // One line: a received text's preview can be long, the end of the sentence matters.
  text_->setText(QFontMetrics(text_->font()).elidedText(model_.noticeText(), Qt::ElideMiddle, kTextWidth));
  text_->setToolTip(model_.noticeText());
  setAccessibleName(model_.noticeText());
  const bool password = notice && notice->kind == PopoverModel::Notice::Kind::passwordBlocked;
  sendAnyway_->setVisible(password);
  dontSend_->setVisible(password);
  // "Don't send" is the way out of the password notice.
  close_->setVisible(!password);
  setVisible(notice.has_value());
}

void ClipNotice::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange) close_->setIcon(popover_icons::cross(this));
  QWidget::changeEvent(event);
}

}  // namespace ferrytide::menu
