// The benchmark's pieces: statistics and verdicts over timings, the bare
// blocking-socket client that sets the floor, process probes (resident
// memory, open descriptors or handles), the curl peer, and the report.
#pragma once

#include <string>
#include <vector>

// ---- statistics (bench_stats.cpp)

// Nearest-rank percentile (p in 0..100) of samples; 0 for none.
double bench_percentile(std::vector<double> samples, double p);
double bench_median(const std::vector<double>& samples);
// a / b, or 0 when b is not positive (no ratio can be given).
double bench_ratio(double a, double b);

// Upload times t[i] for sizes s[i] (ascending): the time per byte at the
// largest size over that at the smallest. Above 1 the cost grows faster
// than the size; fixed costs push it below 1.
double bench_growth(const std::vector<double>& sizes, const std::vector<double>& seconds);

// Resident memory sampled at checkpoints: 1 when it grew by more than
// toleranceKb from first to last sample and did so in most intervals (a
// leak), 0 for a one-off step such as a thread stack of the in-process
// device. grewIntervals receives how many intervals grew.
bool bench_grows(const std::vector<long long>& samplesKb, long long toleranceKb, int* grewIntervals);

// ---- confidence of a ratio (bench_stats.cpp)

// A two-sided confidence interval; empty (high < low) when none could be given.
struct bench_interval {
    double low = 0;
    double high = -1;
};

const double kBenchConfidence = 0.99;
const int kBenchResamples = 2000;
// Fixed, so that the same samples always give the same interval.
const unsigned kBenchSeed = 20261210u;

// The median over rounds of a[i] / b[i]: a[i] and b[i] were taken in the
// same round, so that a load that slows both alike cancels. 0 when a and b
// differ in length or no b[i] is positive.
double bench_pairedRatio(const std::vector<double>& a, const std::vector<double>& b);
// a[i] / b[i] for every round with a positive b[i]; empty when a and b differ
// in length.
std::vector<double> bench_roundRatios(const std::vector<double>& a, const std::vector<double>& b);
// Percentile bootstrap of bench_pairedRatio. The rounds are resampled in
// blocks of `block` consecutive ones, so that a spell of load on the machine
// (which lasts longer than a round) widens the interval instead of hiding in
// it. Empty when a and b differ in length or some b[i] is not positive.
bench_interval bench_pairedInterval(const std::vector<double>& a, const std::vector<double>& b, int block,
                                    double confidence = kBenchConfidence, int resamples = kBenchResamples,
                                    unsigned seed = kBenchSeed);
// The same with blocks of any length: starts holds the index of each
// block's first round, ascending, the first 0.
bench_interval bench_pairedIntervalOfBlocks(const std::vector<double>& a, const std::vector<double>& b,
                                            const std::vector<std::size_t>& starts,
                                            double confidence = kBenchConfidence, int resamples = kBenchResamples,
                                            unsigned seed = kBenchSeed);

// ---- measured rows and the report (bench_report.cpp)

// BENCH_NOISE: the interval holds the target, so the machine's noise could
// put the true ratio on either side of it. BENCH_INFO: measured, but the
// comparison is not like for like, so it judges nothing (the note says why).
enum bench_verdict { BENCH_PASS, BENCH_MISS, BENCH_NOISE, BENCH_NOT_MEASURED, BENCH_INFO };

