// ormi-sim: command-line front of the simulated device.
#include "sim_server.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::atomic<bool> stopRequested{false};

#ifdef _WIN32
BOOL WINAPI onConsoleEvent(DWORD) {
    stopRequested = true;
    return TRUE;
}
#else
void onSignal(int) { stopRequested = true; }
#endif

const char usage[] =
    "usage: ormi-sim [options]\n"
    "A simulated ORMI device: answers the control library's requests on 127.0.0.1.\n"
    "  --port N              TCP port (default 0: a free port)\n"
    "  --bind ADDRESS        IPv4 address to listen on (default 127.0.0.1)\n"
    "  --user NAME           accepted user name (default admin)\n"
    "  --password TEXT       accepted password (default secret)\n"
    "  --login-method 1|2    1: md5(password); 2: md5(password + TAN) (default 1)\n"
    "  --tan-line-feed       method 2: the TAN answer ends in a line feed, which is hashed too\n"
    "  --package-version V   reported package_version, e.g. 2.1.0, 2.1.0-rc, 2.1.0m (default 2.1.0)\n"
    "  --install-polls N     \"values\" requests that report state \"run\" (default 3)\n"
    "  --reboot-seconds S    how long a reboot refuses connections (default 5)\n"
    "  --store-dir DIR       store uploaded packages in DIR (default: memory only)\n"
    "  --answer-delay MS     delay the answer to an upload (default 0)\n"
    "  --fault NAME          misbehave: silent, keep-open, refuse, reset, slow, huge,\n"
    "                        zero-byte, no-blank-line, crlf-json; keep-version: an\n"
    "                        installation ends well, but the device comes back with its old version\n"
    "  --log DIR             write the raw bytes of every request to DIR, one file each\n"
    "  --help                show this text\n"
    "After an installation and the reboot that follows it the device reports the version\n"
    "the installed package's file name carries: the run of digits and dots that ends the\n"
    "name before \".bz2\", or before the device's version suffix (e.g. \"m\", \"-rc\") and\n"
    "\".bz2\", with that suffix; outer dots dropped. ORMI_demo_ormi_2.1.0.bz2 gives 2.1.0,\n"
    "fw_ormim_2.2.0m.bz2 on a device at 2.1.0m gives 2.2.0m. A name without such a run\n"
    "leaves the version as it was.\n";

bool number(const char* text, int low, int high, int* out) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < low || value > high) return false;
    *out = (int)value;
    return true;
}

const char* faults[] = {"silent",    "keep-open",     "refuse",    "reset",       "slow",
                        "huge",      "zero-byte",     "no-blank-line", "crlf-json", "keep-version"};

}  // namespace

int main(int argc, char** argv) {
    sim_options options;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (name == "--tan-line-feed") {
            options.tanLineFeed = true;
            continue;
        }
        static const char* const valued[] = {"--port", "--bind", "--user", "--password", "--login-method",
                                             "--package-version", "--install-polls", "--reboot-seconds",
                                             "--store-dir", "--answer-delay", "--log", "--fault"};
        bool known = false;
        for (const char* option : valued) known = known || name == option;
        if (!known) {
            std::fprintf(stderr, "ormi-sim: unknown option %s (see --help)\n", name.c_str());
            return 2;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "ormi-sim: %s needs a value (see --help)\n", name.c_str());
            return 2;
        }
        const char* value = argv[++i];
        bool good = true;
        if (name == "--port") good = number(value, 0, 65535, &options.port);
        else if (name == "--bind") options.bindAddress = value;
        else if (name == "--user") options.user = value;
        else if (name == "--password") options.password = value;
        else if (name == "--login-method") good = number(value, 1, 2, &options.loginMethod);
        else if (name == "--package-version") options.packageVersion = value;
        else if (name == "--install-polls") good = number(value, 0, 1000000, &options.installPolls);
        else if (name == "--reboot-seconds") good = number(value, 0, 86400, &options.rebootSeconds);
        else if (name == "--store-dir") options.storeDir = value;
        else if (name == "--answer-delay") good = number(value, 0, 3600000, &options.answerDelayMs);
        else if (name == "--log") options.logDir = value;
        else if (name == "--fault") {
            good = false;
            for (const char* fault : faults) good = good || std::strcmp(fault, value) == 0;
            options.fault = value;
        }
        if (!good) {
            std::fprintf(stderr, "ormi-sim: bad value for %s: %s\n", name.c_str(), value);
            return 2;
        }
    }
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
#endif
    for (const std::string* dir : {&options.logDir, &options.storeDir}) {
        std::error_code error;
        if (!dir->empty() && !std::filesystem::is_directory(*dir, error) &&
            !std::filesystem::create_directories(*dir, error)) {
            std::fprintf(stderr, "ormi-sim: cannot create directory %s\n", dir->c_str());
            return 1;
        }
    }
    sim_server* server = sim_start(options);
    if (!server) {
        std::fprintf(stderr, "ormi-sim: cannot listen on %s:%d\n", options.bindAddress.c_str(), options.port);
        return 1;
    }
    std::printf("listening on %s:%d\n", options.bindAddress.c_str(), sim_port(server));
    std::fflush(stdout);
    while (!stopRequested) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sim_stop(server);
    return 0;
}
