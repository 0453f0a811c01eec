#include "phone_pairing.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "core/peers/pair_code.h"
#include "core/peers/pair_crypto.h"
#include "core/peers/pair_wire.h"
#include "core/support/base64.h"
#include "core/support/json.h"
#include "phone_error.h"

namespace ferrytide::phone {

namespace {

Bytes decodeKeyBytes(const std::string& text, const char* what) {
  std::optional<Bytes> bytes = base64::decode(text);
  if (!bytes || bytes->size() != 32) {
    throw PhoneError::payloadUnreadable(std::string(what) + " is not Base64 of 32 bytes");
  }
  return *bytes;
}

// Splits "a;b;c" into at most `maxFields` fields; the last one keeps any further ";".
std::vector<std::string> splitFields(std::string_view line, std::size_t maxFields) {
  std::vector<std::string> fields;
  while (fields.size() + 1 < maxFields) {
    std::size_t end = line.find(';');
    if (end == std::string_view::npos) break;
    fields.emplace_back(line.substr(0, end));
    line.remove_prefix(end + 1);
  }
  fields.emplace_back(line);
  return fields;
}

// The TXT field of avahi-browse: "key=value" entries in double quotes, separated by spaces.
std::map<std::string, std::string> parseTxt(std::string_view txt) {
  std::map<std::string, std::string> entries;
  std::size_t pos = 0;
  while ((pos = txt.find('"', pos)) != std::string_view::npos) {
    std::size_t end = txt.find('"', pos + 1);
    if (end == std::string_view::npos) break;
    std::string_view entry = txt.substr(pos + 1, end - pos - 1);
    std::size_t equals = entry.find('=');
    if (equals != std::string_view::npos) {
      entries.emplace(std::string(entry.substr(0, equals)), std::string(entry.substr(equals + 1)));
    }
    pos = end + 1;
  }
  return entries;
}

}  // namespace

Bytes introductionPlaintext(const crypto::X25519PublicKey& phoneKey, const PhoneProfile& profile) {
  json::Value object = {
      {"peer_pubkey", base64::encode(phoneKey.view())},
      {"peer_hostname", profile.hostname},
      {"peer_ip", profile.ip},
      {"peer_port", profile.port},
      {"peer_subnet", profile.subnet},
      {"peer_fcm_token", profile.fcmToken},
      {"peer_android", profile.android},
  };
  return toBytes(json::encodeCompact(object));
}

PreparedPairing preparePairing(const PairingPayload& payload,
                               const crypto::X25519PublicKey& phoneKey,
                               const PhoneProfile& profile) {
  Bytes secret = decodeKeyBytes(payload.pairing_secret, "pairing_secret");
  Bytes computerKey = decodeKeyBytes(payload.peer_pubkey, "peer_pubkey");
  PreparedPairing prepared;
  prepared.introductionPlaintext = introductionPlaintext(phoneKey, profile);
  Bytes sealed = PairCrypto::sealIntroduction(prepared.introductionPlaintext,
                                              PairCrypto::deriveAEADKey(secret));
  prepared.frame = PairWire::encodeFrame(sealed);
  prepared.confirmationCode = PairCrypto::confirmationCode(secret, computerKey, phoneKey.view(),
                                                           prepared.introductionPlaintext);
  return prepared;
}

PeerRecord computerRecord(const PairingPayload& payload, const crypto::X25519PublicKey& phoneKey,
                          std::int64_t pairedAtEpochMs) {
  PeerRecord record;
  record.peer_pubkey = payload.peer_pubkey;
  record.peer_ip = payload.peer_ip;
  record.peer_port = payload.peer_port;
  record.peer_subnet = payload.peer_subnet;
  record.peer_hostname = payload.peer_hostname;
  record.peer_mac = payload.peer_mac;
  record.paired_at_epoch_ms = pairedAtEpochMs;
  record.self_pubkey = base64::encode(phoneKey.view());
  return record;
}

PairingPayload payloadFromJson(std::string_view text) {
  try {
    return PairingPayload::decode(asBytes(text));
  } catch (const PairingError& error) {
    throw PhoneError::payloadUnreadable(error.what());
  }
}

asio::awaitable<void> deliverPairFrame(std::string host, std::int64_t port, Bytes frame,
                                       SendDuration connectTimeout) {
  asio::ip::tcp::socket socket = co_await openConnection(host, port, connectTimeout);
  try {
    co_await asio::async_write(socket, asio::buffer(frame), asio::use_awaitable);
  } catch (const std::system_error& error) {
    throw SendError::network(error.code().message());
  }
  asio::error_code ignored;
  socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  socket.close(ignored);
}

std::optional<PairingPayload> payloadFromAdverts(std::string_view browseOutput,
                                                 std::string_view code) {
  std::size_t start = 0;
  while (start < browseOutput.size()) {
    std::size_t end = browseOutput.find('\n', start);
    if (end == std::string_view::npos) end = browseOutput.size();
    std::string_view line = browseOutput.substr(start, end - start);
    start = end + 1;
    if (line.empty() || line.front() != '=') continue;
    // =;interface;protocol;name;type;domain;host;address;port;txt
    std::vector<std::string> fields = splitFields(line, 10);
    if (fields.size() != 10) continue;
    std::map<std::string, std::string> txt = parseTxt(fields[9]);
    if (txt["c"].empty() || txt["c"] != PairCode::hash(code, txt["pk"])) continue;
    PairingPayload payload;
    payload.peer_pubkey = txt["pk"];
    payload.peer_ip = txt["ip"].empty() ? fields[7] : txt["ip"];
    try {
      payload.peer_port = std::stoll(fields[8]);
    } catch (const std::exception&) {
      continue;
    }
    payload.peer_subnet = txt["sn"];
    payload.peer_hostname = txt["hn"];
    payload.peer_mac = txt["mac"];
    payload.pairing_secret = txt["sec"];
    return payload;
  }
  return std::nullopt;
}

namespace {

// avahi-browse as a child whose standard output (and errors) come through a pipe.
struct BrowseProcess {
  pid_t pid = -1;
  int output = -1;

