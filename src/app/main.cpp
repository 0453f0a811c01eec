// ferrytide: the desktop application, in the tray. `--headless` runs it without a tray or
// windows.

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>

#include "menu/headless_daemon.h"
#include "menu/tray/menu_bar_app_delegate.h"
#include "platform/linux/termination_signals.h"

namespace {

// A display whose clipboard the application can use; without one it runs on a plain
// application object, and received text goes to the clip history only.
bool displayAvailable() {
  return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
}

bool wantsHeadless(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--headless") return true;
  }
  return false;
}

// The tray needs widgets; the daemon only a clipboard, when there is a display.
std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv, bool gui, bool tray) {
  if (gui && tray) return std::make_unique<QApplication>(argc, argv);
  if (gui) return std::make_unique<QGuiApplication>(argc, argv);
  return std::make_unique<QCoreApplication>(argc, argv);
}

// Quitting does not wait for transfers in flight: their partial files stay, and the phone
// resumes from them at its next send.
int runTray(std::uint16_t port, std::optional<asio::ip::address> listenAddress) {
  QApplication::setQuitOnLastWindowClosed(false);
  ferrytide::menu::MenuBarAppDelegate delegate(
      {.port = port, .registerHotkeys = true, .listenAddress = listenAddress, .updates = {}});
  // Installed first: a session that ends during start-up still gets a clean exit.
  ferrytide::platform::TerminationSignals signals;
  QObject::connect(&signals, &ferrytide::platform::TerminationSignals::received,
                   [](int) { QCoreApplication::exit(0); });
  QObject::connect(&delegate, &ferrytide::menu::MenuBarAppDelegate::quitRequested,
                   [] { QCoreApplication::exit(0); });
  if (!delegate.applicationDidFinishLaunching()) return 1;
  return QCoreApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  bool gui = displayAvailable();
  bool tray = !wantsHeadless(argc, argv);
  if (tray && !gui) {
    std::fprintf(stderr,
                 "ferrytide: no display to show the tray on; run \"ferrytide --headless\" to "
                 "receive without one\n");
    return 2;
  }
  std::unique_ptr<QCoreApplication> application = makeApplication(argc, argv, gui, tray);
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
  QCommandLineOption address(QStringLiteral("address"),
                             QStringLiteral("Listen on this address only (every interface when "
                                            "absent)."),
                             QStringLiteral("address"));
  parser.addOption(headless);
  parser.addOption(port);
  parser.addOption(address);
  parser.process(*application);

  bool portValid = false;
  uint portNumber = parser.value(port).toUInt(&portValid);
  if (!portValid || portNumber == 0 || portNumber > 65535) {
    std::fprintf(stderr, "ferrytide: --port wants a number from 1 to 65535\n");
    return 2;
  }
  std::optional<asio::ip::address> listenAddress;
  if (parser.isSet(address)) {
    asio::error_code error;
    listenAddress = asio::ip::make_address(parser.value(address).toStdString(), error);
    if (error) {
      std::fprintf(stderr, "ferrytide: --address wants an IP address such as 127.0.0.1\n");
      return 2;
    }
  }
  if (!parser.isSet(headless)) {
    return runTray(static_cast<std::uint16_t>(portNumber), listenAddress);
  }

  ferrytide::menu::HeadlessDaemon daemon(
      ferrytide::menu::HeadlessDaemonOptions{.port = static_cast<std::uint16_t>(portNumber),
                                             .clipboard = gui,
                                             .listenAddress = listenAddress});
  if (!daemon.start()) return 1;
  ferrytide::platform::TerminationSignals signals;
  int received = 0;
  QObject::connect(&signals, &ferrytide::platform::TerminationSignals::received, [&](int signal) {
    // A second signal does not wait for the transfers in flight.
    if (++received > 1) std::_Exit(128 + signal);
    daemon.finish();
  });
  QObject::connect(&daemon, &ferrytide::menu::HeadlessDaemon::finished,
                   [] { QCoreApplication::exit(0); });
  return QCoreApplication::exec();
}
