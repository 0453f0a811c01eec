#include "plinth_reports/report_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "plinth/hosted_window.h"
#include "plinth_reports/report_model.h"

namespace plinth {
namespace {

using State = ReportModel::State;

template <typename W>
W* named(W* widget, const char* objectName, const QString& accessibleName) {
  widget->setObjectName(QString::fromUtf8(objectName));
  widget->setAccessibleName(accessibleName);
  return widget;
}

QLabel* wrapped(const QString& text, QWidget* parent, bool secondary = false) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  if (secondary) label->setForegroundRole(QPalette::PlaceholderText);
  return label;
}

QLabel* heading(const QString& text, QWidget* parent) {
  auto* label = wrapped(text, parent);
  QFont font = label->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * 1.3);
  label->setFont(font);
  return label;
}

// A red that reads on the palette's window colour, light or dark.
QColor errorColour(const QPalette& palette) {
  return palette.color(QPalette::Window).lightness() < 128 ? QColor(0xff, 0x7b, 0x72)
                                                           : QColor(0xb3, 0x26, 0x1e);
}

QLabel* symbol(const QString& themeName, QStyle::StandardPixmap fallback, QWidget* parent) {
  auto* label = new QLabel(parent);
  QIcon icon = QIcon::fromTheme(themeName, parent->style()->standardIcon(fallback));
  label->setPixmap(icon.pixmap(48, 48));
  label->setAlignment(Qt::AlignHCenter);
  return label;
}

// The content of the window: one page per kind of state.
class ReportView : public QWidget {
 public:
  ReportView(ReportModel& model, std::function<void()> closeWindow)
      : model_(model), closeWindow_(std::move(closeWindow)) {
    setObjectName(QStringLiteral("reportView"));
    pages_ = new QStackedWidget(this);
    pages_->addWidget(makeForm());
    pages_->addWidget(makeSent());
    pages_->addWidget(makeSavedOffline());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->addWidget(pages_);
    QObject::connect(&model_, &ReportModel::changed, this, [this] { refresh(); });
    refresh();
  }

 private:
  QWidget* makeForm() {
    auto* form = new QWidget(this);
    form->setObjectName(QStringLiteral("reportForm"));
    auto* column = new QVBoxLayout(form);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(heading(QStringLiteral("What went wrong?"), form));
    column->addWidget(wrapped(QStringLiteral("Tell us what happened and what you expected. "
                                             "Every report is read."),
                              form, true));

    message_ = named(new QPlainTextEdit(form), "messageEdit", QStringLiteral("What happened"));
    message_->setPlaceholderText(QStringLiteral("What happened?"));
    message_->setTabChangesFocus(true);
    QObject::connect(message_, &QPlainTextEdit::textChanged, this,
                     [this] { model_.setMessage(message_->toPlainText()); });
    column->addWidget(message_, 1);

    email_ = named(new QLineEdit(form), "emailEdit", QStringLiteral("Email"));
    email_->setPlaceholderText(QStringLiteral("Email (optional, for a reply)"));
    QObject::connect(email_, &QLineEdit::textChanged, this,
                     [this](const QString& text) { model_.setEmail(text); });
    column->addWidget(email_);

    column->addLayout(makeCrashRow(form));

    auto* detailsRow = new QHBoxLayout;
    includeDetails_ = named(new QCheckBox(QStringLiteral("Include technical details"), form),
                            "includeDetailsCheck", QStringLiteral("Include technical details"));
    QObject::connect(includeDetails_, &QCheckBox::toggled, this,
                     [this](bool on) { model_.setIncludeDetails(on); });
    showDetails_ = named(new QToolButton(form), "showDetailsButton", QStringLiteral("Show what's sent"));
    showDetails_->setText(QStringLiteral("Show what's sent"));
    showDetails_->setCheckable(true);
    showDetails_->setAutoRaise(true);
    showDetails_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    QObject::connect(showDetails_, &QToolButton::toggled, this,
                     [this](bool on) { model_.setShowDetails(on); });
    detailsRow->addWidget(includeDetails_);
    detailsRow->addStretch(1);
    detailsRow->addWidget(showDetails_);
    column->addLayout(detailsRow);

    preview_ = named(new QPlainTextEdit(form), "previewView", QStringLiteral("What is sent"));
    preview_->setReadOnly(true);
    preview_->setTabChangesFocus(true);
    column->addWidget(preview_, 1);

    failure_ = named(wrapped(QString(), form), "failureLabel", QStringLiteral("Why sending failed"));
    failure_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette failurePalette = failure_->palette();
    failurePalette.setColor(QPalette::WindowText, errorColour(failurePalette));
    failure_->setPalette(failurePalette);
    column->addWidget(failure_);

    auto* buttons = new QHBoxLayout;
    auto* cancel = named(new QPushButton(QStringLiteral("Cancel"), form), "cancelButton",
                         QStringLiteral("Cancel"));
    QObject::connect(cancel, &QPushButton::clicked, this, [this] { closeWindow_(); });
    send_ = named(new QPushButton(QStringLiteral("Send Report"), form), "sendButton",
                  QStringLiteral("Send Report"));
    send_->setDefault(true);
    QObject::connect(send_, &QPushButton::clicked, this, [this] { model_.send(); });
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(send_);
    column->addLayout(buttons);
    return form;
  }

