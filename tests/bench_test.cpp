// The benchmark's own parts: percentiles and growth, the confidence
// intervals and the verdicts drawn from them, the report, and the floor client, which must put exactly the captured bytes on
// the wire and read the whole answer.
#include "bench.h"
#include "sim_client.h"
#include "sim_server.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

struct PercentileCase {
    std::vector<double> samples;
    double p;
    double expected;
};

TEST(BenchStats, PercentileIsTheNearestRankOfTheSortedSamples)
{
    std::vector<double> hundred, twoHundred;
    for (int i = 100; i >= 1; --i)
        hundred.push_back(i); // descending: must be sorted first
    for (int i = 1; i <= 200; ++i)
        twoHundred.push_back(i);
    const PercentileCase cases[] = {
        { hundred, 99, 99 }, { hundred, 100, 100 },     { hundred, 50, 50 },
        { hundred, 0, 1 },   { twoHundred, 99, 198 },   { twoHundred, 99.5, 199 },
        { { 7 }, 99, 7 },    { { 3, 1, 2, 4 }, 50, 2 }, { {}, 99, 0 },
    };
    for (const PercentileCase& c : cases)
        EXPECT_EQ(bench_percentile(c.samples, c.p), c.expected) << "p" << c.p << " of " << c.samples.size();
}

TEST(BenchStats, MedianAveragesTheMiddlePairOfAnEvenCount)
{
    EXPECT_EQ(bench_median({ 5, 1, 3 }), 3);
    EXPECT_EQ(bench_median({ 4, 1, 3, 2 }), 2.5);
    EXPECT_EQ(bench_median({}), 0);
}

TEST(BenchStats, RatioWithoutAPositiveBaseIsZero)
{
    EXPECT_EQ(bench_ratio(3, 2), 1.5);
    EXPECT_EQ(bench_ratio(3, 0), 0);
    EXPECT_EQ(bench_ratio(3, -1), 0);
}

TEST(BenchStats, GrowthTellsLinearFromFixedCostsAndFromSuperlinear)
{
    const std::vector<double> sizes = { 1, 5, 10 };
    EXPECT_DOUBLE_EQ(bench_growth(sizes, { 0.1, 0.5, 1.0 }), 1.0);    // linear
    EXPECT_LT(bench_growth(sizes, { 0.13, 0.53, 1.03 }), 1.0);        // a fixed cost on top
    EXPECT_DOUBLE_EQ(bench_growth(sizes, { 0.01, 0.25, 1.0 }), 10.0); // quadratic
    EXPECT_EQ(bench_growth({ 1 }, { 0.1 }), 0);                       // nothing to compare
    EXPECT_EQ(bench_growth(sizes, { 0.1, 0.5 }), 0);                  // sizes and times disagree
}

TEST(BenchStats, GrowthOfResidentMemoryCountsAsALeakOnlyWhenSteadyAndBeyondTolerance)
{
    struct Case {
        std::vector<long long> samples;
        bool leaks;
        int grew;
    };
    const Case cases[] = {
        { { 100, 100, 100, 100, 100 }, false, 0 },
        { { 100, 120, 140, 160, 180 }, true, 4 },  // steady, 80 KB in all
        { { 100, 120, 140, 160, 160 }, false, 3 }, // steady but within 64 KB
        { { 100, 100, 256, 256, 256 }, false, 1 }, // one step, e.g. a new thread stack
        { { 100, 90, 160, 200, 250 }, true, 3 },   // a dip does not hide a trend
        { { 100 }, false, 0 },
        { {}, false, 0 },
    };
    for (const Case& c : cases) {
        int grew = -1;
        EXPECT_EQ(bench_grows(c.samples, 64, &grew), c.leaks) << c.samples.size() << " samples";
        EXPECT_EQ(grew, c.grew);
    }
}

bench_interval interval(double low, double high)
{
    bench_interval i;
    i.low = low;
    i.high = high;
    return i;
}

// Rounds of a call and its floor: the floor about 1 ms, the call ratio times
// that, each with its own jitter of up to +-jitter; fixed by the seed.
void pairedRounds(int rounds, double ratio, double jitter, unsigned seed, std::vector<double>* call,
                  std::vector<double>* floor)
{
    std::mt19937 random(seed);
    auto noise = [&] { return 1 + jitter * (2.0 * random() / 4294967295.0 - 1); };
    for (int i = 0; i < rounds; ++i) {
        double base = 1.0 * noise();
        floor->push_back(base);
        call->push_back(ratio * base * noise());
    }
}

