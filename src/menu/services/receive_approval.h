#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "menu/models/preferences.h"
#include "menu/services/approval_prompt.h"

namespace ferrytide::menu {

struct ReceiveApprovalTiming {
  std::chrono::milliseconds askWindow = std::chrono::seconds(55);
  std::chrono::milliseconds trustWindow = std::chrono::seconds(120);
};

// The gate in front of every offered file when "ask before receiving" is on. One question is
// on screen at a time, first come first served; offers of the phone being asked about join
// that question, and a phone accepted once may send for two minutes without being asked
// again. No answer within the ask window is a decline. Main thread only.
class ReceiveApproval : public QObject {
  Q_OBJECT

 public:
  using Clock = std::function<QDateTime()>;
  using Answer = std::function<void(bool accepted)>;

  using Timing = ReceiveApprovalTiming;

  ReceiveApproval(Preferences& prefs, ApprovalPrompt& prompt, Timing timing = {},
                  Clock clock = &QDateTime::currentDateTimeUtc, QObject* parent = nullptr);
  // Every offer still waiting is declined.
  ~ReceiveApproval() override;

  // `answer` is called exactly once, possibly at once.
  void ask(const QString& peerPubkey, const QString& peerName, const QString& fileName,
           std::int64_t size, Answer answer);

  // Hands the questions to another prompt (the tray application's panel); one on screen now
  // stays where it is.
  void setPrompt(ApprovalPrompt& prompt) { prompt_ = &prompt; }

  bool prompting() const { return current_.has_value(); }

 private:
  struct Offer {
    QString peerPubkey;
    QString peerName;
    QString fileName;
    std::int64_t size = 0;
    Answer answer;
  };
  struct Current {
    std::uint64_t id = 0;
    QString peerPubkey;
    std::vector<Answer> answers;
  };

  bool trusted(const QString& peerPubkey) const;
  void showPrompt(Offer offer);
  void resolve(std::uint64_t id, bool accepted);
  void serveWaiting();

  Preferences& prefs_;
  ApprovalPrompt* prompt_;
  Timing timing_;
  Clock clock_;
  std::map<QString, QDateTime> trustedUntil_;
  std::optional<Current> current_;
  std::deque<Offer> waiting_;
  std::uint64_t nextId_ = 1;
  QTimer askTimer_;
};

}  // namespace ferrytide::menu
