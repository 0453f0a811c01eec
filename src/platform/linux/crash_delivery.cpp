#include "platform/linux/crash_delivery.h"

#include <cxxabi.h>
#include <dlfcn.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/support/file_io.h"
#include "core/support/json.h"
#include "core/support/log.h"
#include "platform/linux/crash_capture.h"

namespace ferrytide::platform {
namespace {

const Logger kLog("crash-capture");

struct Diagnostic {
  int signal = 0;
  std::string name;
  std::optional<std::uintptr_t> faultAddress;
  std::int64_t pid = 0;
  std::string version;
  std::int64_t timeEpochMs = 0;
  std::vector<std::uintptr_t> frames;
  std::string maps;
};

// One line of a memory map that maps a file: "start-end perms offset device inode path".
struct Mapping {
  std::uintptr_t start = 0;
  std::uintptr_t end = 0;
  std::string device;
  std::string inode;
  std::string path;

  bool sameFile(const Mapping& other) const {
    return device == other.device && inode == other.inode && path == other.path;
  }
};

template <typename Number>
std::optional<Number> parseNumber(std::string_view text, int base) {
  Number value{};
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::optional<std::uintptr_t> parseAddress(std::string_view text) {
  if (!text.starts_with("0x")) return std::nullopt;
  return parseNumber<std::uintptr_t>(text.substr(2), 16);
}

std::string hexText(std::uintptr_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

bool readField(Diagnostic& diagnostic, std::string_view key, std::string_view value) {
  if (key == "signal") {
    std::optional<int> signal = parseNumber<int>(value, 10);
    diagnostic.signal = signal.value_or(0);
    return signal.has_value();
  }
  if (key == "address") {
    diagnostic.faultAddress = parseAddress(value);
    return diagnostic.faultAddress.has_value();
  }
  if (key == "frame") {
    std::optional<std::uintptr_t> frame = parseAddress(value);
    if (frame) diagnostic.frames.push_back(*frame);
    return frame.has_value();
  }
  if (key == "pid" || key == "time_epoch_ms") {
    std::optional<std::int64_t> number = parseNumber<std::int64_t>(value, 10);
    (key == "pid" ? diagnostic.pid : diagnostic.timeEpochMs) = number.value_or(0);
    return number.has_value();
  }
  if (key == "name" || key == "version") {
    (key == "name" ? diagnostic.name : diagnostic.version) = value;
    return true;
  }
  return false;
}

// Nothing when the text is not a whole diagnostic as installCrashCapture writes it.
std::optional<Diagnostic> parseDiagnostic(std::string_view text) {
  constexpr std::string_view header = "ferrytide-crash 1\n";
  constexpr std::string_view mapsLine = "\nmaps\n";
  constexpr std::string_view endLine = "end\n";
  std::size_t mapsAt = text.find(mapsLine);
  if (!text.starts_with(header) || !text.ends_with("\nend\n") || mapsAt == std::string_view::npos ||
      mapsAt + mapsLine.size() > text.size() - endLine.size()) {
    return std::nullopt;
  }
  Diagnostic diagnostic;
  std::size_t mapsStart = mapsAt + mapsLine.size();
  diagnostic.maps = text.substr(mapsStart, text.size() - endLine.size() - mapsStart);
  std::string_view fields = text.substr(header.size(), mapsAt + 1 - header.size());
  while (!fields.empty()) {
    std::string_view line = fields.substr(0, fields.find('\n'));
    fields.remove_prefix(line.size() + 1);
    std::size_t space = line.find(' ');
    if (space == std::string_view::npos ||
        !readField(diagnostic, line.substr(0, space), line.substr(space + 1))) {
      return std::nullopt;
    }
  }
  // A time later than the clock can hold is not one the handler read from it.
  constexpr std::int64_t latestEpochMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                             std::chrono::system_clock::duration::max())
                                             .count();
  if (diagnostic.signal <= 0 || diagnostic.name.empty() || diagnostic.pid <= 0 ||
      diagnostic.version.empty() || diagnostic.timeEpochMs <= 0 ||
      diagnostic.timeEpochMs > latestEpochMs) {
    return std::nullopt;
  }
  return diagnostic;
}

std::vector<Mapping> parseMaps(const std::string& text) {
  std::vector<Mapping> mappings;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string range, permissions, offset;
    Mapping mapping;
    if (!(fields >> range >> permissions >> offset >> mapping.device >> mapping.inode)) continue;
    std::getline(fields >> std::ws, mapping.path);
    std::size_t dash = range.find('-');
    if (dash == std::string::npos || !mapping.path.starts_with('/')) continue;
    std::optional<std::uintptr_t> start = parseNumber<std::uintptr_t>(range.substr(0, dash), 16);
    std::optional<std::uintptr_t> end = parseNumber<std::uintptr_t>(range.substr(dash + 1), 16);
    if (!start || !end) continue;
    mapping.start = *start;
    mapping.end = *end;
    mappings.push_back(std::move(mapping));
  }
  return mappings;
}

const Mapping* containing(const std::vector<Mapping>& maps, std::uintptr_t address) {
  auto found = std::find_if(maps.begin(), maps.end(), [address](const Mapping& mapping) {
    return mapping.start <= address && address < mapping.end;
  });
  return found == maps.end() ? nullptr : &*found;
}

const Mapping* sameFileIn(const std::vector<Mapping>& maps, const Mapping& file) {
  auto found = std::find_if(maps.begin(), maps.end(),
                            [&file](const Mapping& mapping) { return mapping.sameFile(file); });
  return found == maps.end() ? nullptr : &*found;
}

// Where a file starts in memory: its lowest mapping. The file's own layout fixes the rest, so an
// offset from here means the same place in every process that loads the file.
std::uintptr_t baseOf(const std::vector<Mapping>& maps, const Mapping& file) {
  std::uintptr_t base = file.start;
  for (const Mapping& mapping : maps) {
    if (mapping.sameFile(file)) base = std::min(base, mapping.start);
  }
  return base;
}

std::optional<std::string> symbolAt(std::uintptr_t address) {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(address), &info) == 0 || info.dli_sname == nullptr ||
      info.dli_saddr == nullptr) {
    return std::nullopt;
  }
  int status = -1;
  char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
  std::string name = status == 0 ? demangled : info.dli_sname;
  std::free(demangled);
  return name + "+" + hexText(address - reinterpret_cast<std::uintptr_t>(info.dli_saddr));
}