  QHBoxLayout* makeCrashRow(QWidget* form) {
    auto* row = new QHBoxLayout;
    crashLabel_ = named(wrapped(QString(), form, true), "crashLabel", QStringLiteral("Crash report"));
    attach_ = named(new QPushButton(QStringLiteral("Attach Crash Report…"), form), "attachButton",
                    QStringLiteral("Attach Crash Report"));
    QObject::connect(attach_, &QPushButton::clicked, this, [this] { chooseCrash(); });
    remove_ = named(new QPushButton(QStringLiteral("Remove"), form), "removeCrashButton",
                    QStringLiteral("Remove crash report"));
    QObject::connect(remove_, &QPushButton::clicked, this, [this] { model_.removeCrash(); });
    row->addWidget(crashLabel_, 1);
    row->addWidget(attach_);
    row->addWidget(remove_);
    return row;
  }

  QWidget* makeSent() {
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("sentPage"));
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->addStretch(1);
    column->addWidget(symbol(QStringLiteral("emblem-ok-symbolic"), QStyle::SP_DialogApplyButton, page));
    QLabel* title = named(heading(QStringLiteral("Sent to Ostrel"), page), "sentTitle",
                          QStringLiteral("Sent to Ostrel"));
    title->setAlignment(Qt::AlignHCenter);
    column->addWidget(title);

    auto* referenceRow = new QHBoxLayout;
    reference_ = named(new QLabel(page), "referenceLabel", QStringLiteral("Reference"));
    reference_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* copy = named(new QPushButton(QStringLiteral("Copy reference"), page), "copyReferenceButton",
                       QStringLiteral("Copy reference"));
    QObject::connect(copy, &QPushButton::clicked, this,
                     [this] { QApplication::clipboard()->setText(model_.reference()); });
    referenceRow->addStretch(1);
    referenceRow->addWidget(reference_);
    referenceRow->addWidget(copy);
    referenceRow->addStretch(1);
    column->addLayout(referenceRow);

