#include "menu/popover/recent_files_list.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include "menu/design_system/popover_icons.h"
#include "menu/design_system/theme.h"
#include "menu/models/app_state.h"
#include "menu/models/format.h"

namespace ferrytide::menu {
namespace {

constexpr int kNameWidth = 270;

QString fileName(const std::filesystem::path& file) {
  return QFile::decodeName(file.filename().c_str());
}

QString describe(const FileLog& row, const QString& phone, const QDateTime& now) {
  const QString who = (row.direction == FileLog::Direction::sent ? QStringLiteral("Sent to ")
                                                                  : QStringLiteral("From ")) +
                      phone;
  return who + QStringLiteral(" · ") + Format::byteCount(row.bytes) + QStringLiteral(" · ") +
         Format::ago(row.date, now);
}

}  // namespace

RecentFilesList::RecentFilesList(AppState& appState, platform::DesktopLauncher launcher,
                                 QWidget* parent)
    : QWidget(parent), appState_(appState), launcher_(std::move(launcher)) {
  setObjectName(QStringLiteral("recentFiles"));
  QLabel* heading = theme::headline(QStringLiteral("Recent files"), this);
  heading->setObjectName(QStringLiteral("recentFilesHeading"));
  heading->setTextInteractionFlags(Qt::NoTextInteraction);
  auto* openFolder = new QPushButton(QStringLiteral("Open folder"), this);
  openFolder->setObjectName(QStringLiteral("openFolderButton"));
  openFolder->setAccessibleName(QStringLiteral("Open the folder received files are saved in"));
  openFolder->setFlat(true);
  connect(openFolder, &QPushButton::clicked, this, [this] {
    launcher_.open(QFile::encodeName(appState_.prefs().saveFolder()).toStdString());
  });

  empty_ = theme::caption(QStringLiteral("Files you send or receive show up here."), this);
  empty_->setObjectName(QStringLiteral("recentFilesEmpty"));
  empty_->setAlignment(Qt::AlignCenter);

  rows_ = new QWidget;
  rows_->setObjectName(QStringLiteral("recentFileRows"));
  rowsLayout_ = new QVBoxLayout(rows_);
  rowsLayout_->setContentsMargins(0, 0, 4, 0);
  rowsLayout_->setSpacing(6);
  scroll_ = new QScrollArea(this);
  QScrollArea* scroll = scroll_;
  scroll->setObjectName(QStringLiteral("recentFilesScroll"));
  scroll->setAccessibleName(QStringLiteral("Recent files"));
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setWidget(rows_);
  scroll->viewport()->setAutoFillBackground(false);
  rows_->setAutoFillBackground(false);

  auto* top = new QHBoxLayout;
  top->addWidget(heading, 1);
  top->addWidget(openFolder);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(6);
  layout->addLayout(top);
  layout->addWidget(empty_, 1);
  layout->addWidget(scroll, 1);

  connect(&appState_, &AppState::recentFilesChanged, this, &RecentFilesList::refresh);
  connect(&appState_.prefs(), &Preferences::displayNamesChanged, this, &RecentFilesList::refresh);
  refresh();
}

void RecentFilesList::refresh() {
  while (QLayoutItem* item = rowsLayout_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  const QDateTime now = QDateTime::currentDateTime();
  for (const FileLog& row : appState_.recentFiles()) rowsLayout_->addWidget(makeRow(row, now));
  rowsLayout_->addStretch(1);
  const bool none = appState_.recentFiles().empty();
  empty_->setVisible(none);
  scroll_->setVisible(!none);
}

QWidget* RecentFilesList::makeRow(const FileLog& row, const QDateTime& now) {
  auto* widget = new QWidget;
  widget->setObjectName(QStringLiteral("recentFileRow"));
  const QString name = fileName(row.url);
  const QString phone = appState_.currentName(row.peerName, row.peerPubkey);

  QLabel* title = theme::headline({}, widget);
  title->setObjectName(QStringLiteral("recentFileName"));
  title->setWordWrap(false);
  title->setText(QFontMetrics(title->font()).elidedText(name, Qt::ElideMiddle, kNameWidth));
  title->setToolTip(QFile::decodeName(row.url.c_str()));
  const QString details = describe(row, phone, now);
  QLabel* detail = theme::caption({}, widget);
  detail->setObjectName(QStringLiteral("recentFileDetail"));
  detail->setWordWrap(false);
  detail->setText(QFontMetrics(detail->font()).elidedText(details, Qt::ElideRight, kNameWidth));
  detail->setToolTip(details);

  auto* reveal = new QToolButton(widget);
  reveal->setObjectName(QStringLiteral("showInFolderButton"));
  reveal->setIcon(popover_icons::folder(this));
  reveal->setIconSize(QSize(18, 18));
  reveal->setToolTip(QStringLiteral("Show in Folder"));
  reveal->setAccessibleName(QStringLiteral("Show ") + name + QStringLiteral(" in Folder"));
  reveal->setAutoRaise(true);
  reveal->setFocusPolicy(Qt::StrongFocus);
  connect(reveal, &QToolButton::clicked, this,
          [this, file = row.url] { launcher_.reveal({file}); });

  auto* texts = new QVBoxLayout;
  texts->setSpacing(0);
  texts->addWidget(title);
  texts->addWidget(detail);
  auto* layout = new QHBoxLayout(widget);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(texts, 1);
  layout->addWidget(reveal, 0, Qt::AlignVCenter);
  widget->setAccessibleName(name);
  return widget;
}

}  // namespace ferrytide::menu
