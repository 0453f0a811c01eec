#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/support/bytes.h"
#include "core/support/error.h"

namespace ferrytide {

class DeviceInfoError : public Error {
 public:
  enum class Kind { getifaddrsFailed, macNotFound, noActiveInterface };

  static DeviceInfoError getifaddrsFailed(std::int32_t errorNumber);
  static DeviceInfoError macNotFound(const std::string& interfaceName);
  static DeviceInfoError noActiveInterface();

  Kind kind() const { return kind_; }
  // The errno of getifaddrsFailed; zero for the other cases.
  std::int32_t errorNumber() const { return errorNumber_; }
  // The interface named by macNotFound; empty for the other cases.
  const std::string& interfaceName() const { return interfaceName_; }

 private:
  DeviceInfoError(Kind kind, std::string description, std::int32_t errorNumber = 0,
                  std::string interfaceName = {})
      : Error(std::move(description)),
        kind_(kind),
        errorNumber_(errorNumber),
        interfaceName_(std::move(interfaceName)) {}

  Kind kind_;
  std::int32_t errorNumber_;
  std::string interfaceName_;
};

// Where a phone can reach this computer: the first interface that is up and running, neither
// loopback nor point-to-point, with an IPv4 address outside 169.254.0.0/16.
struct DeviceInfo {
  std::string interface;   // "eth0", "wlp2s0"
  std::string ipv4;        // "192.168.1.37"
  std::string subnetCIDR;  // "192.168.1.0/24"
  std::string macAddress;  // "0a:11:22:33:44:55"
  std::string hostname;

  // One entry of the system's interface-address list, without the system's types.
  struct InterfaceEntry {
    enum class Family { none, ipv4, linkLayer, other };

    std::string name;
    unsigned int flags = 0;  // IFF_* bits
    Family family = Family::none;
    std::uint32_t ipv4Address = 0;  // network byte order; Family::ipv4 only
    std::uint32_t netmask = 0;      // network byte order; 0 when the entry has none
    Bytes hardwareAddress;          // Family::linkLayer only, as long as the record says
  };

  // Reads the interface list once and releases it on every path.
  static DeviceInfo current();

  // The choice made by current(), over a list already read, in the list's order.
  static DeviceInfo fromInterfaces(const std::vector<InterfaceEntry>& entries,
                                   std::string hostname);

  // The system host name; invalid UTF-8 is replaced by U+FFFD.
  static std::string hostnameString();

  // "192.168.1.0/24" for "192.168.1.37" and 255.255.255.0 (network byte order); an absent
  // netmask (0) gives "0.0.0.0/0". Throws std::invalid_argument when `ip` is not dotted decimal.
  static std::string cidrString(const std::string& ip, std::uint32_t netmask);

  bool operator==(const DeviceInfo&) const = default;
};

}  // namespace ferrytide
