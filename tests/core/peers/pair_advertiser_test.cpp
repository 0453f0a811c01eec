#include "core/peers/pair_advertiser.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <map>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/peers/device_info.h"
#include "core/peers/pair_code.h"
#include "support/temp_dir.h"

namespace ferrytide {
namespace {

using namespace std::chrono_literals;
using Txt = std::vector<std::pair<std::string, std::string>>;

constexpr auto kPublishTimeout = 15s;
constexpr auto kWithdrawTimeout = 10s;

TEST(PairAdvertTest, NamesServiceAfterCodeHashAndListsNineEntriesInOrder) {
  PairAdvert advert =
      makePairAdvert("q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA=", "192.168.1.20",
                     "192.168.1.0/24", "Studio", "a4:83:e7:12:34:56",
                     "0/1+2/3+4/5+6/7+8/9+0/1+2/3+4/5+6/7+8/9+0/=", 47819, "3f9a1c0b7d2e4a55");

  EXPECT_EQ(advert.serviceName, "Ferrytide-pair-3f9a1c");
  EXPECT_EQ(advert.port, 47819);
  EXPECT_EQ(advert.txt, (Txt{{"v", "1"},
                             {"c", "3f9a1c0b7d2e4a55"},
                             {"pk", "q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA="},
                             {"ip", "192.168.1.20"},
                             {"sn", "192.168.1.0/24"},
                             {"hn", "Studio"},
                             {"mac", "a4:83:e7:12:34:56"},
                             {"sec", "0/1+2/3+4/5+6/7+8/9+0/1+2/3+4/5+6/7+8/9+0/="},
                             {"t", "mac"}}));
}

std::string repeat(const std::string& piece, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += piece;
  return text;
}

TEST(PairAdvertTest, HostnameKeepsItsFirstSixtyCharactersWithoutSplittingOne) {
  struct Case {
    const char* what;
    std::string hostname;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"70 ASCII characters", repeat("abcdefghij", 7), repeat("abcdefghij", 6)},
      {"exactly 60", repeat("x", 60), repeat("x", 60)},
      {"shorter", "Zoë's Studio", "Zoë's Studio"},
      {"two-byte 60th character", repeat("a", 59) + "é" + repeat("b", 10), repeat("a", 59) + "é"},
      {"two-byte 61st character", repeat("a", 60) + "é" + repeat("b", 9), repeat("a", 60)},
      {"70 two-byte characters", repeat("ü", 70), repeat("ü", 60)},
      {"three-byte characters", repeat("日本", 35), repeat("日本", 30)},
      {"four-byte 60th and 61st", repeat("x", 59) + "😀😀" + repeat("y", 9), repeat("x", 59) + "😀"},
  };
  for (const auto& test : cases) {
    PairAdvert advert = makePairAdvert("pk", "ip", "sn", test.hostname, "mac", "sec", 1, "hash");
    ASSERT_EQ(advert.txt.size(), 9u);
    EXPECT_EQ(advert.txt[5].first, "hn");
    EXPECT_EQ(advert.txt[5].second, test.expected) << test.what;
  }
}

// A stopped advertiser stays stopped, also when it was stopped while still registering.
TEST(PairAdvertTest, AdvertOfAPayloadCarriesTheTypedCodesHashAndThePayload) {
  DeviceInfo device{"eth0", "192.168.1.20", "192.168.1.0/24", "a4:83:e7:12:34:56",
                    std::string(70, 'h')};
  auto key = crypto::X25519PrivateKey::generate();
  PairingPayload payload = PairingPayload::mint(key.publicKey(), device, 47819);

  PairAdvert advert = makePairAdvert(payload, "0042");
  std::string hash = PairCode::hash("0042", payload.peer_pubkey);
  EXPECT_EQ(advert.serviceName, "Ferrytide-pair-" + hash.substr(0, 6));
  EXPECT_EQ(advert.port, 47819);
  std::map<std::string, std::string> txt(advert.txt.begin(), advert.txt.end());
  EXPECT_EQ(txt["c"], hash);
  EXPECT_EQ(txt["pk"], payload.peer_pubkey);
  EXPECT_EQ(txt["sec"], payload.pairing_secret);
  EXPECT_EQ(txt["hn"], std::string(60, 'h'));
  EXPECT_NE(makePairAdvert(payload, "0043").serviceName, advert.serviceName);
}

TEST(PairAdvertiserTest, StopWhileRegisteringEndsItForGood) {
  PairAdvertiser advertiser(makePairAdvert("pk", "127.0.0.1", "127.0.0.0/8", "host", "mac", "sec",
                                           1, "0000000000000000"));
  advertiser.start();
  advertiser.stop();
  advertiser.start();
  auto outcome = advertiser.waitForOutcome(0ms);
  EXPECT_EQ(outcome.state, PairAdvertiser::State::stopped);
}

// Runs in a child process of its own, so that the changed environment stays there.
TEST(PairAdvertiserTest, UnreachableDaemonIsLoggedAndPairingGoesOn) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ferrytide::testing::TempDir temp;
  const std::string bus = "unix:path=" + (temp / "no-bus").string();
  EXPECT_EXIT(
      {
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.c_str(), 1);
        ::setenv("FERRYTIDE_LOG_STDERR", "1", 1);
        PairAdvertiser advertiser(makePairAdvert("pk", "127.0.0.1", "127.0.0.0/8", "host", "mac",
                                                 "sec", 1, "0000000000000000"));
        advertiser.start();
        auto outcome = advertiser.waitForOutcome(10s);
        std::exit(outcome.state == PairAdvertiser::State::failed && !outcome.error.empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "Ferrytide pair advert failed: [^\n]+");
}

// --- Publishing through a real avahi-daemon, read back with avahi-browse -----------------

struct CommandResult {
  int status = -1;
  std::string output;
};

CommandResult run(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    result.output.append(buffer, count);
  result.status = ::pclose(pipe);
  return result;
}

bool isDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

// avahi-browse -p writes "\DDD" (decimal) for a byte it does not print and "\c" for a
// character it escapes.
std::string unescape(std::string_view text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      plain += text[i];
    } else if (i + 3 < text.size() && isDigits(text.substr(i + 1, 3))) {
      plain += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 3))));
      i += 3;
    } else {
      plain += text[++i];
    }
  }
  return plain;
}

