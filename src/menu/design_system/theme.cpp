#include "menu/design_system/theme.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPushButton>

// The icons are compiled into this static library; its resource initialiser is not linked in
// unless something refers to it.
static void initIconResources() { Q_INIT_RESOURCE(icons); }

namespace ferrytide::menu::theme {
namespace {

QString iconResource(const char* name) {
  static const bool loaded = (initIconResources(), true);
  (void)loaded;
  return QStringLiteral(":/ferrytide/") + QLatin1String(name);
}

QPalette paletteOf(const QWidget* widget) {
  return widget != nullptr ? widget->palette() : QApplication::palette();
}

QColor mix(const QColor& a, const QColor& b, double share) {
  return QColor::fromRgbF(static_cast<float>(a.redF() * (1 - share) + b.redF() * share),
                          static_cast<float>(a.greenF() * (1 - share) + b.greenF() * share),
                          static_cast<float>(a.blueF() * (1 - share) + b.blueF() * share));
}

QFont scaled(double factor, QFont::Weight weight) {
  QFont font = QApplication::font();
  if (font.pointSizeF() > 0) font.setPointSizeF(font.pointSizeF() * factor);
  else font.setPixelSize(static_cast<int>(font.pixelSize() * factor));
  font.setWeight(weight);
  return font;
}

QLabel* label(const QString& text, const QFont& font, bool secondary, QWidget* parent) {
  auto* made = new QLabel(text, parent);
  made->setFont(font);
  made->setWordWrap(true);
  made->setTextInteractionFlags(Qt::TextSelectableByMouse);
  if (secondary) made->setForegroundRole(QPalette::PlaceholderText);
  return made;
}

}  // namespace

bool isDark(const QWidget* widget) {
  return paletteOf(widget).color(QPalette::Window).lightnessF() < 0.5;
}

QColor accent(const QWidget* widget) { return paletteOf(widget).color(QPalette::Highlight); }

QColor secondaryText(const QWidget* widget) {
  QPalette palette = paletteOf(widget);
  return mix(palette.color(QPalette::WindowText), palette.color(QPalette::Window), 0.35);
}

QColor cardFill(const QWidget* widget) {
  QPalette palette = paletteOf(widget);
  QColor window = palette.color(QPalette::Window);
  return isDark(widget) ? window.lighter(125) : window.darker(106);
}

QColor separator(const QWidget* widget) {
  QPalette palette = paletteOf(widget);
  return mix(palette.color(QPalette::Window), palette.color(QPalette::WindowText), 0.18);
}

QFont titleFont() { return scaled(1.45, QFont::Bold); }
QFont headlineFont() { return scaled(1.0, QFont::DemiBold); }
QFont captionFont() { return scaled(0.9, QFont::Normal); }

QLabel* title(const QString& text, QWidget* parent) {
  return label(text, titleFont(), false, parent);
}

QLabel* headline(const QString& text, QWidget* parent) {
  return label(text, headlineFont(), false, parent);
}

QLabel* caption(const QString& text, QWidget* parent) {
  QLabel* made = label(text, captionFont(), true, parent);
  QPalette palette = made->palette();
  palette.setColor(QPalette::PlaceholderText, secondaryText(parent));
  made->setPalette(palette);
  return made;
}

QFrame* card(QWidget* parent) {
  auto* frame = new QFrame(parent);
  frame->setProperty("ferrytideCard", true);
  frame->setStyleSheet(QStringLiteral("QFrame[ferrytideCard=\"true\"] { background: %1; "
                                      "border: 1px solid %2; "
                                      "border-radius: 10px; }")
                           .arg(cardFill(parent).name(), separator(parent).name()));
  return frame;
}

QPushButton* primaryButton(const QString& text, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setDefault(true);
  button->setAutoDefault(true);
  return button;
}

QIcon logo() { return QIcon(iconResource("ferrytide-logo.svg")); }

QIcon trayIcon(bool darkPanel) {
  return QIcon(iconResource(darkPanel ? "ferrytide-tray-dark.svg" : "ferrytide-tray-light.svg"));
}

}  // namespace ferrytide::menu::theme
