#include "menu/popover/files_tab.h"

#include <QVBoxLayout>

#include "menu/controllers/popover_model.h"
#include "menu/popover/drop_zone.h"
#include "menu/popover/recent_files_list.h"
#include "menu/popover/send_progress_card.h"

namespace ferrytide::menu {

FilesTab::FilesTab(PopoverModel& model, platform::DesktopLauncher launcher, QWidget* parent)
    : QWidget(parent) {
  setObjectName(QStringLiteral("filesTab"));
  dropZone_ = new DropZone(model, this);
  recent_ = new RecentFilesList(model.appState(), std::move(launcher), this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(12);
  layout->addWidget(dropZone_);
  layout->addWidget(new SendProgressCard(model, this));
  layout->addWidget(recent_, 1);
}

void FilesTab::refresh() { recent_->refresh(); }

}  // namespace ferrytide::menu
