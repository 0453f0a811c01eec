#include "menu/design_system/popover_icons.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QWidget>
#include <cmath>
#include <numbers>

namespace ferrytide::menu::popover_icons {
namespace {

constexpr int kTeeth = 8;

// The outline of a cog of `size` pixels: a ring of teeth around a round hole.
QPainterPath cogPath(qreal size) {
  const QPointF centre(size / 2, size / 2);
  const qreal outer = size * 0.46;
  const qreal inner = size * 0.34;
  QPainterPath path;
  for (int step = 0; step < kTeeth * 4; ++step) {
    const qreal angle = step * 2 * std::numbers::pi / (kTeeth * 4);
    // Two points out (a tooth), two points in (a gap).
    const qreal radius = (step % 4 < 2) ? outer : inner;
    const QPointF point = centre + QPointF(std::cos(angle), std::sin(angle)) * radius;
    if (step == 0) path.moveTo(point);
    else path.lineTo(point);
  }
  path.closeSubpath();
  path.addEllipse(centre, size * 0.14, size * 0.14);
  path.setFillRule(Qt::OddEvenFill);
  return path;
}

QColor textColour(const QWidget* widget) {
  return (widget != nullptr ? widget->palette() : QApplication::palette())
      .color(QPalette::WindowText);
}

// The same drawing at the sizes a toolbar asks for, sharp at scale 1 and 2.
template <typename Draw>
QIcon drawn(Draw draw) {
  QIcon icon;
  for (int size : {16, 20, 32, 40, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter, size);
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

QIcon gear(const QWidget* widget) {
  const QColor colour = textColour(widget);
  return drawn([&](QPainter& painter, int size) { painter.fillPath(cogPath(size), colour); });
}

QIcon folder(const QWidget* widget) {
  const QColor colour = textColour(widget);
  return drawn([&](QPainter& painter, int size) {
    const qreal unit = size / 16.0;
    QPainterPath path;
    path.moveTo(1.5 * unit, 3.5 * unit);
    path.lineTo(6 * unit, 3.5 * unit);
    path.lineTo(7.5 * unit, 5 * unit);
    path.lineTo(14.5 * unit, 5 * unit);
    path.lineTo(14.5 * unit, 13 * unit);
    path.lineTo(1.5 * unit, 13 * unit);
    path.closeSubpath();
    path.moveTo(1.5 * unit, 7 * unit);
    path.lineTo(14.5 * unit, 7 * unit);
    painter.setPen(QPen(colour, 1.3 * unit, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(path);
  });
}

QIcon cross(const QWidget* widget) {
  const QColor colour = textColour(widget);
  return drawn([&](QPainter& painter, int size) {
    QPen pen(colour, size / 10.0, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    const qreal inset = size * 0.28;
    painter.drawLine(QPointF(inset, inset), QPointF(size - inset, size - inset));
    painter.drawLine(QPointF(size - inset, inset), QPointF(inset, size - inset));
  });
}

}  // namespace ferrytide::menu::popover_icons
