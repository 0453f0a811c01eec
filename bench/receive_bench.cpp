// Speed and memory of the receiver, each figure next to a baseline measured in the same run:
//   1. one large file over loopback into a Receiver:
//      - into a save folder on the work disk, against dd conv=fdatasync writing a new file of
//        the same size into the same folder (target >= 0.95x: both flush the file),
//      - into /dev/shm, against raw single-core ChaCha20-Poly1305 sealing (target >= 0.45x);
//   2. many phones at once (500 unless told), each sending one small file: every file must
//      arrive intact; the time and the receiver's peak resident memory (target < 64 MiB). The
//      receiver runs in a child process of its own (this program with --serve), so that its
//      peak is its own.
//
// Usage: ferrytide-bench-receive [--runs N] [--mib N] [--connections N] [--file-kib N]
//                                [--disk-dir PATH] [--shm-dir PATH] [--parts disk,shm,many]
//                                [--once many]
//   --once many runs the many phones once, unwarmed, and prints the receiver's peak resident
//   memory in MiB and the seconds taken, alone on a line, for scripts that take their own
//   median (bench/transfer.sh).

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <asio.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "baselines.h"
#include "bench_stats.h"
#include "core/channel/noise_handshake.h"
#include "core/channel/transport_framer.h"
#include "core/channel/wire_connection.h"
#include "core/support/base64.h"
#include "core/support/crypto.h"
#include "core/transfer/receiver.h"
#include "receiver_thread.h"

extern char** environ;

