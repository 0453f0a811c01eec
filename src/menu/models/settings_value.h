#pragma once

// Typed reads of stored settings. A settings file keeps scalars as text, while values set in
// this run keep their type; both forms are accepted, anything else counts as absent.

#include <QString>
#include <QVariant>
#include <cstdint>
#include <optional>

namespace ferrytide::menu::SettingsValue {

std::optional<bool> toBool(const QVariant& value);
std::optional<QString> toText(const QVariant& value);
// Nothing for a negative number or one above 4294967295.
std::optional<std::uint32_t> toUInt32(const QVariant& value);

}  // namespace ferrytide::menu::SettingsValue
