#include "support/child_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace ferrytide::testing {
namespace {

std::system_error systemError(const std::string& what) {
  return std::system_error(errno, std::generic_category(), what);
}

std::vector<std::string> mergedEnvironment(const Environment& overrides) {
  Environment merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    std::size_t equals = text.find('=');
    if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : overrides) merged[name] = value;
  std::vector<std::string> entries;
  for (const auto& [name, value] : merged) entries.push_back(name + "=" + value);
  return entries;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

int statusOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return -1;
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> arguments, const Environment& environment) {
  std::vector<std::string> environmentEntries = mergedEnvironment(environment);
  std::vector<char*> argv = pointersTo(arguments);
  std::vector<char*> envp = pointersTo(environmentEntries);
  int input[2];
  int output[2];
  if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) throw systemError("pipe");
  pid_ = fork();
  if (pid_ < 0) throw systemError("fork");
  if (pid_ == 0) {
    // Only async-signal-safe calls from here on.
    setpgid(0, 0);
    dup2(input[0], STDIN_FILENO);
    dup2(output[1], STDOUT_FILENO);
    dup2(output[1], STDERR_FILENO);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  setpgid(pid_, pid_);
  close(input[0]);
  close(output[1]);
  inputFd_ = input[1];
  reader_ = std::thread([this, fd = output[0]] { readOutput(fd); });
}

ChildProcess::~ChildProcess() {
  if (!exitStatus_) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  if (inputFd_ >= 0) close(inputFd_);
  if (reader_.joinable()) reader_.join();
}

void ChildProcess::readOutput(int fd) {
  char buffer[4096];
  for (;;) {
    ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    std::lock_guard lock(mutex_);
    if (count <= 0) {
      outputClosed_ = true;
      changed_.notify_all();
      break;
    }
    output_.append(buffer, static_cast<std::size_t>(count));
    changed_.notify_all();
  }
  close(fd);
}

bool ChildProcess::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    return output_.find(text) != std::string::npos || outputClosed_;
  }) && output_.find(text) != std::string::npos;
}

std::optional<std::string> ChildProcess::waitForLine(const std::string& prefix,
                                                     std::chrono::milliseconds timeout) {
  auto restOfLine = [&]() -> std::optional<std::string> {
    std::size_t start = output_.rfind('\n' + prefix);
    start = start == std::string::npos ? (output_.starts_with(prefix) ? 0 : start) : start + 1;
    if (start == std::string::npos) return std::nullopt;
    std::size_t end = output_.find('\n', start);
    if (end == std::string::npos) return std::nullopt;
    return output_.substr(start + prefix.size(), end - start - prefix.size());
  };
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return restOfLine() || outputClosed_; });
  return restOfLine();
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!exitStatus_) {
    int status = 0;
    pid_t result = waitpid(pid_, &status, WNOHANG);
    if (result == pid_) {
      exitStatus_ = statusOf(status);
      break;
    }
    if (result < 0 && errno != EINTR) throw systemError("waitpid");
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // The output is complete once the process and any child sharing its pipe are gone.
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, std::chrono::seconds(5), [&] { return outputClosed_; });
  return exitStatus_;
}

void ChildProcess::writeInput(const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    ssize_t count = write(inputFd_, text.data() + written, text.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) throw systemError("write to child");
    written += static_cast<std::size_t>(count);
  }
}

void ChildProcess::signal(int number) {
  if (!exitStatus_) kill(pid_, number);
}

std::string ChildProcess::output() const {
  std::lock_guard lock(mutex_);
  return output_;
}

Finished runToExit(std::vector<std::string> arguments, const Environment& environment,
                   std::chrono::milliseconds timeout) {
  ChildProcess child(std::move(arguments), environment);
  std::optional<int> status = child.waitForExit(timeout);
  return Finished{status.value_or(-1), child.output()};
}

std::uint16_t freeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw systemError("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    throw systemError("bind");
  }
  close(fd);
  return ntohs(address.sin_port);
}

}  // namespace ferrytide::testing
