#include "menu/popover/recent_clips_list.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "menu/design_system/theme.h"
#include "menu/models/clip_history.h"
#include "menu/models/format.h"

namespace ferrytide::menu {
namespace {

constexpr int kPreviewWidth = 290;

QString describe(const Clip& clip, const QDateTime& now) {
  return (clip.direction == Clip::Direction::outgoing ? QStringLiteral("Sent to ")
                                                      : QStringLiteral("From ")) +
         clip.peerName + QStringLiteral(" · ") + Format::ago(clip.date, now);
}

// Labels inside a row button leave the clicks to the button.
void passClicksOn(QLabel* label) {
  label->setTextInteractionFlags(Qt::NoTextInteraction);
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
}

}  // namespace

RecentClipsList::RecentClipsList(ClipHistory& history, QWidget* parent)
    : QWidget(parent), history_(history) {
  setObjectName(QStringLiteral("recentClips"));
  QLabel* heading = theme::headline(QStringLiteral("Recent clips"), this);
  heading->setObjectName(QStringLiteral("recentClipsHeading"));
  heading->setTextInteractionFlags(Qt::NoTextInteraction);

  empty_ = theme::caption(QStringLiteral("Text you send or receive shows up here."), this);
  empty_->setObjectName(QStringLiteral("recentClipsEmpty"));
  empty_->setAlignment(Qt::AlignCenter);

  auto* rows = new QWidget;
  rows->setObjectName(QStringLiteral("recentClipRows"));
  rowsLayout_ = new QVBoxLayout(rows);
  rowsLayout_->setContentsMargins(0, 0, 4, 0);
  rowsLayout_->setSpacing(2);
  scroll_ = new QScrollArea(this);
  scroll_->setObjectName(QStringLiteral("recentClipsScroll"));
  scroll_->setAccessibleName(QStringLiteral("Recent clips"));
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setWidgetResizable(true);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_->setWidget(rows);
  scroll_->viewport()->setAutoFillBackground(false);
  rows->setAutoFillBackground(false);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(6);
  layout->addWidget(heading);
  layout->addWidget(empty_, 1);
  layout->addWidget(scroll_, 1);

  connect(&history_, &ClipHistory::clipsChanged, this, &RecentClipsList::refresh);
  refresh();
}

void RecentClipsList::refresh() {
  while (QLayoutItem* item = rowsLayout_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  const QDateTime now = QDateTime::currentDateTime();
  const std::vector<Clip>& clips = history_.clips();
  const std::size_t shown = std::min<std::size_t>(clips.size(), shownLimit);
  for (std::size_t i = 0; i < shown; ++i) rowsLayout_->addWidget(makeRow(clips[i], now));
  rowsLayout_->addStretch(1);
  empty_->setVisible(clips.empty());
  scroll_->setVisible(!clips.empty());
}

QWidget* RecentClipsList::makeRow(const Clip& clip, const QDateTime& now) {
  auto* row = new QPushButton;
  row->setObjectName(QStringLiteral("recentClipRow"));
  row->setFlat(true);
  row->setCursor(Qt::PointingHandCursor);
  const QString preview = Format::preview(clip.text);
  row->setAccessibleName(preview);
  row->setAccessibleDescription(describe(clip, now));
  row->setToolTip(QStringLiteral("Put this text in the compose box"));

  QLabel* text = theme::headline({}, row);
  text->setObjectName(QStringLiteral("recentClipText"));
  text->setWordWrap(false);
  text->setFont(QApplication::font());
  text->setText(QFontMetrics(text->font()).elidedText(preview, Qt::ElideRight, kPreviewWidth));
  QLabel* detail = theme::caption(describe(clip, now), row);
  detail->setObjectName(QStringLiteral("recentClipDetail"));
  passClicksOn(text);
  passClicksOn(detail);

  auto* layout = new QVBoxLayout(row);
  layout->setContentsMargins(6, 4, 6, 4);
  layout->setSpacing(0);
  layout->addWidget(text);
  layout->addWidget(detail);
  connect(row, &QPushButton::clicked, this, [this, full = clip.text] { Q_EMIT clipChosen(full); });
  return row;
}

}  // namespace ferrytide::menu
