// ormi_bench: each export of the control library, called as an integrator
// calls it, timed against the floor (the identical request bytes over a bare
// blocking socket) and against curl, all against one in-process simulated
// device on loopback; then uploads of growing size, and resident memory and
// open handles over many calls.
#include "bench.h"

#include "ini.h"
#include "ormi_control.h"
#include "plat.h"
#include "sim_server.h"
#include "upload.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct bench_config {
    bool quick = false;
    bool header = true;
    bool curl = true;
    bool callsOnly = false; // the single-exchange rows, no uploads, no memory
    std::string json;
    std::string platform;
    double margin = -1; // -1: the platform's own
    // Paired rounds first taken, and while a verdict is within noise, more in
    // steps of the same size up to the bound.
    int calls = 200;
    int callBound = 1000;
    int curlCalls = 200;
    int curlBound = 600;
    int uploadRepeats = 30;
    int uploadBound = 90;
    // curl's uploads come in rounds of 3, one in each of the ten passes.
    int curlUploads = 30;
    int curlUploadBound = 60;
    int passes = 10; // over the call rows, see bench_settle
    int memoryCalls = 10000;
    int memoryWarmup = 1000;
};

// The library reads its settings from here; also the home of curl's files.
fs::path benchDir;
std::string benchDirUnix; // the same folder as curl (a Unix program) names it

const char kUser[] = "admin";
const char kPassword[] = "secret";
// Generous: a wait bound only matters when something goes wrong, and a slow
// upload under Wine must not turn into the sendUpdateFileResp path.
const int kTimeoutSeconds = 5;

void bench_writeSettings(sim_server* device, int loginVersion)
{
    std::ofstream ini(benchDir / "ormi_control.ini", std::ios::binary | std::ios::trunc);
    ini << "[IP]\nip_address=127.0.0.1\nip_port=" << sim_port(device) << "\n[LOGIN]\nusername=" << kUser
        << "\npassword=" << kPassword << "\nlogin_version=" << loginVersion
        << "\n[CONTROL]\ntimeout=" << kTimeoutSeconds << "\n";
}

bool bench_makeDirectory()
{
    std::random_device random;
    std::string name = "ormi-bench-" + std::to_string(random());
    std::error_code error;
    if (bench_underWine()) {
        // Drive Z: is the Unix root, so curl finds the files under /tmp.
        benchDir = fs::path("Z:\\tmp") / name;
        benchDirUnix = "/tmp/" + name;
    } else {
        benchDir = fs::temp_directory_path(error) / name;
        benchDirUnix = benchDir.string();
    }
    fs::create_directories(benchDir, error);
    if (error)
        return false;
    ini_setDirectory(benchDir.string().c_str());
    return true;
}

std::vector<std::string> bench_captureRequests(sim_server* device, const std::function<bool()>& call)
{
    sim_clearRequests(device);
    call();
    std::vector<std::string> requests = sim_requests(device);
    sim_clearRequests(device);
    return requests;
}

// How much a whole run's ratio moves from one run to the next on the 2-core
// build machine (standard deviation over runs: natively up to about 4
// percent, under Wine pinned to a core up to about 6); a row that close to
// its target is within noise.
const double kNativeMargin = 0.04;
const double kWineMargin = 0.07;
double benchMargin = 0;

const int kWarmupRounds = 50;
// The rounds that one take() adds (one pass of bench_settle) are resampled
// together for an interval: the load of a shared machine changes from one
// pass to the next, so single rounds would look more independent than they
// are, and an interval over them would not hold from run to run.

// A row being measured: take(n) adds n paired rounds, evaluate() works out
// its figures and verdict afresh over all of them.
struct bench_pending {
    bench_row row;
    std::function<void(int)> take;
    std::function<void()> evaluate;
    int first = 0, bound = 0;
};
using bench_rows = std::vector<std::shared_ptr<bench_pending>>;

