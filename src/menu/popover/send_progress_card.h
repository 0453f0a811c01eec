#pragma once

#include <QWidget>

#include "menu/controllers/send_phase.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace ferrytide::menu {

class PopoverModel;

// The file send as the Files tab shows it: while busy the phone, which file of how many, a
// progress bar and a cancel button; afterwards what was sent or why it failed. Hidden while
// idle.
class SendProgressCard : public QWidget {
  Q_OBJECT

 public:
  explicit SendProgressCard(PopoverModel& model, QWidget* parent = nullptr);

  // Also the way for a screenshot tool to show a phase without a send.
  void showPhase(const SendPhase& phase);

 private:
  void showBusy(const QString& title, const SendPhase::Progress& progress);
  void showDone(const SendPhase::Done& done);
  void showFailed(const SendPhase::Failed& failed);
  void setDetailColour(const QColor& colour);

  QLabel* title_;
  QLabel* detail_;
  QProgressBar* bar_;
  QPushButton* cancel_;
};

}  // namespace ferrytide::menu
