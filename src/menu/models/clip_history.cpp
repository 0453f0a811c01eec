#include "menu/models/clip_history.h"

#include <QTimer>
#include <system_error>

#include "core/support/file_io.h"
#include "core/support/log.h"
#include "core/support/paths.h"
#include "core/support/serial_queue.h"
#include "menu/models/secure_file.h"

namespace ferrytide::menu {
namespace {

const Logger kLog("clip-history");

std::vector<Clip> decode(const Bytes& content) {
  json::Value document = json::parse(content);
  if (!document.is_array()) throw json::DecodeError("the history is not a JSON array");
  std::vector<Clip> clips;
  clips.reserve(document.size());
  for (const json::Value& entry : document) clips.push_back(Clip::fromJson(entry));
  return clips;
}

Bytes encode(const std::vector<Clip>& clips) {
  json::Value document = json::Value::array();
  for (const Clip& clip : clips) document.push_back(clip.toJson());
  return toBytes(json::encodeCompact(document));
}

}  // namespace

std::filesystem::path ClipHistory::defaultURL() {
  return paths::applicationSupportDirectory() / fileName;
}

ClipHistory::ClipHistory(std::filesystem::path fileURL, Writer writer, QObject* parent)
    : QObject(parent),
      fileURL_(std::move(fileURL)),
      writer_(writer ? std::move(writer) : Writer(&SecureFile::write)),
      io_(std::make_unique<SerialQueue>("com.quenfold.ferrytide.clips")) {
  load();
}

ClipHistory::~ClipHistory() {
  if (saveScheduled_) saveNow();
}

void ClipHistory::load() {
  try {
    std::optional<Bytes> content = file_io::readIfExists(fileURL_);
    if (content) clips_ = decode(*content);
  } catch (const std::exception& error) {
    setAside(error.what());
  }
}

void ClipHistory::setAside(const std::string& reason) const {
  kLog.error("clip history unreadable: " + reason);
  std::filesystem::path aside = fileURL_;
  aside += ".damaged";
  std::error_code error;
  std::filesystem::rename(fileURL_, aside, error);
  if (error) kLog.error("could not set aside " + fileURL_.string() + ": " + error.message());
}

void ClipHistory::insert(const Clip& clip) {
  clips_.insert(clips_.begin(), clip);
  Q_EMIT clipsChanged(clips_);
  scheduleSave();
}

void ClipHistory::clear() {
  clips_.clear();
  Q_EMIT clipsChanged(clips_);
  scheduleSave();
}

std::optional<Clip> ClipHistory::clipOnClipboard(const QString& text) const {
  if (text.isEmpty()) return std::nullopt;
  for (const Clip& clip : clips_) {
    if (clip.text == text) return clip;
  }
  return std::nullopt;
}

void ClipHistory::scheduleSave() {
  if (saveScheduled_) return;
  saveScheduled_ = true;
  QTimer::singleShot(0, this, [this] {
    if (saveScheduled_) saveNow();
  });
}

void ClipHistory::saveNow() {
  saveScheduled_ = false;
  io_->run([snapshot = clips_, file = fileURL_, write = writer_] {
    try {
      write(encode(snapshot), file);
    } catch (const std::exception& error) {
      kLog.error(std::string("clip history save failed: ") + error.what());
    }
  });
}

}  // namespace ferrytide::menu
