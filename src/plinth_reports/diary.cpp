#include "plinth_reports/diary.h"

#include <cstdio>
#include <ctime>
#include <future>
#include <system_error>

#include "core/support/file_io.h"
#include "core/support/json.h"
#include "core/support/log.h"

namespace plinth {
namespace {

namespace file_io = ferrytide::file_io;
namespace json = ferrytide::json;
using SystemClock = std::chrono::system_clock;

const ferrytide::Logger kLog("diary");
constexpr const char* kStepsFile = "steps.json";
constexpr const char* kLastErrorFile = "last-error.json";
constexpr const char* kLogFile = "errors.log";

// The length of the UTF-8 sequence that `text` starts with, or 0 when it starts with a byte
// that no valid sequence (no overlong form, no surrogate, nothing above U+10FFFF) begins with.
std::size_t sequenceLength(std::string_view text) {
  auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

// The first `limit` characters of `text`; a byte that is not UTF-8 becomes U+FFFD, so that the
// result can always be written as JSON.
std::string prefixCharacters(std::string_view text, std::size_t limit) {
  std::string result;
  for (std::size_t count = 0; count < limit && !text.empty(); ++count) {
    std::size_t length = sequenceLength(text);
    if (length == 0) {
      result += "\xEF\xBF\xBD";
      length = 1;
    } else {
      result += text.substr(0, length);
    }
    text.remove_prefix(length);
  }
  return result;
}

std::string formatTimestamp(SystemClock::time_point at) {
  std::time_t seconds = SystemClock::to_time_t(at);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

// Only the form formatTimestamp writes.
std::optional<SystemClock::time_point> parseTimestamp(const std::string& text) {
  std::tm utc{};
  int consumed = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ%n", &utc.tm_year, &utc.tm_mon,
                  &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &consumed) != 6 ||
      static_cast<std::size_t>(consumed) != text.size()) {
    return std::nullopt;
  }
  utc.tm_year -= 1900;
  utc.tm_mon -= 1;
  return SystemClock::from_time_t(timegm(&utc));
}

const char* levelWord(Diary::Level level) {
  return level == Diary::Level::error ? "error" : "warning";
}

// A log line holds one message, so line breaks inside it become spaces.
std::string singleLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

// The file's text; nothing when it is missing or cannot be read.
std::optional<std::string> readText(const std::filesystem::path& path) {
  try {
    if (std::optional<ferrytide::Bytes> content = file_io::readIfExists(path)) {
      return ferrytide::toString(*content);
    }
  } catch (const file_io::FileError& error) {
    kLog.error(error.what());
  }
  return std::nullopt;
}

std::optional<json::Value> readJson(const std::filesystem::path& path) {
  std::optional<std::string> text = readText(path);
  if (!text) return std::nullopt;
  try {
    return json::parse(*text);
  } catch (const json::DecodeError& error) {
    kLog.warning(path.string() + ": " + error.what());
    return std::nullopt;
  }
}

std::vector<std::string> decodeSteps(const std::optional<json::Value>& document) {
  std::vector<std::string> steps;
  if (!document || !document->is_array()) return steps;
  for (const json::Value& step : *document) {
    if (!step.is_string()) return {};
    steps.push_back(step.get<std::string>());
  }
  return steps;
}

std::optional<LastError> decodeLastError(const std::optional<json::Value>& document) {
  if (!document || !document->is_object()) return std::nullopt;
  try {
    std::optional<SystemClock::time_point> at =
        parseTimestamp(json::requireString(*document, "at"));
    if (!at) return std::nullopt;
    return LastError{json::requireString(*document, "text"), *at};
  } catch (const json::DecodeError&) {
    return std::nullopt;
  }
}

// The longest tail of `log` that starts at a line and is at most `limit` bytes.
std::string newestWholeLines(const std::string& log, std::size_t limit) {
  if (log.size() <= limit) return log;
  std::size_t start = log.find('\n', log.size() - limit - 1);
  return start == std::string::npos ? std::string() : log.substr(start + 1);
}

// The lines of `log` whose timestamp is at most `lifetime` before `now`; a line without a
// readable timestamp goes too, since nothing could ever date it.
std::string recentLines(const std::string& log, SystemClock::time_point now,
                        std::chrono::seconds lifetime) {
  std::string kept;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    end = end == std::string::npos ? log.size() : end + 1;
    std::string line = log.substr(start, end - start);
    std::optional<SystemClock::time_point> at = parseTimestamp(line.substr(0, line.find(' ')));
    if (at && now - *at <= lifetime) kept += line;
    start = end;
  }
  return kept;
}

}  // namespace

