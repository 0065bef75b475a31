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

// ---- measured rows and the report (bench_report.cpp)

enum bench_verdict { BENCH_PASS, BENCH_FAIL, BENCH_NOT_MEASURED };

struct bench_row {
  std::string group;      // "call", "upload", "curl", "memory"
  std::string name;       // what was measured
  int samples = 0;
  int failures = 0;       // calls that did not give the expected result
  double median = 0;      // ms for calls, s for uploads
  double p99 = 0;
  double floorMedian = 0; // the same request bytes over a blocking socket
  double floorP99 = 0;
  double ratio = 0;       // median over floorMedian (or over the peer)
  double limit = 0;       // the target the ratio must not exceed
  double mbPerSecond = 0; // uploads
  double floorMbPerSecond = 0;
  std::string unit;       // "ms", "s", "KB", "fds", "handles"
  std::string note;
  bench_verdict verdict = BENCH_NOT_MEASURED;
};

struct bench_report {
  std::string platform;   // "native", "win64"
  bool quick = false;
  std::vector<bench_row> rows;
};

// ratio <= limit and no failures: pass; no samples: not measured.
bench_verdict bench_judge(const bench_row& row);
const char* bench_verdictText(bench_verdict verdict);
// One table row per measurement; the header only when asked (so that the
// rows of several platforms form one table).
std::string bench_table(const bench_report& report, bool header);
std::string bench_json(const bench_report& report);
// Text with JSON's mandatory escapes.
std::string bench_jsonString(const std::string& text);

// ---- network, processes, probes (bench_net.cpp)

struct bench_exchange {
  bool ok = false;        // connected, sent everything, saw the device close
  std::string answer;
};

// The floor: a blocking socket to 127.0.0.1:port, the bytes sent as they
// are, everything read until the device closes.
bench_exchange bench_floorExchange(int port, const std::string& request);

double bench_nowMs();                       // monotonic, fractional ms
long long bench_residentKb();               // -1 when unknown
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
  std::string program;    // empty: curl cannot be run from this process
  bool viaShell = false;  // under Wine: started through /bin/sh, see bench_runCurl
  std::string scratch, scratchUnix;
};
bench_curl bench_findCurl(const std::string& scratch, const std::string& scratchUnix);
// curl with arguments (Unix paths); its exit code and standard output, -1
// when it could not be started or did not end within timeoutMs.
int bench_runCurl(const bench_curl& curl, const std::string& arguments, std::string* output, int timeoutMs);
bool bench_underWine();
