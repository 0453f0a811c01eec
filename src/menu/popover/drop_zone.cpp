#include "menu/popover/drop_zone.h"

#include <QPainter>
#include <QPainterPath>

#include "menu/controllers/popover_model.h"
#include "menu/design_system/theme.h"

namespace ferrytide::menu {
namespace {

constexpr int kPadding = 16;
constexpr int kGap = 4;
constexpr qreal kRadius = 12;

}  // namespace

DropZone::DropZone(PopoverModel& model, QWidget* parent) : QAbstractButton(parent), model_(model) {
  setObjectName(QStringLiteral("dropZone"));
  setFocusPolicy(Qt::StrongFocus);
  setCursor(Qt::PointingHandCursor);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  connect(this, &QAbstractButton::clicked, &model_, &PopoverModel::chooseFiles);
  connect(&model_, &PopoverModel::selectedPeerNameChanged, this, &DropZone::refresh);
  connect(&model_, &PopoverModel::externalDragCountChanged, this, &DropZone::refresh);
  refresh();
}

bool DropZone::dragOver() const { return model_.externalDragCount().has_value(); }

QString DropZone::headlineText() const { return model_.dropZoneText(dragOver()); }

QString DropZone::detailText() const {
  if (!dragOver()) return QStringLiteral("Click to choose files");
  const int count = *model_.externalDragCount();
  return count == 1 ? QStringLiteral("1 file") : QString::number(count) + QStringLiteral(" files");
}

void DropZone::refresh() {
  setAccessibleName(headlineText());
  setAccessibleDescription(detailText());
  updateGeometry();
  update();
}

QRect DropZone::headlineRect(int width) const {
  const QFontMetrics metrics(theme::headlineFont());
  return metrics.boundingRect(QRect(0, 0, qMax(1, width - 2 * kPadding), 10'000),
                              Qt::AlignHCenter | Qt::TextWordWrap, headlineText());
}

int DropZone::heightForWidth(int width) const {
  const QFontMetrics caption(theme::captionFont());
  // Room for two lines of heading, so that the zone does not jump as the phone's name changes.
  const int headline = qMax(headlineRect(width).height(), QFontMetrics(theme::headlineFont()).height() * 2);
  return qMax(96, 2 * kPadding + headline + kGap + caption.height());
}

QSize DropZone::sizeHint() const { return {300, heightForWidth(300)}; }

QSize DropZone::minimumSizeHint() const { return {200, heightForWidth(200)}; }

void DropZone::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor accent = theme::accent(this);
  const QRectF frame = QRectF(rect()).adjusted(1, 1, -1, -1);
  QPainterPath outline;
  outline.addRoundedRect(frame, kRadius, kRadius);

  QColor fill = dragOver() || isDown() ? accent : theme::cardFill(this);
  if (dragOver() || isDown()) fill.setAlphaF(0.16f);
  painter.fillPath(outline, fill);
  QPen pen(dragOver() || hasFocus() ? accent : theme::separator(this).darker(theme::isDark(this) ? 60 : 130));
  pen.setWidthF(hasFocus() ? 2 : 1.5);
  if (!hasFocus()) pen.setStyle(Qt::DashLine);
  painter.setPen(pen);
  painter.drawPath(outline);

  const QRect headline = headlineRect(width());
  const QFontMetrics caption(theme::captionFont());
  const int block = headline.height() + kGap + caption.height();
  const int top = (height() - block) / 2;
  painter.setFont(theme::headlineFont());
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(QRect(kPadding, top, width() - 2 * kPadding, headline.height()),
                   Qt::AlignHCenter | Qt::TextWordWrap, headlineText());
  painter.setFont(theme::captionFont());
  painter.setPen(dragOver() ? accent : theme::secondaryText(this));
  painter.drawText(QRect(kPadding, top + headline.height() + kGap, width() - 2 * kPadding,
                         caption.height()),
                   Qt::AlignHCenter, detailText());
}

}  // namespace ferrytide::menu
