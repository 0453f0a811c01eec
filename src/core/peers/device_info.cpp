#include "core/peers/device_info.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string_view>

namespace ferrytide {

DeviceInfoError DeviceInfoError::getifaddrsFailed(std::int32_t errorNumber) {
  return DeviceInfoError(Kind::getifaddrsFailed,
                         "getifaddrs failed (errno " + std::to_string(errorNumber) + ")",
                         errorNumber);
}

DeviceInfoError DeviceInfoError::macNotFound(const std::string& interfaceName) {
  return DeviceInfoError(Kind::macNotFound, "MAC address not found for " + interfaceName, 0,
                         interfaceName);
}

DeviceInfoError DeviceInfoError::noActiveInterface() {
  return DeviceInfoError(Kind::noActiveInterface, "no active non-loopback IPv4 interface");
}

namespace {

using Entry = DeviceInfo::InterfaceEntry;

constexpr unsigned int kFlagMask = IFF_UP | IFF_LOOPBACK | IFF_POINTOPOINT | IFF_RUNNING;
constexpr unsigned int kWantedFlags = IFF_UP | IFF_RUNNING;
constexpr std::size_t kMacBytes = 6;

std::string dottedDecimal(std::uint32_t networkOrderAddress) {
  in_addr address{};
  address.s_addr = networkOrderAddress;
  char text[INET_ADDRSTRLEN] = {};
  if (::inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) return {};
  return text;
}

std::string formatMac(ByteView bytes) {
  std::string out;
  for (std::uint8_t byte : bytes) {
    char group[3];
    std::snprintf(group, sizeof group, "%02x", byte);
    if (!out.empty()) out += ':';
    out += group;
  }
  return out;
}

Entry convert(const ifaddrs& item) {
  Entry entry;
  entry.name = item.ifa_name != nullptr ? item.ifa_name : "";
  entry.flags = item.ifa_flags;
  if (item.ifa_addr == nullptr) return entry;
  switch (item.ifa_addr->sa_family) {
    case AF_INET: {
      entry.family = Entry::Family::ipv4;
      entry.ipv4Address = reinterpret_cast<const sockaddr_in*>(item.ifa_addr)->sin_addr.s_addr;
      if (item.ifa_netmask != nullptr && item.ifa_netmask->sa_family == AF_INET) {
        entry.netmask = reinterpret_cast<const sockaddr_in*>(item.ifa_netmask)->sin_addr.s_addr;
      }
      break;
    }
    case AF_PACKET: {
      entry.family = Entry::Family::linkLayer;
      const auto* link = reinterpret_cast<const sockaddr_ll*>(item.ifa_addr);
      std::size_t length = std::min<std::size_t>(link->sll_halen, sizeof link->sll_addr);
      entry.hardwareAddress.assign(link->sll_addr, link->sll_addr + length);
      break;
    }
    default:
      entry.family = Entry::Family::other;
  }
  return entry;
}

// Each maximal well-formed sequence is kept; every other byte becomes U+FFFD.
std::string repairUtf8(std::string_view text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    auto byteAt = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
    std::uint8_t lead = byteAt(i);
    std::size_t length = lead < 0x80                      ? 1
                         : (lead >= 0xC2 && lead <= 0xDF) ? 2
                         : (lead >= 0xE0 && lead <= 0xEF) ? 3
                         : (lead >= 0xF0 && lead <= 0xF4) ? 4
                                                          : 0;
    bool valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) valid = (byteAt(i + k) & 0xC0) == 0x80;
    if (valid && length > 1) {
      std::uint8_t second = byteAt(i + 1);
      // No overlong forms, no surrogates, nothing above U+10FFFF.
      if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
          (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
        valid = false;
      }
    }
    if (valid) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      out.append("\xEF\xBF\xBD");
      ++i;
    }
  }
  return out;
}

}  // namespace

DeviceInfo DeviceInfo::current() {
  ifaddrs* list = nullptr;
  errno = 0;
  int result = ::getifaddrs(&list);
  int errorNumber = errno;
  std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owner(list, &::freeifaddrs);
  if (result != 0 || list == nullptr) throw DeviceInfoError::getifaddrsFailed(errorNumber);

  std::vector<InterfaceEntry> entries;
  for (const ifaddrs* item = list; item != nullptr; item = item->ifa_next) {
    entries.push_back(convert(*item));
  }
  owner.reset();
  return fromInterfaces(entries, hostnameString());
}

DeviceInfo DeviceInfo::fromInterfaces(const std::vector<InterfaceEntry>& entries,
                                      std::string hostname) {
  DeviceInfo info;
  const InterfaceEntry* chosen = nullptr;
  for (const InterfaceEntry& entry : entries) {
    if ((entry.flags & kFlagMask) != kWantedFlags) continue;
    if (entry.family != InterfaceEntry::Family::ipv4) continue;
    std::string text = dottedDecimal(entry.ipv4Address);
    if (text.empty() || text.starts_with("169.254.")) continue;
    chosen = &entry;
    info.ipv4 = std::move(text);
    break;
  }
  if (chosen == nullptr) throw DeviceInfoError::noActiveInterface();

  info.interface = chosen->name;
  info.subnetCIDR = cidrString(info.ipv4, chosen->netmask);
  auto link = std::find_if(entries.begin(), entries.end(), [&](const InterfaceEntry& entry) {
    return entry.family == InterfaceEntry::Family::linkLayer && entry.name == info.interface &&
           entry.hardwareAddress.size() == kMacBytes;
  });
  if (link == entries.end()) throw DeviceInfoError::macNotFound(info.interface);
  info.macAddress = formatMac(link->hardwareAddress);
  info.hostname = std::move(hostname);
  return info;
}

std::string DeviceInfo::hostnameString() {
  char buffer[256] = {};
  // One byte short of the buffer, so the text always ends in a NUL even when cut.
  if (::gethostname(buffer, sizeof buffer - 1) != 0) return {};
  return repairUtf8(buffer);
}

std::string DeviceInfo::cidrString(const std::string& ip, std::uint32_t netmask) {
  in_addr address{};
  if (::inet_pton(AF_INET, ip.c_str(), &address) != 1) {
    throw std::invalid_argument("not an IPv4 address: " + ip);
  }
  return dottedDecimal(address.s_addr & netmask) + "/" + std::to_string(std::popcount(netmask));
}

}  // namespace ferrytide