  BrowseProcess() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw PhoneError::browseFailed("cannot make a pipe");
    pid = fork();
    if (pid < 0) {
      close(fds[0]);
      close(fds[1]);
      throw PhoneError::browseFailed("cannot start avahi-browse");
    }
    if (pid == 0) {
      dup2(fds[1], STDOUT_FILENO);
      dup2(fds[1], STDERR_FILENO);
      std::string type(PairCode::serviceType.substr(0, PairCode::serviceType.size() - 1));
      execlp("avahi-browse", "avahi-browse", "-rp", type.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    output = fds[0];
  }
  BrowseProcess(const BrowseProcess&) = delete;
  BrowseProcess& operator=(const BrowseProcess&) = delete;
  ~BrowseProcess() {
    close(output);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
  }

  // Appends what the browser printed within `wait`; false once it has ended.
  bool readInto(std::string& text, std::chrono::milliseconds wait) const {
    pollfd ready{output, POLLIN, 0};
    int polled = poll(&ready, 1, static_cast<int>(wait.count()));
    if (polled <= 0) return true;
    char buffer[4096];
    ssize_t count = read(output, buffer, sizeof buffer);
    if (count <= 0) return false;
    text.append(buffer, static_cast<std::size_t>(count));
    return true;
  }
};

}  // namespace

std::optional<PairingPayload> findPairAdvert(std::string_view code,
                                             std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  BrowseProcess browser;
  std::string output;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left <= std::chrono::milliseconds(0)) return std::nullopt;
    if (!browser.readInto(output, left)) {
      if (std::optional<PairingPayload> payload = payloadFromAdverts(output, code)) return payload;
      throw PhoneError::browseFailed(output.empty() ? "avahi-browse ended" : output);
    }
    if (std::optional<PairingPayload> payload = payloadFromAdverts(output, code)) return payload;
  }
}

}  // namespace ferrytide::phone
