// ormi-sim: command-line front of the simulated device.
#include "sim_server.h"
#include "simfault.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::atomic<bool> stopRequested{ false };

#ifdef _WIN32
BOOL WINAPI onConsoleEvent(DWORD)
{
    stopRequested = true;
    return TRUE;
}
#else
void onSignal(int)
{
    stopRequested = true;
}
#endif

const char usage[] = "usage: ormi-sim [options]\n"
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
                     "                        zero-byte, no-blank-line, crlf-json; reset-mid-answer: the\n"
                     "                        login is answered, every other answer cut by a reset halfway;\n"
                     "                        keep-version: an installation ends well, but the device\n"
                     "                        comes back with its old version\n"
                     "  --log DIR             write the raw bytes of every request to DIR, one file each\n"
                     "  --count N             serve N devices from this process on ports P to P+N-1 (--port P\n"
                     "                        must be given); each has its own state; \"%d\" in --password is\n"
                     "                        replaced by the device's number 1..N; --log and --store-dir get a\n"
                     "                        folder per device, DIR/PORT; one \"listening on\" line per device\n"
                     "  --fault-on LIST       with --count: the --fault only for these devices (e.g. 2,5,7)\n"
                     "  --help                show this text\n"
                     "  --version             show the version\n"
                     "After an installation and the reboot that follows it the device reports the version\n"
                     "the installed package's file name carries: the run of digits and dots that ends the\n"
                     "name before \".bz2\", or before the device's version suffix (e.g. \"m\", \"-rc\") and\n"
                     "\".bz2\", with that suffix; outer dots dropped. ORMI_demo_ormi_2.1.0.bz2 gives 2.1.0,\n"
                     "fw_ormim_2.2.0m.bz2 on a device at 2.1.0m gives 2.2.0m. A name without such a run\n"
                     "leaves the version as it was.\n";

const int maxDevices = 1000;

bool number(const char* text, int low, int high, int* out)
{
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < low || value > high)
        return false;
    *out = (int)value;
    return true;
}

// Comma-separated device numbers 1..count.
bool numberList(const std::string& text, int count, std::vector<bool>* chosen)
{
    chosen->assign((std::size_t)count + 1, false);
    std::size_t at = 0;
    for (;;) {
        std::size_t comma = text.find(',', at);
        std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        int n = 0;
        if (!number(item.c_str(), 1, count, &n))
            return false;
        (*chosen)[(std::size_t)n] = true;
        if (comma == std::string::npos)
            return true;
        at = comma + 1;
    }
}

std::string replaceAll(std::string text, const std::string& what, const std::string& with)
{
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    sim_options options;
    int count = 0; // 0: one device, as given
    std::string faultOn;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (name == "--version") {
            std::printf("ormi-sim %s\n", ORMI_VERSION);
            return 0;
        }
        if (name == "--tan-line-feed") {
            options.tanLineFeed = true;
            continue;
        }
        static const char* const valued[] = { "--port",          "--bind",
                                              "--user",          "--password",
                                              "--login-method",  "--package-version",
                                              "--install-polls", "--reboot-seconds",
                                              "--store-dir",     "--answer-delay",
                                              "--log",           "--fault",
                                              "--count",         "--fault-on" };
        bool known = false;
        for (const char* option : valued)
            known = known || name == option;
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
        if (name == "--port")
            good = number(value, 0, 65535, &options.port);
        else if (name == "--bind")
            options.bindAddress = value;
        else if (name == "--user")
            options.user = value;
        else if (name == "--password")
            options.password = value;
        else if (name == "--login-method")
            good = number(value, 1, 2, &options.loginMethod);
        else if (name == "--package-version")
            options.packageVersion = value;
        else if (name == "--install-polls")
            good = number(value, 0, 1000000, &options.installPolls);
        else if (name == "--reboot-seconds")
            good = number(value, 0, 86400, &options.rebootSeconds);
        else if (name == "--store-dir")
            options.storeDir = value;
        else if (name == "--answer-delay")
            good = number(value, 0, 3600000, &options.answerDelayMs);
        else if (name == "--log")
            options.logDir = value;
        else if (name == "--count")
            good = number(value, 1, maxDevices, &count);
        else if (name == "--fault-on")
            faultOn = value;
        else if (name == "--fault") {
            good = simfault_known(value);
            options.fault = value;
        }
        if (!good) {
            std::fprintf(stderr, "ormi-sim: bad value for %s: %s\n", name.c_str(), value);
            return 2;
        }
    }
    std::vector<sim_options> devices;
    if (count == 0) {
        if (!faultOn.empty()) {
            std::fprintf(stderr, "ormi-sim: --fault-on goes with --count (see --help)\n");
            return 2;
        }
        devices.push_back(options);
    } else {
        if (options.port == 0 || options.port + count - 1 > 65535) {
            std::fprintf(stderr, "ormi-sim: --count needs --port P with P+N-1 at most 65535\n");
            return 2;
        }
        std::vector<bool> chosen;
        if (!faultOn.empty() && (options.fault.empty() || !numberList(faultOn, count, &chosen))) {
            std::fprintf(stderr, "ormi-sim: bad value for --fault-on: %s (device numbers 1 to %d, with --fault)\n",
                         faultOn.c_str(), count);
            return 2;
        }
        for (int n = 1; n <= count; ++n) {
            sim_options device = options;
            device.port = options.port + n - 1;
            device.password = replaceAll(options.password, "%d", std::to_string(n));
            if (!faultOn.empty() && !chosen[(std::size_t)n])
                device.fault.clear();
            std::string folder = "/" + std::to_string(device.port);
            if (!device.logDir.empty())
                device.logDir += folder;
            if (!device.storeDir.empty())
                device.storeDir += folder;
            devices.push_back(device);
        }
    }
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
#endif
    for (const sim_options& device : devices)
        for (const std::string* dir : { &device.logDir, &device.storeDir }) {
            std::error_code error;
            if (!dir->empty() && !std::filesystem::is_directory(*dir, error) &&
                !std::filesystem::create_directories(*dir, error)) {
                std::fprintf(stderr, "ormi-sim: cannot create directory %s\n", dir->c_str());
                return 1;
            }
        }
    std::size_t failed = 0;
    sim_group* group = sim_startGroup(devices, &failed);
    if (!group) {
        const sim_options& device = devices[failed];
        std::fprintf(stderr, "ormi-sim: cannot listen on %s:%d\n", device.bindAddress.c_str(), device.port);
        return 1;
    }
    for (std::size_t i = 0; i < sim_groupSize(group); ++i)
        std::printf("listening on %s:%d\n", options.bindAddress.c_str(), sim_port(sim_groupDevice(group, i)));
    std::fflush(stdout);
    while (!stopRequested)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sim_stopGroup(group);
    return 0;
}