// Measures the rows in passes, each pass a share of every row's rounds, so
// that every row meets the load of the machine over the whole run rather
// than that of its own few seconds (the load of a shared machine changes
// within a minute). Then more rounds, again spread over passes, for the
// rows still within noise, until they are decided or at their bound.
void bench_settle(const bench_rows& rows, int passes)
{
    std::vector<std::pair<bench_pending*, int>> todo;
    for (const auto& p : rows)
        todo.push_back({ p.get(), p->first });
    while (!todo.empty()) {
        for (int pass = 0; pass < passes; ++pass)
            for (const auto& [p, n] : todo) {
                int share = n * (pass + 1) / passes - n * pass / passes;
                if (share > 0)
                    p->take(share);
            }
        std::vector<std::pair<bench_pending*, int>> next;
        for (const auto& [p, n] : todo) {
            p->evaluate();
            int more =
                bench_decidable(p->row) ? bench_moreRounds(p->row.verdict, p->row.samples, p->first, p->bound) : 0;
            if (more > 0)
                next.push_back({ p, more });
        }
        todo = next;
    }
}

// One exported call timed against the replay of its captured request bytes.
// The two alternate so that any drift of the machine hits both alike, and
// which goes first alternates too, so that neither always meets what the
// other left behind. settings: makes the library talk to device (rows of
// other devices run in between).

std::shared_ptr<bench_pending> bench_measureCall(const std::string& name, sim_server* device,
                                                 const bench_config& config, const std::function<void()>& settings,
                                                 const std::function<bool()>& call, double limit)
{
    auto pending = std::make_shared<bench_pending>();
    pending->first = config.calls;
    pending->bound = config.callBound;
    bench_row& row = pending->row;
    settings();
    row.group = "call";
    row.name = name;
    row.unit = "ms";
    row.limit = limit;
    row.margin = benchMargin;
    std::vector<std::string> requests = bench_captureRequests(device, call);
    if (requests.empty()) {
        row.note = "no request reached the device";
        row.failures = 1;
        row.samples = 1;
        row.verdict = bench_judge(row);
        pending->take = [](int) {};
        pending->evaluate = [] {};
        return pending;
    }
    // Unmeasured rounds first: the first few hundred microseconds of a row
    // otherwise pay for caches and clock rates left behind by the last one.
    for (int i = 0; i < kWarmupRounds; ++i) {
        call();
        for (const std::string& request : requests)
            bench_floorExchange(sim_port(device), request);
    }
    sim_clearRequests(device);
    struct state {
        std::vector<double> library, floor;
        std::vector<std::size_t> blocks; // where each take() began
        int floorFailures = 0;
    };
    auto s = std::make_shared<state>();
    bench_pending* p = pending.get();
    auto floorOnce = [s, device, requests] {
        for (const std::string& request : requests)
            if (!bench_floorExchange(sim_port(device), request).ok)
                ++s->floorFailures;
    };
    pending->take = [s, p, device, settings, call, floorOnce](int n) {
        s->blocks.push_back(s->library.size());
        settings();
        // Unmeasured: the rows measured in between leave other caches behind.
        for (int i = 0; i < 3; ++i) {
            call();
            floorOnce();
        }
        sim_clearRequests(device);
        auto timeLibrary = [&] {
            double start = bench_nowMs();
            if (!call())
                ++p->row.failures;
            s->library.push_back(bench_nowMs() - start);
        };
        auto timeFloor = [&] {
            double start = bench_nowMs();
            floorOnce();
            s->floor.push_back(bench_nowMs() - start);
        };
        for (int k = 0; k < n; ++k) {
            std::size_t i = s->library.size();
            if (i % 2) {
                timeFloor();
                timeLibrary();
            } else {
                timeLibrary();
                timeFloor();
            }
            if (i % 50 == 49)
                sim_clearRequests(device);
        }
        sim_clearRequests(device);
    };
    std::string exchanges =
        requests.size() == 1 ? "1 exchange" : std::to_string(requests.size()) + " exchanges, floor replays all";
    pending->evaluate = [s, p, exchanges] {
        bench_row& r = p->row;
        r.samples = static_cast<int>(s->library.size());
        bench_fillPaired(&r, s->library, s->floor, s->blocks, 99);
        r.verdict = bench_judge(r);
        r.note = exchanges;
        if (s->floorFailures)
            r.note += "; " + std::to_string(s->floorFailures) + " floor exchanges failed";
    };
    return pending;
}

std::string bench_requestTarget(const std::string& request)
{
    std::size_t first = request.find(' ');
    std::size_t last = request.find(" HTTP/1.1");
    if (first == std::string::npos || last == std::string::npos || last <= first)
        return std::string();
    return request.substr(first + 1, last - first - 1);
}

