#pragma once

#include <QWidget>

class QFrame;
class QPushButton;

namespace ferrytide::menu {

struct AppRouter;

// The application's name and promise, who makes it, where to reach them, a problem report, and
// the libraries it is built on with their licences.
class SettingsAboutPage : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* makerSite = "https://quenfold.com";

  explicit SettingsAboutPage(AppRouter& router, QWidget* parent = nullptr);

  void setAcknowledgementsShown(bool shown);

 private:
  QWidget* makeHeader();
  QWidget* makeActions();
  QFrame* makeAcknowledgements();

  AppRouter& router_;
  QFrame* acknowledgements_ = nullptr;
  QPushButton* acknowledgementsButton_ = nullptr;
};

}  // namespace ferrytide::menu
