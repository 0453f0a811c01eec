#include "plinth_reports/report_config.h"

#include "core/support/paths.h"

#ifndef FERRYTIDE_REPORT_URL
#define FERRYTIDE_REPORT_URL ""
#endif
#ifndef FERRYTIDE_REPORT_APP
#define FERRYTIDE_REPORT_APP ""
#endif
#ifndef FERRYTIDE_REPORT_KEY
#define FERRYTIDE_REPORT_KEY ""
#endif
#ifndef FERRYTIDE_BUILD_NUMBER
#define FERRYTIDE_BUILD_NUMBER "0"
#endif

namespace plinth {

ReportConfig ReportConfig::fromBuild() {
  return ReportConfig{.url = FERRYTIDE_REPORT_URL,
                      .app = FERRYTIDE_REPORT_APP,
                      .key = FERRYTIDE_REPORT_KEY,
                      .name = "Ferrytide",
                      .version = FERRYTIDE_VERSION,
                      .build = FERRYTIDE_BUILD_NUMBER,
                      .folder = ferrytide::paths::applicationSupportDirectory() / "Reports"};
}

}  // namespace plinth
