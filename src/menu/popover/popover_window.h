#pragma once

#include <QWidget>

#include "menu/controllers/popover_model.h"
#include "platform/linux/desktop_launcher.h"

class QAbstractButton;
class QMimeData;
class QStackedWidget;

namespace ferrytide::menu {

class AppState;
class ClipHistory;
class ClipsTab;
class FilesTab;
struct AppRouter;

// The tray popover: a frameless window next to the tray icon with the receive status, the
// Files and Clips tabs over the popover model, or the way to pair a first phone. Files dragged
// over any part of it go to the selected phone. It closes when the user clicks elsewhere,
// except while it is held open for a drag (setTransient(false)).
class PopoverWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr QSize preferredSize{360, 520};
  // Space between the tray icon and the window.
  static constexpr int iconGap = 6;

  PopoverWindow(PopoverModel& model, ClipHistory& history, AppRouter& router,
                platform::DesktopLauncher launcher, QWidget* parent = nullptr);

  // Places the window next to the tray icon: below an icon in a top panel, above one in a
  // bottom panel, at the cursor when the icon's place is unknown (an empty rect), always inside
  // the screen's available area; then shows, raises and activates it.
  void showNear(const QRect& trayIconGeometry);
  bool isShown() const { return isVisible(); }
  // While false the window stays open when it loses the focus or the user clicks elsewhere.
  void setTransient(bool transient);
  bool isTransient() const { return transient_; }

  // Where showNear puts a window of `size` for that icon on a screen with `available` space.
  static QRect placement(const QRect& trayIconGeometry, const QSize& size, const QRect& available,
                         const QPoint& cursor);

  FilesTab* filesTab() const { return files_; }
  ClipsTab* clipsTab() const { return clips_; }

 Q_SIGNALS:
  void closed();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QWidget* makeNoPhonesView();
  QWidget* makeTabs();
  void showTab(PopoverModel::Tab tab);
  void refreshPeers();
  // The local files among the drag's URLs, or none when this drag is to be refused.
  QStringList acceptableFiles(const QMimeData* mime) const;

  PopoverModel& model_;
  ClipHistory& history_;
  AppRouter& router_;
  QStackedWidget* body_ = nullptr;
  QStackedWidget* tabStack_ = nullptr;
  QAbstractButton* filesButton_ = nullptr;
  QAbstractButton* clipsButton_ = nullptr;
  FilesTab* files_ = nullptr;
  ClipsTab* clips_ = nullptr;
  bool transient_ = true;
};

}  // namespace ferrytide::menu
