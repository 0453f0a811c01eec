#include "core/transfer/share_outbox.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <set>

#include "core/support/file_io.h"
#include "core/support/log.h"
#include "core/support/paths.h"
#include "core/support/uuid.h"

namespace ferrytide {

namespace fs = std::filesystem;

ShareOutboxError ShareOutboxError::noContainer() {
  return ShareOutboxError(Kind::noContainer, "no app-group container");
}
ShareOutboxError ShareOutboxError::manifestRead(const std::string& text) {
  return ShareOutboxError(Kind::manifestRead, "manifest read failed: " + text);
}
ShareOutboxError ShareOutboxError::manifestDecode(const std::string& text) {
  return ShareOutboxError(Kind::manifestDecode, "manifest decode failed: " + text);
}
ShareOutboxError ShareOutboxError::notShareable(const fs::path& path, const std::string& reason) {
  return ShareOutboxError(Kind::notShareable, "cannot share " + path.string() + ": " + reason);
}
ShareOutboxError ShareOutboxError::nothingToShare() {
  return ShareOutboxError(Kind::nothingToShare, "no files to share");
}
ShareOutboxError ShareOutboxError::jobWrite(const std::string& text) {
  return ShareOutboxError(Kind::jobWrite, "outbox write failed: " + text);
}

namespace {

const Logger& logger() {
  static const Logger instance("share-outbox");
  return instance;
}

// Relative, non-empty, and every component a real name: nothing can point outside the job.
bool staysInsideJob(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.find('\0') != std::string_view::npos) {
    return false;
  }
  std::size_t start = 0;
  for (;;) {
    std::size_t slash = name.find('/', start);
    std::string_view component = name.substr(start, slash - start);
    if (component.empty() || component == "." || component == "..") return false;
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

std::vector<std::string> stringArray(const json::Value& array, std::string_view key) {
  std::vector<std::string> strings;
  for (const json::Value& element : array) {
    if (!element.is_string()) {
      throw json::DecodeError("key \"" + std::string(key) +
                              "\" holds a value that is not a string");
    }
    strings.push_back(element.get<std::string>());
  }
  return strings;
}

bool isHidden(const fs::path& entry) { return entry.filename().string().starts_with("."); }

bool isRealFolder(const fs::path& path) {
  std::error_code ec;
  return fs::symlink_status(path, ec).type() == fs::file_type::directory;
}

bool isRegularFile(const fs::path& path) {
  std::error_code ec;
  return fs::symlink_status(path, ec).type() == fs::file_type::regular;
}

std::int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Checked before anything is written, so that a bad argument leaves no trace.
void checkShareable(const std::vector<fs::path>& files) {
  if (files.empty()) throw ShareOutboxError::nothingToShare();
  for (const fs::path& file : files) {
    std::error_code ec;
    fs::file_status status = fs::status(file, ec);
    if (status.type() == fs::file_type::not_found) {
      throw ShareOutboxError::notShareable(file, "no such file");
    }
    if (ec) throw ShareOutboxError::notShareable(file, ec.message());
    if (status.type() != fs::file_type::regular) {
      throw ShareOutboxError::notShareable(file, "not a regular file");
    }
  }
}

// "report.pdf", and for later files of the same name "2/report.pdf", "3/report.pdf", ...
std::vector<std::string> jobNames(const std::vector<fs::path>& files) {
  std::vector<std::string> names;
  std::set<std::string> used;
  for (const fs::path& file : files) {
    std::string base = file.filename().string();
    std::string name = base;
    for (int n = 2; !used.insert(name).second; ++n) name = std::to_string(n) + "/" + base;
    names.push_back(name);
  }
  return names;
}

}  // namespace

ShareOutbox::SharePeer ShareOutbox::SharePeer::fromPeer(const PeerRecord& record,
                                                        std::string_view displayName) {
  std::string subtitle =
      !record.peer_android.empty() ? "Android " + record.peer_android : record.peer_ip;
  return SharePeer{
      .hostname = displayName.empty() ? record.peer_hostname : std::string(displayName),
      .pubkey = record.peer_pubkey,
      .subtitle = std::move(subtitle)};
}

json::Value ShareOutbox::SharePeer::toJson() const {
  return json::Value{{"hostname", hostname}, {"pubkey", pubkey}, {"subtitle", subtitle}};
}

ShareOutbox::SharePeer ShareOutbox::SharePeer::fromJson(const json::Value& value) {
  return SharePeer{.hostname = json::requireString(value, "hostname"),
                   .pubkey = json::requireString(value, "pubkey"),
                   .subtitle = json::requireString(value, "subtitle")};
}

json::Value ShareOutbox::Manifest::toJson() const {
  json::Value value{{"id", id}, {"createdAtMs", createdAtMs}, {"files", files}};
  if (targetPubkeys) value["targetPubkeys"] = *targetPubkeys;
  return value;
}

ShareOutbox::Manifest ShareOutbox::Manifest::fromJson(const json::Value& value) {
  Manifest manifest;
  manifest.id = json::requireString(value, "id");
  manifest.createdAtMs = json::requireInt64(value, "createdAtMs");
  manifest.files = stringArray(json::requireArray(value, "files"), "files");
  for (const std::string& name : manifest.files) {
    if (!staysInsideJob(name)) {
      throw json::DecodeError("file name \"" + name + "\" is not inside the job folder");
    }
  }
  auto targets = value.find("targetPubkeys");
  if (targets != value.end() && !targets->is_null()) {
    if (!targets->is_array()) throw json::DecodeError("key \"targetPubkeys\" is not an array");
    manifest.targetPubkeys = stringArray(*targets, "targetPubkeys");
  }
  return manifest;
}

ShareOutbox::ShareOutbox() : container_(paths::appGroupContainer()) {}

ShareOutbox::ShareOutbox(std::optional<fs::path> container) : container_(std::move(container)) {}

std::optional<fs::path> ShareOutbox::outboxRoot() const {
  if (!container_) return std::nullopt;
  return *container_ / std::string(outboxName);
}

std::optional<fs::path> ShareOutbox::peersFileURL() const {
  if (!container_) return std::nullopt;
  return *container_ / std::string(peersFileName);
}

void ShareOutbox::writePeers(const std::vector<SharePeer>& peers) const {
  auto path = peersFileURL();
  if (!path) return;
  try {
    json::Value array = json::Value::array();
    for (const SharePeer& peer : peers) array.push_back(peer.toJson());
    file_io::createDirectories(*container_);
    file_io::writeAtomically(*path, asBytes(json::encodeCompact(array)));
  } catch (const std::exception& error) {
    logger().warning("peers.json not written: " + std::string(error.what()));
  }
}

std::vector<ShareOutbox::SharePeer> ShareOutbox::readPeers() const {
  auto path = peersFileURL();
  if (!path) return {};
  try {
    std::optional<Bytes> content = file_io::readIfExists(*path);
    if (!content) return {};
    json::Value array = json::parse(*content);
    if (!array.is_array()) return {};
    std::vector<SharePeer> peers;
    for (const json::Value& element : array) peers.push_back(SharePeer::fromJson(element));
    return peers;
  } catch (const std::exception& error) {
    logger().warning("peers.json unreadable: " + std::string(error.what()));
    return {};
  }
}

std::vector<fs::path> ShareOutbox::pendingJobs() const {
  auto root = outboxRoot();
  if (!root) return {};
  std::vector<fs::path> jobs;
  std::error_code ec;
  for (fs::directory_iterator it(*root, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& entry = it->path();
    if (isHidden(entry) || !isRealFolder(entry)) continue;
    if (isRegularFile(entry / std::string(manifestName))) jobs.push_back(entry);
  }
  if (ec) return {};
  std::sort(jobs.begin(), jobs.end());
  return jobs;
}

ShareOutbox::Manifest ShareOutbox::readManifest(const fs::path& jobFolder) const {
  fs::path path = jobFolder / std::string(manifestName);
  std::optional<Bytes> content;
  try {
    std::error_code ec;
    std::uintmax_t size = fs::file_size(path, ec);
    if (!ec && size > maxManifestBytes) {
      throw ShareOutboxError::manifestRead(path.string() + ": larger than " +
                                           std::to_string(maxManifestBytes) + " bytes");
    }
    content = file_io::readIfExists(path);
  } catch (const file_io::FileError& error) {
    throw ShareOutboxError::manifestRead(error.description());
  }
  if (!content) throw ShareOutboxError::manifestRead(file_io::describe(path, ENOENT));
  try {
    return Manifest::fromJson(json::parse(*content));
  } catch (const json::DecodeError& error) {
    throw ShareOutboxError::manifestDecode(error.description());
  }
}

std::vector<fs::path> ShareOutbox::jobFiles(const fs::path& jobFolder,
                                            const Manifest& manifest) const {
  std::vector<fs::path> files;
  for (const std::string& name : manifest.files) {
    fs::path file = jobFolder / name;
    if (staysInsideJob(name) && isRegularFile(file)) files.push_back(file);
  }
  return files;
}

bool ShareOutbox::removeJob(const fs::path& jobFolder) const {
  auto root = outboxRoot();
  if (!root || jobFolder.parent_path() != *root || isHidden(jobFolder) ||
      !jobFolder.has_filename()) {
    logger().warning("not a job folder, left alone: " + jobFolder.string());
    return false;
  }
  fs::path hidden = *root / ("." + jobFolder.filename().string() + "." + randomUuid() + ".removed");
  std::error_code ec;
  fs::rename(jobFolder, hidden, ec);
  if (ec && ec != std::errc::no_such_file_or_directory) {
    // Not hidden: delete in place, and it stays a job only if its manifest survives.
    fs::remove_all(jobFolder, ec);
    if (ec) logger().warning("job not deleted: " + jobFolder.string() + ": " + ec.message());
    return !isRegularFile(jobFolder / std::string(manifestName));
  }
  if (!ec) {
    fs::remove_all(hidden, ec);
    if (ec) logger().warning("finished job not deleted: " + hidden.string() + ": " + ec.message());
  }
  return true;
}

std::optional<fs::path> ShareOutbox::keepAside(const fs::path& jobFolder) const {
  auto root = outboxRoot();
  if (!root || jobFolder.parent_path() != *root || isHidden(jobFolder) ||
      !jobFolder.has_filename()) {
    logger().warning("not a job folder, left alone: " + jobFolder.string());
    return std::nullopt;
  }
  fs::path kept = *root / std::string(keptFolderName);
  fs::path target = kept / jobFolder.filename();
  std::error_code ec;
  fs::create_directories(kept, ec);
  if (!ec) fs::rename(jobFolder, target, ec);
  if (ec) {
    logger().warning("job not kept: " + jobFolder.string() + ": " + ec.message());
    removeJob(jobFolder);
    return std::nullopt;
  }
  pruneKeptJobs(kept);
  return target;
}

void ShareOutbox::pruneKeptJobs(const fs::path& kept) {
  std::vector<std::pair<fs::file_time_type, fs::path>> jobs;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(kept, ec)) {
    jobs.emplace_back(entry.last_write_time(ec), entry.path());
  }
  if (jobs.size() <= keptJobsLimit) return;
  std::sort(jobs.begin(), jobs.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (std::size_t i = keptJobsLimit; i < jobs.size(); ++i) fs::remove_all(jobs[i].second, ec);
}

fs::path ShareOutbox::writeJob(const std::vector<fs::path>& files,
                               const std::vector<std::string>& targetPubkeys) const {
  auto root = outboxRoot();
  if (!root) throw ShareOutboxError::noContainer();
  checkShareable(files);

  Manifest manifest{
      .id = randomUuid(), .createdAtMs = nowMs(), .files = jobNames(files), .targetPubkeys = {}};
  if (!targetPubkeys.empty()) manifest.targetPubkeys = targetPubkeys;
  fs::path job = *root / (std::to_string(manifest.createdAtMs) + "-" + manifest.id);
  try {
    file_io::createDirectories(*root);
    if (::mkdir(job.c_str(), 0700) != 0) throw file_io::FileError(file_io::describe(job, errno));
  } catch (const file_io::FileError& error) {
    throw ShareOutboxError::jobWrite(error.description());
  }
  try {
    for (std::size_t i = 0; i < files.size(); ++i) {
      fs::path copy = job / manifest.files[i];
      fs::create_directories(copy.parent_path());
      fs::copy_file(files[i], copy);
      // The same modification time keeps the copy's fingerprint equal to the original's, so
      // a file shared again resumes where the last send stopped.
      fs::last_write_time(copy, fs::last_write_time(files[i]));
    }
    file_io::writeAtomically(job / std::string(manifestName),
                             asBytes(json::encodeCompact(manifest.toJson())));
  } catch (const std::exception& error) {
    std::error_code ignored;
    fs::remove_all(job, ignored);
    throw ShareOutboxError::jobWrite(error.what());
  }
  return job;
}

void ShareOutbox::postPending() const {
  auto root = outboxRoot();
  if (!root) return;
  fs::path marker = *root / std::string(pendingMarkerName);
  try {
    file_io::createDirectories(*root);
    int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) throw file_io::FileError(file_io::describe(marker, errno));
    int result = ::futimens(fd, nullptr);
    int error = errno;
    ::close(fd);
    if (result != 0) throw file_io::FileError(file_io::describe(marker, error));
  } catch (const file_io::FileError& error) {
    logger().warning("pending marker not touched: " + error.description());
  }
}

}  // namespace ferrytide