// curl against the same device: one process runs all transfers (so that its
// start-up is not counted) and reports time_total of each.
std::vector<double> bench_curlTimes(const bench_curl& curl, const std::string& configLines, int count,
                                    std::string* problem)
{
    std::vector<double> times;
    fs::path config = benchDir / "curl.conf";
    {
        std::ofstream out(config, std::ios::binary | std::ios::trunc);
        for (int i = 0; i < count; ++i) {
            if (i)
                out << "next\n";
            // A bound of its own per transfer: a device that stopped answering must
            // not hold the benchmark up.
            out << configLines
                << "silent\nmax-time = 60\noutput = \"/dev/null\"\nwrite-out = \"%{time_total} %{http_code}\\n\"\n";
        }
    }
    std::string output;
    int code = bench_runCurl(curl, "-K " + benchDirUnix + "/curl.conf", &output, 300000);
    std::size_t at = 0;
    int refused = 0;
    while (at < output.size()) {
        std::size_t end = output.find('\n', at);
        if (end == std::string::npos)
            end = output.size();
        double seconds = 0;
        int status = 0;
        if (std::sscanf(output.c_str() + at, "%lf %d", &seconds, &status) == 2) {
            times.push_back(seconds * 1000.0);
            if (status != 200)
                ++refused;
        }
        at = end + 1;
    }
    if (code != 0)
        *problem = "curl exit code " + std::to_string(code);
    if (refused)
        *problem += (problem->empty() ? "" : "; ") + std::to_string(refused) + " answers not 200";
    if (static_cast<int>(times.size()) != count)
        *problem += (problem->empty() ? "" : "; ") + std::to_string(times.size()) + " of " + std::to_string(count) +
                    " transfers timed";
    return times;
}

// The library's call is timed right before and right after curl's batch, so
// that both meet the same load of the machine.
// floorMedian: the floor of the same exchange (same unit), to tell when the
// device itself treats curl's request differently.
// Calls come in rounds of 20, uploads in rounds of 3; a call is paired with
// a transfer of its round only by its place in it.
std::shared_ptr<bench_pending> bench_curlRow(const std::string& name, const bench_curl& curl,
                                             const std::string& configLines, int count, int bound,
                                             const std::function<void()>& settings, const std::function<bool()>& call,
                                             const std::string& unit, const double* floorMedian)
{
    auto pending = std::make_shared<bench_pending>();
    pending->first = count;
    pending->bound = bound;
    bench_row& row = pending->row;
    row.group = "curl";
    row.name = name;
    row.unit = unit;
    row.limit = 1.0;
    row.margin = benchMargin;
    if (curl.program.empty()) {
        row.note = "curl cannot be started from this process";
        pending->take = [](int) {};
        pending->evaluate = [] {};
        return pending;
    }
    struct state {
        std::vector<double> library, times;
        std::vector<std::size_t> blocks; // where each curl process's round began
        std::string problem;
    };
    auto s = std::make_shared<state>();
    bench_pending* p = pending.get();
    const double scale = unit == "s" ? 0.001 : 1.0;
    // In rounds, so that a drift of the machine's load hits both alike: half a
    // round of library calls, one curl process with a round of transfers, the
    // other half.
    const int round = unit == "s" ? 3 : 20;
    pending->take = [s, p, curl, configLines, settings, call, scale, round](int total) {
        settings();
        auto timeLibrary = [&](int n) {
            for (int i = 0; i < n; ++i) {
                double start = bench_nowMs();
                if (!call())
                    ++p->row.failures;
                s->library.push_back((bench_nowMs() - start) * scale);
            }
        };
        for (int done = 0; done < total && s->problem.empty(); done += round) {
            int n = std::min(round, total - done);
            // A block of its own: what a curl process meets (where its threads
            // run, what it finds cached) holds for all its transfers.
            s->blocks.push_back(s->times.size());
            timeLibrary((n + 1) / 2);
            std::vector<double> batch = bench_curlTimes(curl, configLines, n, &s->problem);
            for (double t : batch)
                s->times.push_back(t * scale);
            timeLibrary(n / 2);
        }
    };
    pending->evaluate = [s, p, scale, floorMedian] {
        bench_row& r = p->row;
        r.samples = static_cast<int>(s->times.size());
        // Columns: the library, then curl in the floor columns; the ratio is ours over curl's.
        bench_fillPaired(&r, s->library, s->times, s->blocks, 99);
        if (!s->problem.empty())
            r.failures = std::max(r.failures, 1);
        r.verdict = bench_judge(r);
        r.note = "floor columns: curl (second process, its own time_total); ";
        r.note += s->problem.empty() ? "all answers 200" : s->problem;
        // Far above the floor of the same exchange: the device holds curl's answer
        // back (its CRLF head carries none of the stray line feeds the device awaits).
        double floor = floorMedian ? *floorMedian : 0;
        bool delayed = floor > 0 && r.floorMedian > 3 * floor + 10 * scale;
        if (delayed) {
            char note[120];
            std::snprintf(note, sizeof note,
                          "; curl is %.1fx the floor, so the device itself delays it: no fair comparison",
                          r.floorMedian / floor);
            r.note += note;
            if (s->problem.empty())
                r.verdict = BENCH_NOT_MEASURED;
        }
        // Under Wine our library runs inside it and curl outside, as a Linux
        // program: Wine's own cost lies in the ratio whatever the library
        // does. The call's floor row, in the same Wine process, judges it.
        if (bench_underWine() && s->problem.empty() && r.verdict != BENCH_NOT_MEASURED) {
            r.verdict = BENCH_INFO;
            r.note += "; no verdict: the library inside Wine against Linux curl outside it (Wine's own cost is "
                      "in the ratio); the floor row judges the library";
        }
    };
    return pending;
}

