#include "plinth_reports/report_model.h"

#include <QCoreApplication>
#include <QPointer>
#include <asio/co_spawn.hpp>
#include <fstream>
#include <iterator>

#include "plinth_reports/report_composer.h"

namespace plinth {
namespace {

QString fromStd(const std::string& text) { return QString::fromStdString(text); }

struct Outcome {
  ReportModel::State state;
  QString reference;
  QString failure;
};

Outcome outcomeOf(std::exception_ptr error, const std::string& reference) {
  if (!error) return {ReportModel::State::sent, fromStd(reference), {}};
  try {
    std::rethrow_exception(error);
  } catch (const ReportSender::Failure& failure) {
    if (failure.kind() == ReportSender::Failure::Kind::offline) {
      return {ReportModel::State::savedOffline, {}, fromStd(failure.what())};
    }
    return {ReportModel::State::failed, {}, fromStd(failure.what())};
  } catch (const std::exception& failure) {
    return {ReportModel::State::failed, {}, fromStd(failure.what())};
  }
}

// The sender takes the report by reference; this frame holds it until the upload is done.
asio::awaitable<std::string> upload(ReportSender& sender, OutgoingReport report) {
  co_return co_await sender.send(report);
}

}  // namespace

ReportModel::ReportModel(Reports& reports, asio::any_io_executor network, QObject* parent)
    : QObject(parent), reports_(reports), network_(std::move(network)) {}

QString ReportModel::appName() const { return fromStd(reports_.config().name); }

void ReportModel::setMessage(const QString& message) {
  if (message == message_) return;
  message_ = message;
  Q_EMIT changed();
}

void ReportModel::setEmail(const QString& email) {
  if (email == email_) return;
  email_ = email;
  Q_EMIT changed();
}

void ReportModel::setIncludeDetails(bool include) {
  if (include == includeDetails_) return;
  includeDetails_ = include;
  Q_EMIT changed();
}

void ReportModel::setShowDetails(bool show) {
  if (show == showDetails_) return;
  showDetails_ = show;
  Q_EMIT changed();
}

void ReportModel::attachCrash(const Crash& stored) {
  crash_ = AttachedCrash{"crash.json", stored.json};
  Q_EMIT changed();
}

std::optional<QString> ReportModel::attachCrashFile(const std::filesystem::path& file) {
  std::error_code error;
  std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error) return fromStd("The crash report can't be read: " + error.message());
  if (auto refusal = ReportComposer::refuseCrashOfSize(size)) return fromStd(*refusal);
  std::ifstream in(file, std::ios::binary);
  ferrytide::Bytes data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!in.eof() && in.fail()) return QStringLiteral("The crash report can't be read.");
  // Checked again on what was read: the file may have grown since its size was asked.
  if (auto refusal = ReportComposer::refuseCrashOfSize(data.size())) return fromStd(*refusal);
  crash_ = AttachedCrash{"crash.ips", std::move(data)};
  Q_EMIT changed();
  return std::nullopt;
}

void ReportModel::removeCrash() {
  crash_.reset();
  Q_EMIT changed();
}

ReportDraft ReportModel::draft() const {
  ReportDraft draft{.message = message_.trimmed().toStdString(),
                    .email = email_.trimmed().toStdString(),
                    .includeDetails = includeDetails_,
                    .crash = std::nullopt};
  if (crash_) draft.crash = ReportDraft::Crash{crash_->name, crash_->data};
  return draft;
}

QString ReportModel::preview() const {
  return fromStd(ReportComposer::preview(reports_.compose(draft())));
}

void ReportModel::send() {
  if (state_ == State::sending) return;
  OutgoingReport report = reports_.compose(draft());
  state_ = State::sending;
  failure_.clear();
  Q_EMIT changed();
  QPointer<ReportModel> self(this);
  asio::co_spawn(network_, upload(reports_.sender(), std::move(report)),
                 [self](std::exception_ptr error, std::string reference) {
                   Outcome outcome = outcomeOf(error, reference);
                   QMetaObject::invokeMethod(
                       QCoreApplication::instance(),
                       [self, outcome] {
                         if (self) self->finishSending(outcome.state, outcome.reference,
                                                       outcome.failure);
                       },
                       Qt::QueuedConnection);
                 });
}

void ReportModel::finishSending(State state, const QString& reference, const QString& failure) {
  state_ = state;
  reference_ = reference;
  failure_ = failure;
  Q_EMIT changed();
}

void ReportModel::showReceipt(const QString& reference) { finishSending(State::sent, reference, {}); }

void ReportModel::startOver() {
  message_.clear();
  email_.clear();
  includeDetails_ = true;
  showDetails_ = false;
  crash_.reset();
  reference_.clear();
  failure_.clear();
  state_ = State::editing;
  Q_EMIT changed();
}

}  // namespace plinth
