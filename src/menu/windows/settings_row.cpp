#include "menu/windows/settings_row.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include "menu/design_system/theme.h"

namespace ferrytide::menu {

SettingsRow::SettingsRow(const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(14, 10, 14, 10);
  column->setSpacing(4);
  auto* line = new QHBoxLayout;
  line->setSpacing(12);
  auto* texts = new QVBoxLayout;
  texts->setSpacing(2);
  title_ = theme::headline(title, this);
  subtitle_ = theme::caption(subtitle, this);
  subtitle_->setVisible(!subtitle.isEmpty());
  texts->addWidget(title_);
  texts->addWidget(subtitle_);
  line->addLayout(texts, 1);
  trailing_ = new QHBoxLayout;
  trailing_->setSpacing(8);
  line->addLayout(trailing_);
  column->addLayout(line);
  note_ = theme::caption(QString(), this);
  note_->hide();
  column->addWidget(note_);
}

void SettingsRow::addTrailing(QWidget* widget) {
  widget->setParent(this);
  trailing_->addWidget(widget, 0, Qt::AlignVCenter);
}

void SettingsRow::setTitle(const QString& title) { title_->setText(title); }

void SettingsRow::setSubtitle(const QString& subtitle) {
  subtitle_->setText(subtitle);
  subtitle_->setVisible(!subtitle.isEmpty());
}

void SettingsRow::setNote(const QString& note, bool error) {
  note_->setText(note);
  note_->setAccessibleName(note);
  QPalette palette = note_->palette();
  palette.setColor(QPalette::PlaceholderText,
                   error ? errorColour(this) : theme::secondaryText(this));
  note_->setPalette(palette);
  note_->setVisible(!note.isEmpty());
}

QFrame* settingsCard(QWidget* parent, std::initializer_list<QWidget*> rows) {
  QFrame* card = theme::card(parent);
  auto* column = new QVBoxLayout(card);
  column->setContentsMargins(0, 2, 0, 2);
  column->setSpacing(0);
  bool first = true;
  for (QWidget* row : rows) {
    if (!first) {
      auto* line = new QFrame(card);
      line->setFixedHeight(1);
      line->setStyleSheet(QStringLiteral("background: %1; border: none; margin: 0 14px;")
                              .arg(theme::separator(parent).name()));
      column->addWidget(line);
    }
    row->setParent(card);
    column->addWidget(row);
    first = false;
  }
  return card;
}

QWidget* scrollablePage(QWidget* content) {
  auto* area = new QScrollArea;
  area->setFrameShape(QFrame::NoFrame);
  area->setWidgetResizable(true);
  area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  area->setWidget(content);
  area->viewport()->setAutoFillBackground(false);
  content->setAutoFillBackground(false);
  return area;
}

QColor errorColour(const QWidget* widget) {
  return theme::isDark(widget) ? QColor(0xff, 0x7b, 0x72) : QColor(0xb3, 0x26, 0x1e);
}

}  // namespace ferrytide::menu
