#include "plinth_reports/report_sender.h"

#include <gtest/gtest.h>

#include <asio.hpp>

#include "core/support/json.h"
#include "plinth_reports/test_report_config.h"
#include "support/failure_text.h"
#include "support/mock_http_server.h"
#include "support/temp_dir.h"

namespace plinth {
namespace {

using ferrytide::testing::failureText;
using ferrytide::testing::MockHttpServer;
using ferrytide::testing::TempDir;
using ferrytide::testing::writeText;

const auto kNow = std::chrono::system_clock::time_point(std::chrono::seconds(1733480000));

OutgoingReport sampleReport() {
  return OutgoingReport{{{"version", "0.1.0"}, {"kind", "problem"}},
                        {{"errors", "errors.log", ferrytide::toBytes("a\nb\n")}}};
}

class ReportSenderTest : public ::testing::Test {
 protected:
  ReportConfig config(const std::string& url) const { return testReportConfig(url, dir.path()); }
  // Runs the coroutine to its end on a loop of the test's own.
  template <typename T>
  std::pair<T, std::string> run(asio::awaitable<T> work) {
    asio::io_context io;
    std::optional<T> result;
    std::string failure;
    asio::co_spawn(io, std::move(work), [&](std::exception_ptr error, T value) {
      if (error)
        failure = failureText(error);
      else
        result = std::move(value);
    });
    io.run_for(std::chrono::seconds(30));
    return {result.value_or(T{}), failure};
  }
  std::size_t waitingFiles() const {
    return std::filesystem::exists(dir / "outbox") ? ferrytide::testing::entriesIn(dir / "outbox")
                                                   : 0;
  }

  TempDir dir;
  ferrytide::HttpClient http;
};

TEST_F(ReportSenderTest, BodyAndSignatureAreByteExact) {
  OutgoingReport report{{{"kind", "problem"}, {"a", "1"}}, {{"crash", "crash.json", {0x00, 0xff}}}};
  std::string expected =
      "--tovrin-B\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n"
      "--tovrin-B\r\nContent-Disposition: form-data; name=\"kind\"\r\n\r\nproblem\r\n"
      "--tovrin-B\r\nContent-Disposition: form-data; name=\"crash\"; filename=\"crash.json\"\r\n"
      "Content-Type: application/octet-stream\r\n\r\n" +
      std::string("\0\xff", 2) +
      "\r\n"
      "--tovrin-B--\r\n";
  EXPECT_EQ(ferrytide::toString(ReportSender::multipartBody(report, "tovrin-B")), expected);

  // Worked out independently of this code, over a one-field body.
  std::string body =
      "--tovrin-B\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--tovrin-B--\r\n";
  EXPECT_EQ(ReportSender::signature(ferrytide::asBytes(body), 1733480000, "secret"),
            "t=1733480000,v1=7eaa5b0e9f4b0c22d55fda14f26f066a2347545259e51c0bdd9d3a4242a46132");
  EXPECT_NE(ReportSender::signature(ferrytide::asBytes(body), 1733480001, "secret"),
            ReportSender::signature(ferrytide::asBytes(body), 1733480000, "secret"));
}

TEST_F(ReportSenderTest, AcceptedReportGivesTheReferenceAndARejectionItsText) {
  MockHttpServer server([](const MockHttpServer::Request& request) {
    if (request.body.find("name=\"kind\"\r\n\r\nbad") != std::string::npos) {
      return MockHttpServer::Reply{.status = 400, .body = "missing model"};
    }
    return MockHttpServer::Reply{.status = 201, .body = R"({"ref":"R-2041"})"};
  });
  ReportSender sender(config(server.baseUrl() + "/reports"), http, [] { return kNow; });
  auto [reference, failure] = run(sender.send(sampleReport()));
  EXPECT_EQ(failure, "");
  EXPECT_EQ(reference, "R-2041");

  MockHttpServer::Request request = server.requests().at(0);
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/reports");
  EXPECT_EQ(request.headers["x-report-app"], "ferrytide-test");
  std::string contentType = request.headers["content-type"];
  ASSERT_EQ(contentType.rfind("multipart/form-data; boundary=tovrin-", 0), 0u) << contentType;
  std::string boundary = contentType.substr(contentType.find('=') + 1);
  EXPECT_EQ(request.body,
            ferrytide::toString(ReportSender::multipartBody(sampleReport(), boundary)));
  EXPECT_EQ(request.headers["x-report-signature"],
            ReportSender::signature(ferrytide::asBytes(request.body), 1733480000, "secret"));

  OutgoingReport bad = sampleReport();
  bad.fields["kind"] = "bad";
  EXPECT_EQ(run(sender.send(bad)).second, "The report wasn't accepted (400): missing model");
  EXPECT_EQ(waitingFiles(), 0u);

  ReportSender unconfigured(config(""), http);
  EXPECT_EQ(run(unconfigured.send(sampleReport())).second, "Reporting isn't set up in this build.");
}

TEST_F(ReportSenderTest, OfflineReportWaitsAndIsSentOnceWhenTheServerTakesIt) {
  std::string closedPort;
  {
    MockHttpServer gone([](const MockHttpServer::Request&) { return MockHttpServer::Reply{}; });
    closedPort = gone.baseUrl();
  }
  ReportSender offline(config(closedPort), http);
  EXPECT_EQ(run(offline.send(sampleReport())).second,
            "You're offline. The report will be sent when you're back online.");
  ASSERT_EQ(waitingFiles(), 1u);
  writeText(dir / "outbox" / "0-damaged.json", "{\"fields\":");

  int status = 503;
  MockHttpServer server([&](const MockHttpServer::Request&) {
    return MockHttpServer::Reply{.status = status, .body = R"({"ref":"R-1"})"};
  });
  ReportSender sender(config(server.baseUrl()), http);
  EXPECT_EQ(run(sender.sendWaiting()).first, 0u);  // a server error keeps it
  EXPECT_TRUE(std::filesystem::exists(dir / "outbox" / "0-damaged.json.damaged"));
  EXPECT_EQ(waitingFiles(), 2u);  // the report and the damaged file set aside

  status = 201;
  EXPECT_EQ(run(sender.sendWaiting()).first, 1u);
  EXPECT_EQ(run(sender.sendWaiting()).first, 0u);
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_NE(server.requests().back().body.find("a\nb\n"), std::string::npos);
  EXPECT_EQ(waitingFiles(), 1u);
}

}  // namespace
}  // namespace plinth
