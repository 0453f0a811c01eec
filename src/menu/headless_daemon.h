#pragma once

#include <QObject>
#include <asio/ip/address.hpp>
#include <cstdint>
#include <memory>
#include <optional>

namespace ferrytide::menu {

struct HeadlessDaemonOptions {
  std::uint16_t port = 47819;
  // Whether a display's clipboard can be reached (the application object is a GUI one).
  bool clipboard = false;
  // Absent: every interface.
  std::optional<asio::ip::address> listenAddress;
};

// The application without a tray or windows: receives files and clipboard text from the
// paired phones, keeps the phones in step and shows its notices, for desktops without a tray
// and for running as a user service. One per user.
class HeadlessDaemon : public QObject {
  Q_OBJECT

 public:
  using Options = HeadlessDaemonOptions;

  explicit HeadlessDaemon(Options options, QObject* parent = nullptr);
  ~HeadlessDaemon() override;

  // Claims the instance and starts receiving. False when another copy runs or the session bus
  // cannot be reached; the reason went to stderr.
  bool start();
  // Stops accepting and lets the transfers in flight finish, then emits `finished`.
  void finish();

 Q_SIGNALS:
  void finished();

 private:
  struct Parts;

  Options options_;
  std::unique_ptr<Parts> parts_;
};

}  // namespace ferrytide::menu
