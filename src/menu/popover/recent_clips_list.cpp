#include "menu/popover/recent_clips_list.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QAbstractButton>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

#include "menu/design_system/theme.h"
#include "menu/models/clip_history.h"
#include "menu/models/format.h"

namespace ferrytide::menu {
namespace {

constexpr int kRowPadding = 6;

QString describe(const Clip& clip, const QDateTime& now) {
  return (clip.direction == Clip::Direction::outgoing ? QStringLiteral("Sent to ")
                                                      : QStringLiteral("From ")) +
         clip.peerName + QStringLiteral(" · ") + Format::ago(clip.date, now);
}

// One clip: its preview over who and when, both cut to the row's width, the whole row a button.
class ClipRow : public QAbstractButton {
 public:
  ClipRow(QString preview, QString detail) : preview_(std::move(preview)), detail_(std::move(detail)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
  }

  QSize sizeHint() const override {
    return {200, 2 * kRowPadding + QFontMetrics(font()).height() +
                     QFontMetrics(theme::captionFont()).height()};
  }
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown() || underMouse() || hasFocus()) {
      QColor fill = theme::accent(this);
      fill.setAlphaF(isDown() ? 0.28f : 0.14f);
      painter.setBrush(fill);
      painter.setPen(hasFocus() ? QPen(theme::accent(this), 1.5) : Qt::NoPen);
      painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 6, 6);
    }
    const int width = this->width() - 2 * kRowPadding;
    const QFontMetrics textMetrics(font());
    const QFontMetrics captionMetrics(theme::captionFont());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(kRowPadding, kRowPadding, width, textMetrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     textMetrics.elidedText(preview_, Qt::ElideRight, width));
    painter.setFont(theme::captionFont());
    painter.setPen(theme::secondaryText(this));
    painter.drawText(QRect(kRowPadding, kRowPadding + textMetrics.height(), width,
                           captionMetrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     captionMetrics.elidedText(detail_, Qt::ElideRight, width));
  }

 private:
  QString preview_;
  QString detail_;
};

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
  const QString preview = Format::preview(clip.text);
  auto* row = new ClipRow(preview, describe(clip, now));
  row->setObjectName(QStringLiteral("recentClipRow"));
  row->setCursor(Qt::PointingHandCursor);
  row->setAccessibleName(preview);
  row->setAccessibleDescription(describe(clip, now));
  row->setToolTip(QStringLiteral("Put this text in the compose box"));
  connect(row, &QAbstractButton::clicked, this, [this, full = clip.text] { Q_EMIT clipChosen(full); });
  return row;
}

}  // namespace ferrytide::menu