std::string bench_urlLine(int port, const std::string& target)
{
    return "url = \"http://127.0.0.1:" + std::to_string(port) + target + "\"\n";
}

const char kUploadName[] = "bench_ormi_2.1.0.bz2";

int bench_upload(const std::vector<char>& data, int length)
{
    int result = sendUpdateFile("update", kUploadName, data.data(), length);
    for (int i = 0; result == 0 && i < 120; ++i)
        result = sendUpdateFileResp();
    return result;
}

// One package size: its library row, the floor's replay of the library's
// own request, and the curl row beside it. The rows point into it, so it
// must not move.
struct bench_uploadSize {
    int size = 0;
    std::string request; // the library's own, replayed by the floor
    std::vector<double> library, floor;
    std::vector<std::size_t> blocks;
    int floorFailures = 0;
    std::shared_ptr<bench_pending> row, peer;
};

// The library's upload of u.size bytes, each round followed by the floor's
// replay of the same request.
std::shared_ptr<bench_pending> bench_uploadRow(bench_uploadSize& u, sim_server* device, const bench_config& config,
                                               const std::vector<char>& data)
{
    auto pending = std::make_shared<bench_pending>();
    pending->first = config.uploadRepeats;
    pending->bound = config.uploadBound;
    bench_row& row = pending->row;
    row.group = "upload";
    row.name = "sendUpdateFile " + std::to_string(u.size) + " bytes";
    row.unit = "s";
    row.limit = 1.3;
    row.margin = benchMargin;
    bench_upload(data, u.size); // warm-up, and its bytes are the floor's
    std::vector<std::string> requests = sim_requests(device);
    sim_clearRequests(device);
    u.request = requests.empty() ? std::string() : requests.back();
    pending->take = [&u, &row, &data, device](int n) {
        u.blocks.push_back(u.library.size());
        for (int i = 0; i < n; ++i) {
            double start = bench_nowMs();
            if (bench_upload(data, u.size) != 1)
                ++row.failures;
            u.library.push_back((bench_nowMs() - start) / 1000.0);
            sim_upload stored = sim_lastUpload(device);
            if (stored.size != static_cast<std::size_t>(u.size))
                ++row.failures;
            sim_clearRequests(device);
            start = bench_nowMs();
            if (!bench_floorExchange(sim_port(device), u.request).ok)
                ++u.floorFailures;
            u.floor.push_back((bench_nowMs() - start) / 1000.0);
            sim_clearRequests(device);
        }
    };
    pending->evaluate = [&u, &row] {
        row.samples = static_cast<int>(u.library.size());
        bench_fillPaired(&row, u.library, u.floor, u.blocks, 100);
        row.verdict = bench_judge(row);
        row.mbPerSecond = bench_ratio(u.size / 1e6, row.median);
        row.floorMbPerSecond = bench_ratio(u.size / 1e6, row.floorMedian);
        row.note = "p99 column: slowest of " + std::to_string(row.samples);
        if (u.floorFailures)
            row.note += "; " + std::to_string(u.floorFailures) + " floor uploads failed";
        if (u.request.empty())
            row.note += "; no request captured";
    };
    return pending;
}

