#include "menu/models/settings_value.h"

#include <limits>

namespace ferrytide::menu::SettingsValue {

std::optional<bool> toBool(const QVariant& value) {
  if (value.typeId() == QMetaType::Bool) return value.toBool();
  if (value.typeId() != QMetaType::QString) return std::nullopt;
  QString text = value.toString();
  if (text == u"true") return true;
  if (text == u"false") return false;
  return std::nullopt;
}

std::optional<QString> toText(const QVariant& value) {
  if (value.typeId() != QMetaType::QString) return std::nullopt;
  return value.toString();
}

std::optional<std::uint32_t> toUInt32(const QVariant& value) {
  bool ok = false;
  qlonglong number = 0;
  switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
      if (value.typeId() == QMetaType::ULongLong &&
          value.toULongLong() > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
      }
      number = value.toLongLong(&ok);
      break;
    case QMetaType::QString:
      number = value.toString().toLongLong(&ok);
      break;
    default:
      return std::nullopt;
  }
  if (!ok || number < 0 || number > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(number);
}

}  // namespace ferrytide::menu::SettingsValue