struct BrowsedService {
  std::string interface;
  std::string name;
  int port = 0;
  Txt txt;  // in the order avahi-browse lists them
};

// The TXT strings of a resolved line: "key=value" "key=value" ...
Txt parseTxt(std::string_view text) {
  Txt txt;
  std::size_t i = 0;
  while ((i = text.find('"', i)) != std::string_view::npos) {
    std::size_t end = i + 1;
    while (end < text.size() && text[end] != '"') end += text[end] == '\\' ? 2 : 1;
    std::string entry = unescape(text.substr(i + 1, end - i - 1));
    auto equals = entry.find('=');
    txt.emplace_back(entry.substr(0, equals),
                     equals == std::string::npos ? "" : entry.substr(equals + 1));
    i = end + 1;
  }
  return txt;
}

// Resolved services of our type, from lines like
// =;lo;IPv4;Ferrytide-pair-3f9a1c;_ferrytide-pair._tcp;local;vm.local;127.0.0.1;47819;"t=mac" ...
std::vector<BrowsedService> browse() {
  CommandResult result = run("avahi-browse -rpt _ferrytide-pair._tcp");
  EXPECT_EQ(result.status, 0) << result.output;
  std::vector<BrowsedService> services;
  std::istringstream lines(result.output);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("=;", 0) != 0) continue;
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (int field = 0; field < 9; ++field) {
      std::size_t end = line.find(';', start);
      if (end == std::string::npos) break;
      fields.push_back(line.substr(start, end - start));
      start = end + 1;
    }
    if (fields.size() != 9) continue;
    services.push_back(
        {fields[1], unescape(fields[3]), std::stoi(fields[8]), parseTxt(line.substr(start))});
  }
  return services;
}

std::optional<BrowsedService> browseFor(const std::string& name) {
  for (auto& service : browse()) {
    if (service.name == name) return service;
  }
  return std::nullopt;
}

// avahi-browse prints a TXT record's strings last to first.
Txt inWireOrder(Txt listed) {
  std::reverse(listed.begin(), listed.end());
  return listed;
}

