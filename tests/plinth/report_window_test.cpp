#include "plinth_reports/report_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QStyle>
#include <QTest>
#include <QToolButton>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <thread>

#include "plinth/app_presence.h"
#include "plinth/hosted_window.h"
#include "plinth/plinth_test_support.h"
#include "plinth_reports/report_model.h"
#include "plinth_reports/test_report_config.h"
#include "support/mock_http_server.h"
#include "support/temp_dir.h"

namespace plinth {
namespace {

using namespace std::chrono_literals;
using ferrytide::plinth::testing::processEventsUntil;
using ferrytide::plinth::testing::shoot;
using ferrytide::testing::MockHttpServer;
using State = ReportModel::State;

// The report window over the real reports and sender, with the network thread of its own.
struct ReportWindowTest : ::testing::Test {
  ferrytide::testing::TempDir dir;
  QSettings settings{QString::fromStdString((dir / "settings.ini").string()), QSettings::IniFormat};
  ferrytide::plinth::AppPresence presence;
  ferrytide::HttpClient http;
  asio::io_context network;
  asio::executor_work_guard<asio::io_context::executor_type> work{network.get_executor()};
  std::thread networkThread{[this] { network.run(); }};

  ~ReportWindowTest() override {
    work.reset();
    networkThread.join();
  }

