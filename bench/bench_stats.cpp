// Statistics over timings: percentiles, ratios, the growth of upload time
// with size, and bootstrap intervals of a ratio of medians.
#include "bench.h"

#include <algorithm>
#include <cmath>
#include <random>

double bench_percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    if (p <= 0)
        return samples.front();
    if (p >= 100)
        return samples.back();
    // Nearest rank: the smallest sample with at least p percent at or below it.
    double rank = std::ceil(p / 100.0 * static_cast<double>(samples.size()));
    std::size_t index = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
    return samples[std::min(index, samples.size() - 1)];
}

double bench_median(const std::vector<double>& samples)
{
    if (samples.empty())
        return 0;
    std::vector<double> sorted = samples;
    std::sort(sorted.begin(), sorted.end());
    std::size_t n = sorted.size();
    return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

double bench_ratio(double a, double b)
{
    return b > 0 ? a / b : 0;
}

double bench_growth(const std::vector<double>& sizes, const std::vector<double>& seconds)
{
    if (sizes.size() < 2 || sizes.size() != seconds.size())
        return 0;
    double first = bench_ratio(seconds.front(), sizes.front());
    double last = bench_ratio(seconds.back(), sizes.back());
    return bench_ratio(last, first);
}

bool bench_grows(const std::vector<long long>& samplesKb, long long toleranceKb, int* grewIntervals)
{
    int grew = 0;
    for (std::size_t i = 1; i < samplesKb.size(); ++i)
        if (samplesKb[i] > samplesKb[i - 1])
            ++grew;
    if (grewIntervals)
        *grewIntervals = grew;
    if (samplesKb.size() < 2)
        return false;
    int intervals = static_cast<int>(samplesKb.size()) - 1;
    return samplesKb.back() - samplesKb.front() > toleranceKb && grew * 2 > intervals;
}

namespace {

// The median of values, which it reorders; as bench_median.
double bench_medianInPlace(std::vector<double>& values)
{
    std::size_t n = values.size();
    if (n == 0)
        return 0;
    auto middle = values.begin() + static_cast<std::ptrdiff_t>(n / 2);
    std::nth_element(values.begin(), middle, values.end());
    double upper = *middle;
    if (n % 2)
        return upper;
    return (*std::max_element(values.begin(), middle) + upper) / 2;
}

// The interval's ends from the resampled statistics (nearest rank).
bench_interval bench_percentileInterval(std::vector<double>& statistics, double confidence)
{
    bench_interval interval;
    if (statistics.empty())
        return interval;
    double tail = (1 - confidence) / 2 * 100;
    interval.low = bench_percentile(statistics, tail);
    interval.high = bench_percentile(statistics, 100 - tail);
    return interval;
}

// The index below n from the generator's raw output: the same on every
// platform (the standard's distributions are not).
std::size_t bench_draw(std::mt19937& random, std::size_t n)
{
    return static_cast<std::size_t>(random() % n);
}

} // namespace

std::vector<double> bench_roundRatios(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> ratios;
    if (a.size() != b.size())
        return ratios;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (b[i] > 0)
            ratios.push_back(a[i] / b[i]);
    return ratios;
}

double bench_pairedRatio(const std::vector<double>& a, const std::vector<double>& b)
{
    return bench_median(bench_roundRatios(a, b));
}

bench_interval bench_pairedInterval(const std::vector<double>& a, const std::vector<double>& b, int block,
                                    double confidence, int resamples, unsigned seed)
{
    if (block < 1)
        return bench_interval();
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < a.size(); i += static_cast<std::size_t>(block))
        starts.push_back(i);
    return bench_pairedIntervalOfBlocks(a, b, starts, confidence, resamples, seed);
}

bench_interval bench_pairedIntervalOfBlocks(const std::vector<double>& a, const std::vector<double>& b,
                                            const std::vector<std::size_t>& starts, double confidence, int resamples,
                                            unsigned seed)
{
    if (a.empty() || a.size() != b.size() || resamples < 1 || starts.empty() || starts[0] != 0)
        return bench_interval();
    for (std::size_t k = 1; k < starts.size(); ++k)
        if (starts[k] <= starts[k - 1] || starts[k] >= a.size())
            return bench_interval();
    std::vector<double> ratios = bench_roundRatios(a, b);
    if (ratios.size() != a.size())
        return bench_interval();
    const std::size_t blocks = starts.size();
    std::mt19937 random(seed);
    std::vector<double> statistics, x;
    statistics.reserve(static_cast<std::size_t>(resamples));
    for (int r = 0; r < resamples; ++r) {
        x.clear();
        for (std::size_t k = 0; k < blocks; ++k) {
            std::size_t pick = bench_draw(random, blocks);
            std::size_t end = pick + 1 < blocks ? starts[pick + 1] : ratios.size();
            x.insert(x.end(), ratios.begin() + static_cast<std::ptrdiff_t>(starts[pick]),
                     ratios.begin() + static_cast<std::ptrdiff_t>(end));
        }
        statistics.push_back(bench_medianInPlace(x));
    }
    return bench_percentileInterval(statistics, confidence);
}
