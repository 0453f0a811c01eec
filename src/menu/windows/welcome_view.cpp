#include "menu/windows/welcome_view.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <utility>

#include "core/peers/qr_renderer.h"
#include "core/support/bytes.h"
#include "menu/design_system/theme.h"
#include "menu/models/app_state.h"
#include "menu/models/preferences.h"
#include "menu/tray/app_router.h"
#include "menu/windows/pair_options_card.h"
#include "menu/windows/qr_tile.h"
#include "menu/windows/welcome_code_digits.h"

namespace ferrytide::menu {
namespace {

using Kind = PairPhase::Kind;

// A check mark in a filled circle of the accent colour.
class CheckMark : public QWidget {
 public:
  explicit CheckMark(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("pairedCheckMark"));
    setFixedSize(64, 64);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(theme::accent(this));
    painter.drawEllipse(rect().adjusted(2, 2, -2, -2));
    QPainterPath tick;
    tick.moveTo(width() * 0.28, height() * 0.52);
    tick.lineTo(width() * 0.44, height() * 0.68);
    tick.lineTo(width() * 0.73, height() * 0.36);
    painter.setPen(QPen(palette().color(QPalette::HighlightedText), width() * 0.09, Qt::SolidLine,
                        Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(tick);
  }
};

QLabel* named(QLabel* label, const char* objectName) {
  label->setObjectName(QString::fromUtf8(objectName));
  return label;
}

QPushButton* button(QPushButton* made, const char* objectName) {
  made->setObjectName(QString::fromUtf8(objectName));
  made->setAccessibleName(made->text());
  made->setMinimumWidth(110);
  return made;
}

QPushButton* plainButton(const QString& text, const char* objectName) {
  return button(new QPushButton(text), objectName);
}

QPushButton* mainButton(const QString& text, const char* objectName) {
  return button(theme::primaryButton(text), objectName);
}

// A step: its content on top, its buttons in a row at the bottom, `leading` to the left.
QWidget* stepPage(const char* objectName, QLayout* content, std::initializer_list<QWidget*> leading,
                  std::initializer_list<QWidget*> trailing) {
  auto* page = new QWidget;
  page->setObjectName(QString::fromUtf8(objectName));
  auto* column = new QVBoxLayout(page);
  column->setContentsMargins(40, 32, 40, 24);
  column->setSpacing(16);
  column->addLayout(content, 1);
  auto* buttons = new QHBoxLayout;
  for (QWidget* widget : leading) buttons->addWidget(widget);
  buttons->addStretch();
  for (QWidget* widget : trailing) buttons->addWidget(widget);
  column->addLayout(buttons);
  return page;
}

QLabel* logoLabel(int side) {
  auto* label = new QLabel;
  label->setObjectName(QStringLiteral("welcomeLogo"));
  label->setPixmap(theme::logo().pixmap(side, side));
  label->setAlignment(Qt::AlignCenter);
  return label;
}

QLayout* point(const QString& heading, const QString& detail, const char* objectName) {
  auto* row = new QHBoxLayout;
  row->setSpacing(12);
  auto* dot = new QLabel;
  dot->setFixedSize(10, 10);
  dot->setStyleSheet(
      QStringLiteral("background: %1; border-radius: 5px;").arg(theme::accent().name()));
  row->addWidget(dot, 0, Qt::AlignTop | Qt::AlignHCenter);
  auto* text = new QVBoxLayout;
  text->setSpacing(2);
  QLabel* title = theme::headline(heading);
  title->setObjectName(QString::fromUtf8(objectName));
  text->addWidget(title);
  text->addWidget(theme::caption(detail));
  row->addLayout(text, 1);
  return row;
}

QImage phoneAppQr() {
  try {
    return QRTile::imageOf(QRRenderer::makeImage(asBytes(WelcomeView::phoneAppPage), 1));
  } catch (const QRRenderer::Error&) {
    return {};  // a fixed address that fits; the tile stays empty should it ever not
  }
}

}  // namespace

WelcomeView::WelcomeView(AppState& appState, Preferences& prefs, PairController& pair,
                         bool skipIntro, std::function<void()> onFinish, AppRouter& router,
                         QWidget* parent)
    : QWidget(parent),
      appState_(appState),
      prefs_(prefs),
      pair_(&pair),
      skipIntro_(skipIntro),
      onFinish_(std::move(onFinish)),
      router_(router),
      steps_(new QStackedWidget(this)) {
  setObjectName(QStringLiteral("welcomeView"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(steps_);
  steps_->addWidget(makeIntro());
  steps_->addWidget(makePhoneApp());
  steps_->addWidget(makePairing());
  steps_->addWidget(makeDone());

  // An outcome left over from an earlier pairing is not this window's to show.
  if (!pair.inProgress()) pair.reset();
  connect(&pair, &PairController::phaseChanged, this, &WelcomeView::showPhase);
  connect(&pair, &PairController::shortCodeChanged, options_, &PairOptionsCard::setCode);
  connect(&prefs, &Preferences::saveFolderChanged, this, &WelcomeView::showSaveFolder);
  options_->setCode(pair.shortCode());
  showPhase(pair.phase());
  showSaveFolder();
  showStep(skipIntro ? pairingStep : introStep);
}

WelcomeView::~WelcomeView() {
  if (!pair_) return;
  disconnect(pair_, nullptr, this, nullptr);
  if (pair_->inProgress()) pair_->cancel();
}

int WelcomeView::step() const { return steps_->currentIndex(); }

void WelcomeView::showStep(int step) {
  step = std::clamp(step, int(introStep), int(doneStep));
  bool changed = step != steps_->currentIndex();
  steps_->setCurrentIndex(step);
  if (step == pairingStep) startPairingIfIdle();
  if (changed) Q_EMIT stepChanged(step);
}

WelcomeView::PairingPage WelcomeView::pairingPage() const {
  return static_cast<PairingPage>(pairingPages_->currentIndex());
}

void WelcomeView::windowClosed() {
  closed_ = true;
  if (pair_ && pair_->inProgress()) pair_->cancel();
}

void WelcomeView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  closed_ = false;
  if (step() == pairingStep) startPairingIfIdle();
}

void WelcomeView::startPairingIfIdle() {
  if (closed_ || !pair_ || pair_->phase().kind != Kind::idle) return;
  pair_->startPairing();
}

void WelcomeView::showPhase(const PairPhase& phase) {
  switch (phase.kind) {
    case Kind::awaiting:
      options_->setQr(phase.qr);
      showPairingPage(PairingPage::awaiting);
      break;
    case Kind::confirm:
      digits_->setCode(phase.code);
      confirmQuestion_->setText(QString::fromStdString(phase.intro.hostname) +
                                QStringLiteral(" show the same code?"));
      showPairingPage(PairingPage::confirm);
      break;
    case Kind::saved:
      pairedTitle_->setText(phase.hostname + QStringLiteral(" is paired"));
      showStep(doneStep);
      break;
    case Kind::failed: {
      const bool mismatch = phase.message.contains(QStringLiteral("did not "));
      failedTitle_->setText(mismatch ? QStringLiteral("The codes didn't match")
                                     : QStringLiteral("Pairing didn't finish"));
      failedBody_->setText(
          mismatch ? QStringLiteral("Nothing was saved. Start again and compare the four digits "
                                    "on both screens.")
                   : QStringLiteral("Check that your phone and computer are on the same Wi-Fi, "
                                    "then try again."));
      // What went wrong underneath, for a problem report; the mismatch needs no more words.
      failedDetail_->setText(mismatch ? QString() : phase.message);
      failedDetail_->setVisible(!mismatch);
      showPairingPage(PairingPage::failed);
      break;
    }
    case Kind::idle:
      options_->setQr({});
      options_->setCode({});
      showPairingPage(PairingPage::awaiting);
      // Someone else ended the pairing while it was on show: it starts again.
      if (isVisible() && step() == pairingStep) startPairingIfIdle();
      break;
  }
}

void WelcomeView::showPairingPage(PairingPage page) {
  pairingPages_->setCurrentIndex(static_cast<int>(page));
}

void WelcomeView::backFromPairing() {
  // The phone app step may take a while; a new code is shown on coming back.
  if (pair_ && pair_->inProgress()) pair_->cancel();
  showStep(phoneAppStep);
}

void WelcomeView::showSaveFolder() {
  saveFolder_->setText(QStringLiteral("Files you receive land in ") +
                       QDir::toNativeSeparators(prefs_.saveFolder()));
}

QWidget* WelcomeView::makeIntro() {
  auto* content = new QVBoxLayout;
  content->setSpacing(12);
  content->addStretch();
  content->addWidget(logoLabel(72));
  QLabel* heading = named(
      theme::title(QStringLiteral("Your computer and your phone, one tap apart")), "introTitle");
  heading->setAlignment(Qt::AlignCenter);
  content->addWidget(heading);
  QLabel* body = named(theme::caption(QStringLiteral(
                           "Ferrytide puts your Android phone in your computer's file manager, "
                           "and your computer in the phone's share sheet.")),
                       "introBody");
  body->setAlignment(Qt::AlignCenter);
  content->addWidget(body);
  content->addSpacing(12);
  auto* points = new QVBoxLayout;
  points->setSpacing(14);
  points->addLayout(point(QStringLiteral("Share from anywhere"),
                          QStringLiteral("Your file manager, or drop on the Ferrytide window."),
                          "pointShare"));
  points->addLayout(point(QStringLiteral("Private by design"),
                          QStringLiteral("Straight over your Wi-Fi, encrypted end to end."),
                          "pointPrivate"));
  points->addLayout(point(QStringLiteral("No account"),
                          QStringLiteral("Pair once with a code. Nothing to sign up for."),
                          "pointAccount"));
  auto* centred = new QHBoxLayout;
  centred->addStretch();
  centred->addLayout(points, 3);
  centred->addStretch();
  content->addLayout(centred);
  content->addStretch();

  QPushButton* start = mainButton(QStringLiteral("Get started"), "getStarted");
  connect(start, &QPushButton::clicked, this, [this] { showStep(phoneAppStep); });
  return stepPage("introStep", content, {}, {start});
}

QWidget* WelcomeView::makePhoneApp() {
  auto* content = new QVBoxLayout;
  content->setSpacing(14);
  content->addStretch();
  QLabel* heading =
      named(theme::title(QStringLiteral("Get Ferrytide on your phone")), "phoneAppTitle");
  heading->setAlignment(Qt::AlignCenter);
  content->addWidget(heading);
  auto* tile = new QRTile;
  tile->setObjectName(QStringLiteral("phoneAppQr"));
  tile->setAccessibleName(QStringLiteral("QR code of the phone app's download page"));
  tile->setImage(phoneAppQr());
  tile->setShowsLogo(true);
  content->addWidget(tile, 0, Qt::AlignHCenter);
  QLabel* hint = named(theme::caption(QStringLiteral(
                           "Point your phone's camera at the code to download the app. Android "
                           "10 or later.")),
                       "phoneAppHint");
  hint->setAlignment(Qt::AlignCenter);
  content->addWidget(hint);
  content->addStretch();

  QPushButton* back = plainButton(QStringLiteral("Back"), "phoneAppBack");
  connect(back, &QPushButton::clicked, this, [this] { showStep(introStep); });
  QPushButton* next = mainButton(QStringLiteral("Continue"), "phoneAppContinue");
  connect(next, &QPushButton::clicked, this, [this] { showStep(pairingStep); });
  return stepPage("phoneAppStep", content, {back}, {next});
}

QWidget* WelcomeView::makePairing() {
  pairingPages_ = new QStackedWidget;
  pairingPages_->setObjectName(QStringLiteral("pairingPages"));
  pairingPages_->addWidget(makeAwaiting());
  pairingPages_->addWidget(makeConfirm());
  pairingPages_->addWidget(makeFailed());
  auto* content = new QVBoxLayout;
  content->addWidget(pairingPages_);

  QPushButton* back = plainButton(QStringLiteral("Back"), "pairingBack");
  back->setVisible(!skipIntro_);
  connect(back, &QPushButton::clicked, this, &WelcomeView::backFromPairing);
  return stepPage("pairingStep", content, {back}, {});
}

QWidget* WelcomeView::makeAwaiting() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("pairingAwaiting"));
  auto* content = new QVBoxLayout(page);
  content->setContentsMargins(0, 0, 0, 0);
  content->setSpacing(10);
  content->addStretch();
  content->addWidget(named(theme::title(QStringLiteral("Pair your phone")), "pairTitle"));
  content->addWidget(named(theme::caption(QStringLiteral(
                               "Open Ferrytide on your phone, tap Pair with a computer, then use "
                               "either one.")),
                           "pairBody"));
  content->addSpacing(6);
  options_ = new PairOptionsCard;
  content->addWidget(options_);
  content->addSpacing(4);
  QLabel* waiting =
      named(theme::caption(QStringLiteral("Waiting for your phone\u2026")), "waitingForPhone");
  waiting->setAlignment(Qt::AlignCenter);
  content->addWidget(waiting);
  content->addStretch();
  return page;
}

QWidget* WelcomeView::makeConfirm() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("pairingConfirm"));
  auto* content = new QVBoxLayout(page);
  content->setContentsMargins(0, 0, 0, 0);
  content->setSpacing(14);
  content->addStretch();
  digits_ = new WelcomeCodeDigits;
  content->addWidget(digits_);
  content->addSpacing(6);
  confirmQuestion_ = named(theme::title(QString()), "confirmQuestion");
  confirmQuestion_->setAlignment(Qt::AlignCenter);
  content->addWidget(confirmQuestion_);
  QLabel* why = named(theme::caption(QStringLiteral("Matching codes mean nobody else is "
                                                    "listening in. Tap Matches on the phone too.")),
                      "confirmWhy");
  why->setAlignment(Qt::AlignCenter);
  content->addWidget(why);
  content->addSpacing(8);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(12);
  buttons->addStretch();
  QPushButton* mismatch = plainButton(QStringLiteral("They don't match"), "theyDontMatch");
  connect(mismatch, &QPushButton::clicked, this, [this] {
    if (pair_) pair_->confirmMismatch();
  });
  QPushButton* match = mainButton(QStringLiteral("They match"), "theyMatch");
  connect(match, &QPushButton::clicked, this, [this] {
    if (pair_) pair_->confirmMatches();
  });
  buttons->addWidget(mismatch);
  buttons->addWidget(match);
  buttons->addStretch();
  content->addLayout(buttons);
  content->addStretch();
  return page;
}

