#pragma once

#include <QString>
#include <memory>

class QSettings;

namespace ferrytide::plinth {
class AppPresence;
class HostedWindow;
}  // namespace ferrytide::plinth

namespace plinth {

class ReportModel;

// The "Report a Problem" window over a ReportModel: the form while editing and sending, the
// receipt once sent, and the notice when the report waits for a network. Closing it keeps what
// was typed; "Done" after a report went clears the form for the next one.
class ReportWindow {
 public:
  ReportWindow(ReportModel& model, ferrytide::plinth::AppPresence& presence, QSettings& settings);
  ~ReportWindow();

  // Opens the window, or brings it forward.
  void show();
  void close();
  ferrytide::plinth::HostedWindow& hosted() { return *window_; }

  static QString title() { return QStringLiteral("Report a Problem"); }

 private:
  ReportModel& model_;
  std::unique_ptr<ferrytide::plinth::HostedWindow> window_;
};

}  // namespace plinth
