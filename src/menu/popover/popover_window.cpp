#include "menu/popover/popover_window.h"

#include <QButtonGroup>
#include <QCursor>
#include <QDragEnterEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "menu/design_system/theme.h"
#include "menu/models/app_state.h"
#include "menu/popover/clips_tab.h"
#include "menu/popover/files_tab.h"
#include "menu/popover/peer_chooser.h"
#include "menu/popover/popover_header.h"
#include "menu/tray/app_router.h"

namespace ferrytide::menu {
namespace {

constexpr int kMargin = 16;
constexpr qreal kCornerRadius = 12;

// Tabs as a segmented control, in palette roles so that they follow the palette.
const char* const kTabStyle =
    "QPushButton[ferrytideTab=\"true\"] { border: 1px solid palette(mid); border-radius: 6px;"
    " padding: 5px 12px; background: transparent; color: palette(window-text); }"
    "QPushButton[ferrytideTab=\"true\"]:checked { background: palette(highlight);"
    " color: palette(highlighted-text); border-color: palette(highlight); }"
    "QPushButton[ferrytideTab=\"true\"]:focus { border: 2px solid palette(highlight); }";

QPushButton* tabButton(const QString& text, const QString& objectName, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(objectName);
  button->setAccessibleName(text);
  button->setCheckable(true);
  button->setProperty("ferrytideTab", true);
  button->setStyleSheet(QString::fromLatin1(kTabStyle));
  button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  return button;
}

int clamped(int value, int low, int high) { return std::max(low, std::min(value, high)); }

}  // namespace

PopoverWindow::PopoverWindow(PopoverModel& model, ClipHistory& history, AppRouter& router,
                             platform::DesktopLauncher launcher, QWidget* parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint),
      model_(model),
      history_(history),
      router_(router) {
  setObjectName(QStringLiteral("popoverWindow"));
  setWindowTitle(QStringLiteral("Ferrytide"));
  setAccessibleName(QStringLiteral("Ferrytide"));
  setAttribute(Qt::WA_TranslucentBackground);
  setAcceptDrops(true);
  resize(preferredSize);

  files_ = new FilesTab(model_, std::move(launcher));
  clips_ = new ClipsTab(model_, history_);
  body_ = new QStackedWidget(this);
  body_->setObjectName(QStringLiteral("popoverBody"));
  body_->addWidget(makeNoPhonesView());
  body_->addWidget(makeTabs());

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kMargin, kMargin - 2, kMargin, kMargin);
  layout->setSpacing(12);
  layout->addWidget(new PopoverHeader(model_, router_, this));
  layout->addWidget(new PeerChooser(model_.appState(), this));
  layout->addWidget(body_, 1);

  connect(&model_, &PopoverModel::tabChanged, this, &PopoverWindow::showTab);
  connect(&model_.appState(), &AppState::peersChanged, this, &PopoverWindow::refreshPeers);
  showTab(model_.tab());
  refreshPeers();
}

QWidget* PopoverWindow::makeNoPhonesView() {
  auto* view = new QWidget;
  view->setObjectName(QStringLiteral("noPhonesView"));
  auto* logo = new QLabel(view);
  logo->setObjectName(QStringLiteral("noPhonesLogo"));
  logo->setPixmap(theme::logo().pixmap(64, 64));
  logo->setAlignment(Qt::AlignCenter);
  QLabel* heading = theme::title(QStringLiteral("No phones paired"), view);
  heading->setObjectName(QStringLiteral("noPhonesTitle"));
  heading->setAlignment(Qt::AlignCenter);
  QLabel* detail = theme::caption(QStringLiteral("Pair your phone to start"), view);
  detail->setObjectName(QStringLiteral("noPhonesDetail"));
  detail->setAlignment(Qt::AlignCenter);
  QPushButton* add = theme::primaryButton(QStringLiteral("Add a phone"), view);
  add->setObjectName(QStringLiteral("addPhoneButton"));
  add->setAccessibleName(QStringLiteral("Add a phone"));
  add->setMinimumSize(160, 32);
  connect(add, &QPushButton::clicked, this, [this] { router_.showWelcome(true); });

  auto* layout = new QVBoxLayout(view);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(8);
  layout->addStretch(1);
  layout->addWidget(logo);
  layout->addWidget(heading);
  layout->addWidget(detail);
  layout->addSpacing(8);
  layout->addWidget(add, 0, Qt::AlignHCenter);
  layout->addStretch(2);
  return view;
}

QWidget* PopoverWindow::makeTabs() {
  auto* view = new QWidget;
  view->setObjectName(QStringLiteral("tabsView"));
  filesButton_ = tabButton(QStringLiteral("Files"), QStringLiteral("filesTabButton"), view);
  clipsButton_ = tabButton(QStringLiteral("Clips"), QStringLiteral("clipsTabButton"), view);
  auto* group = new QButtonGroup(view);
  group->addButton(filesButton_);
  group->addButton(clipsButton_);
  connect(filesButton_, &QAbstractButton::clicked, this,
          [this] { model_.setTab(PopoverModel::Tab::files); });
  connect(clipsButton_, &QAbstractButton::clicked, this,
          [this] { model_.setTab(PopoverModel::Tab::clips); });

  tabStack_ = new QStackedWidget(view);
  tabStack_->setObjectName(QStringLiteral("tabStack"));
  tabStack_->addWidget(files_);
  tabStack_->addWidget(clips_);

  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(6);
  buttons->addWidget(filesButton_);
  buttons->addWidget(clipsButton_);
  auto* layout = new QVBoxLayout(view);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(12);
  layout->addLayout(buttons);
  layout->addWidget(tabStack_, 1);
  return view;
}