    QLabel* thanks = named(wrapped(QStringLiteral("Thanks for telling us. Every report is read; if "
                                                  "you left your email, you'll hear back there."),
                                   page, true),
                           "thanksLabel", QStringLiteral("Thanks"));
    thanks->setAlignment(Qt::AlignHCenter);
    column->addWidget(thanks);
    column->addStretch(1);
    column->addLayout(doneRow(page, "sentDoneButton"));
    return page;
  }

  QWidget* makeSavedOffline() {
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("savedPage"));
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->addStretch(1);
    column->addWidget(symbol(QStringLiteral("network-offline-symbolic"), QStyle::SP_MessageBoxInformation, page));
    QString titleText = QStringLiteral("Saved, it'll be sent when you're online");
    QLabel* title = named(heading(titleText, page), "savedTitle", titleText);
    title->setAlignment(Qt::AlignHCenter);
    column->addWidget(title);
    QString noticeText = QStringLiteral("You're offline. ") + model_.appName() +
                         QStringLiteral(" sends the report the next time it opens with a connection.");
    QLabel* notice = named(wrapped(noticeText, page, true), "savedNotice", noticeText);
    notice->setAlignment(Qt::AlignHCenter);
    column->addWidget(notice);
    column->addStretch(1);
    column->addLayout(doneRow(page, "savedDoneButton"));
    return page;
  }

  QHBoxLayout* doneRow(QWidget* page, const char* objectName) {
    auto* row = new QHBoxLayout;
    auto* done = named(new QPushButton(QStringLiteral("Done"), page), objectName, QStringLiteral("Done"));
    QObject::connect(done, &QPushButton::clicked, this, [this] {
      model_.startOver();
      closeWindow_();
    });
    row->addStretch(1);
    row->addWidget(done);
    return row;
  }

  void chooseCrash() {
    QString file = QFileDialog::getOpenFileName(
        this, QStringLiteral("Choose a Crash Report"), QDir::homePath(),
        QStringLiteral("Crash reports for ") + model_.appName() + QStringLiteral(" (*.ips *.json)"));
    if (file.isEmpty()) return;
    if (auto refusal = model_.attachCrashFile(file.toStdString())) crashRefusal_ = *refusal;
    else crashRefusal_.clear();
    refresh();
  }

  void refresh() {
    State state = model_.state();
    pages_->setCurrentIndex(state == State::sent ? 1 : state == State::savedOffline ? 2 : 0);
    bool editable = state != State::sending;
    // Only what the user cannot have typed is pushed back into the fields.
    if (message_->toPlainText() != model_.message()) message_->setPlainText(model_.message());
    if (email_->text() != model_.email()) email_->setText(model_.email());
    includeDetails_->setChecked(model_.includeDetails());
    showDetails_->setChecked(model_.showDetails());
    showDetails_->setArrowType(model_.showDetails() ? Qt::DownArrow : Qt::RightArrow);
    preview_->setVisible(model_.showDetails());
    if (model_.showDetails()) preview_->setPlainText(model_.preview());
    for (QWidget* field : {static_cast<QWidget*>(message_), static_cast<QWidget*>(email_),
                           static_cast<QWidget*>(includeDetails_), static_cast<QWidget*>(attach_),
                           static_cast<QWidget*>(remove_)}) {
      field->setEnabled(editable);
    }
    send_->setEnabled(editable);
    send_->setText(editable ? QStringLiteral("Send Report") : QStringLiteral("Sending…"));
    refreshCrash();
    QString failure = state == State::failed ? model_.failure() : crashRefusal_;
    failure_->setText(failure);
    failure_->setVisible(!failure.isEmpty());
    reference_->setText(model_.reference());
  }

  void refreshCrash() {
    const auto& crash = model_.crash();
    crashLabel_->setText(crash ? QStringLiteral("Crash report attached (") +
                                     QString::number((crash->data.size() + 1023) / 1024) +
                                     QStringLiteral(" KB)")
                               : QStringLiteral("No crash report attached"));
    attach_->setVisible(!crash);
    remove_->setVisible(crash.has_value());
  }

  ReportModel& model_;
  std::function<void()> closeWindow_;
  QStackedWidget* pages_ = nullptr;
  QPlainTextEdit* message_ = nullptr;
  QLineEdit* email_ = nullptr;
  QCheckBox* includeDetails_ = nullptr;
  QToolButton* showDetails_ = nullptr;
  QPlainTextEdit* preview_ = nullptr;
  QLabel* crashLabel_ = nullptr;
  QPushButton* attach_ = nullptr;
  QPushButton* remove_ = nullptr;
  QLabel* failure_ = nullptr;
  QPushButton* send_ = nullptr;
  QLabel* reference_ = nullptr;
  QString crashRefusal_;
};

}  // namespace

ReportWindow::ReportWindow(ReportModel& model, ferrytide::plinth::AppPresence& presence,
                           QSettings& settings)
    : model_(model) {
  window_ = std::make_unique<ferrytide::plinth::HostedWindow>(
      QSize(500, 460), QStringLiteral("report"), true,
      [this] { return new ReportView(model_, [this] { close(); }); }, presence, settings);
  window_->setTitle(title());
}

ReportWindow::~ReportWindow() = default;

void ReportWindow::show() { window_->show(); }

void ReportWindow::close() { window_->close(); }

}  // namespace plinth
