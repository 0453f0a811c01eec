#include "menu/windows/settings_about_page.h"

#include <QDesktopServices>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>
#include <array>

#include "menu/design_system/theme.h"
#include "menu/tray/app_router.h"

namespace ferrytide::menu {
namespace {

struct Acknowledgement {
  const char* library;
  const char* use;
  const char* licence;
};

constexpr std::array<Acknowledgement, 9> kAcknowledgements{{
    {"Qt", "windows, tray and settings", "LGPL 3.0"},
    {"OpenSSL", "encryption", "Apache License 2.0"},
    {"Asio", "networking", "Boost Software License 1.0"},
    {"nlohmann/json", "JSON", "MIT License"},
    {"libcurl", "web requests", "curl License"},
    {"libqrencode", "pairing codes", "LGPL 2.1"},
    {"libpng", "images", "PNG Reference Library License 2"},
    {"zbar", "reading codes", "LGPL 2.1"},
    {"Avahi", "finding phones on the network", "LGPL 2.1"},
}};

QPushButton* button(const QString& text, const char* name, QWidget* parent) {
  auto* made = new QPushButton(text, parent);
  made->setObjectName(QLatin1String(name));
  made->setAccessibleName(text);
  return made;
}

}  // namespace

SettingsAboutPage::SettingsAboutPage(AppRouter& router, QWidget* parent)
    : QWidget(parent), router_(router) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(16);
  column->addWidget(makeHeader());
  column->addWidget(makeActions());
  acknowledgements_ = makeAcknowledgements();
  column->addWidget(acknowledgements_);
  column->addStretch(1);
  setAcknowledgementsShown(false);
}

QWidget* SettingsAboutPage::makeHeader() {
  QFrame* card = theme::card(this);
  auto* row = new QHBoxLayout(card);
  row->setContentsMargins(20, 18, 20, 18);
  row->setSpacing(18);
  auto* logo = new QLabel(card);
  logo->setObjectName(QStringLiteral("aboutLogo"));
  logo->setAccessibleName(QStringLiteral("Ferrytide logo"));
  logo->setPixmap(theme::logo().pixmap(72, 72));
  row->addWidget(logo, 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  texts->setSpacing(4);
  QLabel* name = theme::title(QStringLiteral("Ferrytide"), card);
  name->setObjectName(QStringLiteral("aboutName"));
  QLabel* promise = theme::headline(QStringLiteral("Tap Share. It lands."), card);
  promise->setObjectName(QStringLiteral("aboutPromise"));
  QLabel* maker = theme::caption(
      QStringLiteral("Made by Quenfold, a small studio. No accounts, no analytics."), card);
  maker->setObjectName(QStringLiteral("aboutMaker"));
  texts->addWidget(name);
  texts->addWidget(promise);
  texts->addWidget(maker);
  texts->addStretch(1);
  row->addLayout(texts, 1);
  return card;
}

QWidget* SettingsAboutPage::makeActions() {
  auto* holder = new QWidget(this);
  auto* row = new QHBoxLayout(holder);
  row->setContentsMargins(0, 0, 0, 0);
  QString site = QString::fromLatin1(makerSite);
  QPushButton* website = button(QUrl(site).host(), "websiteButton", holder);
  website->setAccessibleName(QStringLiteral("Open the maker's web site"));
  website->setToolTip(site);
  website->setIcon(QIcon::fromTheme(QStringLiteral("web-browser")));
  connect(website, &QPushButton::clicked, this, [site] { QDesktopServices::openUrl(QUrl(site)); });
  QPushButton* report = button(QStringLiteral("Report a Problem"), "reportProblemButton", holder);
  connect(report, &QPushButton::clicked, this, [this] { router_.showReport(); });
  acknowledgementsButton_ =
      button(QStringLiteral("Acknowledgements"), "acknowledgementsButton", holder);
  acknowledgementsButton_->setCheckable(true);
  connect(acknowledgementsButton_, &QPushButton::toggled, this,
          &SettingsAboutPage::setAcknowledgementsShown);
  row->addWidget(website);
  row->addWidget(report);
  row->addWidget(acknowledgementsButton_);
  row->addStretch(1);
  return holder;
}

QFrame* SettingsAboutPage::makeAcknowledgements() {
  QFrame* card = theme::card(this);
  card->setObjectName(QStringLiteral("acknowledgements"));
  card->setAccessibleName(QStringLiteral("Acknowledgements"));
  auto* grid = new QGridLayout(card);
  grid->setContentsMargins(18, 14, 18, 14);
  grid->setHorizontalSpacing(18);
  grid->setVerticalSpacing(6);
  QLabel* intro = theme::caption(
      QStringLiteral("Ferrytide is built with these libraries. Thank you to their authors."),
      card);
  grid->addWidget(intro, 0, 0, 1, 3);
  int line = 1;
  for (const Acknowledgement& entry : kAcknowledgements) {
    grid->addWidget(theme::headline(QString::fromUtf8(entry.library), card), line, 0);
    grid->addWidget(theme::caption(QString::fromUtf8(entry.use), card), line, 1);
    grid->addWidget(theme::caption(QString::fromUtf8(entry.licence), card), line, 2);
    ++line;
  }
  grid->setColumnStretch(1, 1);
  return card;
}

void SettingsAboutPage::setAcknowledgementsShown(bool shown) {
  acknowledgements_->setVisible(shown);
  QSignalBlocker quiet(acknowledgementsButton_);
  acknowledgementsButton_->setChecked(shown);
}

}  // namespace ferrytide::menu
