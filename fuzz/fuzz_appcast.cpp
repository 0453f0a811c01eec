// The update feed as it arrives from the server: arbitrary bytes. Only AppcastError may come
// out. Every version the feed names must order consistently against itself and the others, and
// the item offered must be newer than the version it was chosen against.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "plinth_updates/app_version.h"
#include "plinth_updates/appcast.h"

using namespace plinth;

namespace {

int sign(int value) { return (value > 0) - (value < 0); }

void checkOrder(std::string_view a, std::string_view b) {
  if (compareVersions(a, a) != 0) std::abort();
  if (sign(compareVersions(a, b)) != -sign(compareVersions(b, a))) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view feed(reinterpret_cast<const char*>(data), size);
  std::vector<AppcastItem> items;
  try {
    items = parseAppcast(feed);
  } catch (const AppcastError&) {
    return 0;
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].version.empty() || items[i].displayVersion.empty()) std::abort();
    checkOrder(items[i].version, items[(i + 1) % items.size()].version);
  }
  const std::string_view current = items.empty() ? std::string_view("1.0") : items[0].version;
  const auto offered = newestApplicableItem(items, current, "linux", {"beta"});
  if (offered && compareVersions(offered->version, current) <= 0) std::abort();
  return 0;
}
