#include "support/xvfb_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <thread>

namespace ferrytide::testing {
namespace {

// Reads the newline-ended display number that Xvfb writes once it listens.
std::string readDisplayNumber(int fd, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string number;
  while (number.empty() || number.back() != '\n') {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd wait{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0) return {};
    char c = 0;
    if (::read(fd, &c, 1) != 1) return {};
    number += c;
  }
  number.pop_back();
  for (char c : number) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return {};
  }
  return number;
}

}  // namespace

XvfbDisplay::XvfbDisplay(const std::vector<std::string>& extraArguments,
                         std::chrono::milliseconds startTimeout) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    failure_ = "pipe for Xvfb failed";
    return;
  }
  std::vector<std::string> arguments{"Xvfb",     "-displayfd", "3", "-nolisten", "tcp",
                                     "-noreset", "-screen",    "0", "640x480x24"};
  arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_ = ::fork();
  if (pid_ == 0) {
    // Only async-signal-safe calls from here on. Xvfb writes to fd 3, open across exec.
    if (pipeFds[1] == 3) {
      ::fcntl(3, F_SETFD, 0);
    } else {
      ::dup2(pipeFds[1], 3);
    }
    int quiet = ::open("/dev/null", O_WRONLY);
    ::dup2(quiet, STDOUT_FILENO);
    ::dup2(quiet, STDERR_FILENO);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  if (pid_ < 0) {
    ::close(pipeFds[0]);
    failure_ = "fork for Xvfb failed";
    return;
  }
  std::string number = readDisplayNumber(pipeFds[0], startTimeout);
  ::close(pipeFds[0]);
  if (number.empty()) {
    failure_ = "Xvfb did not report a display (is it installed?)";
    stop();
    return;
  }
  name_ = ":" + number;
}

XvfbDisplay::~XvfbDisplay() { stop(); }

void XvfbDisplay::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 500; ++i) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace ferrytide::testing
