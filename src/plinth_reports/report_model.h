#pragma once

#include <QObject>
#include <QString>
#include <asio/any_io_executor.hpp>
#include <filesystem>
#include <optional>

#include "core/support/bytes.h"
#include "plinth_reports/reports.h"

namespace plinth {

// What the report window shows and edits: the user's text, whether technical details go along,
// an attached crash, and how far sending has come. Lives on the main thread; the upload runs on
// `network` and its outcome comes back through the event loop. `reports` outlives the model.
class ReportModel : public QObject {
  Q_OBJECT

 public:
  enum class State { editing, sending, sent, savedOffline, failed };

  struct AttachedCrash {
    std::string name;  // "crash.json" for a stored record, "crash.ips" for a chosen file
    ferrytide::Bytes data;
  };

  ReportModel(Reports& reports, asio::any_io_executor network, QObject* parent = nullptr);

  QString message() const { return message_; }
  QString email() const { return email_; }
  bool includeDetails() const { return includeDetails_; }
  bool showDetails() const { return showDetails_; }
  State state() const { return state_; }
  // The server's reference once sent.
  QString reference() const { return reference_; }
  // Why the last send failed.
  QString failure() const { return failure_; }
  const std::optional<AttachedCrash>& crash() const { return crash_; }
  QString appName() const;

  void setMessage(const QString& message);
  void setEmail(const QString& email);
  void setIncludeDetails(bool include);
  void setShowDetails(bool show);

  void attachCrash(const Crash& stored);
  // Nothing when attached; otherwise why not ("That crash report is too large to send (over
  // 512 KB).", or why it could not be read).
  std::optional<QString> attachCrashFile(const std::filesystem::path& file);
  void removeCrash();

  // "What is sent", as the current draft would be composed.
  QString preview() const;
  // Composes the draft and uploads it. Ignored while a send is running.
  void send();
  // The sent state with a given reference, to see the receipt without sending.
  void showReceipt(const QString& reference);
  // An empty form again, after a report went or to try a failed one anew.
  void startOver();

 Q_SIGNALS:
  void changed();

 private:
  ReportDraft draft() const;
  void finishSending(State state, const QString& reference, const QString& failure);

  Reports& reports_;
  asio::any_io_executor network_;
  QString message_;
  QString email_;
  bool includeDetails_ = true;
  bool showDetails_ = false;
  State state_ = State::editing;
  QString reference_;
  QString failure_;
  std::optional<AttachedCrash> crash_;
};

}  // namespace plinth