// curl sends the same body: everything behind the blank line of the
// library's request. Null when there is no request to take it from.
std::shared_ptr<bench_pending> bench_uploadPeer(bench_uploadSize& u, sim_server* device, const bench_config& config,
                                                const bench_curl& curl, const std::vector<char>& data)
{
    std::size_t blank = u.request.find("\n\n");
    if (blank == std::string::npos)
        return nullptr;
    std::string body = "upload-" + std::to_string(u.size) + ".body";
    std::ofstream file(benchDir / body, std::ios::binary | std::ios::trunc);
    file.write(u.request.data() + blank + 2, static_cast<std::streamsize>(u.request.size() - blank - 2));
    file.close();
    std::string lines = bench_urlLine(sim_port(device), "/cgi-bin/setUpdateFileToServer.cgi") + "data-binary = \"@" +
                        benchDirUnix + "/" + body +
                        "\"\n"
                        "header = \"Content-Type:multipart/form-data\"\nheader = \"Expect:\"\n";
    int size = u.size;
    return bench_curlRow(
        u.row->row.name + " vs curl", curl, lines, config.curlUploads, config.curlUploadBound,
        [device] { sim_clearRequests(device); }, [&data, size] { return bench_upload(data, size) == 1; }, "s",
        &u.row->row.floorMedian);
}

// Growth in paired rounds: the smallest and the largest package back to
// back, each followed by the floor's replay of it. The device and the
// machine's caches make the floor itself grow faster than the size natively
// (a 10 MB body leaves the caches); the library answers only for what it
// adds, so its growth is judged over the floor's of the same round.
std::shared_ptr<bench_pending> bench_growthRow(const std::vector<bench_uploadSize>& uploads, sim_server* device,
                                               const bench_config& config, const std::vector<char>& data)
{
    auto growth = std::make_shared<bench_pending>();
    growth->first = config.uploadRepeats;
    growth->bound = config.uploadBound;
    bench_row& g = growth->row;
    g.group = "upload";
    g.name = "upload time per byte, largest over smallest, over the floor's";
    g.limit = 1.3;
    g.margin = benchMargin;
    struct state {
        std::vector<double> library, floor;
        std::vector<std::size_t> blocks;
        int floorFailures = 0;
    };
    auto s = std::make_shared<state>();
    bench_pending* p = growth.get();
    growth->take = [s, p, &uploads, &data, device](int n) {
        s->blocks.push_back(s->library.size());
        for (int i = 0; i < n; ++i) {
            double library[2], floor[2]; // seconds per byte: [0] smallest, [1] largest
            for (int k = 0; k < 2; ++k) {
                bool largeFirst = s->library.size() % 2;
                const bench_uploadSize& u = (k == 0) == largeFirst ? uploads.back() : uploads.front();
                int at = &u == &uploads.back();
                double start = bench_nowMs();
                if (bench_upload(data, u.size) != 1)
                    ++p->row.failures;
                library[at] = (bench_nowMs() - start) / 1000.0 / u.size;
                sim_clearRequests(device);
                start = bench_nowMs();
                if (!bench_floorExchange(sim_port(device), u.request).ok)
                    ++s->floorFailures;
                floor[at] = (bench_nowMs() - start) / 1000.0 / u.size;
                sim_clearRequests(device);
            }
            s->library.push_back(bench_ratio(library[1], library[0]));
            s->floor.push_back(bench_ratio(floor[1], floor[0]));
        }
    };
    growth->evaluate = [s, p, &uploads] {
        bench_row& r = p->row;
        r.samples = static_cast<int>(s->library.size());
        r.ratio = bench_pairedRatio(s->library, s->floor);
        r.interval = bench_pairedIntervalOfBlocks(s->library, s->floor, s->blocks);
        r.rounds = bench_roundRatios(s->library, s->floor);
        r.blocks = s->blocks;
        r.verdict = bench_judge(r);
        std::vector<double> libraryMedians, floorMedians, sizeBytes;
        for (const bench_uploadSize& u : uploads) {
            libraryMedians.push_back(u.row->row.median);
            floorMedians.push_back(u.row->row.floorMedian);
            sizeBytes.push_back(u.size);
        }
        char note[200];
        std::snprintf(note, sizeof note,
                      "library %.2fx, floor %.2fx (medians of the rows above); below 1 fixed costs dominate the "
                      "small package",
                      bench_growth(sizeBytes, libraryMedians), bench_growth(sizeBytes, floorMedians));
        r.note = note;
        if (s->floorFailures)
            r.note += "; " + std::to_string(s->floorFailures) + " floor uploads failed";
    };
    return growth;
}

