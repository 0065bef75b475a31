// Statistics over timings: percentiles, ratios and the growth of upload time
// with size.
#include "bench.h"

#include <algorithm>
#include <cmath>

double bench_percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  if (p <= 0) return samples.front();
  if (p >= 100) return samples.back();
  // Nearest rank: the smallest sample with at least p percent at or below it.
  double rank = std::ceil(p / 100.0 * static_cast<double>(samples.size()));
  std::size_t index = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
  return samples[std::min(index, samples.size() - 1)];
}

double bench_median(const std::vector<double>& samples) {
  if (samples.empty()) return 0;
  std::vector<double> sorted = samples;
  std::sort(sorted.begin(), sorted.end());
  std::size_t n = sorted.size();
  return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

double bench_ratio(double a, double b) { return b > 0 ? a / b : 0; }

double bench_growth(const std::vector<double>& sizes, const std::vector<double>& seconds) {
  if (sizes.size() < 2 || sizes.size() != seconds.size()) return 0;
  double first = bench_ratio(seconds.front(), sizes.front());
  double last = bench_ratio(seconds.back(), sizes.back());
  return bench_ratio(last, first);
}

bool bench_grows(const std::vector<long long>& samplesKb, long long toleranceKb, int* grewIntervals) {
  int grew = 0;
  for (std::size_t i = 1; i < samplesKb.size(); ++i)
    if (samplesKb[i] > samplesKb[i - 1]) ++grew;
  if (grewIntervals) *grewIntervals = grew;
  if (samplesKb.size() < 2) return false;
  int intervals = static_cast<int>(samplesKb.size()) - 1;
  return samplesKb.back() - samplesKb.front() > toleranceKb && grew * 2 > intervals;
}
