#include "plinth_reports/reports.h"

#include <gtest/gtest.h>

#include <asio.hpp>

#include "plinth_reports/test_report_config.h"
#include "support/mock_http_server.h"
#include "support/temp_dir.h"

namespace plinth {
namespace {

using ferrytide::testing::MockHttpServer;
using ferrytide::testing::TempDir;
using ferrytide::testing::writeText;

// A start finds the crash of the run before once, and sends what waited in the outbox.
TEST(ReportsTest, StartReportsEarlierCrashesOnceAndSendsWaitingReports) {
  TempDir dir;
  MockHttpServer server([](const MockHttpServer::Request&) {
    return MockHttpServer::Reply{.status = 201, .body = R"({"ref":"R-7"})"};
  });
  ReportConfig config = testReportConfig(server.baseUrl(), dir.path());
  writeText(dir / "outbox" / "A.json", OutgoingReport{{{"kind", "problem"}}, {}}.toJson().dump());
  writeText(dir / "crashes" / "pending" / "1733480000250-4242.crash",
            "ferrytide-crash 1\nsignal 6\nname SIGABRT\npid 4242\nversion 0.1.0\n"
            "time_epoch_ms " +
                std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count()) +
                "\nframe 0x1234\nmaps\nend\n");
  ferrytide::HttpClient http;
  asio::io_context network;
  for (int run = 0; run < 2; ++run) {
    Reports reports(config, http, "Qt");
    std::vector<std::string> crashes;
    reports.start([&](const Crash& crash) { crashes.push_back(ferrytide::toString(crash.json)); },
                  network.get_executor(), false);
    network.restart();
    network.run_for(std::chrono::seconds(30));
    if (run == 0) {
      ASSERT_EQ(crashes.size(), 1u);
      EXPECT_NE(crashes.front().find("\"signal_name\":\"SIGABRT\""), std::string::npos);
    } else {
      EXPECT_TRUE(crashes.empty());
    }
  }
  EXPECT_EQ(server.requests().size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(dir / "outbox" / "A.json"));
}

}  // namespace
}  // namespace plinth