namespace ferrytide::bench {
namespace {

using Clock = std::chrono::steady_clock;
using asio::ip::tcp;
namespace fs = std::filesystem;

constexpr std::size_t kChunk = 1 << 20;
constexpr double kMB = 1e6;
// Every wait of the bench ends by itself.
constexpr auto kRunLimit = std::chrono::seconds(300);

double seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// The folders this run made; removed also when it fails.
std::vector<fs::path>& madeFolders() {
  static std::vector<fs::path> folders;
  return folders;
}

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "bench failed: %s\n", why.c_str());
  for (const fs::path& folder : madeFolders()) {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  std::exit(1);
}

void raiseDescriptorLimit() {
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

Bytes pattern(std::size_t size, std::uint32_t seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>((i * 131 + seed * 7) ^ (i >> 10));
  return bytes;
}

// Runs `work` on `io` until it finishes or the run limit passes; rethrows its failure.
void runToEnd(asio::io_context& io, asio::awaitable<void> work) {
  bool finished = false;
  std::exception_ptr failure;
  asio::co_spawn(io, std::move(work), [&](std::exception_ptr error) {
    finished = true;
    failure = error;
  });
  io.restart();
  const auto deadline = Clock::now() + kRunLimit;
  while (!finished && Clock::now() < deadline) io.run_one_until(deadline);
  if (!finished) fail("a run did not finish within the limit");
  if (failure) std::rethrow_exception(failure);
}

// ---- a phone

struct Phone {
  explicit Phone(tcp::socket socket) : wire(std::move(socket)) {}
  WireConnection wire;
  std::optional<TransportFramer> framer;
};

asio::awaitable<void> connectAndHandshake(Phone& phone, std::uint16_t port,
                                          const crypto::X25519PrivateKey& key) {
  co_await phone.wire.socket().async_connect({asio::ip::address_v4::loopback(), port},
                                             asio::use_awaitable);
  phone.wire.socket().set_option(tcp::no_delay(true));
  NoiseHandshake noise(NoiseRole::initiator, key);
  Bytes first = noise.writeMessage();
  co_await phone.wire.sendLengthPrefixed(first);
  noise.readMessage(co_await phone.wire.receiveLengthPrefixed());
  Bytes third = noise.writeMessage();
  co_await phone.wire.sendLengthPrefixed(third);
  phone.framer.emplace(noise.finalize());
}

// Offer, Resume, `frames` frames of `chunk`, Done, and the receiver's close once it has the file.
asio::awaitable<void> sendFile(Phone& phone, const std::string& name, const std::string& transferId,
                               const Bytes& chunk, std::size_t frames) {
  const TransportMessage offer =
      msg::FileOffer{name, static_cast<std::int64_t>(chunk.size() * frames),
                     "application/octet-stream", transferId};
  Bytes offerFrame = phone.framer->encodeJSON(offer);
  co_await phone.wire.sendLengthPrefixed(offerFrame);
  DecodedFrame reply = phone.framer->decode(co_await phone.wire.receiveLengthPrefixed());
  const auto* resume = reply.asJSON() ? std::get_if<msg::Resume>(reply.asJSON()) : nullptr;
  if (!resume || resume->accepted_offset != 0) throw std::runtime_error("no fresh Resume");
  for (std::size_t i = 0; i < frames; ++i) {
    Bytes sealed = phone.framer->encodeBinary(chunk);
    co_await phone.wire.sendLengthPrefixed(sealed);
  }
  const TransportMessage done = msg::Done{};
  Bytes doneFrame = phone.framer->encodeJSON(done);
  co_await phone.wire.sendLengthPrefixed(doneFrame);
  try {
    for (;;) co_await phone.wire.receiveLengthPrefixed();
  } catch (const WireConnection::Error& error) {
    if (error.kind() != WireConnection::Error::Kind::eof) throw;
  }
}

// ---- 1. one large file into an in-process receiver

// Bytes per second of wall time; `cpuRates` gets the bytes per second of the receiver thread's
// own CPU time, which the other load on a shared machine does not change.
double receiveLargeFileRate(ReceiverThread& receiver, const fs::path& folder,
                            const crypto::X25519PrivateKey& phoneKey, std::size_t mib, int& serial,
                            std::vector<double>& cpuRates) {
  static const Bytes chunk = pattern(kChunk, 1);
  const std::string name = "large-" + std::to_string(++serial) + ".bin";
  asio::io_context io;
  tcp::socket socket(io, tcp::v4());  // opened: g++ 12 sees an unopened one as uninitialised
  Phone phone(std::move(socket));
  const auto start = Clock::now();
  const double cpuStart = receiver.cpuSeconds();
  runToEnd(io, [&]() -> asio::awaitable<void> {
    co_await connectAndHandshake(phone, receiver.port, phoneKey);
    const std::string transferId = "T-large-" + name;
    co_await sendFile(phone, name, transferId, chunk, mib);
  }());
  const double elapsed = seconds(start);
  const fs::path saved = folder / name;
  std::optional<ReceiverThread::Ending> ending = receiver.next(std::chrono::seconds(30));
  if (!ending) fail("the receiver did not report the file");
  if (!ending->file) fail("receiver: " + ending->error);
  if (ending->file->savedAt != saved) fail("the large file was reported under another name");
  cpuRates.push_back(static_cast<double>(mib * kChunk) / (receiver.cpuSeconds() - cpuStart));
  if (fs::file_size(saved) != mib * kChunk) fail("the large file has the wrong size");
  fs::remove(saved);
  return static_cast<double>(mib * kChunk) / elapsed;
}

// ---- 2. many phones at once into a receiver in a child process

// The child: serves until SIGTERM, then reports its peak resident memory.
int serveChild(const fs::path& folder, const std::string& phoneKeyBase64) {
  raiseDescriptorLimit();
  auto phoneKey = base64::decode(phoneKeyBase64);
  if (!phoneKey) return 2;
  asio::io_context io;
  ReceiverOptions options;
  options.listenAddress = asio::ip::address_v4::loopback();
  options.peerStore = PeerStore(folder / ".peers");
  options.onListening = [](std::uint16_t port) {
    std::printf("%u\n", static_cast<unsigned>(port));
    std::fflush(stdout);
  };
  Receiver receiver(io.get_executor(), crypto::X25519PrivateKey::generate(),
                    crypto::X25519PublicKey::fromRaw(*phoneKey), folder, 0,
                    toBytes(kFerrytidePrologue), std::move(options));
  asio::signal_set terminate(io, SIGTERM);
  terminate.async_wait([&](const asio::error_code&, int) { receiver.stop(); });
  int errors = 0;
  Receiver::Callbacks callbacks;
  callbacks.onError = [&](const std::exception& error) {
    ++errors;
    std::fprintf(stderr, "receiver: %s\n", error.what());
  };
  asio::co_spawn(io, receiver.run(std::move(callbacks)), [](std::exception_ptr) {});
  io.run();
  return errors == 0 ? 0 : 3;
}

asio::awaitable<void> smallFilePhone(std::uint16_t port, const crypto::X25519PrivateKey& key,
                                     int index, const Bytes& content) {
  tcp::socket socket(co_await asio::this_coro::executor);
  Phone phone(std::move(socket));
  co_await connectAndHandshake(phone, port, key);
  const std::string name = "small-" + std::to_string(index) + ".bin";
  const std::string transferId = "T-small-" + std::to_string(index);
  co_await sendFile(phone, name, transferId, content, 1);
}

struct ChildRun {
  double seconds = 0;
  double peakMiB = 0;
};

ChildRun manyPhonesRun(const fs::path& folder, int connections, std::size_t fileBytes) {
  fs::remove_all(folder);
  fs::create_directories(folder);
  const auto phoneKey = crypto::X25519PrivateKey::generate();

  // The receiver's child process; its first line of output is the port.
  int out[2];
  if (::pipe(out) != 0) fail("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const std::string folderText = folder.string();
  const std::string keyText = base64::encode(phoneKey.publicKey().view());
  std::vector<char*> argv = {const_cast<char*>(self.c_str()), const_cast<char*>("--serve"),
                             const_cast<char*>(folderText.c_str()),
                             const_cast<char*>(keyText.c_str()), nullptr};
  pid_t child = 0;
  if (posix_spawn(&child, self.c_str(), &actions, nullptr, argv.data(), environ) != 0)
    fail("spawn");
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  char line[32] = {};
  ssize_t got = ::read(out[0], line, sizeof line - 1);
  ::close(out[0]);
  const long port = got > 0 ? std::strtol(line, nullptr, 10) : 0;
  if (port <= 0 || port > 65535) fail("the receiver child did not listen");

  std::vector<Bytes> contents;
  for (int i = 0; i < connections; ++i)
    contents.push_back(pattern(fileBytes, static_cast<std::uint32_t>(i)));
  asio::io_context io;
  int finished = 0;
  int failed = 0;
  const auto start = Clock::now();
  for (int i = 0; i < connections; ++i) {
    asio::co_spawn(io,
                   smallFilePhone(static_cast<std::uint16_t>(port), phoneKey, i,
                                  contents[static_cast<std::size_t>(i)]),
                   [&](std::exception_ptr error) {
                     ++finished;
                     if (error) ++failed;
                   });
  }
  const auto deadline = Clock::now() + kRunLimit;
  while (finished < connections && Clock::now() < deadline) io.run_one_until(deadline);
  const double elapsed = seconds(start);

  ::kill(child, SIGTERM);
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  if (finished < connections) fail("phones did not finish within the limit");
  if (failed > 0) fail(std::to_string(failed) + " phones failed");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fail("the receiver child reported errors");

  int intact = 0;
  for (int i = 0; i < connections; ++i) {
    std::ifstream file(folder / ("small-" + std::to_string(i) + ".bin"), std::ios::binary);
    Bytes content((std::istreambuf_iterator<char>(file)), {});
    if (content == contents[static_cast<std::size_t>(i)]) ++intact;
  }
  if (intact != connections)
    fail(std::to_string(connections - intact) + " files did not arrive intact");
  const auto entries = std::distance(fs::directory_iterator(folder), fs::directory_iterator());
  if (entries != connections) fail("the save folder holds more than the files");
  fs::remove_all(folder);
  return ChildRun{elapsed, static_cast<double>(usage.ru_maxrss) / 1024.0};
}

// ---- report

// The measured runs of figures collected beside measure(): the first one is the warm-up.
Summary summaryAfterWarmUp(std::vector<double> values) {
  values.erase(values.begin());
  std::sort(values.begin(), values.end());
  return Summary{values[values.size() / 2], values.front(), values.back()};
}

void printRow(const char* name, const std::string& figure, const std::string& ratio) {
  std::printf("%-52s %s  %s\n", name, figure.c_str(), ratio.c_str());
}

struct Options {
  int runs = 3;
  std::size_t mib = 1024;
  int connections = 500;
  std::size_t fileKiB = 64;
  fs::path diskDir;
  fs::path shmDir = "/dev/shm";
  std::string parts = "disk,shm,many";
  bool onceMany = false;
  bool wants(const char* part) const { return parts.find(part) != std::string::npos; }
};

fs::path makeFolder(const fs::path& parent) {
  std::string pattern = (parent / "ferrytide-receive-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) fail("cannot make a folder under " + parent.string());
  madeFolders().push_back(pattern);
  return pattern;
}

int runBench(const Options& options) {
  raiseDescriptorLimit();
  if (options.onceMany) {
    const fs::path disk = makeFolder(options.diskDir);
    const ChildRun run = manyPhonesRun(disk / "many", options.connections, options.fileKiB * 1024);
    fs::remove_all(disk);
    std::printf("%.1f %.2f\n", run.peakMiB, run.seconds);
    return 0;
  }
  const fs::path disk = makeFolder(options.diskDir);
  const fs::path shm = makeFolder(options.shmDir);
  const auto phoneKey = crypto::X25519PrivateKey::generate();
  const auto computerKey = crypto::X25519PrivateKey::generate();
  std::printf("receiver, %d measured runs after one warm-up; median (min, max)\n", options.runs);
  std::printf("work disk folder %s, memory folder %s\n\n", disk.c_str(), shm.c_str());
  char label[128];

  int serial = 0;
  if (options.wants("disk")) {
    ReceiverThread receiver(disk, computerKey, phoneKey.publicKey());
    Summary dd = measure(options.runs, [&] { return ddRate(disk, options.mib, false); });
    Summary ddSync = measure(options.runs, [&] { return ddRate(disk, options.mib, true); });
    std::vector<double> cpu;
    Summary received = measure(options.runs, [&] {
      return receiveLargeFileRate(receiver, disk, phoneKey, options.mib, serial, cpu);
    });
    std::snprintf(label, sizeof label, "dd, new %zu MiB file on the work disk (reference)",
                  options.mib);
    printRow(label, formatRate(dd, kMB, "MB/s"), "");
    std::snprintf(label, sizeof label, "dd conv=fdatasync, same (baseline)");
    printRow(label, formatRate(ddSync, kMB, "MB/s"), "");
    std::snprintf(label, sizeof label, "receiver, %zu MiB file onto the work disk", options.mib);
    printRow(label, formatRate(received, kMB, "MB/s"), referenceRatio(received.median, dd.median));
    printRow("  against dd conv=fdatasync (both flush the file)", "",
             ratio(received.median, ddSync.median, 0.95));
    printRow("  per second of the receiver thread's CPU time",
             formatRate(summaryAfterWarmUp(cpu), kMB, "MB/s"), "(reference)");
  }
  if (options.wants("shm")) {
    ReceiverThread receiver(shm, computerKey, phoneKey.publicKey());
    Summary seal = measure(options.runs, [] { return rawSealRate(512); });
    Summary ddShm = measure(options.runs, [&] { return ddRate(shm, options.mib, false); });
    std::vector<double> cpu;
    Summary received = measure(options.runs, [&] {
      return receiveLargeFileRate(receiver, shm, phoneKey, options.mib, serial, cpu);
    });
    printRow("raw ChaCha20-Poly1305 seal, 1 MiB, one core (baseline)",
             formatRate(seal, kMB, "MB/s"), "");
    std::snprintf(label, sizeof label, "receiver, %zu MiB file into /dev/shm", options.mib);
    std::snprintf(label, sizeof label, "dd, new %zu MiB file in /dev/shm (reference)", options.mib);
    printRow(label, formatRate(ddShm, kMB, "MB/s"), "");
    std::snprintf(label, sizeof label, "receiver, %zu MiB file into /dev/shm", options.mib);
    printRow(label, formatRate(received, kMB, "MB/s"), ratio(received.median, seal.median, 0.45));
    const Summary perCpu = summaryAfterWarmUp(cpu);
    printRow("  per second of the receiver thread's CPU time", formatRate(perCpu, kMB, "MB/s"),
             ratio(perCpu.median, seal.median, 0.45) + " (reference)");
  }
  fs::remove_all(shm);
  if (!options.wants("many")) {
    fs::remove_all(disk);
    return 0;
  }

  std::vector<double> peaks;
  const fs::path many = disk / "many";
  Summary time = measure(options.runs, [&] {
    ChildRun run = manyPhonesRun(many, options.connections, options.fileKiB * 1024);
    peaks.push_back(run.peakMiB);
    return run.seconds;
  });
  const Summary peak = summaryAfterWarmUp(peaks);
  std::snprintf(label, sizeof label, "%d phones at once, %zu KiB each: all intact, time",
                options.connections, options.fileKiB);
  printRow(label, formatRate(time, 1, "s"), "(lower is better)");
  printRow("  receiver peak resident memory", formatRate(peak, 1, "MiB"),
           peak.median < 64 ? "(target < 64 MiB) ok" : "(target < 64 MiB) ABOVE TARGET");
  fs::remove_all(disk);
  return 0;
}

}  // namespace
}  // namespace ferrytide::bench

int main(int argc, char** argv) {
  using namespace ferrytide::bench;
  if (argc == 4 && std::strcmp(argv[1], "--serve") == 0) return serveChild(argv[2], argv[3]);
  Options options;
  const char* tmp = std::getenv("TMPDIR");
  options.diskDir = tmp && *tmp ? tmp : "/tmp";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const char* value = argv[i + 1];
    if (flag == "--runs")
      options.runs = std::max(3, std::atoi(value));
    else if (flag == "--mib")
      options.mib = std::strtoul(value, nullptr, 10);
    else if (flag == "--connections")
      options.connections = std::atoi(value);
    else if (flag == "--file-kib")
      options.fileKiB = std::strtoul(value, nullptr, 10);
    else if (flag == "--disk-dir")
      options.diskDir = value;
    else if (flag == "--shm-dir")
      options.shmDir = value;
    else if (flag == "--parts")
      options.parts = value;
    else if (flag == "--once" && std::strcmp(value, "many") == 0)
      options.onceMany = true;
    else if (flag == "--once")
      fail("--once takes many");
  }
  try {
    return runBench(options);
  } catch (const std::exception& error) {
    fail(error.what());
  }
}
