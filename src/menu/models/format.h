#pragma once

#include <QDateTime>
#include <QString>
#include <cstdint>

// Short texts for notifications and the popover.
namespace ferrytide::menu::Format {

// The first `count` user-perceived characters (a letter with its accents, an emoji with its
// modifiers count as one).
QString prefix(const QString& text, int count);

// The first line of the first 300 characters, without surrounding spaces and tabs.
QString preview(const QString& text);

// "1 second", "42 seconds", "1 minute", "3 minutes": whole seconds (at least 1) up to 59,
// otherwise rounded minutes.
QString duration(double seconds);

// "just now", "5 min ago", "3 h ago" (earlier today), "Yesterday", else "7 Dec" in the
// user's locale.
QString ago(const QDateTime& date, const QDateTime& now);

// A file size in decimal units as file managers show it: "512 bytes", "1.5 kB", "2.3 GB".
QString byteCount(std::int64_t bytes);

// A transfer speed: "12.4 MB/s".
QString rate(double bytesPerSecond);

}  // namespace ferrytide::menu::Format
