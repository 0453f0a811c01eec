#include "platform/linux/termination_signals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>

namespace ferrytide::platform {
namespace {

int gWriteSocket = -1;

void onSignal(int signal) {
  unsigned char number = static_cast<unsigned char>(signal);
  // Nothing else is safe in a signal handler; a full socket drops the signal, and one is
  // already waiting to be read then.
  [[maybe_unused]] ssize_t written = ::write(gWriteSocket, &number, 1);
}

void install(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(signal, &action, nullptr);
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sockets_) != 0) {
    throw std::runtime_error("cannot make the signal socket");
  }
  gWriteSocket = sockets_[0];
  notifier_ = std::make_unique<QSocketNotifier>(sockets_[1], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { readSignal(); });
  install(SIGTERM, onSignal);
  install(SIGINT, onSignal);
}

TerminationSignals::~TerminationSignals() {
  install(SIGTERM, SIG_DFL);
  install(SIGINT, SIG_DFL);
  gWriteSocket = -1;
  notifier_.reset();
  ::close(sockets_[0]);
  ::close(sockets_[1]);
}

void TerminationSignals::readSignal() {
  unsigned char number = 0;
  while (::read(sockets_[1], &number, 1) == 1) Q_EMIT received(number);
}

}  // namespace ferrytide::platform
