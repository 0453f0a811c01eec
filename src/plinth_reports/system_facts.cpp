#include "plinth_reports/system_facts.h"

#include <sys/utsname.h>

#include <cstdlib>
#include <fstream>

namespace plinth {
namespace {

std::string trimmed(std::string text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  std::size_t start = 0;
  while (start < text.size() && blank(text[start])) ++start;
  return text.substr(start);
}

std::string firstLine(const char* path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return trimmed(line);
}

// PRETTY_NAME="Debian GNU/Linux 12 (bookworm)"
std::string distribution() {
  std::ifstream file("/etc/os-release");
  for (std::string line; std::getline(file, line);) {
    if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
    std::string value = line.substr(12);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return "Linux";
}

std::string environment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

}  // namespace

SystemFacts SystemFacts::current(std::string_view toolkit) {
  utsname system{};
  ::uname(&system);
  std::string session = environment("XDG_CURRENT_DESKTOP", "no desktop") + ", " +
                        environment("XDG_SESSION_TYPE", "no session type");
  SystemFacts facts;
  facts.os = distribution() + " (kernel " + system.release + "; " + session + "; " +
             std::string(toolkit) + ")";
  std::string vendor = firstLine("/sys/devices/virtual/dmi/id/sys_vendor");
  std::string product = firstLine("/sys/devices/virtual/dmi/id/product_name");
  facts.model = trimmed(vendor + " " + product);
  if (facts.model.empty()) facts.model = system.machine;
  return facts;
}

}  // namespace plinth
