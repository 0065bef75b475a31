// Several devices: one child process of this program per device (the
// library serves one call at a time per process), at most --parallel at
// once; one live line per device on a terminal, then a summary table.
#include "cli.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct deviceRun {
    std::string device;
    std::string status = "waiting";
    std::string resultLine; // the child's JSON object
    int code = -1;          // exit code once ended
    double started = 0, seconds = 0;
};

std::mutex lock;

std::vector<std::string> childArgs(const cli_options& o, const std::string& package, const std::string& device)
{
    char number[64];
    std::vector<std::string> a = { "update",
                                   package,
                                   "--device",
                                   device,
                                   "--json",
                                   "--user",
                                   o.user,
                                   "--login-method",
                                   std::to_string(o.loginMethod),
                                   "--timeout",
                                   std::to_string(o.timeout),
                                   "--retries",
                                   std::to_string(o.retries) };
    auto seconds = [&](const char* name, double value) {
        std::snprintf(number, sizeof number, "%g", value);
        a.push_back(name);
        a.push_back(number);
    };
    seconds("--retry-pause", o.retryPause);
    seconds("--reboot-wait", o.rebootWait);
    seconds("--install-wait", o.installWait);
    seconds("--upload-wait", o.uploadWait);
    seconds("--poll-interval", o.pollInterval);
    if (!o.expectVersion.empty()) {
        a.push_back("--expect-version");
        a.push_back(o.expectVersion);
    }
    // Each child checks the package as a run for one device does.
    if (o.noVerify)
        a.push_back("--no-verify");
    if (o.force)
        a.push_back("--force");
    if (o.dryRun)
        a.push_back("--dry-run");
    // The child checks the bytes it sends itself, against the same keys.
    for (const std::string& key : o.trustedKeys) {
        a.push_back("--trusted-key");
        a.push_back(key);
    }
    if (!o.signature.empty()) {
        a.push_back("--signature");
        a.push_back(o.signature);
    }
    return a;
}

void runOne(const cli_options& options, const std::string& package, deviceRun* run)
{
    {
        std::lock_guard<std::mutex> hold(lock);
        run->status = "starting";
        run->started = net_now();
    }
    proc_child* child = proc_start(term_executablePath(), childArgs(options, package, run->device));
    if (!child) {
        std::lock_guard<std::mutex> hold(lock);
        run->status = "could not start a process for this device";
        run->code = ORMI_EXIT_FAILED;
        return;
    }
    std::string line;
    while (proc_readLine(child, &line)) {
        std::lock_guard<std::mutex> hold(lock);
        if (!line.empty() && line[0] == '{') {
            run->resultLine = line;
            continue;
        }
        // The child prefixes its lines with the device it serves.
        std::string prefix = run->device + ": ";
        if (line.compare(0, prefix.size(), prefix) == 0)
            line.erase(0, prefix.size());
        if (!line.empty())
            run->status = line;
    }
    int code = proc_wait(child);
    std::lock_guard<std::mutex> hold(lock);
    run->code = code;
    run->seconds = net_now() - run->started;
    std::string message = edit_member(run->resultLine, "message");
    run->status = (code == ORMI_EXIT_OK ? "done: " : std::string("FAILED (") + exit_name(code) + "): ") +
                  (message.empty() ? run->status : message);
}

void drawLines(const std::vector<deviceRun>& runs, std::size_t width, bool again)
{
    std::string out;
    if (again)
        out += "\033[" + std::to_string(runs.size()) + "A";
    for (const deviceRun& r : runs) {
        std::string line = r.device + std::string(width - r.device.size() + 2, ' ') + r.status;
        if (line.size() > 110)
            line = line.substr(0, 107) + "...";
        out += "\r" + line + "\033[K\n";
    }
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
}

} // namespace