void bench_uploads(sim_server* device, const bench_config& config, const bench_curl& curl, bench_report* report)
{
    // Up to the largest package that the library's upload takes.
    const int largest = upload_largestPackage("127.0.0.1", kUploadName);
    const std::vector<int> sizes = { 1000000, 5000000, largest };
    std::vector<char> data(static_cast<std::size_t>(largest));
    std::mt19937 random(12345);
    for (char& c : data)
        c = static_cast<char>(random());

    std::vector<bench_uploadSize> uploads(sizes.size());
    bench_rows rows;
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        bench_uploadSize& u = uploads[k];
        u.size = sizes[k];
        u.row = bench_uploadRow(u, device, config, data);
        rows.push_back(u.row);
        if (config.curl)
            u.peer = bench_uploadPeer(u, device, config, curl, data);
        if (u.peer)
            rows.push_back(u.peer);
    }
    auto growth = bench_growthRow(uploads, device, config, data);
    rows.push_back(growth);
    // In passes over all sizes, as the calls (see bench_settle); the growth
    // note takes the rows' medians, so it is evaluated last.
    bench_settle(rows, config.passes);
    growth->evaluate();
    for (const bench_uploadSize& u : uploads) {
        report->rows.push_back(u.row->row);
        if (u.peer)
            report->rows.push_back(u.peer->row);
    }
    report->rows.push_back(growth->row);
}

