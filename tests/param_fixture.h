// Shared fixture of the parameter and upload tests: a simulated device on
// loopback, a settings file of the test's own in a private directory that is
// also the current directory, and a capture of the library's debug lines.
#pragma once

#include "debug.h"
#include "ini.h"
#include "md5.h"
#include "plat.h"
#include "sim_server.h"
#include "sock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace paramtest {

namespace fs = std::filesystem;

inline std::string md5Hex(const std::string& bytes)
{
    md5_context context;
    md5_init(&context);
    md5_update(&context, reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    unsigned char digest[16];
    md5_final(&context, digest);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : digest) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

// Debug lines arrive from the calling thread and from the event thread.
struct DebugLog {
    std::mutex mutex;
    std::vector<std::string> lines;
};

inline void captureLine(const char* text, void* user)
{
    DebugLog* log = static_cast<DebugLog*>(user);
    std::lock_guard<std::mutex> guard(log->mutex);
    log->lines.push_back(text);
}

struct Settings {
    std::string address = "127.0.0.1";
    std::string port; // empty: the simulator's port
    std::string user = "admin";
    std::string password = "secret";
    int loginVersion = 1;
    int timeout = 1;
};

class DeviceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        // Each test program is its own process with its own directory: the
        // settings file and "configbase" live there and tests run in parallel.
        std::random_device random;
        directory() =
            fs::temp_directory_path() / ("ormi-param-" + std::to_string(random()) + "-" +
                                         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(directory());
        fs::current_path(directory());
        ini_setDirectory(directory().string().c_str());
    }

    static void TearDownTestSuite()
    {
        std::error_code ignored;
        fs::current_path(fs::temp_directory_path(), ignored);
        fs::remove_all(directory(), ignored);
    }

    static fs::path& directory()
    {
        static fs::path path;
        return path;
    }

    void SetUp() override
    {
        startDevice(sim_options());
    }

  public: // reached from the arrange steps of case tables
    void TearDown() override
    {
        debug_setCapture(nullptr, nullptr);
        if (server != nullptr)
            sim_stop(server);
        server = nullptr;
    }

    // Restarts the device with options (user and password as in settings).
    void startDevice(sim_options options)
    {
        if (server != nullptr)
            sim_stop(server);
        options.user = settings.user;
        options.password = settings.password;
        options.loginMethod = settings.loginVersion == 2 ? 2 : 1;
        server = sim_start(options);
        ASSERT_NE(server, nullptr);
        writeSettings();
        debug_setCapture(captureLine, &debugLog);
    }

    void writeSettings()
    {
        std::ofstream ini(directory() / "ormi_control.ini", std::ios::binary | std::ios::trunc);
        ini << "[IP]\nip_address=" << settings.address
            << "\nip_port=" << (settings.port.empty() ? std::to_string(sim_port(server)) : settings.port)
            << "\n[LOGIN]\nusername=" << settings.user << "\npassword=" << settings.password
            << "\nlogin_version=" << settings.loginVersion << "\n[CONTROL]\ntimeout=" << settings.timeout << "\n";
    }

    // The hash the device expects for the last request (method 2: with the
    // TAN it handed out last).
    std::string expectedHash()
    {
        if (settings.loginVersion == 2)
            return md5Hex(settings.password + sim_lastTan(server));
        return md5Hex(settings.password);
    }

    std::string lastRequest()
    {
        std::vector<std::string> requests = sim_requests(server);
        return requests.empty() ? std::string() : requests.back();
    }

    std::vector<std::string> debugLines()
    {
        std::lock_guard<std::mutex> guard(debugLog.mutex);
        return debugLog.lines;
    }

    void clearDebug()
    {
        std::lock_guard<std::mutex> guard(debugLog.mutex);
        debugLog.lines.clear();
    }

    bool debugHas(const std::string& line)
    {
        for (const std::string& l : debugLines())
            if (l == line)
                return true;
        return false;
    }

    // A port on which nothing listens: that of a device just stopped.
    std::string refusedPort()
    {
        sim_server* probe = sim_start(sim_options());
        std::string port = std::to_string(sim_port(probe));
        sim_stop(probe);
        return port;
    }

    Settings settings;
    sim_server* server = nullptr;
    DebugLog debugLog;
};

// The answer of a device that took a value over.
inline constexpr char kOkAnswer[] = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nOK";

} // namespace paramtest
