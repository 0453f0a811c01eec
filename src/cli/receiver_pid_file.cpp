#include "cli/receiver_pid_file.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <thread>

namespace ferrytide::cli {
namespace {

constexpr std::string_view kToolName = "ferrytide-cli";
constexpr auto kPollInterval = std::chrono::milliseconds(50);

bool isAlive(pid_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

// The process's command name; the kernel keeps its first 15 characters.
std::string commandName(pid_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

}  // namespace

ReceiverPidFile::ReceiverPidFile(std::filesystem::path path) : path_(std::move(path)) {}

void ReceiverPidFile::claim() {
  std::error_code ec;
  std::filesystem::create_directories(path_.parent_path(), ec);
  std::ofstream out(path_, std::ios::trunc);
  out << getpid() << "\n";
  claimed_ = static_cast<bool>(out);
}

ReceiverPidFile::~ReceiverPidFile() {
  if (claimed_ && recordedPid() == getpid()) {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
}

std::optional<pid_t> ReceiverPidFile::recordedPid() const {
  std::ifstream in(path_);
  long pid = 0;
  if (!(in >> pid) || pid <= 0) return std::nullopt;
  return static_cast<pid_t>(pid);
}

std::optional<pid_t> ReceiverPidFile::runningReceiver() const {
  std::optional<pid_t> pid = recordedPid();
  if (!pid || *pid == getpid() || !isAlive(*pid)) return std::nullopt;
  if (commandName(*pid) != kToolName.substr(0, 15)) return std::nullopt;
  return pid;
}

bool ReceiverPidFile::stopRunningReceiver(std::chrono::milliseconds timeout) const {
  std::optional<pid_t> pid = runningReceiver();
  if (!pid || kill(*pid, SIGTERM) != 0) return false;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (isAlive(*pid)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

}  // namespace ferrytide::cli
