#include "menu/windows/settings_dialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace ferrytide::menu {
namespace {

std::optional<QString> askNameInDialog(QWidget* parent, const QString& title,
                                       const QString& information, const QString& current) {
  QInputDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("renameDialog"));
  dialog.setWindowTitle(title);
  dialog.setLabelText(information);
  dialog.setTextValue(current);
  dialog.setOkButtonText(QStringLiteral("Rename"));
  dialog.setCancelButtonText(QStringLiteral("Cancel"));
  // The explanation is a sentence or two: wrap it instead of widening the dialog.
  for (QLabel* label : dialog.findChildren<QLabel*>()) label->setWordWrap(true);
  dialog.setMinimumWidth(380);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.textValue();
}

bool confirmInDialog(QWidget* parent, const QString& title, const QString& information,
                     const QString& confirmLabel) {
  QMessageBox box(parent);
  box.setObjectName(QStringLiteral("confirmDialog"));
  box.setIcon(QMessageBox::Warning);
  box.setWindowTitle(title);
  box.setText(title);
  box.setInformativeText(information);
  QPushButton* confirm = box.addButton(confirmLabel, QMessageBox::DestructiveRole);
  confirm->setObjectName(QStringLiteral("confirmButton"));
  QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
  cancel->setObjectName(QStringLiteral("cancelButton"));
  // Return must not remove anything by accident.
  box.setDefaultButton(cancel);
  box.setEscapeButton(cancel);
  box.exec();
  return box.clickedButton() == confirm;
}

std::optional<QString> chooseFolderInDialog(QWidget* parent, const QString& current) {
  QString folder =
      QFileDialog::getExistingDirectory(parent, QStringLiteral("Save received files to"), current);
  if (folder.isEmpty()) return std::nullopt;
  return folder;
}

}  // namespace

SettingsDialogs SettingsDialogs::standard() {
  return {.askName = askNameInDialog, .confirm = confirmInDialog, .chooseFolder = chooseFolderInDialog};
}

}  // namespace ferrytide::menu
