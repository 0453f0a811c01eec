#pragma once

// Repeated measurements: one unmeasured warm-up, then the median, minimum and maximum of the
// measured runs. The machines are shared and noisy, so single figures mean little.

#include <functional>
#include <string>
#include <vector>

namespace ferrytide::bench {

struct Summary {
  double median = 0;
  double min = 0;
  double max = 0;
};

// Calls `run` once to warm up, then `runs` times; each call returns a rate (higher is better).
Summary measure(int runs, const std::function<double()>& run);

std::string formatRate(const Summary& summary, double unit, const char* unitName);

// "0.93x (target >= 0.90x) ok", or "... BELOW TARGET".
std::string ratio(double value, double baseline, double target);
// "0.55x (reference)": a comparison without a target.
std::string referenceRatio(double value, double baseline);

}  // namespace ferrytide::bench
