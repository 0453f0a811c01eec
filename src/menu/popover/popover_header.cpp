#include "menu/popover/popover_header.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include "menu/controllers/popover_model.h"
#include "menu/design_system/popover_icons.h"
#include "menu/design_system/theme.h"
#include "menu/tray/app_router.h"

namespace ferrytide::menu {

PopoverHeader::PopoverHeader(PopoverModel& model, AppRouter& router, QWidget* parent)
    : QWidget(parent) {
  auto* logo = new QLabel(this);
  logo->setObjectName(QStringLiteral("popoverLogo"));
  logo->setPixmap(theme::logo().pixmap(28, 28));
  logo->setFixedSize(28, 28);

  QLabel* name = theme::headline(QStringLiteral("Ferrytide"), this);
  name->setObjectName(QStringLiteral("popoverTitle"));
  name->setTextInteractionFlags(Qt::NoTextInteraction);
  status_ = theme::caption(model.receiveStatusText(), this);
  status_->setObjectName(QStringLiteral("receiveStatus"));
  status_->setTextInteractionFlags(Qt::NoTextInteraction);
  connect(&model, &PopoverModel::receiveStatusTextChanged, status_, &QLabel::setText);

  settings_ = new QToolButton(this);
  settings_->setObjectName(QStringLiteral("settingsButton"));
  settings_->setAccessibleName(QStringLiteral("Settings"));
  settings_->setToolTip(QStringLiteral("Settings"));
  settings_->setAutoRaise(true);
  settings_->setIcon(popover_icons::gear(this));
  settings_->setIconSize(QSize(20, 20));
  settings_->setFocusPolicy(Qt::StrongFocus);
  connect(settings_, &QToolButton::clicked, this, [&router] { router.showSettings(std::nullopt); });

  auto* texts = new QVBoxLayout;
  texts->setSpacing(0);
  texts->addWidget(name);
  texts->addWidget(status_);

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(10);
  row->addWidget(logo);
  row->addLayout(texts, 1);
  row->addWidget(settings_, 0, Qt::AlignTop);
}

void PopoverHeader::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange) settings_->setIcon(popover_icons::gear(this));
  QWidget::changeEvent(event);
}

}  // namespace ferrytide::menu
