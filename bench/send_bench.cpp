// Speed and memory of sendOneFile, each figure next to a baseline measured in the same run. A
// large file goes over loopback to a Receiver in this process; the sender runs in a child
// process of its own (this program with --send), so that its peak resident memory is its own.
//   1. into a save folder in /dev/shm, against raw single-core ChaCha20-Poly1305 sealing
//      (target >= 0.45x);
//   2. into a save folder on the work disk, against dd conv=fdatasync writing a new file of the
//      same size there (target >= 0.95x): the receiver flushes a finished file to disk before it
//      closes the connection, and the sender waits for that close, so both flush the file;
//      plain dd is shown for reference;
//   3. the sender's peak resident memory over all sends (target < 32 MiB);
//   4. a send cancelled halfway and then started again: the bytes sent again (target: only the
//      missing half).
//
// Usage: ferrytide-bench-send [--runs N] [--mib N] [--disk-dir PATH] [--shm-dir PATH]

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "baselines.h"
#include "bench_stats.h"
#include "core/support/base64.h"
#include "core/support/crypto.h"
#include "core/support/file_io.h"
#include "core/transfer/receive_transfer.h"
#include "core/transfer/receiver.h"
#include "core/transfer/send_transfer.h"
#include "receiver_thread.h"

extern char** environ;