TEST(BenchConfidence, PairedRatioIsTheMedianOfTheRoundsOwnRatios)
{
    // Rounds 2 and 4 met a load that slowed call and floor alike: their own
    // ratios stay small, while the ratio of the medians (2.09) mixes loads.
    EXPECT_DOUBLE_EQ(bench_pairedRatio({ 3, 20, 1.4, 50 }, { 1, 10, 1, 40 }), 1.7);
    EXPECT_DOUBLE_EQ(bench_pairedRatio({ 3, 2, 6 }, { 1, 1, 2 }), 3);
    EXPECT_EQ(bench_pairedRatio({ 3, 2 }, { 1 }), 0);
    EXPECT_EQ(bench_pairedRatio({}, {}), 0);
}

TEST(BenchConfidence, IntervalOfAnExactRatioIsThatRatio)
{
    std::vector<double> call, floor;
    for (int i = 0; i < 100; ++i) {
        floor.push_back(0.5 + i % 7);
        call.push_back(2 * floor.back());
    }
    bench_interval paired = bench_pairedInterval(call, floor, 20);
    EXPECT_DOUBLE_EQ(paired.low, 2);
    EXPECT_DOUBLE_EQ(paired.high, 2);
}

TEST(BenchConfidence, SameSamplesGiveTheSameIntervalEveryTime)
{
    std::vector<double> call, floor;
    pairedRounds(200, 1.3, 0.3, 1, &call, &floor);
    bench_interval first = bench_pairedInterval(call, floor, 20);
    bench_interval again = bench_pairedInterval(call, floor, 20);
    EXPECT_EQ(first.low, again.low);
    EXPECT_EQ(first.high, again.high);
    // Pinned, so that a change of the resampling (or a platform whose random
    // numbers differ) shows; the bounds are medians of resampled round ratios.
    EXPECT_NEAR(first.low, 1.235983, 1e-6);
    EXPECT_NEAR(first.high, 1.326090, 1e-6);
    double ratio = bench_pairedRatio(call, floor);
    EXPECT_NEAR(ratio, 1.2753, 1e-4);
    EXPECT_LT(first.low, ratio);
    EXPECT_GT(first.high, ratio);
}

TEST(BenchConfidence, MoreRoundsNarrowTheInterval)
{
    std::vector<double> call, floor;
    pairedRounds(1000, 1.3, 0.3, 2, &call, &floor);
    bench_interval all = bench_pairedInterval(call, floor, 20);
    call.resize(200);
    floor.resize(200);
    bench_interval some = bench_pairedInterval(call, floor, 20);
    EXPECT_LT(all.high - all.low, 0.7 * (some.high - some.low));
}

TEST(BenchConfidence, SpellsOfLoadWidenTheIntervalOfBlocks)
{
    // The call suffers from load in spells of 20 rounds, one spell in four:
    // resampled round by round, the spells pass for independent noise.
    std::mt19937 random(4);
    std::vector<double> call, floor;
    for (int i = 0; i < 400; ++i) {
        floor.push_back(1.0);
        call.push_back(((i / 20) % 4 == 0 ? 1.6 : 1.2) * (1 + 0.2 * random() / 4294967295.0));
    }
    bench_interval rounds = bench_pairedInterval(call, floor, 1);
    bench_interval blocks = bench_pairedInterval(call, floor, 20);
    EXPECT_GT(blocks.high - blocks.low, 2 * (rounds.high - rounds.low));
}

TEST(BenchConfidence, NoIntervalWithoutMatchingSamples)
{
    const std::vector<double> three = { 1, 2, 3 }, two = { 1, 2 }, none;
    const bench_interval cases[] = {
        bench_pairedInterval(three, two, 1),
        bench_pairedInterval(none, none, 1),
        bench_pairedInterval(three, three, 0),
        bench_pairedInterval(three, { 1, 0, 1 }, 1),
    };
    for (const bench_interval& c : cases)
        EXPECT_LT(c.high, c.low);
}

TEST(BenchVerdict, IntervalAgainstTheLimitDecides)
{
    struct Case {
        double low, high;
        bench_verdict expected;
    };
    const Case cases[] = {
        { 1.20, 1.40, BENCH_PASS },  { 1.40, 1.50, BENCH_PASS },  // at the limit is within it
        { 1.45, 1.60, BENCH_NOISE }, { 1.50, 1.60, BENCH_NOISE }, // its low end on the limit
        { 1.00, 2.00, BENCH_NOISE }, { 1.51, 1.60, BENCH_MISS },  { 1.60, 1.50, BENCH_NOT_MEASURED },
    };
    for (const Case& c : cases)
        EXPECT_EQ(bench_decide(interval(c.low, c.high), 1.5), c.expected) << c.low << "-" << c.high;
}

