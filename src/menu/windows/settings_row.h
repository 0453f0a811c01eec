#pragma once

#include <QString>
#include <QWidget>
#include <initializer_list>

class QFrame;
class QHBoxLayout;
class QLabel;

namespace ferrytide::menu {

// One line of a settings page: a title with an explanation below it on the left, controls on
// the right, and an optional note under both (a failure, a hint) that is hidden while empty.
class SettingsRow : public QWidget {
  Q_OBJECT

 public:
  SettingsRow(const QString& title, const QString& subtitle, QWidget* parent = nullptr);

  void addTrailing(QWidget* widget);
  void setTitle(const QString& title);
  void setSubtitle(const QString& subtitle);
  // Shown in the error colour when `error`, else as a quiet caption.
  void setNote(const QString& note, bool error = true);

  QLabel* titleLabel() const { return title_; }
  QLabel* subtitleLabel() const { return subtitle_; }
  QLabel* noteLabel() const { return note_; }

 private:
  QLabel* title_;
  QLabel* subtitle_;
  QLabel* note_;
  QHBoxLayout* trailing_;
};

// A rounded card holding rows one under the other, a thin line between each two.
QFrame* settingsCard(QWidget* parent, std::initializer_list<QWidget*> rows);

// A page's content with room to scroll when a large font or scale makes it taller than the
// window; the page keeps the window's background.
QWidget* scrollablePage(QWidget* content);

// A red that reads on the palette's window colour, light or dark.
QColor errorColour(const QWidget* widget);

}  // namespace ferrytide::menu