namespace ferrytide::bench {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr std::size_t kChunk = 1 << 20;
constexpr double kMB = 1e6;
constexpr double kMiB = 1024.0 * 1024.0;
// Every wait of the bench ends by itself.
constexpr auto kRunLimit = std::chrono::seconds(300);
constexpr double kRssTargetMiB = 32;

double seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Ends the bench; its folders are still removed.
[[noreturn]] void fail(const std::string& why) { throw std::runtime_error(why); }

// ---- the sender, in a child process

// VmHWM of this process, in KiB.
long peakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// Sends the file and prints "<seconds> <bytes sent> <resumed from> <peak KiB> <outcome>";
// outcome is "sent" or "cancelled". With cancelAfterMiB above 0 the send is cancelled after
// that many chunks.
int sendChild(const fs::path& file, std::uint16_t port, const std::string& phoneKey,
              const fs::path& keyFile, const fs::path& journalFile, int cancelAfterMiB) {
  const std::optional<Bytes> rawKey = file_io::readIfExists(keyFile);
  if (!rawKey) return 2;
  PeerRecord peer;
  peer.peer_pubkey = phoneKey;
  peer.peer_ip = "127.0.0.1";
  peer.peer_port = port;
  SendFileOptions options;
  options.connect.warmConnectTimeout = std::chrono::seconds(5);
  options.closeWait = kRunLimit;  // until the phone has flushed and closed
  int polls = 0;
  if (cancelAfterMiB > 0) options.cancel = [&] { return ++polls > cancelAfterMiB; };
  InFlightJournal journal(journalFile);

  asio::io_context io;
  std::optional<SentFile> sent;
  std::string failure;
  bool cancelled = false;
  const auto start = Clock::now();
  asio::co_spawn(io,
                 sendOneFile(file, peer, crypto::X25519PrivateKey::fromRaw(*rawKey), journal,
                             std::move(options)),
                 [&](std::exception_ptr error, SentFile result) {
                   if (!error) {
                     sent = result;
                     return;
                   }
                   try {
                     std::rethrow_exception(error);
                   } catch (const SendError& sendError) {
                     cancelled = sendError.kind() == SendError::Kind::cancelled;
                     failure = sendError.what();
                   } catch (const std::exception& other) {
                     failure = other.what();
                   }
                 });
  io.run();
  const double elapsed = seconds(start);
  if (!sent && !cancelled) {
    std::fprintf(stderr, "send failed: %s\n", failure.c_str());
    return 1;
  }
  std::printf("%.6f %lld %lld %ld %s\n", elapsed,
              static_cast<long long>(sent ? sent->bytesSent : 0),
              static_cast<long long>(sent ? sent->resumedFromOffset : 0), peakResidentKiB(),
              sent ? "sent" : "cancelled");
  return 0;
}

struct ChildSend {
  double seconds = 0;
  std::int64_t bytesSent = 0;
  std::int64_t resumedFrom = 0;
  double peakMiB = 0;
  std::string outcome;
};

ChildSend runSendChild(const std::vector<std::string>& args) {
  int out[2];
  if (::pipe(out) != 0) fail("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  std::vector<char*> argv = {const_cast<char*>(self.c_str()), const_cast<char*>("--send")};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawn(&child, self.c_str(), &actions, nullptr, argv.data(), environ) != 0)
    fail("spawn");
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  std::string output;
  char buffer[256];
  for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;)
    output.append(buffer, static_cast<std::size_t>(got));
  ::close(out[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fail("the sender child failed");
  ChildSend result;
  long peakKiB = 0;
  std::istringstream fields(output);
  fields >> result.seconds >> result.bytesSent >> result.resumedFrom >> peakKiB >> result.outcome;
  if (!fields) fail("the sender child printed \"" + output + "\"");
  result.peakMiB = static_cast<double>(peakKiB) / 1024.0;
  return result;
}

// ---- a phone that only takes the bytes, for the sender's own speed

// Answers the offer with Resume 0, then reads the file's frames and the Done frame as raw bytes
// without opening them, and closes. Serves one send at a time, on its own thread.
class SinkPhone {
 public:
  SinkPhone(const crypto::X25519PrivateKey& phoneKey, std::int64_t size)
      : phoneKey_(phoneKey), size_(size), acceptor_(io_, {asio::ip::address_v4::loopback(), 0}) {
    port = acceptor_.local_endpoint().port();
    asio::co_spawn(io_, serve(), [](std::exception_ptr error) {
      if (error) std::fprintf(stderr, "sink phone stopped\n");
    });
    thread_ = std::thread([this] { io_.run(); });
  }
  ~SinkPhone() {
    asio::post(io_, [this] { acceptor_.close(); });
    thread_.join();
  }

  std::uint16_t port = 0;

 private:
  // Bytes on the wire after the Resume: 1 MiB frames (prefix, type byte, body, tag) and Done.
  std::int64_t wireBytes() const {
    const std::int64_t frames =
        (size_ + static_cast<std::int64_t>(kChunk) - 1) / static_cast<std::int64_t>(kChunk);
    const std::int64_t doneFrame =
        4 + 16 + static_cast<std::int64_t>(std::string(R"({"type":"Done"})").size()) + 1;
    return size_ + frames * (4 + 1 + 16) + doneFrame;
  }

  asio::awaitable<void> serve() {
    Bytes sink(4 * kChunk);
    for (;;) {
      auto [acceptError, socket] =
          co_await acceptor_.async_accept(asio::experimental::as_tuple(asio::use_awaitable));
      if (acceptError) co_return;
      WireConnection wire(std::move(socket));
      const Bytes prologue = toBytes(kFerrytidePrologue);
      ResponderSession session = co_await respondToHandshake(wire, phoneKey_, prologue);
      DecodedFrame offer = session.framer.decode(co_await wire.receiveLengthPrefixed());
      const std::string transferId = std::get<msg::FileOffer>(*offer.asJSON()).transfer_id;
      const TransportMessage resume = msg::Resume{transferId, 0};
      Bytes reply = session.framer.encodeJSON(resume);
      co_await wire.sendLengthPrefixed(reply);
      for (std::int64_t left = wireBytes(); left > 0;) {
        const auto want = static_cast<std::size_t>(
            std::min<std::int64_t>(left, static_cast<std::int64_t>(sink.size())));
        left -= static_cast<std::int64_t>(co_await wire.socket().async_read_some(
            asio::buffer(sink.data(), want), asio::use_awaitable));
      }
    }
  }

  asio::io_context io_;
  crypto::X25519PrivateKey phoneKey_;
  std::int64_t size_;
  asio::ip::tcp::acceptor acceptor_;
  std::thread thread_;
};

// ---- one setting

struct Setup {
  fs::path source;  // the file to send, on the work disk
  std::int64_t size = 0;
  fs::path keyFile;
  fs::path journalFile;
  crypto::X25519PrivateKey computerKey = crypto::X25519PrivateKey::generate();
  crypto::X25519PrivateKey phoneKey = crypto::X25519PrivateKey::generate();
  std::vector<double> peaksMiB;  // of every measured send
};

ChildSend sendOnce(Setup& setup, std::uint16_t port, int cancelAfterMiB = 0) {
  return runSendChild({setup.source.string(), std::to_string(port),
                       base64::encode(setup.phoneKey.publicKey().view()), setup.keyFile.string(),
                       setup.journalFile.string(), std::to_string(cancelAfterMiB)});
}

ReceiverThread::Ending nextEnding(ReceiverThread& phone) {
  std::optional<ReceiverThread::Ending> ending = phone.next(kRunLimit);
  if (!ending) fail("the receiver reported nothing");
  return std::move(*ending);
}

// One complete send into `folder`; the rate in bytes per second.
double sendRate(Setup& setup, ReceiverThread& phone, const fs::path& folder) {
  const ChildSend run = sendOnce(setup, phone.port);
  const ReceiverThread::Ending ending = nextEnding(phone);
  if (!ending.file) fail("the receiver failed: " + ending.error);
  if (run.outcome != "sent" || run.bytesSent != setup.size || run.resumedFrom != 0)
    fail("incomplete send");
  if (static_cast<std::int64_t>(fs::file_size(ending.file->savedAt)) != setup.size)
    fail("wrong size received");
  if (ending.file->savedAt.parent_path() != folder) fail("saved elsewhere");
  fs::remove(ending.file->savedAt);
  setup.peaksMiB.push_back(run.peakMiB);
  return static_cast<double>(setup.size) / run.seconds;
}

void writeSource(const fs::path& path, std::size_t mib) {
  std::ofstream out(path, std::ios::binary);
  std::vector<char> chunk(kChunk);
  for (std::size_t i = 0; i < mib; ++i) {
    for (std::size_t j = 0; j < kChunk; ++j)
      chunk[j] = static_cast<char>((j * 131 + i * 7) ^ (j >> 10));
    out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  }
  if (!out) fail("cannot write the source file");
}

// ---- report

void printRow(const std::string& name, const std::string& figure, const std::string& ratio) {
  std::printf("%-58s %s  %s\n", name.c_str(), figure.c_str(), ratio.c_str());
}

struct Options {
  int runs = 3;
  std::size_t mib = 1024;
  fs::path diskDir;
  fs::path shmDir = "/dev/shm";
};

fs::path makeFolder(const fs::path& parent) {
  std::string pattern = (parent / "ferrytide-send-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) fail("cannot make a folder under " + parent.string());
  return pattern;
}

void benchmark(const Options& options, const fs::path& disk, const fs::path& shm) {
  Setup setup;
  setup.source = disk / "source.bin";
  setup.size = static_cast<std::int64_t>(options.mib * kChunk);
  setup.keyFile = disk / "computer.key";
  setup.journalFile = disk / "inflight.json";
  const crypto::SecretKey raw = setup.computerKey.rawRepresentation();
  file_io::writeAtomically(setup.keyFile, raw.view());
  writeSource(setup.source, options.mib);
  const fs::path diskSaves = disk / "saves";
  fs::create_directories(diskSaves);

  std::printf("sendOneFile, %zu MiB file, %d measured runs after one warm-up; median (min, max)\n",
              options.mib, options.runs);
  std::printf("work disk folder %s, memory folder %s\n\n", disk.c_str(), shm.c_str());

  {
    SinkPhone sink(setup.phoneKey, setup.size);
    const Summary sent = measure(options.runs, [&] {
      const ChildSend run = sendOnce(setup, sink.port);
      if (run.outcome != "sent" || run.bytesSent != setup.size) fail("incomplete send to the sink");
      setup.peaksMiB.push_back(run.peakMiB);
      return static_cast<double>(setup.size) / run.seconds;
    });
    printRow("sendOneFile to a phone that only reads (reference)", formatRate(sent, kMB, "MB/s"),
             "");
  }
  {
    ReceiverThread phone(shm, setup.phoneKey, setup.computerKey.publicKey());
    const Summary seal = measure(options.runs, [] { return rawSealRate(512); });
    const Summary sent = measure(options.runs, [&] { return sendRate(setup, phone, shm); });
    printRow("raw ChaCha20-Poly1305 seal, 1 MiB, one core (baseline)",
             formatRate(seal, kMB, "MB/s"), "");
    printRow("sendOneFile to a receiver saving into /dev/shm", formatRate(sent, kMB, "MB/s"),
             ratio(sent.median, seal.median, 0.45));
  }
  {
    ReceiverThread phone(diskSaves, setup.phoneKey, setup.computerKey.publicKey());
    const Summary ddSync =
        measure(options.runs, [&] { return ddRate(diskSaves, options.mib, true); });
    const Summary dd = measure(options.runs, [&] { return ddRate(diskSaves, options.mib, false); });
    const Summary sent = measure(options.runs, [&] { return sendRate(setup, phone, diskSaves); });
    printRow("dd, new file on the work disk (reference)", formatRate(dd, kMB, "MB/s"), "");
    printRow("dd conv=fdatasync, same (baseline)", formatRate(ddSync, kMB, "MB/s"), "");
    printRow("sendOneFile to a receiver saving onto the work disk", formatRate(sent, kMB, "MB/s"),
             referenceRatio(sent.median, dd.median));
    printRow("  against dd conv=fdatasync (both flush the file)", "",
             ratio(sent.median, ddSync.median, 0.95));

    // Cancelled halfway, then sent again: the phone resumes from its partial copy.
    const int half = static_cast<int>(options.mib / 2);
    const ChildSend cancelled = sendOnce(setup, phone.port, half);
    if (cancelled.outcome != "cancelled") fail("the first half was not cancelled");
    if (nextEnding(phone).file) fail("the cancelled send was reported as a file");
    const ChildSend resumed = sendOnce(setup, phone.port);
    const ReceiverThread::Ending ending = nextEnding(phone);
    if (!ending.file ||
        static_cast<std::int64_t>(fs::file_size(ending.file->savedAt)) != setup.size) {
      fail("the resumed file did not arrive whole");
    }
    fs::remove(ending.file->savedAt);
    setup.peaksMiB.push_back(cancelled.peakMiB);
    setup.peaksMiB.push_back(resumed.peakMiB);
    const std::int64_t again = resumed.bytesSent - resumed.resumedFrom;
    const std::int64_t missing =
        setup.size - static_cast<std::int64_t>(half) * static_cast<std::int64_t>(kChunk);
    char figure[128];
    std::snprintf(figure, sizeof figure, "%8.1f MiB sent again, resumed at %.1f MiB",
                  static_cast<double>(again) / kMiB,
                  static_cast<double>(resumed.resumedFrom) / kMiB);
    printRow("resume after a send cancelled halfway", figure,
             again == missing ? "(target: only the missing half) ok"
                              : "(target: only the missing half) MORE");
  }

  std::sort(setup.peaksMiB.begin(), setup.peaksMiB.end());
  char peak[128];
  const double median = setup.peaksMiB[setup.peaksMiB.size() / 2];
  std::snprintf(peak, sizeof peak, "%8.1f MiB (min %.1f, max %.1f)", median, setup.peaksMiB.front(),
                setup.peaksMiB.back());
  printRow("sender peak resident memory (VmHWM), every send", peak,
           setup.peaksMiB.back() < kRssTargetMiB ? "(target < 32 MiB) ok"
                                                 : "(target < 32 MiB) ABOVE TARGET");
}

int runBench(const Options& options) {
  const fs::path disk = makeFolder(options.diskDir);
  const fs::path shm = makeFolder(options.shmDir);
  int status = 0;
  try {
    benchmark(options, disk, shm);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench failed: %s\n", error.what());
    status = 1;
  }
  fs::remove_all(shm);
  fs::remove_all(disk);
  return status;
}

}  // namespace
}  // namespace ferrytide::bench

int main(int argc, char** argv) {
  using namespace ferrytide::bench;
  if (argc == 8 && std::strcmp(argv[1], "--send") == 0) {
    const long port = std::strtol(argv[3], nullptr, 10);
    return sendChild(argv[2], static_cast<std::uint16_t>(port), argv[4], argv[5], argv[6],
                     std::atoi(argv[7]));
  }
  Options options;
  const char* tmp = std::getenv("TMPDIR");
  options.diskDir = tmp && *tmp ? tmp : "/tmp";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const char* value = argv[i + 1];
    if (flag == "--runs")
      options.runs = std::max(3, std::atoi(value));
    else if (flag == "--mib")
      options.mib = std::max<std::size_t>(2, std::strtoul(value, nullptr, 10));
    else if (flag == "--disk-dir")
      options.diskDir = value;
    else if (flag == "--shm-dir")
      options.shmDir = value;
  }
  return runBench(options);
}
