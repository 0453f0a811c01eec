#include "bench_stats.h"

#include <algorithm>
#include <cstdio>

namespace ferrytide::bench {

Summary measure(int runs, const std::function<double()>& run) {
  run();  // warm-up: first-touch page faults and cold caches are not what we measure
  std::vector<double> rates;
  for (int i = 0; i < runs; ++i) rates.push_back(run());
  std::sort(rates.begin(), rates.end());
  return Summary{rates[rates.size() / 2], rates.front(), rates.back()};
}

std::string formatRate(const Summary& summary, double unit, const char* unitName) {
  char text[128];
  std::snprintf(text, sizeof text, "%8.1f %s (min %.1f, max %.1f)", summary.median / unit,
                unitName, summary.min / unit, summary.max / unit);
  return text;
}

}  // namespace ferrytide::bench
