#include "core/peers/pair_advertiser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <sstream>
#include <string>
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
      {"two-byte 60th character", repeat("a", 59) + "é" + repeat("b", 10), repeat("a", 59) + "é"},
      {"two-byte 61st character", repeat("a", 60) + "é" + repeat("b", 9), repeat("a", 60)},
      {"four-byte 60th and 61st", repeat("x", 59) + "😀😀" + repeat("y", 9), repeat("x", 59) + "😀"},
  };
  for (const auto& test : cases) {
    PairAdvert advert = makePairAdvert("pk", "ip", "sn", test.hostname, "mac", "sec", 1, "hash");
    EXPECT_EQ(advert.txt.at(5), (std::pair<std::string, std::string>{"hn", test.expected}))
        << test.what;
  }
}

TEST(PairAdvertTest, AdvertOfAPayloadCarriesTheTypedCodesHashAndThePayload) {
  DeviceInfo device{"eth0", "192.168.1.20", "192.168.1.0/24", "a4:83:e7:12:34:56", "Studio"};
  auto key = crypto::X25519PrivateKey::generate();
  PairingPayload payload = PairingPayload::mint(key.publicKey(), device, 47819);
  EXPECT_EQ(makePairAdvert(payload, "0042"),
            makePairAdvert(payload.peer_pubkey, "192.168.1.20", "192.168.1.0/24", "Studio",
                           "a4:83:e7:12:34:56", payload.pairing_secret, 47819,
                           PairCode::hash("0042", payload.peer_pubkey)));
}

// A stopped advertiser stays stopped, also when it was stopped while still registering.
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

// avahi-browse -p writes "\DDD" (decimal) for a byte it does not print and "\c" for a
// character it escapes.
std::string unescape(std::string_view text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      plain += text[i];
    } else if (i + 3 < text.size() &&
               text.substr(i + 1, 3).find_first_not_of("0123456789") == std::string_view::npos) {
      plain += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 3))));
      i += 3;
    } else {
      plain += text[++i];
    }
  }
  return plain;
}

struct BrowsedService {
  std::string name;
  int port = 0;
  Txt txt;  // in the order they are published
};

// The TXT strings of a resolved line, which avahi-browse lists last to first:
// "key=value" "key=value" ...
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
  std::reverse(txt.begin(), txt.end());
  return txt;
}

// The resolved service of our type with this name, from lines like
// =;lo;IPv4;Ferrytide-pair-3f9a1c;_ferrytide-pair._tcp;local;vm.local;127.0.0.1;47819;"t=mac" ...
std::optional<BrowsedService> browseFor(const std::string& name) {
  // Bounded: a resolve that never completes would hold avahi-browse up indefinitely.
  CommandResult result = run("timeout 20 avahi-browse -rpt _ferrytide-pair._tcp");
  EXPECT_EQ(result.status, 0) << result.output;
  std::istringstream lines(result.output);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("=;", 0) != 0) continue;
    std::istringstream in(line);
    std::vector<std::string> fields(10);
    for (int i = 0; i < 9; ++i) std::getline(in, fields[i], ';');
    std::getline(in, fields[9]);  // the TXT strings, which may hold ';'
    if (in && unescape(fields[3]) == name) {
      return BrowsedService{name, std::stoi(fields[8]), parseTxt(fields[9])};
    }
  }
  return std::nullopt;
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

// Whether the daemon still lists a service of that name. Listing needs no resolve, so a
// service on its way out cannot hold the browse up.
bool listed(const std::string& name) {
  CommandResult result = run("timeout 10 avahi-browse -pt _ferrytide-pair._tcp");
  std::istringstream lines(result.output);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("+;", 0) != 0) continue;
    std::istringstream in(line);
    std::vector<std::string> fields(4);
    for (std::string& field : fields) std::getline(in, field, ';');
    if (unescape(fields[3]) == name) return true;
  }
  return false;
}

// Developer machines without a running daemon skip; CI sets FERRYTIDE_REQUIRE_AVAHI=1, where
// the same situation is a failure.
class PairAdvertiserDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string missing;
    if (!PairAdvertiser::isSupported()) {
      missing = "this build has no DNS-SD publisher (built without avahi-client)";
    } else if (CommandResult probe = run("avahi-browse -pt _ferrytide-pair._tcp");
               probe.status != 0) {
      missing = "no avahi-daemon reachable on the system bus: " + probe.output;
    }
    if (missing.empty()) return;
    const char* required = std::getenv("FERRYTIDE_REQUIRE_AVAHI");
    if (required != nullptr && std::string(required) == "1") {
      FAIL() << missing << " (FERRYTIDE_REQUIRE_AVAHI=1)";
    }
    GTEST_SKIP() << missing;
  }
};

// Published, read back by browsing, moved to an alternative name when taken, withdrawn by stop().
TEST_F(PairAdvertiserDaemonTest, PublishesRenamesOnCollisionAndWithdraws) {
  const PairAdvert advert = uniqueAdvert(47819);
  PairAdvertiser first(advert);
  first.start();
  auto outcome = first.waitForOutcome(kPublishTimeout);
  ASSERT_EQ(outcome.state, PairAdvertiser::State::established) << outcome.error;
  EXPECT_EQ(outcome.serviceName, advert.serviceName);
  auto browsed = browseFor(advert.serviceName);
  ASSERT_TRUE(browsed.has_value()) << advert.serviceName << " not found by avahi-browse";
  EXPECT_EQ(browsed->port, 47819);
  EXPECT_EQ(browsed->txt, advert.txt);

  // The same name with other data: the same records twice would not collide.
  PairAdvert sameName = advert;
  sameName.port = 47820;
  PairAdvertiser second(sameName);
  second.start();
  outcome = second.waitForOutcome(kPublishTimeout);
  ASSERT_EQ(outcome.state, PairAdvertiser::State::established) << outcome.error;
  EXPECT_EQ(outcome.serviceName, advert.serviceName + " #2");
  auto renamed = browseFor(advert.serviceName + " #2");
  ASSERT_TRUE(renamed.has_value());
  EXPECT_EQ(renamed->port, 47820);
  EXPECT_EQ(renamed->txt, advert.txt);

  first.stop();
  EXPECT_EQ(first.waitForOutcome(0ms).state, PairAdvertiser::State::stopped);
  // Each browse waits for the daemon's answers, so this loop paces itself.
  const auto deadline = std::chrono::steady_clock::now() + kWithdrawTimeout;
  bool gone = false;
  while (!gone && std::chrono::steady_clock::now() < deadline) {
    gone = !listed(advert.serviceName);
  }
  EXPECT_TRUE(gone) << advert.serviceName << " still listed after stop()";
}

}  // namespace
}  // namespace ferrytide