Diary::Diary(std::filesystem::path folder, Clock clock)
    : folder_(std::move(folder)),
      clock_(std::move(clock)),
      writes_("com.quenfold.ferrytide.diary") {}

template <typename Result>
Result Diary::onQueue(std::function<Result()> job) const {
  std::packaged_task<Result()> task(std::move(job));
  std::future<Result> result = task.get_future();
  writes_.run([&task] { task(); });
  return result.get();
}

void Diary::startRun() {
  Stored stored = onQueue<Stored>([this] { return readAndResetRun(); });
  previousSteps_ = std::move(stored.steps);
  lastError_ = std::move(stored.lastError);
  steps_.clear();
  writes_.run([this, now = clock_()] { pruneLog(now); });
}

Diary::Stored Diary::readAndResetRun() const {
  Stored stored{decodeSteps(readJson(file(kStepsFile))),
                decodeLastError(readJson(file(kLastErrorFile)))};
  std::error_code error;
  std::filesystem::remove(file(kStepsFile), error);
  if (error) kLog.error(file(kStepsFile).string() + ": " + error.message());
  return stored;
}

// Besides the old lines, drops what errorLog() would leave out anyway, so that a busy week
// cannot grow the file without end.
void Diary::pruneLog(SystemClock::time_point now) const {
  std::optional<std::string> log = readText(file(kLogFile));
  if (!log) return;
  std::string pruned = newestWholeLines(recentLines(*log, now, logLifetime), maxErrorLogBytes);
  if (pruned != *log) file_io::writeAtomically(file(kLogFile), ferrytide::asBytes(pruned));
}

void Diary::note(std::string_view text) {
  steps_.push_back(prefixCharacters(text, maxStepLength));
  if (steps_.size() > maxSteps) steps_.erase(steps_.begin(), steps_.end() - maxSteps);
  writes_.run([this, steps = steps_] { writeSteps(steps); });
}

void Diary::log(std::string_view text, bool shown, Level level) {
  std::string message = prefixCharacters(text, maxMessageLength);
  SystemClock::time_point now = std::chrono::floor<std::chrono::seconds>(clock_());
  std::string line =
      formatTimestamp(now) + " " + levelWord(level) + " " + singleLine(message) + "\n";
  writes_.run([this, line = std::move(line)] { appendLine(line); });
  if (!shown) return;
  lastError_ = LastError{std::move(message), now};
  writes_.run([this, error = *lastError_] { writeLastError(error); });
}

std::string Diary::errorLog() const {
  return onQueue<std::string>(
      [this] { return newestWholeLines(readText(file(kLogFile)).value_or(""), maxErrorLogBytes); });
}

// Steps change with every note and matter only until the next run, so they skip the disk flush.
void Diary::writeSteps(const std::vector<std::string>& steps) const {
  file_io::createDirectories(folder_);
  file_io::writeAtomically(file(kStepsFile), ferrytide::asBytes(json::encodeCompact(steps)), 0600,
                           file_io::Durability::cached);
}

void Diary::writeLastError(const LastError& error) const {
  file_io::createDirectories(folder_);
  json::Value document{{"text", error.text}, {"at", formatTimestamp(error.at)}};
  file_io::writeAtomically(file(kLastErrorFile), ferrytide::asBytes(json::encodeCompact(document)));
}

void Diary::appendLine(const std::string& line) const {
  file_io::createDirectories(folder_);
  file_io::append(file(kLogFile), ferrytide::asBytes(line));
}

}  // namespace plinth
