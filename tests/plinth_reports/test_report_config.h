#pragma once

#include <filesystem>
#include <string>

#include "plinth_reports/report_config.h"

namespace plinth {

// A build's report settings as the tests use them; an empty `url` is a build without them.
inline ReportConfig testReportConfig(std::string url, std::filesystem::path folder) {
  return ReportConfig{.url = std::move(url),
                      .app = "ferrytide-test",
                      .key = "secret",
                      .name = "Ferrytide",
                      .version = "0.1.0",
                      .build = "7",
                      .folder = std::move(folder)};
}

}  // namespace plinth
