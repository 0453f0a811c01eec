#pragma once

#include <QString>
#include <QWidget>
#include <optional>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace plinth {
class Updater;
}

namespace ferrytide::menu {

class SettingsRow;

// The updater, inline: what it is doing or found, the buttons that answer it, the automatic
// install switch and the version history. A build without an updater says so and names the
// installed version.
class SettingsUpdatesPage : public QWidget {
  Q_OBJECT

 public:
  explicit SettingsUpdatesPage(::plinth::Updater* updater, QWidget* parent = nullptr);

  // The page's line under its title in the settings window.
  static QString subtitle(const ::plinth::Updater* updater);

 private:
  QWidget* makeStatusCard();
  QWidget* makeInstalledCard();
  void showState();
  void showOffer();
  void showBusy(std::optional<double> progress);
  QString lastCheckedText() const;

  ::plinth::Updater* updater_;
  SettingsRow* status_ = nullptr;
  QProgressBar* busy_ = nullptr;
  QPushButton* checkNow_ = nullptr;
  QPushButton* install_ = nullptr;
  QToolButton* more_ = nullptr;
  QPushButton* downloadPage_ = nullptr;
  QCheckBox* automatic_ = nullptr;
};

}  // namespace ferrytide::menu
