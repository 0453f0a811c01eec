#include "menu/popover/clips_tab.h"

#include <QVBoxLayout>

#include "menu/controllers/popover_model.h"
#include "menu/popover/clip_notice.h"
#include "menu/popover/compose_box.h"
#include "menu/popover/recent_clips_list.h"

namespace ferrytide::menu {

ClipsTab::ClipsTab(PopoverModel& model, ClipHistory& history, QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("clipsTab"));
  compose_ = new ComposeBox(model, this);
  clips_ = new RecentClipsList(history, this);
  connect(clips_, &RecentClipsList::clipChosen, this, [&model, this](const QString& text) {
    model.setComposeText(text);
    model.composeEdited();
    compose_->edit()->setFocus();
  });

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(12);
  layout->addWidget(new ClipNotice(model, this));
  layout->addWidget(compose_);
  layout->addWidget(clips_, 1);
}

void ClipsTab::refresh() { clips_->refresh(); }

}  // namespace ferrytide::menu
