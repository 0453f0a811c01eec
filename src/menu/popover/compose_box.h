#pragma once

#include <QPlainTextEdit>
#include <QWidget>

class QLabel;
class QPushButton;

namespace ferrytide::menu {

class PopoverModel;

// The text field of the compose box. Redo is also Ctrl+Shift+Z here, whatever key scheme
// the desktop's theme picks (some bind redo to Ctrl+Y only).
class ComposeEdit : public QPlainTextEdit {
  Q_OBJECT

 public:
  using QPlainTextEdit::QPlainTextEdit;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

// The Clips tab's compose box: a text bound both ways to the model's compose text, its Send
// button and where the send stands.
class ComposeBox : public QWidget {
  Q_OBJECT

 public:
  explicit ComposeBox(PopoverModel& model, QWidget* parent = nullptr);

  ComposeEdit* edit() const { return edit_; }

 private:
  void showModelText(const QString& text);
  void userEdited();
  void refreshStatus();

  PopoverModel& model_;
  ComposeEdit* edit_;
  QLabel* status_;
  QPushButton* send_;
  // Set while the box shows the model's text, which is no edit of the user's.
  bool updating_ = false;
};

}  // namespace ferrytide::menu
