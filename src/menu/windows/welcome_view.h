#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

#include "menu/controllers/pair_controller.h"

class QLabel;
class QPushButton;
class QStackedWidget;

namespace ferrytide::menu {

class AppState;
class PairOptionsCard;
class Preferences;
class QRTile;
class WelcomeCodeDigits;
struct AppRouter;

// The content of the welcome window: an introduction, the phone app to install, pairing as the
// pair controller goes through it, and the paired phone. Opened without its introduction, it
// starts at pairing (adding another phone). The pairing step starts a pairing when none is open;
// the window's owner calls windowClosed() when the window closes, which abandons an open
// pairing so that the receiver gets its port back.
class WelcomeView : public QWidget {
  Q_OBJECT

 public:
  enum Step { introStep = 0, phoneAppStep = 1, pairingStep = 2, doneStep = 3 };
  // What the pairing step shows, following the pair controller's phase.
  enum class PairingPage { awaiting = 0, confirm = 1, failed = 2 };

  // Where the phone app is downloaded from; its QR code is on the phone app step.
  static constexpr const char* phoneAppPage = "https://quenfold.com/ferrytide/android";

  WelcomeView(AppState& appState, Preferences& prefs, PairController& pair, bool skipIntro,
              std::function<void()> onFinish, AppRouter& router, QWidget* parent = nullptr);
  ~WelcomeView() override;

  int step() const;
  // Shows a step (clamped to the four); showing the pairing step starts a pairing when the
  // controller is idle.
  void showStep(int step);
  PairingPage pairingPage() const;
  bool skipsIntro() const { return skipIntro_; }

  // The window is closing: a pairing still open is cancelled. Showing the view again starts
  // over at the step it was on.
  void windowClosed();

 public Q_SLOTS:
  // Shows what `phase` says; the view calls it on every change of the controller's phase.
  void showPhase(const ferrytide::menu::PairPhase& phase);

 Q_SIGNALS:
  void stepChanged(int step);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* makeIntro();
  QWidget* makePhoneApp();
  QWidget* makePairing();
  QWidget* makeAwaiting();
  QWidget* makeConfirm();
  QWidget* makeFailed();
  QWidget* makeDone();
  void showPairingPage(PairingPage page);
  void startPairingIfIdle();
  void backFromPairing();
  void showSaveFolder();

  AppState& appState_;
  Preferences& prefs_;
  QPointer<PairController> pair_;
  bool skipIntro_;
  std::function<void()> onFinish_;
  AppRouter& router_;
  bool closed_ = false;

  QStackedWidget* steps_ = nullptr;
  QStackedWidget* pairingPages_ = nullptr;
  PairOptionsCard* options_ = nullptr;
  WelcomeCodeDigits* digits_ = nullptr;
  QLabel* confirmQuestion_ = nullptr;
  QLabel* failedTitle_ = nullptr;
  QLabel* failedBody_ = nullptr;
  QLabel* failedDetail_ = nullptr;
  QLabel* pairedTitle_ = nullptr;
  QLabel* saveFolder_ = nullptr;
};

}  // namespace ferrytide::menu
