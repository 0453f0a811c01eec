#pragma once

#include <QDateTime>
#include <QString>
#include <QUuid>
#include <optional>

#include "core/support/json.h"

namespace ferrytide::menu {

// One clipboard text sent to or received from a phone, as the clip history keeps it:
//
//   {"date":1733480000.25,"direction":"incoming","id":"5E1C0F4B-7A3D-4C2B-9E61-0B8A2F6C1D3E",
//    "peerName":"Pixel 8","peerPubkey":"q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA=",
//    "text":"see you at 8"}
//
// "date" is seconds since 1970 with fractions; "peerPubkey" is left out when unknown.
struct Clip {
  enum class Direction { incoming, outgoing };

  QUuid id;
  QString text;
  Direction direction = Direction::incoming;
  QString peerName;                   // the phone's display name at that moment
  std::optional<QString> peerPubkey;  // Base64, when known
  QDateTime date;

  // A fresh id, dated now.
  static Clip make(const QString& text, Direction direction, const QString& peerName,
                   const std::optional<QString>& peerPubkey);

  json::Value toJson() const;
  // Throws json::DecodeError for an entry that is not a clip.
  static Clip fromJson(const json::Value& value);

  bool operator==(const Clip&) const = default;
};

}  // namespace ferrytide::menu
