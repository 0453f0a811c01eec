#pragma once

#include <QWidget>

class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace ferrytide::menu {

class ClipHistory;
struct Clip;

// "Recent clips": the texts sent to and received from the phones, newest first. Choosing a
// row hands its text back, for the compose box.
class RecentClipsList : public QWidget {
  Q_OBJECT

 public:
  // The popover shows this many of the newest clips; the history keeps them all.
  static constexpr int shownLimit = 50;

  explicit RecentClipsList(ClipHistory& history, QWidget* parent = nullptr);

  // Rebuilds the rows, so that "5 min ago" is true again.
  void refresh();

 Q_SIGNALS:
  void clipChosen(const QString& text);

 private:
  QWidget* makeRow(const Clip& clip, const QDateTime& now);

  ClipHistory& history_;
  QLabel* empty_;
  QScrollArea* scroll_;
  QVBoxLayout* rowsLayout_;
};

}  // namespace ferrytide::menu