struct bench_row {
    std::string group; // "call", "upload", "curl", "memory"
    std::string name;  // what was measured
    int samples = 0;   // paired rounds for calls and uploads
    int failures = 0;  // calls that did not give the expected result
    double median = 0; // ms for calls, s for uploads
    double p99 = 0;
    double floorMedian = 0; // the same request bytes over a blocking socket
    double floorP99 = 0;
    double ratio = 0;        // bench_pairedRatio of the call over the floor (or the peer)
    bench_interval interval; // of the ratio; empty: the ratio alone decides
    double limit = 0;        // the target the ratio must not exceed
    // How far the ratio moves from one run to the next on this platform, as a
    // fraction (0.15: 15 percent); the verdict allows for it, see bench_judge.
    double margin = 0;
    double mbPerSecond = 0; // uploads
    double floorMbPerSecond = 0;
    // The rounds' own ratios, and where each block of them (resampled
    // together for the interval) begins; raw figures for the JSON.
    std::vector<double> rounds;
    std::vector<std::size_t> blocks;
    std::string unit; // "ms", "s", "KB", "fds", "handles"
    std::string note;
    bench_verdict verdict = BENCH_NOT_MEASURED;
};

struct bench_report {
    std::string platform; // "native", "win64"
    bool quick = false;
    std::vector<bench_row> rows;
};

// The row's figures from its paired rounds: medians and the top percentile
// of both sides (100: the slowest), the ratio, its interval over the blocks
// that begin at blocks, and the rounds' own ratios.
void bench_fillPaired(bench_row* r, const std::vector<double>& library, const std::vector<double>& floor,
                      const std::vector<std::size_t>& blocks, double top);
// No samples: not measured; failed calls: miss. Otherwise from the interval
// (or, without one, the ratio itself) widened by the row's margin on both
// sides: miss when it lies wholly above the limit, pass when wholly at or
// below it, within noise when it holds it.
bench_verdict bench_judge(const bench_row& row);
bench_verdict bench_decide(const bench_interval& interval, double limit);
// interval stretched by margin on both sides: low / (1 + margin), high * (1 + margin).
bench_interval bench_widen(const bench_interval& interval, double margin);
// Whether more rounds could still decide the row: not when its ratio itself
// lies within the margin of the limit, since rounds narrow only the interval.
bool bench_decidable(const bench_row& row);
// How many rounds to take next: step more (capped at bound) while the
// verdict is within noise, 0 once it is decided or the bound is reached.
int bench_moreRounds(bench_verdict verdict, int taken, int step, int bound);
const char* bench_verdictText(bench_verdict verdict);
// One table row per measurement; the header only when asked (so that the
// rows of several platforms form one table).
std::string bench_table(const bench_report& report, bool header);
std::string bench_json(const bench_report& report);
// Text with JSON's mandatory escapes.
std::string bench_jsonString(const std::string& text);

// ---- network, processes, probes (bench_net.cpp)

struct bench_exchange {
    bool ok = false; // connected, sent everything, saw the device close
    std::string answer;
};

// The floor: a blocking socket to 127.0.0.1:port, the bytes sent as they
// are, everything read until the device closes.
bench_exchange bench_floorExchange(int port, const std::string& request);

double bench_nowMs();         // monotonic, fractional ms
long long bench_residentKb(); // -1 when unknown
// Open descriptors natively, handles on Windows; -1 when unknown. source
// names how they were counted.
int bench_openHandles(std::string* source);
// Open sockets of the process (listening ones included); -1 when unknown.
int bench_openSockets();
// Unix descriptors of the process: natively the same as the open handles,
// under Wine what drive Z: shows of them; -1 elsewhere.
int bench_unixDescriptors();
// Runs a command line, returns its exit code and its standard output; -1
// when it could not be started.
int bench_runCommand(const std::string& commandLine, std::string* output);

// The curl peer. scratch names one folder twice: as this process names it
// and as a Unix program does (the same text natively).
struct bench_curl {
    std::string program;   // empty: curl cannot be run from this process
    bool viaShell = false; // under Wine: started through /bin/sh, see bench_runCurl
    std::string scratch, scratchUnix;
};
bench_curl bench_findCurl(const std::string& scratch, const std::string& scratchUnix);
// curl with arguments (Unix paths); its exit code and standard output, -1
// when it could not be started or did not end within timeoutMs.
int bench_runCurl(const bench_curl& curl, const std::string& arguments, std::string* output, int timeoutMs);
bool bench_underWine();