std::string randomHash() {
  std::random_device random;
  std::string hash;
  for (int i = 0; i < 16; ++i) hash += "0123456789abcdef"[random() % 16];
  return hash;
}

// A name of its own for each run: other runs may publish on the same daemon at the same time.
PairAdvert uniqueAdvert(std::uint16_t port) {
  return makePairAdvert("q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA=", "127.0.0.1", "127.0.0.0/8",
                        "Zoë's \"Studio\" \\ ; 日本", "a4:83:e7:12:34:56",
                        "0/1+2/3+4/5+6/7+8/9+0/1+2/3+4/5+6/7+8/9+0/=", port, randomHash());
}

// Developer machines without a running daemon skip; CI sets FERRYTIDE_REQUIRE_AVAHI=1, where
// the same situation is a failure.
class PairAdvertiserDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* required = std::getenv("FERRYTIDE_REQUIRE_AVAHI");
    const bool mustRun = required != nullptr && std::string(required) == "1";
    std::string missing;
    if (!PairAdvertiser::isSupported()) {
      missing = "this build has no DNS-SD publisher (built without avahi-client)";
    } else if (CommandResult probe = run("avahi-browse -pt _ferrytide-pair._tcp");
               probe.status != 0) {
      while (!probe.output.empty() && probe.output.back() == '\n') probe.output.pop_back();
      missing = "no avahi-daemon reachable on the system bus: " + probe.output;
    }
    if (missing.empty()) return;
    if (mustRun) FAIL() << missing << " (FERRYTIDE_REQUIRE_AVAHI=1)";
    GTEST_SKIP() << missing;
  }
};

TEST_F(PairAdvertiserDaemonTest, BrowsingReadsBackNamePortAndAllNineEntries) {
  const PairAdvert advert = uniqueAdvert(47819);
  PairAdvertiser advertiser(advert);
  advertiser.start();

  auto outcome = advertiser.waitForOutcome(kPublishTimeout);
  ASSERT_EQ(outcome.state, PairAdvertiser::State::established) << outcome.error;
  EXPECT_EQ(outcome.serviceName, advert.serviceName);

  auto browsed = browseFor(advert.serviceName);
  ASSERT_TRUE(browsed.has_value()) << advert.serviceName << " not found by avahi-browse";
  EXPECT_EQ(browsed->port, 47819);
  EXPECT_EQ(inWireOrder(browsed->txt), advert.txt);
}

TEST_F(PairAdvertiserDaemonTest, StopWithdrawsTheService) {
  const PairAdvert advert = uniqueAdvert(47819);
  PairAdvertiser advertiser(advert);
  advertiser.start();
  ASSERT_EQ(advertiser.waitForOutcome(kPublishTimeout).state, PairAdvertiser::State::established);
  ASSERT_TRUE(browseFor(advert.serviceName).has_value());

  advertiser.stop();
  EXPECT_EQ(advertiser.waitForOutcome(0ms).state, PairAdvertiser::State::stopped);
  // Each browse waits for the daemon's answers, so this loop paces itself.
  const auto deadline = std::chrono::steady_clock::now() + kWithdrawTimeout;
  bool gone = false;
  while (!gone && std::chrono::steady_clock::now() < deadline) {
    gone = !browseFor(advert.serviceName).has_value();
  }
  EXPECT_TRUE(gone) << advert.serviceName << " still listed after stop()";
}

TEST_F(PairAdvertiserDaemonTest, TakenNameMovesToAnAlternative) {
  const PairAdvert advert = uniqueAdvert(47819);
  PairAdvertiser first(advert);
  first.start();
  ASSERT_EQ(first.waitForOutcome(kPublishTimeout).state, PairAdvertiser::State::established);

  // The same name with other data: the same records twice would not collide.
  PairAdvert sameName = advert;
  sameName.port = 47820;
  PairAdvertiser second(sameName);
  second.start();
  auto outcome = second.waitForOutcome(kPublishTimeout);
  ASSERT_EQ(outcome.state, PairAdvertiser::State::established) << outcome.error;
  EXPECT_EQ(outcome.serviceName, advert.serviceName + " #2");

  auto renamed = browseFor(advert.serviceName + " #2");
  ASSERT_TRUE(renamed.has_value());
  EXPECT_EQ(renamed->port, 47820);
  EXPECT_EQ(inWireOrder(renamed->txt), advert.txt);
  auto original = browseFor(advert.serviceName);
  ASSERT_TRUE(original.has_value());
  EXPECT_EQ(original->port, 47819);
}