TEST(BenchVerdict, MarginForTheDriftBetweenRunsWidensTheIntervalOnBothSides)
{
    struct Case {
        double low, high, margin;
        bench_verdict expected;
    };
    const Case cases[] = {
        { 1.20, 1.30, 0.10, BENCH_PASS },  // 1.43 at the top: still below 1.5
        { 1.20, 1.40, 0.10, BENCH_NOISE }, // 1.54 at the top
        { 1.40, 1.45, 0.00, BENCH_PASS },  // no margin: the interval alone
        { 1.60, 1.70, 0.10, BENCH_NOISE }, // 1.455 at the bottom
        { 1.70, 1.80, 0.10, BENCH_MISS },  // 1.545 at the bottom
        { 1.00, 1.20, 0.20, BENCH_PASS },  // 1.44 at the top
    };
    for (const Case& c : cases) {
        bench_row row;
        row.samples = 200;
        row.ratio = (c.low + c.high) / 2;
        row.interval = interval(c.low, c.high);
        row.limit = 1.5;
        row.margin = c.margin;
        EXPECT_EQ(bench_judge(row), c.expected) << c.low << "-" << c.high << " margin " << c.margin;
    }
    bench_interval none = bench_widen(bench_interval(), 0.5);
    EXPECT_LT(none.high, none.low);
}

TEST(BenchVerdict, NoMoreRoundsWhenTheRatioItselfLiesWithinTheMarginOfTheLimit)
{
    struct Case {
        double ratio;
        bool decidable;
    };
    const Case cases[] = { { 1.20, true }, { 1.40, false }, { 1.50, false }, { 1.64, false }, { 1.70, true } };
    for (const Case& c : cases) {
        bench_row row;
        row.samples = 200;
        row.ratio = c.ratio;
        row.interval = interval(c.ratio - 0.3, c.ratio + 0.3);
        row.limit = 1.5;
        row.margin = 0.10;
        EXPECT_EQ(bench_decidable(row), c.decidable) << c.ratio;
    }
}

TEST(BenchVerdict, RowNeedsSamplesAndNoFailuresAndWithoutIntervalItsRatioDecides)
{
    struct Case {
        int samples, failures;
        double ratio;
        bench_interval interval;
        bench_verdict expected;
    };
    const bench_interval none;
    const Case cases[] = {
        { 200, 0, 1.30, interval(1.2, 1.4), BENCH_PASS },
        { 200, 0, 1.45, interval(1.4, 1.6), BENCH_NOISE },
        { 200, 0, 1.70, interval(1.6, 1.8), BENCH_MISS },
        { 200, 1, 1.00, interval(0.9, 1.1), BENCH_MISS },
        { 200, 0, 1.50, none, BENCH_PASS },
        { 200, 0, 1.51, none, BENCH_MISS },
        { 0, 0, 0, none, BENCH_NOT_MEASURED },
    };
    for (const Case& c : cases) {
        bench_row row;
        row.samples = c.samples;
        row.failures = c.failures;
        row.ratio = c.ratio;
        row.interval = c.interval;
        row.limit = 1.5;
        EXPECT_EQ(bench_judge(row), c.expected) << c.samples << " " << c.failures << " " << c.ratio;
    }
}

