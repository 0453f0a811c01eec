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

std::string ratio(double value, double baseline, double target) {
  char text[96];
  std::snprintf(text, sizeof text, "%.2fx (target >= %.2fx) %s", value / baseline, target,
                value / baseline >= target ? "ok" : "BELOW TARGET");
  return text;
}

std::string referenceRatio(double value, double baseline) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2fx (reference)", value / baseline);
  return text;
}

}  // namespace ferrytide::bench
