#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace ferrytide::platform {

// SIGTERM and SIGINT as a Qt signal on the main thread: the handler only writes a byte to a
// socket that the event loop watches. One instance per process.
class TerminationSignals : public QObject {
  Q_OBJECT

 public:
  explicit TerminationSignals(QObject* parent = nullptr);
  ~TerminationSignals() override;

 Q_SIGNALS:
  // `signal` is SIGTERM or SIGINT.
  void received(int signal);

 private:
  void readSignal();

  int sockets_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace ferrytide::platform
