#include "menu/windows/version_history_dialog.h"

#include <QDialogButtonBox>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace ferrytide::menu {

QString VersionHistoryDialog::historyHtml(const std::vector<::plinth::AppcastItem>& versions) {
  QString html;
  for (const ::plinth::AppcastItem& item : versions) {
    html += QStringLiteral("<h3>") + QString::fromStdString(item.displayVersion).toHtmlEscaped();
    if (!item.pubDate.empty()) {
      html += QStringLiteral(" <small>") + QString::fromStdString(item.pubDate).toHtmlEscaped() +
              QStringLiteral("</small>");
    }
    html += QStringLiteral("</h3><p><b>In this version</b></p>");
    // The feed's notes are HTML; the text browser shows them without scripts or remote content.
    QString notes = QString::fromStdString(item.releaseNotes).trimmed();
    html += notes.isEmpty() ? QStringLiteral("<p>No notes for this version.</p>") : notes;
  }
  return html;
}

VersionHistoryDialog::VersionHistoryDialog(const std::vector<::plinth::AppcastItem>& versions,
                                           QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("versionHistoryDialog"));
  setWindowTitle(QStringLiteral("Version History"));
  resize(460, 420);
  auto* layout = new QVBoxLayout(this);
  auto* notes = new QTextBrowser(this);
  notes->setObjectName(QStringLiteral("versionHistoryNotes"));
  notes->setAccessibleName(QStringLiteral("Version History"));
  notes->setOpenExternalLinks(true);
  notes->setHtml(historyHtml(versions));
  layout->addWidget(notes);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

}  // namespace ferrytide::menu
