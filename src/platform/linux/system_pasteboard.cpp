#include "platform/linux/system_pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMetaObject>
#include <QMimeData>
#include <QThread>

namespace ferrytide::platform {
namespace {

QClipboard* clipboard() { return QGuiApplication::clipboard(); }

void replaceWithText(const std::string& text) {
  clipboard()->setText(QString::fromStdString(text), QClipboard::Clipboard);
}

}  // namespace

PasteboardTypes SystemPasteboard::declaredTypes() {
  PasteboardTypes types;
  const QMimeData* data = clipboard()->mimeData(QClipboard::Clipboard);
  if (data == nullptr) return types;
  const QString hintType = QString::fromLatin1(passwordManagerHintType.data(),
                                               qsizetype(passwordManagerHintType.size()));
  for (const QString& format : data->formats()) {
    types.formats.push_back(format.toStdString());
    if (format == hintType) types.passwordManagerHint = data->data(format).toStdString();
  }
  return types;
}

std::string SystemPasteboard::read() {
  return clipboard()->text(QClipboard::Clipboard).toStdString();
}

void SystemPasteboard::write(std::string text) {
  if (QThread::currentThread() == qApp->thread()) {
    replaceWithText(text);
    return;
  }
  QMetaObject::invokeMethod(
      qApp, [text = std::move(text)] { replaceWithText(text); }, Qt::QueuedConnection);
}

}  // namespace ferrytide::platform
