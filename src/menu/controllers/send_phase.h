#pragma once

#include <QString>
#include <cstdint>
#include <utility>
#include <variant>

namespace ferrytide::menu {

// The cases of a SendPhase (outside it, so that the variant can be made inside it).
namespace send_phase {

// Where a busy send stands; `fileIndex` counts from 1.
struct Progress {
  int fileIndex = 0;
  int fileCount = 0;
  std::int64_t bytesDone = 0;
  std::int64_t bytesTotal = 0;
  bool operator==(const Progress&) const = default;
};
// The phone did not answer and has been asked to wake.
struct Waking {
  QString peerName;
  Progress progress;
  bool operator==(const Waking&) const = default;
};
struct Running {
  QString peerName;
  Progress progress;
  bool operator==(const Running&) const = default;
};
struct Done {
  int filesSent = 0;
  std::int64_t totalBytes = 0;
  double durationSeconds = 0;
  QString peerName;  // the phone, or "3 phones"
  bool operator==(const Done&) const = default;
};
// At least one phone was not reached, or the send could not start.
struct Failed {
  QString message;
  QString peerName;
  bool operator==(const Failed&) const = default;
};
struct Idle {
  bool operator==(const Idle&) const = default;
};

}  // namespace send_phase

// What the progress card of a file send shows: a phone being woken, a file on its way, the
// result of the last send, or nothing.
struct SendPhase {
  using Progress = send_phase::Progress;
  using Waking = send_phase::Waking;
  using Running = send_phase::Running;
  using Done = send_phase::Done;
  using Failed = send_phase::Failed;
  using Idle = send_phase::Idle;

  using State = std::variant<Waking, Running, Done, Failed, Idle>;

  // Implicit on purpose: each case is a phase.
  SendPhase() = default;
  SendPhase(Waking waking) : state(std::move(waking)) {}
  SendPhase(Running running) : state(std::move(running)) {}
  SendPhase(Done done) : state(std::move(done)) {}
  SendPhase(Failed failed) : state(std::move(failed)) {}
  SendPhase(Idle idle) : state(idle) {}

  bool busy() const {
    return std::holds_alternative<Waking>(state) || std::holds_alternative<Running>(state);
  }
  // The phone and progress of a busy phase; null otherwise.
  const Progress* progress() const {
    if (const auto* waking = std::get_if<Waking>(&state)) return &waking->progress;
    if (const auto* running = std::get_if<Running>(&state)) return &running->progress;
    return nullptr;
  }
  const QString* busyPeerName() const {
    if (const auto* waking = std::get_if<Waking>(&state)) return &waking->peerName;
    if (const auto* running = std::get_if<Running>(&state)) return &running->peerName;
    return nullptr;
  }

  bool operator==(const SendPhase&) const = default;

  State state = Idle{};
};

}  // namespace ferrytide::menu
