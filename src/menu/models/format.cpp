#include "menu/models/format.h"

#include <QLocale>
#include <QTextBoundaryFinder>
#include <cmath>

namespace ferrytide::menu::Format {
namespace {

bool isLineBreak(QChar c) {
  switch (c.unicode()) {
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0085:
    case 0x2028:
    case 0x2029:
      return true;
    default:
      return false;
  }
}

QString trimSpacesAndTabs(const QString& text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return text.mid(begin, end - begin);
}

QString counted(long long number, const char* singular, const char* plural) {
  return QString::number(number) + u' ' + QString::fromLatin1(number == 1 ? singular : plural);
}

}  // namespace

QString prefix(const QString& text, int count) {
  if (count <= 0) return {};
  QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
  int taken = 0;
  while (graphemes.toNextBoundary() != -1) {
    if (++taken == count) return text.left(graphemes.position());
  }
  return text;
}

QString preview(const QString& text) {
  QString head = prefix(text, 300);
  for (qsizetype i = 0; i < head.size(); ++i) {
    if (isLineBreak(head[i])) {
      head.truncate(i);
      break;
    }
  }
  return trimSpacesAndTabs(head);
}

QString duration(double seconds) {
  long long whole = std::max(1LL, std::llround(seconds));
  if (whole <= 59) return counted(whole, "second", "seconds");
  return counted(std::llround(static_cast<double>(whole) / 60.0), "minute", "minutes");
}

QString ago(const QDateTime& date, const QDateTime& now) {
  qint64 seconds = date.secsTo(now);
  if (seconds < 60) return QStringLiteral("just now");
  if (seconds < 3600) return QString::number(seconds / 60) + QStringLiteral(" min ago");
  QDate day = date.toLocalTime().date();
  QDate today = now.toLocalTime().date();
  if (day == today) return QString::number(seconds / 3600) + QStringLiteral(" h ago");
  if (day == today.addDays(-1)) return QStringLiteral("Yesterday");
  return QLocale().toString(date.toLocalTime().date(), QStringLiteral("d MMM"));
}

QString byteCount(std::int64_t bytes) {
  return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

QString rate(double bytesPerSecond) {
  return byteCount(std::llround(std::max(0.0, bytesPerSecond))) + QStringLiteral("/s");
}

}  // namespace ferrytide::menu::Format