// Many calls in the mix of an integrator: resident memory and open
// descriptors or handles must not grow.
void bench_memory(sim_server* device, const bench_config& config, const std::string& configuration,
                  bench_report* report)
{
    int failures = 0;
    auto one = [&](int i) {
        char channel[16] = "do1";
        bool ok;
        if (i % 100 == 0)
            ok = checkConnection() == 1;
        else if (i % 100 == 50)
            ok = getValue("configuration", "devicebase", "") != nullptr;
        else if (i % 2)
            ok = setValue("configuration", "devicebase", "", configuration.c_str()) == 1;
        else
            ok = setIO("bench", channel, i % 7) == 1;
        if (!ok)
            ++failures;
        if (i % 100 == 99)
            sim_clearRequests(device);
    };
    for (int i = 0; i < config.memoryWarmup; ++i)
        one(i);
    // The device's worker of the last call may still hold its end open.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    long long rssBefore = bench_residentKb();
    std::string handleSource;
    int handlesBefore = bench_openHandles(&handleSource);
    int socketsBefore = bench_openSockets();
    int fdsBefore = bench_unixDescriptors();
    int warmupFailures = failures;
    failures = 0;
    // Resident memory at ten checkpoints: a leak grows in most intervals, while
    // the in-process device's threads and allocator move it in one-off steps.
    std::vector<long long> rss = { rssBefore };
    const int step = config.memoryCalls / 10 > 0 ? config.memoryCalls / 10 : 1;
    for (int i = 0; i < config.memoryCalls; ++i) {
        one(i);
        if ((i + 1) % step == 0 && i + 1 < config.memoryCalls)
            rss.push_back(bench_residentKb());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    long long rssAfter = bench_residentKb();
    rss.push_back(rssAfter);
    int handlesAfter = bench_openHandles(nullptr);
    int socketsAfter = bench_openSockets();
    int fdsAfter = bench_unixDescriptors();
    const long long kToleranceKb = 64;
    int grew = 0;
    bool leaks = bench_grows(rss, kToleranceKb, &grew);
    int intervals = static_cast<int>(rss.size()) - 1;

    bench_row memory;
    memory.group = "memory";
    memory.name = "resident memory growth over " + std::to_string(config.memoryCalls) + " calls";
    memory.unit = "KB";
    memory.samples = config.memoryCalls;
    memory.failures = failures;
    memory.median = static_cast<double>(rssAfter - rssBefore);
    char note[240];
    std::snprintf(note, sizeof note,
                  "%lld KB -> %lld KB -> %lld KB, grew in %d of %d intervals; a miss is more than %lld KB, "
                  "grown in most intervals%s",
                  rssBefore, rss[rss.size() / 2], rssAfter, grew, intervals, kToleranceKb,
                  failures ? "; calls failed" : "");
    memory.note = note;
    memory.verdict = rssBefore < 0 ? BENCH_NOT_MEASURED : (failures == 0 && !leaks) ? BENCH_PASS : BENCH_MISS;
    report->rows.push_back(memory);

    const std::string mix = "mix: setValue, setIO, checkConnection and getValue every 100th";
    bench_row sockets;
    sockets.group = "memory";
    sockets.name = "open sockets over " + std::to_string(config.memoryCalls) + " calls";
    sockets.unit = "sockets";
    sockets.samples = config.memoryCalls;
    sockets.median = socketsAfter - socketsBefore;
    sockets.note = std::to_string(socketsBefore) + " -> " + std::to_string(socketsAfter) +
                   " (the device's listening sockets included); " + mix;
    sockets.verdict = socketsBefore < 0 ? BENCH_NOT_MEASURED : socketsAfter <= socketsBefore ? BENCH_PASS : BENCH_MISS;
    report->rows.push_back(sockets);

    bench_row handles;
    handles.group = "memory";
    handles.name = "open handles over " + std::to_string(config.memoryCalls) + " calls";
#ifdef _WIN32
    handles.unit = "handles";
#else
    handles.unit = "fds";
#endif
    if (handlesBefore >= 0) {
        handles.samples = config.memoryCalls;
        handles.median = handlesAfter - handlesBefore;
        handles.note =
            std::to_string(handlesBefore) + " -> " + std::to_string(handlesAfter) + " (" + handleSource + "); " + mix;
        handles.verdict = handlesAfter <= handlesBefore ? BENCH_PASS : BENCH_MISS;
    } else {
        // No verdict from a count that Wine's own thread pipes move up and down.
        handles.note = handleSource + "; Unix descriptors of the process " + std::to_string(fdsBefore) + " -> " +
                       std::to_string(fdsAfter) + ", which include Wine's pipes of the device's short-lived threads";
    }
    if (warmupFailures)
        handles.note += "; " + std::to_string(warmupFailures) + " warm-up calls failed";
    report->rows.push_back(handles);
}

int bench_usage(const char* program)
{
    std::fprintf(
        stderr,
        "usage: %s [--quick] [--calls-only] [--json FILE] [--platform NAME] [--no-header] [--no-curl] [--margin F]\n"
        "  --quick      a short smoke run (few calls, one upload per size, 1,000 calls for memory)\n"
        "  --calls-only the call rows only: no uploads, no memory run\n"
        "  --json FILE  also write the raw figures as JSON to FILE\n"
        "  --platform   the name in the table's first column\n"
        "  --no-header  print the table rows only (to join the rows of several runs)\n"
        "  --no-curl    leave out the curl peer\n"
        "  --margin F   the run-to-run drift to allow for, as a fraction (default 0.04 natively,\n"
        "               0.07 under Wine; 0 judges by the interval alone)\n",
        program);
    return 2;
}

// The options into config; 0, or the exit code of a usage error.
int bench_parseOptions(int argc, char** argv, bench_config* config)
{
#ifdef _WIN32
    config->platform = sizeof(void*) == 8 ? "win64" : "win32";
#else
    config->platform = "native";
#endif
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--quick") {
            config->quick = true;
        } else if (a == "--no-header") {
            config->header = false;
        } else if (a == "--no-curl") {
            config->curl = false;
        } else if (a == "--calls-only") {
            config->callsOnly = true;
        } else if (a == "--margin" && i + 1 < argc) {
            char* end = nullptr;
            config->margin = std::strtod(argv[++i], &end);
            if (!end || *end || !(config->margin >= 0 && config->margin < 10))
                return bench_usage(argv[0]);
        } else if ((a == "--json" || a == "--platform") && i + 1 < argc) {
            (a == "--json" ? config->json : config->platform) = argv[++i];
        } else {
            return bench_usage(argv[0]);
        }
    }
    return 0;
}

// How many rounds, for a quick run and natively; and the drift margin.
void bench_sizeRun(bench_config* config)
{
    if (config->quick) {
        config->calls = config->callBound = 20;
        config->curlCalls = config->curlBound = 20;
        config->uploadRepeats = config->uploadBound = 1;
        config->curlUploads = config->curlUploadBound = 3;
        config->passes = 1;
        config->memoryCalls = 1000;
        config->memoryWarmup = 500;
    } else if (!bench_underWine()) {
        // Natively a round takes a fraction of a millisecond: more of them, so
        // that the rows span seconds of the machine's changing load, as they do
        // under Wine.
        config->calls = 1000;
        config->callBound = 5000;
        config->curlCalls = 600;
        config->curlBound = 1800;
    }
    benchMargin = config->margin >= 0 ? config->margin : bench_underWine() ? kWineMargin : kNativeMargin;
}

