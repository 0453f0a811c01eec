#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

class QLabel;
class QListWidget;
class QStackedWidget;

namespace ferrytide::plinth {

struct SettingsPage {
  QString id;
  QString title;
  QString subtitle;
  QString symbol;  // a freedesktop icon theme name ("preferences-system")
};

// The two-column settings layout: the application's name and a sidebar of pages on the left,
// above the version line, and the chosen page with its title and subtitle on the right. Up and
// down move through the sidebar; Tab goes on into the page.
class SettingsShell : public QWidget {
  Q_OBJECT

 public:
  // Makes the content of one page; the shell takes ownership.
  using PageBuilder = std::function<QWidget*(const SettingsPage&)>;

  SettingsShell(const QString& appName, std::vector<SettingsPage> pages, const PageBuilder& content,
                const QString& build, const QString& selection = {}, QWidget* parent = nullptr);

  QString selection() const;
  void select(const QString& id);
  const std::vector<SettingsPage>& pages() const { return pages_; }

  // "Version 0.1.0 (42)"
  static QString versionLine(const QString& build);

 Q_SIGNALS:
  void selectionChanged(const QString& id);

 private:
  QWidget* makeSidebar(const QString& appName, const QString& build);
  QWidget* makePageArea(const PageBuilder& content);
  void showPage(int row);

  std::vector<SettingsPage> pages_;
  QListWidget* sidebar_ = nullptr;
  QStackedWidget* stack_ = nullptr;
  QLabel* pageTitle_ = nullptr;
  QLabel* pageSubtitle_ = nullptr;
};

}  // namespace ferrytide::plinth
