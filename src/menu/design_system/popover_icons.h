#pragma once

#include <QIcon>

class QWidget;

// Icons of the tray popover, drawn in the palette's text colour of the widget that shows them,
// so that they read on light and dark palettes alike (icon themes are not everywhere).
namespace ferrytide::menu::popover_icons {

// A cog wheel: the way to the settings.
QIcon gear(const QWidget* widget);
// A folder outline: shows a file in the file manager.
QIcon folder(const QWidget* widget);
// A slanted cross: closes what it sits on.
QIcon cross(const QWidget* widget);

}  // namespace ferrytide::menu::popover_icons