  template <typename W>
  W* find(ReportWindow& window, const char* name) {
    W* widget = window.hosted().window()->findChild<W*>(QString::fromUtf8(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
};

TEST_F(ReportWindowTest, SendsAndShowsTheReferenceToCopy) {
  MockHttpServer server([](const MockHttpServer::Request&) {
    return MockHttpServer::Reply{.status = 201, .body = R"({"ref":"R-2041"})", .delay = 300ms};
  });
  Reports reports(testReportConfig(server.baseUrl(), dir.path()), http, "Qt");
  ReportModel model(reports, network.get_executor());
  ReportWindow window(model, presence, settings);
  window.show();
  EXPECT_EQ(window.hosted().window()->windowTitle(), QStringLiteral("Report a Problem"));
  EXPECT_TRUE(model.includeDetails());

  QTest::keyClicks(find<QPlainTextEdit>(window, "messageEdit"), QStringLiteral("It froze"));
  QTest::keyClicks(find<QLineEdit>(window, "emailEdit"), QStringLiteral("me@example.org"));
  find<QToolButton>(window, "showDetailsButton")->click();
  EXPECT_TRUE(model.showDetails());
  EXPECT_TRUE(find<QPlainTextEdit>(window, "previewView")->toPlainText().contains(QStringLiteral("It froze")));
  shoot(window.hosted().window(), QStringLiteral("report-editing"));

  find<QPushButton>(window, "sendButton")->click();
  EXPECT_EQ(model.state(), State::sending);
  EXPECT_FALSE(find<QPushButton>(window, "sendButton")->isEnabled());
  shoot(window.hosted().window(), QStringLiteral("report-sending"));

  ASSERT_TRUE(processEventsUntil([&] { return model.state() != State::sending; }, 10s));
  ASSERT_EQ(model.state(), State::sent) << model.failure().toStdString();
  EXPECT_TRUE(find<QLabel>(window, "sentTitle")->isVisible());
  EXPECT_EQ(find<QLabel>(window, "sentTitle")->text(), QStringLiteral("Sent to Ostrel"));
  EXPECT_EQ(find<QLabel>(window, "referenceLabel")->text(), QStringLiteral("R-2041"));
  find<QPushButton>(window, "copyReferenceButton")->click();
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("R-2041"));
  shoot(window.hosted().window(), QStringLiteral("report-sent"));

  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_NE(server.requests()[0].body.find("me@example.org"), std::string::npos);

  find<QPushButton>(window, "sentDoneButton")->click();
  EXPECT_FALSE(window.hosted().isOpen());
  EXPECT_EQ(model.state(), State::editing);
  EXPECT_TRUE(model.message().isEmpty());
}

TEST_F(ReportWindowTest, OfflineSaveAndRefusalsAreShown) {
  std::string deadUrl;
  {
    MockHttpServer gone([](const MockHttpServer::Request&) { return MockHttpServer::Reply{}; });
    deadUrl = gone.baseUrl();
  }
  Reports reports(testReportConfig(deadUrl, dir.path()), http, "Qt");
  ReportModel model(reports, network.get_executor());
  ReportWindow window(model, presence, settings);
  window.show();

  std::filesystem::path big = dir / "big.ips";
  ferrytide::testing::writeText(big, std::string(ReportComposer::maxCrashBytes + 1, 'x'));
  EXPECT_EQ(model.attachCrashFile(big),
            QStringLiteral("That crash report is too large to send (over 512 KB)."));
  ferrytide::testing::writeText(big, std::string(ReportComposer::maxCrashBytes, 'x'));
  EXPECT_EQ(model.attachCrashFile(big), std::nullopt);
  EXPECT_EQ(model.crash()->name, "crash.ips");

  find<QPushButton>(window, "sendButton")->click();
  ASSERT_TRUE(processEventsUntil([&] { return model.state() != State::sending; }, 10s));
  ASSERT_EQ(model.state(), State::savedOffline) << model.failure().toStdString();
  EXPECT_TRUE(find<QLabel>(window, "savedTitle")->isVisible());
  EXPECT_EQ(find<QLabel>(window, "savedTitle")->text(),
            QStringLiteral("Saved, it'll be sent when you're online"));
  EXPECT_EQ(find<QLabel>(window, "savedNotice")->text(),
            QStringLiteral("You're offline. Ferrytide sends the report the next time it opens "
                           "with a connection."));
  EXPECT_FALSE(std::filesystem::is_empty(dir / "outbox"));
  shoot(window.hosted().window(), QStringLiteral("report-offline"));
}

TEST_F(ReportWindowTest, UnconfiguredBuildFailsWithItsReason) {
  Reports reports(testReportConfig("", dir.path()), http, "Qt");
  ReportModel model(reports, network.get_executor());
  ReportWindow window(model, presence, settings);
  window.show();
  find<QPushButton>(window, "sendButton")->click();
  ASSERT_TRUE(processEventsUntil([&] { return model.state() != State::sending; }, 10s));
  EXPECT_EQ(model.state(), State::failed);
  EXPECT_EQ(find<QLabel>(window, "failureLabel")->text(),
            QStringLiteral("Reporting isn't set up in this build."));
  EXPECT_TRUE(find<QPushButton>(window, "sendButton")->isEnabled());
  shoot(window.hosted().window(), QStringLiteral("report-failed"));
}

// Only for the eye: the window's states under a dark palette.
TEST_F(ReportWindowTest, DarkPaletteShots) {
  if (qEnvironmentVariable("FERRYTIDE_PLINTH_SHOTS").isEmpty()) GTEST_SKIP();
  QPalette saved = QApplication::palette();
  QPalette dark = QApplication::style()->standardPalette();
  dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
  dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
  dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
  dark.setColor(QPalette::AlternateBase, QColor(0x33, 0x33, 0x33));
  dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
  dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3a));
  dark.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
  dark.setColor(QPalette::PlaceholderText, QColor(0xa0, 0xa0, 0xa0));
  QApplication::setPalette(dark);
  Reports reports(testReportConfig("", dir.path()), http, "Qt");
  ReportModel model(reports, network.get_executor());
  ReportWindow window(model, presence, settings);
  window.show();
  model.setShowDetails(true);
  shoot(window.hosted().window(), QStringLiteral("dark-report-editing"));
  model.showReceipt(QStringLiteral("R-1"));
  shoot(window.hosted().window(), QStringLiteral("dark-report-sent"));
  QApplication::setPalette(saved);
}

}  // namespace
}  // namespace plinth
