#pragma once

#include <QString>
#include <optional>

namespace ferrytide::menu::StoredValueScreen {

// Looks over a settings file before Qt parses it. Qt turns a stored "@Variant(…)" or
// "@DateTime(…)" value back into whatever type its bytes name, and some of those types (images,
// cursors, icons) end the process when no GUI application object exists, as in the headless
// daemon. Such values are accepted only in the forms this app writes: text, bytes, and maps of
// either; a stored date never. Returns why the file cannot be used, or nothing when it is safe to
// open (also when it is missing or unreadable: opening it then reports that).
std::optional<QString> problem(const QString& settingsFile);

}  // namespace ferrytide::menu::StoredValueScreen
