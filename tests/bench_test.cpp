// The benchmark's own parts: percentiles and growth, the verdicts and the
// report, and the floor client, which must put exactly the captured bytes on
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

TEST(BenchStats, PercentileIsTheNearestRankOfTheSortedSamples) {
  std::vector<double> hundred, twoHundred;
  for (int i = 100; i >= 1; --i) hundred.push_back(i);  // descending: must be sorted first
  for (int i = 1; i <= 200; ++i) twoHundred.push_back(i);
  const PercentileCase cases[] = {
      {hundred, 99, 99},      {hundred, 100, 100},     {hundred, 50, 50}, {hundred, 0, 1},
      {twoHundred, 99, 198},  {twoHundred, 99.5, 199}, {{7}, 99, 7},      {{3, 1, 2, 4}, 50, 2},
      {{}, 99, 0},
  };
  for (const PercentileCase& c : cases)
    EXPECT_EQ(bench_percentile(c.samples, c.p), c.expected) << "p" << c.p << " of " << c.samples.size();
}

TEST(BenchStats, MedianAveragesTheMiddlePairOfAnEvenCount) {
  EXPECT_EQ(bench_median({5, 1, 3}), 3);
  EXPECT_EQ(bench_median({4, 1, 3, 2}), 2.5);
  EXPECT_EQ(bench_median({}), 0);
}

TEST(BenchStats, RatioWithoutAPositiveBaseIsZero) {
  EXPECT_EQ(bench_ratio(3, 2), 1.5);
  EXPECT_EQ(bench_ratio(3, 0), 0);
  EXPECT_EQ(bench_ratio(3, -1), 0);
}

TEST(BenchStats, GrowthTellsLinearFromFixedCostsAndFromSuperlinear) {
  const std::vector<double> sizes = {1, 5, 10};
  EXPECT_DOUBLE_EQ(bench_growth(sizes, {0.1, 0.5, 1.0}), 1.0);          // linear
  EXPECT_LT(bench_growth(sizes, {0.13, 0.53, 1.03}), 1.0);               // a fixed cost on top
  EXPECT_DOUBLE_EQ(bench_growth(sizes, {0.01, 0.25, 1.0}), 10.0);       // quadratic
  EXPECT_EQ(bench_growth({1}, {0.1}), 0);                                // nothing to compare
  EXPECT_EQ(bench_growth(sizes, {0.1, 0.5}), 0);                         // sizes and times disagree
}

TEST(BenchStats, GrowthOfResidentMemoryCountsAsALeakOnlyWhenSteadyAndBeyondTolerance) {
  struct Case {
    std::vector<long long> samples;
    bool leaks;
    int grew;
  };
  const Case cases[] = {
      {{100, 100, 100, 100, 100}, false, 0},
      {{100, 120, 140, 160, 180}, true, 4},   // steady, 80 KB in all
      {{100, 120, 140, 160, 160}, false, 3},  // steady but within 64 KB
      {{100, 100, 256, 256, 256}, false, 1},  // one step, e.g. a new thread stack
      {{100, 90, 160, 200, 250}, true, 3},    // a dip does not hide a trend
      {{100}, false, 0},
      {{}, false, 0},
  };
  for (const Case& c : cases) {
    int grew = -1;
    EXPECT_EQ(bench_grows(c.samples, 64, &grew), c.leaks) << c.samples.size() << " samples";
    EXPECT_EQ(grew, c.grew);
  }
}

TEST(BenchReport, VerdictNeedsSamplesNoFailuresAndARatioWithinTheLimit) {
  struct Case {
    int samples, failures;
    double ratio, limit;
    bench_verdict expected;
  };
  const Case cases[] = {
      {200, 0, 1.2, 1.5, BENCH_PASS}, {200, 0, 1.5, 1.5, BENCH_PASS},        {200, 0, 1.51, 1.5, BENCH_FAIL},
      {200, 1, 1.0, 1.5, BENCH_FAIL}, {0, 0, 0, 1.5, BENCH_NOT_MEASURED},
  };
  for (const Case& c : cases) {
    bench_row row;
    row.samples = c.samples;
    row.failures = c.failures;
    row.ratio = c.ratio;
    row.limit = c.limit;
    EXPECT_EQ(bench_judge(row), c.expected) << c.samples << " " << c.failures << " " << c.ratio;
  }
}

