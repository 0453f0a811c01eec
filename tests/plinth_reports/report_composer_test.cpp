#include "plinth_reports/report_composer.h"

#include <gtest/gtest.h>

#include "core/support/json.h"
#include "plinth_reports/test_report_config.h"
#include "support/temp_dir.h"

namespace plinth {
namespace {

using ferrytide::testing::TempDir;

ReportDraft noDetails() {
  ReportDraft draft;
  draft.includeDetails = false;
  return draft;
}

class ReportComposerTest : public ::testing::Test {
 protected:
  TempDir dir;
  ReportConfig config = testReportConfig("", dir.path());
  SystemFacts facts{"Debian GNU/Linux 12 (kernel 6.1; KDE, wayland; Qt 6.4.2)", "Framework Laptop"};
  Diary diary{dir.path(), [] {
                return std::chrono::system_clock::time_point(std::chrono::seconds(1733480000));
              }};
};

TEST_F(ReportComposerTest, FixedFieldsAlwaysAndDetailsOnlyWhenIncluded) {
  diary.startRun();
  diary.note("Received a file");
  diary.log("Couldn't reach Pixel", true, Diary::Level::error);

  OutgoingReport bare =
      ReportComposer::compose(noDetails(), config, facts, diary, {{"askBeforeReceiving", "false"}});
  EXPECT_EQ(bare.fields, (std::map<std::string, std::string>{{"version", "0.1.0"},
                                                             {"build", "7"},
                                                             {"os", facts.os},
                                                             {"model", "Framework Laptop"},
                                                             {"kind", "problem"}}));
  EXPECT_TRUE(bare.files.empty());
  EXPECT_TRUE(ReportComposer::preview(bare).ends_with("\n\nNo technical details."));

  ReportDraft draft{.message = "It stopped",
                    .email = "ada@example.org",
                    .includeDetails = true,
                    .crash = ReportDraft::Crash{"crash.json", ferrytide::toBytes("{}")}};
  OutgoingReport full =
      ReportComposer::compose(draft, config, facts, diary, {{"askBeforeReceiving", "false"}});
  EXPECT_EQ(full.fields.at("kind"), "crash");
  EXPECT_EQ(full.fields.at("message"), "It stopped");
  EXPECT_EQ(full.fields.at("email"), "ada@example.org");
  ferrytide::json::Value details = ferrytide::json::parse(full.fields.at("details"));
  EXPECT_EQ(details["settings"]["askBeforeReceiving"], "false");
  EXPECT_EQ(details["lastError"]["text"], "Couldn't reach Pixel");
  EXPECT_EQ(details["lastError"]["at"], "2024-12-06T10:13:20Z");
  ASSERT_EQ(full.files.size(), 2u);
  EXPECT_EQ(full.files[0].part, "crash");
  EXPECT_EQ(full.files[1].filename, "errors.log");
  EXPECT_NE(ferrytide::toString(full.files[1].data).find("error Couldn't reach Pixel"),
            std::string::npos);
  EXPECT_NE(ReportComposer::preview(full).find("Attached: errors.log"), std::string::npos);

  EXPECT_FALSE(ReportComposer::refuseCrashOfSize(524288));
  EXPECT_EQ(ReportComposer::refuseCrashOfSize(524289),
            "That crash report is too large to send (over 512 KB).");
}

}  // namespace
}  // namespace plinth
