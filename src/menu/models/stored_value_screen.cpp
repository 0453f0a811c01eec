#include "menu/models/stored_value_screen.h"

#include <QByteArray>
#include <QDataStream>
#include <QFile>
#include <QSettings>
#include <QStringList>
#include <QTemporaryFile>
#include <QVariant>
#include <cstdint>

#include "core/support/log.h"

namespace ferrytide::menu::StoredValueScreen {
namespace {

const Logger kLog("preferences");

// Qt never escapes an '@' when it writes a value, and a stored type is only decoded from a
// value that starts with one. A copy of the file with every literal '@' replaced by a character
// from the private use area therefore parses without decoding anything, and the marker shows
// where each '@' was.
constexpr char16_t kMarker = u'\uE000';
const QByteArray kMarkerUtf8 = QString(QChar(kMarker)).toUtf8();

// The type numbers of a stored variant's stream.
constexpr std::uint32_t kStreamMap = 8;
constexpr std::uint32_t kStreamString = 10;
constexpr std::uint32_t kStreamBytes = 12;

QString unsafeValue() {
  return QStringLiteral("it holds a stored value of a kind this app does not write");
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int octalDigit(char c) { return c >= '0' && c <= '7' ? c - '0' : -1; }

// Whether an escape sequence in the file decodes to '@', as Qt's reader decodes them: a
// backslash takes the next character with it, and "\x" or a backslash and an octal digit start a
// run of digits whose value is kept in 16 bits.
bool escapesAnAt(const QByteArray& raw) {
  for (qsizetype i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\\' || i + 1 == raw.size()) continue;
    char first = raw[++i];
    int base = first == 'x' ? 16 : octalDigit(first) >= 0 ? 8 : 0;
    if (base == 0) continue;
    auto digit = [base](char c) { return base == 16 ? hexDigit(c) : octalDigit(c); };
    std::uint16_t value = base == 8 ? static_cast<std::uint16_t>(octalDigit(first)) : 0;
    while (i + 1 < raw.size() && digit(raw[i + 1]) >= 0) {
      value = static_cast<std::uint16_t>(value * base + digit(raw[++i]));
    }
    if (value == u'@') return true;
  }
  return false;
}

bool readsCleanly(const QDataStream& stream) { return stream.status() == QDataStream::Ok; }

// A text or bytes value in the stream form, whose type number has been read already.
bool skipTextOrBytes(QDataStream& stream, std::uint32_t type) {
  if (type == kStreamString) {
    QString text;
    stream >> text;
  } else if (type == kStreamBytes) {
    QByteArray bytes;
    stream >> bytes;
  } else {
    return false;
  }
  return readsCleanly(stream);
}

bool isWrittenVariant(QByteArray payload) {
  QDataStream stream(&payload, QIODevice::ReadOnly);
  stream.setVersion(QDataStream::Qt_4_0);
  std::uint32_t type = 0;
  stream >> type;
  if (!readsCleanly(stream)) return false;
  if (type != kStreamMap) return skipTextOrBytes(stream, type);
  std::uint32_t count = 0;
  stream >> count;
  for (std::uint32_t entry = 0; entry < count && readsCleanly(stream); ++entry) {
    QString name;
    std::uint32_t valueType = 0;
    stream >> name >> valueType;
    if (!readsCleanly(stream) || !skipTextOrBytes(stream, valueType)) return false;
  }
  return readsCleanly(stream);
}

// One stored string as Qt would decode it. The app never stores a date, so a stored one is
// refused whatever it holds.
bool isSafe(QString value) {
  value.replace(QChar(kMarker), QChar(u'@'));
  if (!value.endsWith(u')')) return true;
  if (value.startsWith(QStringLiteral("@Variant(")))
    return isWrittenVariant(value.sliced(9).toLatin1());
  return !value.startsWith(QStringLiteral("@DateTime("));
}

bool allValuesSafe(const QByteArray& marked, qsizetype atSigns) {
  QTemporaryFile copy;
  if (!copy.open() || copy.write(marked) != marked.size() || !copy.flush()) {
    // Setting the file aside for want of scratch space would cost every setting; a crafted
    // value is far less likely than a full disk.
    kLog.error("could not look over the settings file: no room for a working copy");
    return true;
  }
  QSettings settings(copy.fileName(), QSettings::IniFormat);
  if (settings.status() != QSettings::NoError) return true;  // opening the file reports it
  // Every '@' of the file must turn up in a value read here. One that does not sits where Qt
  // might still read it (a key given twice, with sections that Qt joins in its own way), and
  // the app writes '@' nowhere but in values.
  qsizetype markersSeen = 0;
  const QStringList keys = settings.allKeys();
  for (const QString& name : keys) {
    QVariant value = settings.value(name);
    const QStringList parts = value.typeId() == QMetaType::QStringList
                                  ? value.toStringList()
                                  : QStringList{value.toString()};
    for (const QString& part : parts) {
      markersSeen += part.count(QChar(kMarker));
      if (!isSafe(part)) return false;
    }
  }
  return markersSeen == atSigns;
}

}  // namespace

std::optional<QString> problem(const QString& settingsFile) {
  QFile file(settingsFile);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray raw = file.readAll();
  if (escapesAnAt(raw)) return unsafeValue();
  if (!raw.contains('@')) return std::nullopt;
  QByteArray marked = raw;
  marked.replace('@', kMarkerUtf8);
  if (!allValuesSafe(marked, raw.count('@'))) return unsafeValue();
  return std::nullopt;
}

}  // namespace ferrytide::menu::StoredValueScreen