QWidget* WelcomeView::makeFailed() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("pairingFailed"));
  auto* content = new QVBoxLayout(page);
  content->setContentsMargins(0, 0, 0, 0);
  content->setSpacing(10);
  content->addStretch();
  failedTitle_ = named(theme::title(QString()), "failedTitle");
  failedTitle_->setAlignment(Qt::AlignCenter);
  content->addWidget(failedTitle_);
  failedBody_ = named(theme::caption(QString()), "failedBody");
  failedBody_->setAlignment(Qt::AlignCenter);
  content->addWidget(failedBody_);
  failedDetail_ = named(theme::caption(QString()), "failedDetail");
  failedDetail_->setAlignment(Qt::AlignCenter);
  QFont small = theme::captionFont();
  small.setPointSizeF(small.pointSizeF() > 0 ? small.pointSizeF() * 0.9 : 9);
  failedDetail_->setFont(small);
  content->addWidget(failedDetail_);
  content->addSpacing(10);
  QPushButton* again = mainButton(QStringLiteral("Try again"), "tryAgain");
  connect(again, &QPushButton::clicked, this, [this] {
    if (pair_) pair_->startPairing();
  });
  content->addWidget(again, 0, Qt::AlignHCenter);
  content->addStretch();
  return page;
}

QWidget* WelcomeView::makeDone() {
  auto* content = new QVBoxLayout;
  content->setSpacing(10);
  content->addStretch();
  content->addWidget(new CheckMark(nullptr), 0, Qt::AlignHCenter);
  pairedTitle_ = named(theme::title(QString()), "pairedTitle");
  pairedTitle_->setAlignment(Qt::AlignCenter);
  content->addWidget(pairedTitle_);
  saveFolder_ = named(theme::caption(QString()), "saveFolderLine");
  saveFolder_->setAlignment(Qt::AlignCenter);
  content->addWidget(saveFolder_);
  content->addSpacing(14);

  QFrame* hint = theme::card();
  hint->setObjectName(QStringLiteral("shareHint"));
  auto* hintRow = new QHBoxLayout(hint);
  hintRow->setContentsMargins(18, 14, 18, 14);
  hintRow->setSpacing(16);
  auto* hintText = new QVBoxLayout;
  hintText->setSpacing(2);
  hintText->addWidget(
      named(theme::headline(QStringLiteral("Add Ferrytide to your file manager"), hint),
            "shareHintTitle"));
  hintText->addWidget(named(theme::caption(QStringLiteral("One switch in Settings \u203a "
                                                          "Shortcuts, then right-click any file "
                                                          "\u203a Send to \u203a Ferrytide."),
                                           hint),
                            "shareHintBody"));
  hintRow->addLayout(hintText, 1);
  QPushButton* settings = plainButton(QStringLiteral("Open Settings"), "openShortcutSettings");
  connect(settings, &QPushButton::clicked, this,
          [this] { router_.showSettings(SettingsSection::shortcuts); });
  hintRow->addWidget(settings, 0, Qt::AlignVCenter);
  content->addWidget(hint);
  content->addStretch();

  QPushButton* finish = mainButton(QStringLiteral("Done"), "welcomeDone");
  connect(finish, &QPushButton::clicked, this, [this] {
    if (onFinish_) onFinish_();
  });
  return stepPage("doneStep", content, {}, {finish});
}

}  // namespace ferrytide::menu

// Compiled here rather than with the library's other meta-object code: pair_controller.h
// names ::plinth::Diary as `plinth::Diary`, which another header's ferrytide::plinth would hide.
#include "moc_welcome_view.cpp"
