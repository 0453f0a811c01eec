#include "plinth/hosted_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QVBoxLayout>
#include <QWidget>

#include "plinth/app_presence.h"

namespace ferrytide::plinth {

class HostedWindow::Frame : public QWidget {
 public:
  explicit Frame(std::function<void()> onClosed) : onClosed_(std::move(onClosed)) {}

 protected:
  void closeEvent(QCloseEvent* event) override {
    QWidget::closeEvent(event);
    if (event->isAccepted()) onClosed_();
  }

 private:
  std::function<void()> onClosed_;
};

HostedWindow::HostedWindow(QSize size, QString autosaveName, bool resizable,
                           ContentFactory content, AppPresence& presence, QSettings& settings)
    : size_(size),
      autosaveName_(std::move(autosaveName)),
      resizable_(resizable),
      makeContent_(std::move(content)),
      presence_(presence),
      settings_(settings) {}

HostedWindow::~HostedWindow() {
  if (open_) {
    settings_.setValue(geometryKey(autosaveName_), window_->saveGeometry());
    presence_.update();
  }
  delete window_;
}

QString HostedWindow::geometryKey(const QString& autosaveName) {
  return QStringLiteral("HostedWindow/") + autosaveName + QStringLiteral("/geometry");
}

void HostedWindow::setTitle(const QString& title) {
  title_ = title;
  if (window_) window_->setWindowTitle(title);
}

void HostedWindow::show() {
  if (!window_) makeWindow();
  if (!open_) {
    place();
    window_->show();
    open_ = true;
    // Counted once per opening: showing an open window again only brings it forward.
    presence_.windowOpened();
  }
  window_->raise();
  window_->activateWindow();
}

void HostedWindow::close() {
  if (open_) window_->close();
}

void HostedWindow::makeWindow() {
  auto* frame = new Frame([this] { closed(); });
  frame->setWindowTitle(title_);
  frame->setAttribute(Qt::WA_DeleteOnClose, false);
  content_ = makeContent_();
  auto* layout = new QVBoxLayout(frame);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(content_);
  if (resizable_) {
    frame->setMinimumSize(size_);
    frame->resize(size_);
  } else {
    frame->setFixedSize(size_);
  }
  window_ = frame;
}

void HostedWindow::place() {
  QByteArray saved = settings_.value(geometryKey(autosaveName_)).toByteArray();
  if (!saved.isEmpty() && window_->restoreGeometry(saved)) {
    // A fixed window keeps its own size; only where it stood comes from the saved geometry.
    if (!resizable_) window_->setFixedSize(size_);
    return;
  }
  QScreen* screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect frame = window_->frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window_->move(frame.topLeft());
}

void HostedWindow::closed() {
  open_ = false;
  settings_.setValue(geometryKey(autosaveName_), window_->saveGeometry());
  if (onClose) onClose();
  presence_.update();
}

}  // namespace ferrytide::plinth