TEST(BenchVerdict, MoreRoundsOnlyWhileWithinNoiseAndUpToTheBound)
{
    struct Case {
        bench_verdict verdict;
        int taken, expected;
    };
    const Case cases[] = {
        { BENCH_NOISE, 200, 200 }, { BENCH_NOISE, 900, 100 }, { BENCH_NOISE, 1000, 0 },
        { BENCH_PASS, 200, 0 },    { BENCH_MISS, 200, 0 },    { BENCH_NOT_MEASURED, 200, 0 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(bench_moreRounds(c.verdict, c.taken, 200, 1000), c.expected) << c.verdict << " " << c.taken;
}

// Takes rounds of the fixed samples as the benchmark does: 200, then 200
// more while within noise, at most 1000.
bench_row settle(const std::vector<double>& call, const std::vector<double>& floor, std::vector<bench_verdict>* seen)
{
    bench_row row;
    row.limit = 1.5;
    int taken = 200;
    for (;;) {
        std::vector<double> c(call.begin(), call.begin() + taken), f(floor.begin(), floor.begin() + taken);
        row.samples = taken;
        row.ratio = bench_pairedRatio(c, f);
        row.interval = bench_pairedInterval(c, f, 20);
        row.verdict = bench_judge(row);
        seen->push_back(row.verdict);
        int more = bench_moreRounds(row.verdict, taken, 200, 1000);
        if (!more)
            return row;
        taken += more;
    }
}

TEST(BenchVerdict, MoreRoundsTurnACloseCallIntoAVerdictOrEndWithinNoiseAtTheBound)
{
    struct Case {
        double ratio;
        unsigned seed;
        bench_verdict expected;
        int rounds;
    };
    // Each starts with an interval that holds 1.5: one falls below it after
    // 600 rounds, one above it, and one holds it still at the bound.
    const Case cases[] = { { 1.46, 2, BENCH_PASS, 600 }, { 1.56, 4, BENCH_MISS, 600 }, { 1.54, 1, BENCH_NOISE, 1000 } };
    for (const Case& c : cases) {
        std::vector<double> call, floor;
        pairedRounds(1000, c.ratio, 0.3, c.seed, &call, &floor);
        std::vector<bench_verdict> seen;
        bench_row row = settle(call, floor, &seen);
        EXPECT_EQ(seen.front(), BENCH_NOISE) << c.ratio;
        EXPECT_EQ(row.verdict, c.expected) << c.ratio;
        EXPECT_EQ(row.samples, c.rounds) << c.ratio;
    }
}

bench_report oneRowReport(double median, double floorMedian, double limit)
{
    bench_report report;
    report.platform = "native";
    bench_row row;
    row.name = "setValue";
    row.unit = "ms";
    row.samples = 200;
    row.median = median;
    row.p99 = 2 * median;
    row.floorMedian = floorMedian;
    row.floorP99 = 2 * floorMedian;
    row.ratio = bench_ratio(median, floorMedian);
    row.interval = interval(0.95 * row.ratio, 1.05 * row.ratio);
    row.limit = limit;
    row.note = "1 exchange";
    row.verdict = bench_judge(row);
    report.rows.push_back(row);
    return report;
}

TEST(BenchReport, TableRowShowsFiguresIntervalVerdictAndByHowMuchATargetIsMissed)
{
    EXPECT_EQ(
        bench_table(oneRowReport(0.3, 0.1, 1.5), false),
        "| native | setValue | 200 | 0.300 ms | 0.600 ms | 0.100 ms | 0.200 ms | 3.00x | 2.85-3.15x | <= 1.50x | - | "
        "miss by 2.00x | 1 exchange |\n");
    EXPECT_EQ(
        bench_table(oneRowReport(0.12, 0.1, 1.5), false),
        "| native | setValue | 200 | 0.120 ms | 0.240 ms | 0.100 ms | 0.200 ms | 1.20x | 1.14-1.26x | <= 1.50x | - | "
        "pass | 1 exchange |\n");
    EXPECT_EQ(
        bench_table(oneRowReport(0.148, 0.1, 1.5), false),
        "| native | setValue | 200 | 0.148 ms | 0.296 ms | 0.100 ms | 0.200 ms | 1.48x | 1.41-1.55x | <= 1.50x | - | "
        "within noise | 1 exchange |\n");
    // With the run-to-run margin the same 1.20x is too close to its target.
    bench_report drifting = oneRowReport(0.12, 0.1, 1.5);
    drifting.rows[0].margin = 0.25;
    drifting.rows[0].verdict = bench_judge(drifting.rows[0]);
    EXPECT_EQ(bench_table(drifting, false),
              "| native | setValue | 200 | 0.120 ms | 0.240 ms | 0.100 ms | 0.200 ms | 1.20x | 1.14-1.26x | "
              "<= 1.50x (25% drift) | - | within noise | 1 exchange |\n");
    // A comparison that is not like for like keeps its figures, not a verdict.
    bench_report unfair = oneRowReport(0.3, 0.1, 1.5);
    unfair.rows[0].verdict = BENCH_INFO;
    EXPECT_EQ(
        bench_table(unfair, false),
        "| native | setValue | 200 | 0.300 ms | 0.600 ms | 0.100 ms | 0.200 ms | 3.00x | 2.85-3.15x | <= 1.50x | - | "
        "for information | 1 exchange |\n");
}

TEST(BenchReport, HeaderOnlyWhenAskedSoThatRunsJoinUnderOne)
{
    bench_report report = oneRowReport(0.3, 0.1, 1.5);
    std::string with = bench_table(report, true), without = bench_table(report, false);
    EXPECT_EQ(with.compare(0, 13, "| platform | "), 0);
    EXPECT_EQ(with.substr(with.size() - without.size()), without);
    EXPECT_EQ(without.find("platform"), std::string::npos);
}

TEST(BenchReport, JsonEscapesQuotesBackslashesAndControlCharacters)
{
    EXPECT_EQ(bench_jsonString("getValue(\"\")"), "\"getValue(\\\"\\\")\"");
    EXPECT_EQ(bench_jsonString("C:\\tmp\n\x01"), "\"C:\\\\tmp\\u000a\\u0001\"");
    std::string json = bench_json(oneRowReport(0.3, 0.1, 1.5));
    EXPECT_NE(json.find("\"platform\": \"native\""), std::string::npos);
    EXPECT_NE(json.find("\"verdict\": \"miss\""), std::string::npos);
    EXPECT_NE(json.find("\"interval_low\": 2.8500, \"interval_high\": 3.1500"), std::string::npos);
    EXPECT_NE(json.find("\"median\": 0.300000"), std::string::npos);
}

TEST(BenchReport, JsonCarriesEachRoundsRatioAndWhereItsBlocksBegin)
{
    bench_report report = oneRowReport(0.3, 0.1, 1.5);
    bench_fillPaired(&report.rows[0], { 0.3, 0.2, 0.45 }, { 0.1, 0.1, 0.15 }, { 0, 2 }, 99);
    std::string json = bench_json(report);
    EXPECT_NE(json.find("\"rounds\": [3.0000,2.0000,3.0000], \"blocks\": [0,2]}"), std::string::npos) << json;
    // A row without rounds (memory, or nothing measured) gives empty lists.
    report.rows[0].rounds.clear();
    report.rows[0].blocks.clear();
    EXPECT_NE(bench_json(report).find("\"rounds\": [], \"blocks\": []}"), std::string::npos);
}

class BenchFloor : public ::testing::Test {
  protected:
    void SetUp() override
    {
        sim_options options;
        device = sim_start(options);
        ASSERT_NE(device, nullptr);
    }
    void TearDown() override
    {
        sim_stop(device);
    }
    sim_server* device = nullptr;
};

TEST_F(BenchFloor, SendsExactlyTheGivenBytesAndReadsTheAnswerUntilTheDeviceCloses)
{
    const std::string request = sim_getRequest("admin", sim_hash("secret"), "login", "login");
    bench_exchange exchange = bench_floorExchange(sim_port(device), request);
    EXPECT_TRUE(exchange.ok);
    EXPECT_EQ(sim_statusLine(exchange.answer), "HTTP/1.1 200 OK");
    EXPECT_EQ(sim_body(exchange.answer), "LOGIN OK\n");
    std::vector<std::string> seen = sim_requests(device);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], request);
}