// Another host on the link that answers for a service name with a record of its own: an SRV
// record (cache-flush bit set) pointing to "impostor.local", sent from port 5353 to the mDNS
// group on loopback only, every 50 ms while it lives.
class RivalResponder {
 public:
  explicit RivalResponder(const std::string& serviceName) : packet_(answerFor(serviceName)) {
    socket_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    int on = 1;
    ::setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(5353);
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      error_ = std::string("cannot bind port 5353: ") + std::strerror(errno);
      return;
    }
    in_addr loopback{htonl(INADDR_LOOPBACK)};
    ::setsockopt(socket_, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback);
    int ttl = 255;
    ::setsockopt(socket_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    sender_ = std::jthread([this](std::stop_token stop) {
      sockaddr_in group{};
      group.sin_family = AF_INET;
      group.sin_port = htons(5353);
      ::inet_pton(AF_INET, "224.0.0.251", &group.sin_addr);
      while (!stop.stop_requested()) {
        ::sendto(socket_, packet_.data(), packet_.size(), 0, reinterpret_cast<sockaddr*>(&group),
                 sizeof group);
        std::this_thread::sleep_for(50ms);
      }
    });
  }
  RivalResponder(const RivalResponder&) = delete;
  RivalResponder& operator=(const RivalResponder&) = delete;
  ~RivalResponder() {
    sender_ = {};
    ::close(socket_);
  }

  const std::string& error() const { return error_; }

 private:
  static void appendName(std::string& packet, const std::vector<std::string>& labels) {
    for (const auto& label : labels) {
      packet += static_cast<char>(label.size());
      packet += label;
    }
    packet += '\0';
  }
  static void appendU16(std::string& packet, unsigned value) {
    packet += static_cast<char>(value >> 8);
    packet += static_cast<char>(value & 0xff);
  }

  static std::string answerFor(const std::string& serviceName) {
    std::string rdata;
    appendU16(rdata, 0);  // priority
    appendU16(rdata, 0);  // weight
    appendU16(rdata, 9);  // port
    appendName(rdata, {"impostor", "local"});

    std::string packet;
    for (unsigned field : {0u, 0x8400u, 0u, 1u, 0u, 0u}) appendU16(packet, field);  // response
    appendName(packet, {serviceName, "_ferrytide-pair", "_tcp", "local"});
    appendU16(packet, 33);      // SRV
    appendU16(packet, 0x8001);  // cache flush, IN
    appendU16(packet, 0);       // TTL 120 s
    appendU16(packet, 120);
    appendU16(packet, static_cast<unsigned>(rdata.size()));
    return packet + rdata;
  }

  std::string packet_;
  int socket_ = -1;
  std::string error_;
  std::jthread sender_;
};

TEST_F(PairAdvertiserDaemonTest, NameClaimedOnTheNetworkMovesToAnAlternative) {
  const PairAdvert advert = uniqueAdvert(47819);
  RivalResponder rival(advert.serviceName);
  ASSERT_EQ(rival.error(), "");

  PairAdvertiser advertiser(advert);
  advertiser.start();
  auto outcome = advertiser.waitForOutcome(kPublishTimeout);
  ASSERT_EQ(outcome.state, PairAdvertiser::State::established) << outcome.error;

  auto browsed = browseFor(outcome.serviceName);
  ASSERT_TRUE(browsed.has_value());
  if (outcome.serviceName == advert.serviceName && browsed->interface != "lo") {
    GTEST_SKIP() << "avahi-daemon does not listen on loopback, where the rival answers";
  }
  EXPECT_EQ(outcome.serviceName, advert.serviceName + " #2");
  EXPECT_EQ(inWireOrder(browsed->txt), advert.txt);
}

}  // namespace
}  // namespace ferrytide
