#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>

class QFrame;
class QLabel;
class QPushButton;
class QWidget;

namespace ferrytide::menu::theme {

// The application's look on top of the desktop's palette: nothing here is light-only, every
// colour is taken from or mixed with the palette of the widget it is used in.

// True when the palette's window colour is dark.
bool isDark(const QWidget* widget = nullptr);

// The highlight colour of the palette, used for primary buttons and progress.
QColor accent(const QWidget* widget = nullptr);
// Text that explains, one step quieter than the window text.
QColor secondaryText(const QWidget* widget = nullptr);
// The fill of a card: the window colour, a little lighter in dark palettes and darker in light.
QColor cardFill(const QWidget* widget = nullptr);
QColor separator(const QWidget* widget = nullptr);

// Relative sizes of the window font.
QFont titleFont();     // a window's or step's heading
QFont headlineFont();  // a row's or card's name
QFont captionFont();   // small explanations

// A label in the given style, word-wrapped where it can grow; `objectName` names it for tests.
QLabel* title(const QString& text, QWidget* parent = nullptr);
QLabel* headline(const QString& text, QWidget* parent = nullptr);
QLabel* caption(const QString& text, QWidget* parent = nullptr);

// A rounded panel in the card fill; lay its content out inside it.
QFrame* card(QWidget* parent = nullptr);
// The button that does the window's main thing (the default button, in the accent).
QPushButton* primaryButton(const QString& text, QWidget* parent = nullptr);

// The application's logo in colour (windows, about page, the QR tile's centre).
QIcon logo();
// The tray icon: dark strokes for a light panel, light strokes for a dark panel.
QIcon trayIcon(bool darkPanel);

}  // namespace ferrytide::menu::theme
