#include "plinth/settings_shell.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QStackedWidget>
#include <QTest>
#include <QVBoxLayout>

#include "plinth/plinth_test_support.h"

namespace ferrytide::plinth {
namespace {

QWidget* pageWith(const SettingsPage& page) {
  auto* widget = new QWidget;
  auto* layout = new QVBoxLayout(widget);
  auto* field = new QLineEdit(widget);
  field->setObjectName(page.id + QStringLiteral("Field"));
  field->setAccessibleName(page.title);
  layout->addWidget(field);
  layout->addStretch(1);
  return widget;
}

TEST(SettingsShellTest, SwitchesPagesByMouseAndKeyboard) {
  std::vector<SettingsPage> pages{
      {QStringLiteral("general"), QStringLiteral("General"), QStringLiteral("Start-up and look"),
       QStringLiteral("preferences-system")},
      {QStringLiteral("devices"), QStringLiteral("Devices"), QStringLiteral("Paired phones"),
       QStringLiteral("phone")},
      {QStringLiteral("about"), QStringLiteral("About"), QString(), QStringLiteral("no-such-icon")}};
  SettingsShell shell(QStringLiteral("Ferrytide"), pages, pageWith, QStringLiteral("42"),
                      QStringLiteral("devices"));
  shell.resize(640, 420);
  shell.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&shell));

  auto* list = shell.findChild<QListWidget*>(QStringLiteral("pageList"));
  auto* stack = shell.findChild<QStackedWidget*>(QStringLiteral("pageStack"));
  auto* title = shell.findChild<QLabel*>(QStringLiteral("pageTitle"));
  ASSERT_TRUE(list && stack && title);
  EXPECT_EQ(shell.findChild<QLabel*>(QStringLiteral("versionLabel"))->text(),
            QStringLiteral("Version 0.1.0 (42)"));
  EXPECT_EQ(shell.selection(), QStringLiteral("devices"));
  EXPECT_EQ(stack->currentWidget()->objectName(), QStringLiteral("devices"));
  testing::shoot(&shell, QStringLiteral("settings-shell"));

  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
  EXPECT_EQ(shell.selection(), QStringLiteral("general"));
  EXPECT_EQ(title->text(), QStringLiteral("General"));

  list->setFocus();
  QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Down);
  EXPECT_EQ(shell.selection(), QStringLiteral("about"));
  EXPECT_EQ(stack->currentWidget()->objectName(), QStringLiteral("about"));
  QTest::keyClick(list, Qt::Key_Up);
  EXPECT_EQ(shell.selection(), QStringLiteral("devices"));

  QTest::keyClick(list, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), shell.findChild<QLineEdit*>(QStringLiteral("devicesField")));

  for (QWidget* control : shell.findChildren<QWidget*>()) {
    if (control->focusPolicy() != Qt::NoFocus && control->isVisibleTo(&shell)) {
      EXPECT_FALSE(control->accessibleName().isEmpty()) << control->metaObject()->className();
    }
  }
}

}  // namespace
}  // namespace ferrytide::plinth