// Natively a single exchange is held to the floor closely; an exchange
// under Wine, and two of them, pay for more than the library adds.
const double kNativeCallLimit = 1.15;
const double kCallLimit = 1.5;

// The call rows, measured in passes over all of them (bench_settle).
void bench_calls(sim_server* device, sim_server* device2, const bench_config& config, const bench_curl& curl,
                 const std::string& configuration, bench_report* report)
{
    const double single = bench_underWine() ? kCallLimit : kNativeCallLimit;
    auto one = [device] { bench_writeSettings(device, 1); };
    auto two = [device2] { bench_writeSettings(device2, 2); };
    auto login = [] { return checkConnection() == 1; };
    auto get = [] { return getValue("configuration", "devicebase", "") != nullptr; };
    bench_rows rows;
    auto withPeer = [&](const std::string& name, const std::function<bool()>& call) {
        auto row = bench_measureCall(name, device, config, one, call, single);
        rows.push_back(row);
        one();
        std::vector<std::string> request = bench_captureRequests(device, call);
        if (config.curl && !request.empty())
            rows.push_back(bench_curlRow(name + " vs curl", curl,
                                         bench_urlLine(sim_port(device), bench_requestTarget(request[0])),
                                         config.curlCalls, config.curlBound, one, call, "ms", &row->row.floorMedian));
        sim_clearRequests(device);
    };
    withPeer("checkConnection, login method 1", login);
    rows.push_back(bench_measureCall("checkConnection, login method 2", device2, config, two, login, kCallLimit));
    withPeer("getValue(configuration, devicebase, \"\")", get);
    rows.push_back(bench_measureCall(
        "setValue(configuration, devicebase, \"\", JSON)", device, config, one,
        [&] { return setValue("configuration", "devicebase", "", configuration.c_str()) == 1; }, single));
    rows.push_back(bench_measureCall(
        "getIO(bench, di1)", device, config, one,
        [] {
            char channel[16] = "di1";
            return getIO("bench", channel) != -1;
        },
        single));
    rows.push_back(bench_measureCall(
        "setIO(bench, do1, 1)", device, config, one,
        [] {
            char channel[16] = "do1";
            return setIO("bench", channel, 1) == 1;
        },
        single));
    bench_settle(rows, config.passes);
    for (const auto& row : rows)
        report->rows.push_back(row->row);
    one();
}

// The table to stdout, the JSON to its file; the exit code: 3 when a row
// missed its target.
int bench_finish(const bench_report& report, const bench_config& config)
{
    std::string table = bench_table(report, config.header);
    std::fputs(table.c_str(), stdout);
    std::fflush(stdout);
    if (!config.json.empty()) {
        std::ofstream json(config.json, std::ios::binary | std::ios::trunc);
        json << bench_json(report);
    }
    int failed = 0;
    for (const bench_row& row : report.rows)
        if (row.verdict == BENCH_MISS)
            ++failed;
    return failed ? 3 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    bench_config config;
    if (int usage = bench_parseOptions(argc, argv, &config))
        return usage;
    bench_sizeRun(&config);
    if (!bench_makeDirectory()) {
        std::fprintf(stderr, "ormi_bench: cannot create a folder for the settings file\n");
        return 1;
    }
    sim_options options;
    options.user = kUser;
    options.password = kPassword;
    options.loginMethod = 1;
    sim_server* device = sim_start(options);
    options.loginMethod = 2;
    sim_server* device2 = sim_start(options);
    if (!device || !device2) {
        std::fprintf(stderr, "ormi_bench: the simulated device did not start\n");
        return 1;
    }
    bench_curl curl;
    if (config.curl)
        curl = bench_findCurl(benchDir.string(), benchDirUnix);
    bench_report report;
    report.platform = config.platform;
    report.quick = config.quick;

    std::string configuration = sim_configuration(device);
    bench_calls(device, device2, config, curl, configuration, &report);
    if (!config.callsOnly) {
        bench_uploads(device, config, curl, &report);
        bench_memory(device, config, configuration, &report);
    }

    sim_stop(device2);
    sim_stop(device);
    std::error_code ignored;
    fs::remove_all(benchDir, ignored);
    return bench_finish(report, config);
}
