#include "plinth/settings_shell.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QStackedWidget>
#include <QStyle>
#include <QVBoxLayout>

namespace ferrytide::plinth {
namespace {

QLabel* secondaryLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  // Placeholder text is the palette's dimmed text colour, light or dark alike.
  label->setForegroundRole(QPalette::PlaceholderText);
  label->setWordWrap(true);
  return label;
}

QLabel* titleLabel(const QString& text, qreal scale, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * scale);
  label->setFont(font);
  return label;
}

QIcon pageIcon(const QString& symbol) {
  return QIcon::fromTheme(symbol, QApplication::style()->standardIcon(QStyle::SP_FileDialogInfoView));
}

}  // namespace

SettingsShell::SettingsShell(const QString& appName, std::vector<SettingsPage> pages,
                             const PageBuilder& content, const QString& build,
                             const QString& selection, QWidget* parent)
    : QWidget(parent), pages_(std::move(pages)) {
  setObjectName(QStringLiteral("settingsShell"));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(makeSidebar(appName, build));
  auto* divider = new QFrame(this);
  divider->setFrameShape(QFrame::VLine);
  divider->setFrameShadow(QFrame::Sunken);
  layout->addWidget(divider);
  layout->addWidget(makePageArea(content), 1);
  setTabOrder(sidebar_, stack_);

  connect(sidebar_, &QListWidget::currentRowChanged, this, &SettingsShell::showPage);
  sidebar_->setCurrentRow(0);
  if (!selection.isEmpty()) select(selection);
}

QString SettingsShell::versionLine(const QString& build) {
  return QStringLiteral("Version ") + QCoreApplication::applicationVersion() +
         QStringLiteral(" (") + build + QStringLiteral(")");
}

QWidget* SettingsShell::makeSidebar(const QString& appName, const QString& build) {
  auto* sidebar = new QWidget(this);
  sidebar->setObjectName(QStringLiteral("settingsSidebar"));
  sidebar->setFixedWidth(200);
  sidebar->setBackgroundRole(QPalette::AlternateBase);
  sidebar->setAutoFillBackground(true);
  auto* column = new QVBoxLayout(sidebar);
  column->setContentsMargins(12, 16, 12, 12);

  QLabel* name = titleLabel(appName, 1.2, sidebar);
  name->setObjectName(QStringLiteral("appNameLabel"));
  column->addWidget(name);

  sidebar_ = new QListWidget(sidebar);
  sidebar_->setObjectName(QStringLiteral("pageList"));
  sidebar_->setAccessibleName(QStringLiteral("Settings pages"));
  sidebar_->setFrameShape(QFrame::NoFrame);
  sidebar_->setIconSize(QSize(20, 20));
  sidebar_->setSpacing(2);
  // The list shares the sidebar's background instead of painting a white field.
  sidebar_->viewport()->setAutoFillBackground(false);
  sidebar_->setAutoFillBackground(false);
  for (const SettingsPage& page : pages_) {
    auto* item = new QListWidgetItem(pageIcon(page.symbol), page.title, sidebar_);
    item->setToolTip(page.subtitle);
    item->setData(Qt::AccessibleTextRole, page.title);
    item->setData(Qt::AccessibleDescriptionRole, page.subtitle);
    item->setSizeHint(QSize(0, 32));
  }
  column->addWidget(sidebar_, 1);

  QLabel* version = secondaryLabel(versionLine(build), sidebar);
  version->setObjectName(QStringLiteral("versionLabel"));
  version->setAccessibleName(version->text());
  version->setTextInteractionFlags(Qt::TextSelectableByMouse);
  column->addWidget(version);
  return sidebar;
}

QWidget* SettingsShell::makePageArea(const PageBuilder& content) {
  auto* area = new QWidget(this);
  auto* column = new QVBoxLayout(area);
  column->setContentsMargins(24, 20, 24, 20);
  pageTitle_ = titleLabel(QString(), 1.4, area);
  pageTitle_->setObjectName(QStringLiteral("pageTitle"));
  pageSubtitle_ = secondaryLabel(QString(), area);
  pageSubtitle_->setObjectName(QStringLiteral("pageSubtitle"));
  column->addWidget(pageTitle_);
  column->addWidget(pageSubtitle_);
  column->addSpacing(12);

  stack_ = new QStackedWidget(area);
  stack_->setObjectName(QStringLiteral("pageStack"));
  stack_->setAccessibleName(QStringLiteral("Settings page"));
  for (const SettingsPage& page : pages_) {
    QWidget* widget = content(page);
    widget->setObjectName(page.id);
    if (widget->accessibleName().isEmpty()) widget->setAccessibleName(page.title);
    stack_->addWidget(widget);
  }
  column->addWidget(stack_, 1);
  return area;
}

QString SettingsShell::selection() const {
  int row = sidebar_->currentRow();
  return row >= 0 ? pages_[static_cast<std::size_t>(row)].id : QString();
}

void SettingsShell::select(const QString& id) {
  for (std::size_t row = 0; row < pages_.size(); ++row) {
    if (pages_[row].id == id) sidebar_->setCurrentRow(static_cast<int>(row));
  }
}

void SettingsShell::showPage(int row) {
  if (row < 0) return;
  const SettingsPage& page = pages_[static_cast<std::size_t>(row)];
  stack_->setCurrentIndex(row);
  pageTitle_->setText(page.title);
  pageTitle_->setAccessibleName(page.title);
  pageSubtitle_->setText(page.subtitle);
  pageSubtitle_->setAccessibleName(page.subtitle);
  pageSubtitle_->setVisible(!page.subtitle.isEmpty());
  Q_EMIT selectionChanged(page.id);
}

}  // namespace ferrytide::plinth