int multi_run(const cli_options& options, const std::string& package)
{
    std::vector<std::string> devices;
    std::string error;
    if (!devices_readFile(options.devicesFile, &devices, &error)) {
        std::fprintf(stderr, "ormi: %s\n", error.c_str());
        return ORMI_EXIT_USAGE;
    }
    std::vector<deviceRun> runs(devices.size());
    std::size_t width = 6;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        runs[i].device = devices[i];
        if (devices[i].size() > width)
            width = devices[i].size();
    }
    std::atomic<std::size_t> next{ 0 };
    std::vector<std::thread> workers;
    int parallel = options.parallel < 1 ? 1 : options.parallel;
    for (int w = 0; w < parallel && w < (int)runs.size(); ++w)
        workers.emplace_back([&] {
            for (std::size_t i; (i = next++) < runs.size();)
                runOne(options, package, &runs[i]);
        });

    bool live = term_isTerminal(1) && !options.json;
    std::vector<bool> told(runs.size(), false);
    bool drawn = false;
    for (;;) {
        bool allDone = true;
        {
            std::lock_guard<std::mutex> hold(lock);
            for (std::size_t i = 0; i < runs.size(); ++i) {
                if (runs[i].code < 0) {
                    allDone = false;
                } else if (!live && !told[i]) {
                    // Without a terminal: one line per device as it ends.
                    told[i] = true;
                    std::fprintf(options.json ? stderr : stdout, "%s: %s\n", runs[i].device.c_str(),
                                 runs[i].status.c_str());
                }
            }
            if (live) {
                drawLines(runs, width, drawn);
                drawn = true;
            }
        }
        if (allDone)
            break;
        net_sleep(0.2);
    }
    for (std::thread& t : workers)
        t.join();

    int succeeded = 0, updated = 0, unchanged = 0;
    std::string table;
    char row[1024];
    std::snprintf(row, sizeof row, "\n%-*s  %-22s %4s  %-12s %-24s %7s  %s\n", (int)width, "DEVICE", "RESULT", "CODE",
                  "BEFORE", "AFTER", "TIME", "MESSAGE");
    table += row;
    for (const deviceRun& r : runs) {
        std::string before = edit_member(r.resultLine, "version_before");
        std::string after = edit_member(r.resultLine, "version_after");
        std::string message = edit_member(r.resultLine, "message");
        // A device left alone at the expected version is at it afterwards too.
        if (after.empty() && r.code == ORMI_EXIT_OK && message.compare(0, 11, "already at ") == 0)
            after = before;
        bool same = !after.empty() && after == before;
        if (r.code == ORMI_EXIT_OK) {
            ++succeeded;
            if (same)
                ++unchanged;
            else if (!options.dryRun)
                ++updated;
        }
        if (message.empty())
            message = r.status;
        std::string afterText = after.empty() ? "-" : after + (same ? " (unchanged)" : "");
        std::snprintf(row, sizeof row, "%-*s  %-22s %4d  %-12s %-24s %6.1fs  %s\n", (int)width, r.device.c_str(),
                      exit_name(r.code), r.code, before.empty() ? "-" : before.c_str(), afterText.c_str(), r.seconds,
                      message.c_str());
        table += row;
        if (options.json) {
            if (!r.resultLine.empty()) {
                std::printf("%s\n", r.resultLine.c_str());
            } else {
                cli_options one = options;
                one.device = r.device;
                cli_result result;
                result.code = r.code;
                result.message = r.status;
                result.seconds = r.seconds;
                std::printf("%s\n", report_json(one, "update", result).c_str());
            }
        }
    }
    int failed = (int)runs.size() - succeeded;
    if (options.dryRun)
        std::snprintf(row, sizeof row, "dry run, nothing written: %d of %d devices would be updated, %d failed\n",
                      succeeded - unchanged, (int)runs.size(), failed);
    else
        std::snprintf(row, sizeof row, "%d of %d devices updated, %d unchanged, %d failed\n", updated, (int)runs.size(),
                      unchanged, failed);
    table += row;
    std::fputs(table.c_str(), options.json ? stderr : stdout);
    std::fflush(stdout);
    return succeeded == (int)runs.size() ? ORMI_EXIT_OK : ORMI_EXIT_SOME_FAILED;
}