bench_report oneRowReport(double median, double floorMedian, double limit) {
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
  row.limit = limit;
  row.note = "1 exchange";
  row.verdict = bench_judge(row);
  report.rows.push_back(row);
  return report;
}

TEST(BenchReport, TableRowShowsFiguresVerdictAndByHowMuchATargetIsMissed) {
  EXPECT_EQ(bench_table(oneRowReport(0.3, 0.1, 1.5), false),
            "| native | setValue | 200 | 0.300 ms | 0.600 ms | 0.100 ms | 0.200 ms | 3.00x | <= 1.50x | - | "
            "FAIL by 2.00x | 1 exchange |\n");
  EXPECT_EQ(bench_table(oneRowReport(0.12, 0.1, 1.5), false),
            "| native | setValue | 200 | 0.120 ms | 0.240 ms | 0.100 ms | 0.200 ms | 1.20x | <= 1.50x | - | "
            "pass | 1 exchange |\n");
}

TEST(BenchReport, HeaderOnlyWhenAskedSoThatRunsJoinUnderOne) {
  bench_report report = oneRowReport(0.3, 0.1, 1.5);
  std::string with = bench_table(report, true), without = bench_table(report, false);
  EXPECT_EQ(with.compare(0, 13, "| platform | "), 0);
  EXPECT_EQ(with.substr(with.size() - without.size()), without);
  EXPECT_EQ(without.find("platform"), std::string::npos);
}

TEST(BenchReport, JsonEscapesQuotesBackslashesAndControlCharacters) {
  EXPECT_EQ(bench_jsonString("getValue(\"\")"), "\"getValue(\\\"\\\")\"");
  EXPECT_EQ(bench_jsonString("C:\\tmp\n\x01"), "\"C:\\\\tmp\\u000a\\u0001\"");
  std::string json = bench_json(oneRowReport(0.3, 0.1, 1.5));
  EXPECT_NE(json.find("\"platform\": \"native\""), std::string::npos);
  EXPECT_NE(json.find("\"verdict\": \"FAIL\""), std::string::npos);
  EXPECT_NE(json.find("\"median\": 0.300000"), std::string::npos);
}

class BenchFloor : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_options options;
    device = sim_start(options);
    ASSERT_NE(device, nullptr);
  }
  void TearDown() override { sim_stop(device); }
  sim_server* device = nullptr;
};

TEST_F(BenchFloor, SendsExactlyTheGivenBytesAndReadsTheAnswerUntilTheDeviceCloses) {
  const std::string request = sim_getRequest("admin", sim_hash("secret"), "login", "login");
  bench_exchange exchange = bench_floorExchange(sim_port(device), request);
  EXPECT_TRUE(exchange.ok);
  EXPECT_EQ(sim_statusLine(exchange.answer), "HTTP/1.1 200 OK");
  EXPECT_EQ(sim_body(exchange.answer), "LOGIN OK\n");
  std::vector<std::string> seen = sim_requests(device);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], request);
}

TEST_F(BenchFloor, LargeUploadArrivesWholeWithZeroBytesIntact) {
  std::string data(3000000, '\0');
  std::mt19937 random(7);
  for (char& c : data) c = static_cast<char>(random());
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

TEST_F(BenchFloor, FailsWhenNothingListens) {
  int port = sim_port(device);
  sim_stop(device);
  device = sim_start(sim_options());  // a different port; the old one is free
  ASSERT_NE(device, nullptr);
  ASSERT_NE(sim_port(device), port);
  bench_exchange exchange = bench_floorExchange(port, "GET / HTTP/1.1\n\n\n");
  EXPECT_FALSE(exchange.ok);
  EXPECT_EQ(exchange.answer, "");
}

TEST(BenchProbes, SocketCountFollowsASocketOpenedAndClosed) {
  int before = bench_openSockets();
  ASSERT_GE(before, 0);
  sim_server* device = sim_start(sim_options());  // one listening socket
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(bench_openSockets(), before + 1);
  EXPECT_TRUE(bench_floorExchange(sim_port(device), sim_getRequest("admin", sim_hash("secret"), "login", "login")).ok);
  sim_stop(device);  // joins the device's workers, so their ends are closed too
  EXPECT_EQ(bench_openSockets(), before);
}

}  // namespace
