#include "menu/models/clip.h"

#include <cmath>

namespace ferrytide::menu {
namespace {

// Far beyond any real date, and still exact in milliseconds.
constexpr double maxEpochSeconds = 1e13;

QString qstring(const std::string& value) { return QString::fromStdString(value); }

const char* directionName(Clip::Direction direction) {
  return direction == Clip::Direction::incoming ? "incoming" : "outgoing";
}

Clip::Direction directionFrom(const std::string& name) {
  if (name == "incoming") return Clip::Direction::incoming;
  if (name == "outgoing") return Clip::Direction::outgoing;
  throw json::DecodeError("\"direction\" must be \"incoming\" or \"outgoing\"");
}

QDateTime dateFrom(const json::Value& object) {
  auto date = object.find("date");
  if (date == object.end() || !date->is_number()) {
    throw json::DecodeError("\"date\" must be a number");
  }
  double seconds = date->get<double>();
  if (!std::isfinite(seconds) || std::abs(seconds) > maxEpochSeconds) {
    throw json::DecodeError("\"date\" is out of range");
  }
  return QDateTime::fromMSecsSinceEpoch(std::llround(seconds * 1000.0), Qt::UTC);
}

}  // namespace

Clip Clip::make(const QString& text, Direction direction, const QString& peerName,
                const std::optional<QString>& peerPubkey) {
  return Clip{.id = QUuid::createUuid(),
              .text = text,
              .direction = direction,
              .peerName = peerName,
              .peerPubkey = peerPubkey,
              .date = QDateTime::currentDateTimeUtc()};
}

json::Value Clip::toJson() const {
  json::Value object = {
      {"id", id.toString(QUuid::WithoutBraces).toUpper().toStdString()},
      {"text", text.toStdString()},
      {"direction", directionName(direction)},
      {"peerName", peerName.toStdString()},
      {"date", static_cast<double>(date.toMSecsSinceEpoch()) / 1000.0},
  };
  if (peerPubkey) object["peerPubkey"] = peerPubkey->toStdString();
  return object;
}

Clip Clip::fromJson(const json::Value& value) {
  const json::Value& object = json::requireObject(value);
  Clip clip;
  clip.id = QUuid::fromString(qstring(json::requireString(object, "id")));
  if (clip.id.isNull()) throw json::DecodeError("\"id\" must be a UUID");
  clip.text = qstring(json::requireString(object, "text"));
  clip.direction = directionFrom(json::requireString(object, "direction"));
  clip.peerName = qstring(json::requireString(object, "peerName"));
  if (std::optional<std::string> key = json::optionalString(object, "peerPubkey")) {
    clip.peerPubkey = qstring(*key);
  }
  clip.date = dateFrom(object);
  return clip;
}

}  // namespace ferrytide::menu