TEST_F(BenchFloor, LargeUploadArrivesWholeWithZeroBytesIntact)
{
    std::string data(3000000, '\0');
    std::mt19937 random(7);
    for (char& c : data)
        c = static_cast<char>(random());
    const std::string request = sim_uploadRequest(sim_hash("secret"), "big_ormi_2.1.0.bz2", data);
    bench_exchange exchange = bench_floorExchange(sim_port(device), request);
    EXPECT_TRUE(exchange.ok);
    sim_upload stored = sim_lastUpload(device);
    EXPECT_EQ(stored.size, data.size());
    EXPECT_EQ(stored.md5, sim_hash(data));
    std::vector<std::string> seen = sim_requests(device);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0] == request);
}

TEST_F(BenchFloor, FailsWhenNothingListens)
{
    int port = sim_port(device);
    sim_stop(device);
    device = sim_start(sim_options()); // a different port; the old one is free
    ASSERT_NE(device, nullptr);
    ASSERT_NE(sim_port(device), port);
    bench_exchange exchange = bench_floorExchange(port, "GET / HTTP/1.1\n\n\n");
    EXPECT_FALSE(exchange.ok);
    EXPECT_EQ(exchange.answer, "");
}

TEST(BenchProbes, SocketCountFollowsASocketOpenedAndClosed)
{
    int before = bench_openSockets();
    ASSERT_GE(before, 0);
    sim_server* device = sim_start(sim_options()); // one listening socket
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(bench_openSockets(), before + 1);
    EXPECT_TRUE(
        bench_floorExchange(sim_port(device), sim_getRequest("admin", sim_hash("secret"), "login", "login")).ok);
    sim_stop(device); // joins the device's workers, so their ends are closed too
    EXPECT_EQ(bench_openSockets(), before);
}

} // namespace
