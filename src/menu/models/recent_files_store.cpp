#include "menu/models/recent_files_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <system_error>

#include "core/support/file_io.h"
#include "core/support/json.h"
#include "core/support/log.h"
#include "core/support/paths.h"
#include "menu/models/secure_file.h"

namespace ferrytide::menu {
namespace {

const Logger kLog("recent-files");

QDateTime fromEpochSeconds(double seconds) {
  return QDateTime::fromMSecsSinceEpoch(std::llround(seconds * 1000.0), Qt::UTC);
}

double toEpochSeconds(const QDateTime& date) {
  return static_cast<double>(date.toMSecsSinceEpoch()) / 1000.0;
}

json::Value toEntry(const FileLog& row) {
  json::Value entry{{"path", row.url.string()},
                    {"bytes", row.bytes},
                    {"date", toEpochSeconds(row.date)},
                    {"sent", row.direction == FileLog::Direction::sent},
                    {"peerName", row.peerName.toStdString()}};
  if (row.peerPubkey) entry["peerPubkey"] = row.peerPubkey->toStdString();
  return entry;
}

const json::Value& requireKey(const json::Value& object, const char* key, bool hasType,
                              const char* typeName) {
  if (!hasType) throw json::DecodeError(std::string("\"") + key + "\" must be " + typeName);
  return object[key];
}

double requireNumber(const json::Value& object, const char* key) {
  bool isNumber = object.contains(key) && object[key].is_number();
  return requireKey(object, key, isNumber, "a number").get<double>();
}

bool requireBool(const json::Value& object, const char* key) {
  bool isBool = object.contains(key) && object[key].is_boolean();
  return requireKey(object, key, isBool, "a boolean").get<bool>();
}

FileLog fromEntry(const json::Value& value) {
  const json::Value& entry = json::requireObject(value);
  FileLog row;
  row.id = QUuid::createUuid();
  row.url = json::requireString(entry, "path");
  row.bytes = json::requireInt64(entry, "bytes");
  row.date = fromEpochSeconds(requireNumber(entry, "date"));
  row.direction =
      requireBool(entry, "sent") ? FileLog::Direction::sent : FileLog::Direction::received;
  row.peerName = QString::fromStdString(json::requireString(entry, "peerName"));
  if (std::optional<std::string> key = json::optionalString(entry, "peerPubkey")) {
    row.peerPubkey = QString::fromStdString(*key);
  }
  return row;
}

std::vector<FileLog> decode(const Bytes& content) {
  json::Value document = json::parse(content);
  if (!document.is_array()) throw json::DecodeError("the list is not a JSON array");
  std::vector<FileLog> rows;
  rows.reserve(document.size());
  for (const json::Value& entry : document) rows.push_back(fromEntry(entry));
  return rows;
}

bool stillExists(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

}  // namespace

std::filesystem::path RecentFilesStore::defaultFileURL() {
  return paths::applicationSupportDirectory() / fileName;
}

RecentFilesStore::RecentFilesStore(std::filesystem::path fileURL) : fileURL_(std::move(fileURL)) {}

RecentFilesStore::Loaded RecentFilesStore::load(const std::filesystem::path& seedFrom,
                                                std::size_t limit) const {
  std::optional<Bytes> content;
  try {
    content = file_io::readIfExists(fileURL_);
  } catch (const file_io::FileError& error) {
    return setAsideAndSeed(error.what(), seedFrom, limit);
  }
  if (!content) return {seed(seedFrom, limit), std::nullopt};

  std::vector<FileLog> stored;
  try {
    stored = decode(*content);
  } catch (const json::DecodeError& error) {
    return setAsideAndSeed(error.what(), seedFrom, limit);
  }
  Loaded loaded;
  for (FileLog& row : stored) {
    if (loaded.entries.size() == limit) break;
    if (stillExists(row.url)) loaded.entries.push_back(std::move(row));
  }
  return loaded;
}

RecentFilesStore::Loaded RecentFilesStore::setAsideAndSeed(const std::string& reason,
                                                           const std::filesystem::path& seedFrom,
                                                           std::size_t limit) const {
  kLog.error("recent files unreadable: " + reason);
  std::filesystem::path aside = fileURL_;
  aside += ".damaged";
  std::error_code error;
  std::filesystem::rename(fileURL_, aside, error);
  if (error) kLog.error("could not set aside " + fileURL_.string() + ": " + error.message());
  QString notice = QStringLiteral("recent files unreadable: ") + QString::fromStdString(reason) +
                   QStringLiteral("; kept as ") + QString::fromStdString(aside.string());
  return {seed(seedFrom, limit), std::move(notice)};
}

void RecentFilesStore::save(const std::vector<FileLog>& entries) const {
  json::Value document = json::Value::array();
  for (const FileLog& row : entries) document.push_back(toEntry(row));
  try {
    SecureFile::write(toBytes(json::encodeCompact(document)), fileURL_);
  } catch (const std::exception& error) {
    kLog.error(std::string("recent files save failed: ") + error.what());
  }
}

std::vector<FileLog> RecentFilesStore::seed(const std::filesystem::path& folder,
                                            std::size_t limit) {
  std::vector<FileLog> rows;
  std::error_code error;
  for (const auto& item : std::filesystem::directory_iterator(folder, error)) {
    const std::filesystem::path& path = item.path();
    if (path.filename().string().starts_with('.')) continue;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    FileLog row;
    row.id = QUuid::createUuid();
    row.url = path;
    row.bytes = info.st_size;
    row.date = QDateTime::fromMSecsSinceEpoch(
        static_cast<qint64>(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000, Qt::UTC);
    rows.push_back(std::move(row));
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [](const FileLog& a, const FileLog& b) { return a.date > b.date; });
  if (rows.size() > limit) rows.resize(limit);
  return rows;
}

}  // namespace ferrytide::menu