void PopoverWindow::showTab(PopoverModel::Tab tab) {
  const bool clips = tab == PopoverModel::Tab::clips;
  filesButton_->setChecked(!clips);
  clipsButton_->setChecked(clips);
  tabStack_->setCurrentWidget(clips ? static_cast<QWidget*>(clips_) : files_);
  if (clips && isVisible()) {
    model_.refreshCompose();
    clips_->refresh();
  }
}

void PopoverWindow::refreshPeers() {
  body_->setCurrentIndex(model_.appState().peers().empty() ? 0 : 1);
}

QRect PopoverWindow::placement(const QRect& icon, const QSize& wanted, const QRect& available,
                               const QPoint& cursor) {
  const QSize size = wanted.boundedTo(available.size());
  QPoint origin;
  if (icon.isEmpty()) {
    origin = cursor - QPoint(size.width() / 2, 0);
  } else {
    origin = QPoint(icon.center().x() - size.width() / 2, icon.bottom() + 1 + iconGap);
    if (icon.right() < available.left()) {  // a panel on the left
      origin = QPoint(icon.right() + 1 + iconGap, icon.center().y() - size.height() / 2);
    } else if (icon.left() > available.right()) {  // a panel on the right
      origin = QPoint(icon.left() - iconGap - size.width(), icon.center().y() - size.height() / 2);
    } else if (icon.top() > available.bottom() || icon.center().y() > available.center().y()) {
      origin.setY(icon.top() - iconGap - size.height());  // a bottom panel
    }
  }
  origin.setX(clamped(origin.x(), available.left(), available.right() + 1 - size.width()));
  origin.setY(clamped(origin.y(), available.top(), available.bottom() + 1 - size.height()));
  return {origin, size};
}

void PopoverWindow::showNear(const QRect& trayIconGeometry) {
  const QPoint cursor = QCursor::pos();
  QScreen* screen = QGuiApplication::screenAt(
      trayIconGeometry.isEmpty() ? cursor : trayIconGeometry.center());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  const QRect available = screen != nullptr ? screen->availableGeometry() : QRect();
  setGeometry(available.isEmpty() ? QRect(pos(), preferredSize)
                                  : placement(trayIconGeometry, preferredSize, available, cursor));
  show();
  raise();
  activateWindow();
}

void PopoverWindow::setTransient(bool transient) { transient_ = transient; }

void PopoverWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  files_->refresh();
  if (model_.tab() == PopoverModel::Tab::clips) {
    model_.refreshCompose();
    clips_->refresh();
  }
}

void PopoverWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  Q_EMIT closed();
}

void PopoverWindow::closeEvent(QCloseEvent* event) {
  // Held open for a drag: the files are on their way to the drop zone.
  if (!transient_) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void PopoverWindow::mousePressEvent(QMouseEvent* event) {
  // A popup closes itself on a click outside it; not while held open.
  if (!transient_ && !rect().contains(event->position().toPoint())) return;
  QWidget::mousePressEvent(event);
}

void PopoverWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath outline;
  outline.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius,
                         kCornerRadius);
  painter.fillPath(outline, palette().color(QPalette::Window));
  painter.setPen(QPen(theme::separator(this), 1));
  painter.drawPath(outline);
}

QStringList PopoverWindow::acceptableFiles(const QMimeData* mime) const {
  if (mime == nullptr || !model_.appState().selectedPeer() || model_.sendPhase().busy()) return {};
  QStringList files;
  for (const QUrl& url : mime->urls()) {
    if (url.isLocalFile()) files << url.toLocalFile();
  }
  return files;
}

void PopoverWindow::dragEnterEvent(QDragEnterEvent* event) {
  const QStringList files = acceptableFiles(event->mimeData());
  if (files.isEmpty()) {
    event->ignore();
    return;
  }
  setTransient(false);
  model_.setTab(PopoverModel::Tab::files);
  model_.setExternalDragCount(static_cast<int>(files.size()));
  event->setDropAction(Qt::CopyAction);
  event->accept();
}

void PopoverWindow::dragMoveEvent(QDragMoveEvent* event) {
  if (!model_.externalDragCount()) {
    event->ignore();
    return;
  }
  event->setDropAction(Qt::CopyAction);
  event->accept();
}

void PopoverWindow::dragLeaveEvent(QDragLeaveEvent* event) {
  model_.setExternalDragCount(std::nullopt);
  setTransient(true);
  event->accept();
}

void PopoverWindow::dropEvent(QDropEvent* event) {
  const QStringList files = acceptableFiles(event->mimeData());
  model_.setExternalDragCount(std::nullopt);
  setTransient(true);
  if (files.isEmpty() || !model_.sendFiles(files)) {
    event->ignore();
    return;
  }
  event->setDropAction(Qt::CopyAction);
  event->accept();
}

}  // namespace ferrytide::menu