std::string ownMemoryMap() {
  try {
    return toString(file_io::readIfExists("/proc/self/maps").value_or(Bytes()));
  } catch (const file_io::FileError& error) {
    kLog.warning(std::string("frames stay without symbols: ") + error.what());
    return {};
  }
}

// This process's own memory map, read when a frame first needs it: a diagnostic that turns out
// damaged, or whose frames lie in no file, needs none.
class OwnMappings {
 public:
  const std::vector<Mapping>& get() {
    if (!mappings_) mappings_ = parseMaps(ownMemoryMap());
    return *mappings_;
  }

 private:
  std::optional<std::vector<Mapping>> mappings_;
};

// The crashed process loaded its files at other addresses than this one, so a frame is looked
// up here at the same offset in the same file.
json::Value describeFrame(std::uintptr_t address, const std::vector<Mapping>& crashed,
                          OwnMappings& here) {
  json::Value frame{{"address", hexText(address)}};
  const Mapping* mapping = containing(crashed, address);
  if (mapping == nullptr) return frame;
  std::uintptr_t offset = address - baseOf(crashed, *mapping);
  frame["module"] = mapping->path;
  frame["offset"] = hexText(offset);
  if (const Mapping* loaded = sameFileIn(here.get(), *mapping)) {
    if (std::optional<std::string> symbol = symbolAt(baseOf(here.get(), *loaded) + offset)) {
      frame["symbol"] = *symbol;
    }
  }
  return frame;
}

json::Value toRecord(const Diagnostic& diagnostic, OwnMappings& here) {
  std::vector<Mapping> crashed = parseMaps(diagnostic.maps);
  json::Value frames = json::Value::array();
  for (std::uintptr_t address : diagnostic.frames) {
    frames.push_back(describeFrame(address, crashed, here));
  }
  json::Value record{{"signal", diagnostic.signal},
                     {"signal_name", diagnostic.name},
                     {"pid", diagnostic.pid},
                     {"version", diagnostic.version},
                     {"time_epoch_ms", diagnostic.timeEpochMs},
                     {"frames", std::move(frames)}};
  if (diagnostic.faultAddress) record["fault_address"] = hexText(*diagnostic.faultAddress);
  return record;
}

void setAside(const std::filesystem::path& path, const std::string& reason) {
  kLog.warning(path.string() + " is damaged (" + reason + "); kept as .damaged");
  std::filesystem::path aside = path;
  aside += ".damaged";
  std::error_code error;
  std::filesystem::rename(path, aside, error);
  if (error) kLog.error("could not set aside " + path.string() + ": " + error.message());
}

// The record's JSON; nothing when the file is gone or damaged (and then set aside).
std::optional<Bytes> recordFor(const std::filesystem::path& path, OwnMappings& here) {
  try {
    std::optional<Bytes> content = file_io::readIfExists(path);
    if (!content) return std::nullopt;
    std::optional<Diagnostic> diagnostic = parseDiagnostic(toString(*content));
    if (!diagnostic) {
      setAside(path, "cut off or not a crash diagnostic");
      return std::nullopt;
    }
    return toBytes(json::encodeCompact(toRecord(*diagnostic, here)));
  } catch (const Error& error) {
    setAside(path, error.what());
    return std::nullopt;
  }
}

std::vector<std::filesystem::path> pendingFiles(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.is_regular_file(error) &&
        entry.path().filename().string().ends_with(kPendingCrashExtension)) {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

void deliverPendingCrashes(const std::filesystem::path& pendingFolder,
                           const std::function<void(const Bytes& record)>& deliver) {
  std::vector<std::filesystem::path> pending = pendingFiles(pendingFolder);
  if (pending.empty()) return;
  OwnMappings here;
  for (const std::filesystem::path& path : pending) {
    std::optional<Bytes> record = recordFor(path, here);
    if (!record) continue;
    try {
      deliver(*record);
    } catch (const std::exception& error) {
      kLog.error(path.string() + " kept for the next start: " + error.what());
      continue;
    }
    std::error_code error;
    std::filesystem::remove(path, error);
    if (error) kLog.error("could not remove " + path.string() + ": " + error.message());
  }
}

}  // namespace ferrytide::platform
