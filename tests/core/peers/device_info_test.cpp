#include "core/peers/device_info.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace ferrytide {
namespace {

using Entry = DeviceInfo::InterfaceEntry;
using Family = Entry::Family;

constexpr unsigned kActive = IFF_UP | IFF_RUNNING | IFF_BROADCAST | IFF_MULTICAST;

std::uint32_t address(const char* text) {
  in_addr value{};
  if (::inet_pton(AF_INET, text, &value) != 1) throw std::invalid_argument(text);
  return value.s_addr;
}

Entry ipv4(std::string name, unsigned flags, const char* ip, const char* netmask = nullptr) {
  Entry entry;
  entry.name = std::move(name);
  entry.flags = flags;
  entry.family = Family::ipv4;
  entry.ipv4Address = address(ip);
  entry.netmask = netmask != nullptr ? address(netmask) : 0;
  return entry;
}

Entry link(std::string name, unsigned flags, Bytes hardwareAddress) {
  Entry entry;
  entry.name = std::move(name);
  entry.flags = flags;
  entry.family = Family::linkLayer;
  entry.hardwareAddress = std::move(hardwareAddress);
  return entry;
}

const Bytes kMac = {0x0a, 0xbc, 0xde, 0xf0, 0x01, 0xff};

DeviceInfoError chooseError(const std::vector<Entry>& entries) {
  try {
    DeviceInfo::fromInterfaces(entries, "host");
  } catch (const DeviceInfoError& error) {
    return error;
  }
  throw std::logic_error("an interface was chosen");
}

TEST(DeviceInfoTest, ChoosesFirstActiveIPv4InterfacePassingOverTunnelLoopbackAndLinkLocal) {
  std::vector<Entry> entries = {
      link("lo", IFF_UP | IFF_LOOPBACK | IFF_RUNNING, Bytes(6, 0)),
      link("tun0", IFF_UP | IFF_POINTOPOINT | IFF_RUNNING, {}),
      link("eth1", kActive, {0x02, 0, 0, 0, 0, 0x01}),
      link("wlan0", kActive, kMac),
      ipv4("lo", IFF_UP | IFF_LOOPBACK | IFF_RUNNING, "127.0.0.1", "255.0.0.0"),
      ipv4("tun0", IFF_UP | IFF_POINTOPOINT | IFF_RUNNING, "10.8.0.2", "255.255.255.255"),
      ipv4("eth0", IFF_UP | IFF_BROADCAST, "10.0.0.9", "255.0.0.0"),  // up, not running
      ipv4("eth1", kActive, "169.254.10.20", "255.255.0.0"),
      ipv4("wlan0", kActive, "192.168.1.37", "255.255.255.0"),
      ipv4("eth2", kActive, "192.168.7.7", "255.255.255.0"),
  };
  DeviceInfo expected{"wlan0", "192.168.1.37", "192.168.1.0/24", "0a:bc:de:f0:01:ff", "studio"};
  EXPECT_EQ(DeviceInfo::fromInterfaces(entries, "studio"), expected);
}

TEST(DeviceInfoTest, OnlyLinkLocalOrInactiveAddressesFailWithNoActiveInterface) {
  std::vector<Entry> entries = {
      link("eth0", kActive, kMac),
      ipv4("lo", IFF_UP | IFF_LOOPBACK | IFF_RUNNING, "127.0.0.1", "255.0.0.0"),
      ipv4("eth0", kActive, "169.254.3.4", "255.255.0.0"),
      ipv4("eth1", IFF_RUNNING, "192.168.1.5", "255.255.255.0"),  // running, not up
      {"eth2", kActive, Family::none, 0, 0, {}},
      {"eth3", kActive, Family::other, 0, 0, {}},
  };
  for (const auto& list : {entries, std::vector<Entry>{}}) {
    DeviceInfoError error = chooseError(list);
    EXPECT_EQ(error.kind(), DeviceInfoError::Kind::noActiveInterface);
    EXPECT_STREQ(error.what(), "no active non-loopback IPv4 interface");
  }
}

TEST(DeviceInfoTest, InterfaceWithoutSixByteHardwareAddressFailsWithMacNotFound) {
  std::vector<Entry> entries = {
      link("wg0", kActive, {}),
      link("ib0", kActive, Bytes(8, 0x11)),  // eight bytes: a hardware address, not a MAC
      link("eth0", kActive, kMac),
      ipv4("wg0", kActive, "10.6.0.2", "255.255.255.0"),
  };
  DeviceInfoError error = chooseError(entries);
  EXPECT_EQ(error.kind(), DeviceInfoError::Kind::macNotFound);
  EXPECT_EQ(error.interfaceName(), "wg0");
  EXPECT_STREQ(error.what(), "MAC address not found for wg0");

  entries[3].name = "ib0";
  EXPECT_STREQ(chooseError(entries).what(), "MAC address not found for ib0");
}

TEST(DeviceInfoTest, CidrStringMasksTheAddressAndCountsNetmaskBits) {
  struct Case {
    const char* ip;
    const char* netmask;
    const char* expected;
  };
  for (const Case& c : {Case{"192.168.1.37", "255.255.255.0", "192.168.1.0/24"},
                        Case{"172.16.45.4", "255.255.240.0", "172.16.32.0/20"},
                        Case{"1.2.3.4", "255.255.255.255", "1.2.3.4/32"},
                        Case{"192.168.1.37", "0.0.0.0", "0.0.0.0/0"}}) {
    EXPECT_EQ(DeviceInfo::cidrString(c.ip, address(c.netmask)), c.expected) << c.ip;
  }
  EXPECT_THROW(DeviceInfo::cidrString("192.168.1", 0), std::invalid_argument);
}

// --- current() against a real interface list, in a network namespace of its own -------------

constexpr const char* kNamespaceMac = "0a:11:22:33:44:55";
// Not valid UTF-8 at the end: the host name must come back repaired.
constexpr const char* kNamespaceHost = "ft-ns-host\xff";

bool run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs in the forked child, in fresh network and host-name namespaces that vanish with it.
// The first line of the result is OK, SKIP or FAIL.
std::string inspectCurrentInNewNamespace() {
  if (::unshare(CLONE_NEWNET | CLONE_NEWUTS) != 0) {
    return std::string("SKIP\nnew network namespaces are not allowed here: ") + strerror(errno);
  }
  if (::sethostname(kNamespaceHost, std::strlen(kNamespaceHost)) != 0) {
    return std::string("FAIL\nsethostname: ") + strerror(errno);
  }
  if (!run("ip link add fta type veth peer name ftb")) {
    return "SKIP\ncannot create a veth pair (is the ip tool installed?)";
  }
  // ftb stays without an IPv4 address, so fta is the only candidate.
  if (!run(std::string("ip link set fta address ") + kNamespaceMac) ||
      !run("ip addr add 10.77.0.5/24 dev fta") || !run("ip link set ftb up") ||
      !run("ip link set fta up")) {
    return "FAIL\ncannot configure the veth pair";
  }
  // RUNNING follows the carrier, which the kernel reports a moment after the link comes up.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (true) {
    try {
      DeviceInfo info = DeviceInfo::current();
      return "OK\n" + info.interface + "\n" + info.ipv4 + "\n" + info.subnetCIDR + "\n" +
             info.macAddress + "\n" + info.hostname;
    } catch (const DeviceInfoError& error) {
      if (error.kind() != DeviceInfoError::Kind::noActiveInterface ||
          std::chrono::steady_clock::now() > deadline) {
        return std::string("FAIL\n") + error.what();
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

TEST(DeviceInfoTest, CurrentReadsTheInterfaceOfANetworkNamespace) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(fds[0]);
    std::string result = inspectCurrentInNewNamespace();
    ssize_t ignored = ::write(fds[1], result.data(), result.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string result;
  char buffer[512];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) result.append(buffer, n);
  ::close(fds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;

  if (result.starts_with("SKIP\n")) GTEST_SKIP() << result.substr(5);
  ASSERT_TRUE(result.starts_with("OK\n")) << result;
  EXPECT_EQ(result.substr(3), std::string("fta\n10.77.0.5\n10.77.0.0/24\n") + kNamespaceMac +
                                  "\nft-ns-host\xEF\xBF\xBD");
}

}  // namespace
}  // namespace ferrytide
