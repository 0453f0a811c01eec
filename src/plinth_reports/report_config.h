#pragma once

#include <filesystem>
#include <string>

namespace plinth {

// Where problem reports go and who sends them. The endpoint, the application's name there and
// the signing key are settings of the build (FERRYTIDE_REPORT_URL, FERRYTIDE_REPORT_APP,
// FERRYTIDE_REPORT_KEY); a build without them cannot upload.
struct ReportConfig {
  std::string url;
  std::string app;
  std::string key;
  std::string name = "Ferrytide";
  std::string version;
  std::string build;
  // The report folder: the diary, the crash store and the outbox live here.
  std::filesystem::path folder;

  bool isComplete() const { return !url.empty() && !app.empty() && !key.empty(); }

  // This build's settings; the folder is <data home>/Ferrytide/Reports.
  static ReportConfig fromBuild();
};

}  // namespace plinth
