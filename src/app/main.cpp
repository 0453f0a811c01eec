// ferrytide: the desktop application. `--headless` runs it without a tray or windows.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "menu/headless_daemon.h"
#include "platform/linux/termination_signals.h"

namespace {

// A display whose clipboard the application can use; without one it runs on a plain
// application object, and received text goes to the clip history only.
bool displayAvailable() {
  return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
}

std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv, bool gui) {
  if (gui) return std::make_unique<QGuiApplication>(argc, argv);
  return std::make_unique<QCoreApplication>(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
  bool gui = displayAvailable();
  std::unique_ptr<QCoreApplication> application = makeApplication(argc, argv, gui);
  QCoreApplication::setApplicationName(QStringLiteral("Ferrytide"));
  QCoreApplication::setApplicationVersion(QStringLiteral(FERRYTIDE_VERSION));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Files and clipboard text between this computer and your phone."));
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption headless(QStringLiteral("headless"),
                              QStringLiteral("Run without a tray icon or windows."));
  QCommandLineOption port(QStringLiteral("port"),
                          QStringLiteral("Receive on this port instead of 47819."),
                          QStringLiteral("port"), QStringLiteral("47819"));
  parser.addOption(headless);
  parser.addOption(port);
  parser.process(*application);

  bool portValid = false;
  uint portNumber = parser.value(port).toUInt(&portValid);
  if (!portValid || portNumber == 0 || portNumber > 65535) {
    std::fprintf(stderr, "ferrytide: --port wants a number from 1 to 65535\n");
    return 2;
  }
  if (!parser.isSet(headless)) {
    std::fprintf(stderr,
                 "ferrytide: this build has no tray application yet; run \"ferrytide "
                 "--headless\" to receive without one\n");
    return 2;
  }

  ferrytide::menu::HeadlessDaemon daemon(ferrytide::menu::HeadlessDaemonOptions{
      .port = static_cast<std::uint16_t>(portNumber), .clipboard = gui});
  if (!daemon.start()) return 1;
  ferrytide::platform::TerminationSignals signals;
  int received = 0;
  QObject::connect(&signals, &ferrytide::platform::TerminationSignals::received, [&](int signal) {
    // A second signal does not wait for the transfers in flight.
    if (++received > 1) std::_Exit(128 + signal);
    daemon.finish();
  });
  QObject::connect(&daemon, &ferrytide::menu::HeadlessDaemon::finished, [] {
    QCoreApplication::exit(0);
  });
  return QCoreApplication::exec();
}
