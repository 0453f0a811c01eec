#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>

#include "menu/design_system/theme.h"

namespace ferrytide::menu {
namespace {

// The tray icon and the logo come from the application's resources; a missing or unreadable
// SVG (or a missing SVG image plug-in) would leave the tray without an icon.
TEST(ThemeTest, IconsRenderAndFollowThePanel) {
  for (bool dark : {false, true}) {
    QImage image = theme::trayIcon(dark).pixmap(22, 22).toImage();
    ASSERT_FALSE(image.isNull());
    int lit = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (qAlpha(image.pixel(x, y)) > 128) lit += qGray(image.pixel(x, y)) > 128 ? 1 : -1;
    // Light strokes on a dark panel, dark strokes on a light one.
    EXPECT_EQ(lit > 0, dark);
  }
  EXPECT_FALSE(theme::logo().pixmap(64, 64).isNull());
}

TEST(ThemeTest, DarkPaletteIsRecognised) {
  QPalette saved = QApplication::palette();
  QPalette dark = saved;
  dark.setColor(QPalette::Window, QColor(30, 30, 30));
  QApplication::setPalette(dark);
  EXPECT_TRUE(theme::isDark());
  QApplication::setPalette(saved);
  EXPECT_FALSE(theme::isDark());
}

}  // namespace
}  // namespace ferrytide::menu
