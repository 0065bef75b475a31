// Login hash and checkConnection against the in-process simulated device.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "debug.h"
#include "ini.h"
#include "login.h"
#include "md5.h"
#include "ormi_control.h"
#include "plat.h"
#include "sim_server.h"
#include "sock.h"

namespace {

const char kSecretHash[] = "5ebe2294ecd0e0f08eab7690d2a6ee69"; // md5("secret")

struct Settings {
    std::string address = "127.0.0.1";
    std::string port; // empty: the simulator's port
    std::string user = "admin";
    bool hasPassword = true;
    std::string password = "secret";
    std::string loginVersion = "1"; // empty: key left out
    std::string timeout = "1";
};

std::mutex capturedMutex;
std::vector<std::string> captured;

void captureLine(const char* text, void*)
{
    std::lock_guard<std::mutex> lock(capturedMutex);
    captured.emplace_back(text);
}

std::vector<std::string> capturedLines()
{
    std::lock_guard<std::mutex> lock(capturedMutex);
    return captured;
}

std::string loginRequest(const std::string& hash, const std::string& host = "127.0.0.1")
{
    return "GET /cgi-bin/getParamFromServer.cgi?username=admin&password=" + hash +
           "&type=login&module=login HTTP/1.1\nHost: " + host + "\n\n\n";
}

std::string tanRequest(const std::string& host = "127.0.0.1")
{
    return std::string("GET /cgi-bin/getParamFromServer.cgi?username=admin&password=") + kSecretHash +
           "&type=single_id&module=login HTTP/1.1\nHost: " + host + "\n\n\n";
}

class Login : public ::testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        directory = std::filesystem::temp_directory_path() /
                    ("ormi_login_test_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(directory);
        ini_setDirectory(directory.string().c_str());
        debug_setCapture(captureLine, nullptr);
        startDLL();
    }

    static void TearDownTestSuite()
    {
        debug_setCapture(nullptr, nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
    }

    void SetUp() override
    {
        std::lock_guard<std::mutex> lock(capturedMutex);
        captured.clear();
    }

    void TearDown() override
    {
        if (server)
            sim_stop(server);
        server = nullptr;
    }

    void startDevice(int method, bool tanLineFeed = false, const std::string& password = "secret")
    {
        sim_options options;
        options.loginMethod = method;
        options.tanLineFeed = tanLineFeed;
        options.password = password;
        server = sim_start(options);
        ASSERT_NE(nullptr, server);
    }

    void writeSettings(const Settings& s)
    {
        std::string port = s.port.empty() ? std::to_string(sim_port(server)) : s.port;
        std::ofstream file(directory / "ormi_control.ini", std::ios::binary | std::ios::trunc);
        file << "[IP]\nip_address=" << s.address << "\nip_port=" << port << "\n";
        file << "[LOGIN]\nusername=" << s.user << "\n";
        if (s.hasPassword)
            file << "password=" << s.password << "\n";
        if (!s.loginVersion.empty())
            file << "login_version=" << s.loginVersion << "\n";
        file << "[CONTROL]\ntimeout=" << s.timeout << "\n";
    }

    static std::filesystem::path directory;
    sim_server* server = nullptr;
};

std::filesystem::path Login::directory;

TEST_F(Login, Method1SendsOneLoginRequestWithMd5OfPassword)
{
    startDevice(1);
    writeSettings(Settings{});
    EXPECT_EQ(1, checkConnection());
    auto requests = sim_requests(server);
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(loginRequest(kSecretHash), requests[0]);
    EXPECT_EQ(1u, sim_connectionCount(server));
}

TEST_F(Login, Method2FetchesTanThenLogsInWithSaltedHash)
{
    for (bool tanLineFeed : { false, true }) {
        SCOPED_TRACE(tanLineFeed ? "TAN ends in a line feed" : "bare TAN");
        startDevice(2, tanLineFeed);
        Settings settings;
        settings.loginVersion = "2";
        writeSettings(settings);
        EXPECT_EQ(1, checkConnection());
        auto requests = sim_requests(server);
        ASSERT_EQ(2u, requests.size());
        EXPECT_EQ(tanRequest(), requests[0]);
        char expected[33];
        md5_hexString(("secret" + sim_lastTan(server) + (tanLineFeed ? "\n" : "")).c_str(), expected);
        EXPECT_EQ(loginRequest(expected), requests[1]);
        sim_stop(server);
        server = nullptr;
    }
}

TEST_F(Login, Method2HashesPasswordFollowedByWholeTanBody)
{
    const struct {
        const char* answer;
        const char* hash;
    } cases[] = {
        // The line feed behind the number belongs to the TAN.
        { "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n4711\n", "8e8c618137b3078b54db59e6c4ee9dfe" },
        { "HTTP/1.1 200 OK\n\n4711", "491bcf9562d9ebd2b5d0d41170a3de7e" },
        // No blank line at all: the whole answer is the TAN.
        { "4711", "491bcf9562d9ebd2b5d0d41170a3de7e" },
    };
    startDevice(2);
    Settings settings;
    settings.loginVersion = "2";
    writeSettings(settings);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        sim_clearRequests(server);
        sim_setOverride(server, "type=single_id", c.answer);
        checkConnection();
        auto requests = sim_requests(server);
        ASSERT_EQ(2u, requests.size());
        EXPECT_EQ(loginRequest(c.hash), requests[1]);
    }
}

TEST_F(Login, Method2TanOfExactlyFittingLengthIsUsed)
{
    // "secret" and 1017 digits fill the 1023 characters of the joined text.
    startDevice(2);
    Settings settings;
    settings.loginVersion = "2";
    writeSettings(settings);
    sim_setOverride(server, "type=single_id", "HTTP/1.1 200 OK\n\n" + std::string(1017, '7'));
    checkConnection();
    auto requests = sim_requests(server);
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(loginRequest("9c36b1eafe58664698421f1565f6312e"), requests[1]);
}

TEST_F(Login, Method2RefusesTanThatIsEmptyOrTooLong)
{
    const std::string answers[] = {
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n", // empty body
        "HTTP/1.1 200 OK\n\n" + std::string(1018, '7'),        // one character too many
        "HTTP/1.1 200 OK\n\n" + std::string(3000, '7'),
    };
    startDevice(2);
    Settings settings;
    settings.loginVersion = "2";
    writeSettings(settings);
    for (const auto& answer : answers) {
        SCOPED_TRACE(answer.substr(0, 40));
        sim_clearRequests(server);
        sim_setOverride(server, "type=single_id", answer);
        char address[256] = "127.0.0.1";
        char port[256];
        snprintf(port, sizeof port, "%d", sim_port(server));
        EXPECT_EQ(nullptr, login_passwordHash(address, port, 1, "admin"));
        EXPECT_EQ(0, checkConnection());
        // Each attempt stops after its TAN request: no login request is sent.
        auto requests = sim_requests(server);
        ASSERT_EQ(2u, requests.size());
        EXPECT_EQ(tanRequest(), requests[0]);
        EXPECT_EQ(tanRequest(), requests[1]);
    }
}

TEST_F(Login, WrongPasswordIsRejected)
{
    for (const char* method : { "1", "2" }) {
        SCOPED_TRACE(method);
        startDevice(method[0] - '0');
        Settings settings;
        settings.loginVersion = method;
        settings.password = "Secret";
        writeSettings(settings);
        EXPECT_EQ(0, checkConnection());
        EXPECT_EQ(method[0] == '1' ? 1u : 2u, sim_requests(server).size());
        sim_stop(server);
        server = nullptr;
    }
}

TEST_F(Login, SuccessNeedsLoginOkInUpperCaseAnywhereInAnswer)
{
    const struct {
        const char* answer;
        int result;
    } cases[] = {
        { "HTTP/1.1 200 OK\r\n\r\nLOGIN OK", 1 },     { "HTTP/1.1 200 OK\r\n\r\nxxLOGIN OKxx", 1 },
        { "HTTP/1.1 200 LOGIN OK\r\n\r\n", 1 }, // status line and headers count too
        { "HTTP/1.1 200 OK\r\n\r\nlogin ok", 0 },     { "HTTP/1.1 200 OK\r\n\r\nLOGIN  OK", 0 },
        { "HTTP/1.1 200 OK\r\n\r\nLOGIN FAILED", 0 },
    };
    startDevice(1);
    writeSettings(Settings{});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        sim_setOverride(server, "type=login", c.answer);
        EXPECT_EQ(c.result, checkConnection());
    }
}

TEST_F(Login, UnsupportedLoginVersionFailsWithoutTraffic)
{
    startDevice(1);
    for (const char* version : { "3", "0", "-1", "abc" }) {
        SCOPED_TRACE(version);
        Settings settings;
        settings.loginVersion = version;
        writeSettings(settings);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(0, checkConnection());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    }
    EXPECT_EQ(0u, sim_connectionCount(server));
}

TEST_F(Login, MissingLoginVersionMeansMethod1)
{
    startDevice(1);
    Settings settings;
    settings.loginVersion = "";
    writeSettings(settings);
    EXPECT_EQ(1, checkConnection());
    EXPECT_EQ(1u, sim_requests(server).size());
}

TEST_F(Login, EmptyAndMissingPasswordsAreHashedAsText)
{
    const struct {
        bool hasPassword;
        const char* devicePassword;
        const char* hash;
    } cases[] = {
        { true, "", "d41d8cd98f00b204e9800998ecf8427e" },
        { false, "no entry", "70a25619d8ae505ea14646216595fbce" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.devicePassword);
        startDevice(1, false, c.devicePassword);
        Settings settings;
        settings.hasPassword = c.hasPassword;
        settings.password = "";
        writeSettings(settings);
        EXPECT_EQ(1, checkConnection());
        auto requests = sim_requests(server);
        ASSERT_EQ(1u, requests.size());
        EXPECT_EQ(loginRequest(c.hash), requests[0]);
        sim_stop(server);
        server = nullptr;
    }
}

TEST_F(Login, HostCarriesAddressAsTransportLeftIt)
{
    // Method 2 formats the login request after the TAN exchange has moved the
    // prefix and port out of the address; method 1 formats it unchanged.
    for (int method : { 1, 2 }) {
        SCOPED_TRACE(method);
        startDevice(method);
        Settings settings;
        settings.loginVersion = std::to_string(method);
        settings.address = "http://127.0.0.1:" + std::to_string(sim_port(server));
        settings.port = "1";
        writeSettings(settings);
        EXPECT_EQ(1, checkConnection());
        auto requests = sim_requests(server);
        ASSERT_EQ(method == 1 ? 1u : 2u, requests.size());
        if (method == 1) {
            EXPECT_EQ(loginRequest(kSecretHash, settings.address), requests[0]);
        } else {
            EXPECT_EQ(tanRequest(settings.address), requests[0]);
            EXPECT_NE(std::string::npos, requests[1].find("\nHost: 127.0.0.1\n\n\n"));
        }
        sim_stop(server);
        server = nullptr;
    }
}

// Any process on the machine can read the debug channel, and its lines may
// be saved: the clear password never shows, nor does method 1's hash, which
// is the same at every login and all a device asks for. Method 2's hash is
// good for one login only and stays.
TEST_F(Login, DebugLinesHoldNeitherClearPasswordNorReplayableHash)
{
    const std::string method1Hash = "e4431605259c2b06b2e5ea5b32e29876"; // md5("Geheim!42")
    const std::string package = "package bytes";
    char input[] = "di1";
    char output[] = "do1";
    const struct {
        const char* name;
        std::function<void()> call;
    } exports[] = {
        { "checkConnection", [] { EXPECT_EQ(1, checkConnection()); } },
        { "getValue", [] { getValue("configuration", "devicebase", ""); } },
        { "setValue", [] { setValue("configuration", "devicebase", "", "{}"); } },
        { "getIO", [&] { getIO("base", input); } },
        { "setIO", [&] { setIO("base", output, 1); } },
        { "sendUpdateFile",
          [&] { EXPECT_EQ(1, sendUpdateFile("update", "p.bz2", package.data(), (int)package.size())); } },
    };
    for (int method : { 1, 2 }) {
        startDevice(method, false, "Geheim!42");
        Settings settings;
        settings.password = "Geheim!42";
        settings.loginVersion = std::to_string(method);
        writeSettings(settings);
        for (const auto& e : exports) {
            SCOPED_TRACE(std::string(e.name) + ", login method " + std::to_string(method));
            {
                std::lock_guard<std::mutex> lock(capturedMutex);
                captured.clear();
            }
            size_t requestsBefore = sim_requests(server).size();
            e.call();
            EXPECT_GT(sim_requests(server).size(), requestsBefore);
            auto lines = capturedLines();
            bool hashLine = false;
            for (const auto& line : lines) {
                EXPECT_EQ(std::string::npos, line.find("Geheim")) << line;
                EXPECT_EQ(std::string::npos, line.find(method1Hash)) << line;
                if (method == 1)
                    hashLine |= line == "pw = ***     MD5 = e44316...";
                else
                    hashLine |= line.rfind("TAN = ***" + sim_lastTan(server) + "     MD5 = ", 0) == 0 &&
                                line.size() == 9 + 6 + 11 + 32;
            }
            EXPECT_TRUE(hashLine);
            if (std::string(e.name) == "sendUpdateFile") {
                char oneTime[33];
                md5_hexString(("Geheim!42" + sim_lastTan(server)).c_str(), oneTime);
                std::string shown = method == 1 ? "e44316..." : oneTime;
                EXPECT_NE(std::find(lines.begin(), lines.end(), "tanStr = " + shown), lines.end());
            }
        }
        sim_stop(server);
        server = nullptr;
    }
}

TEST_F(Login, SilentDeviceFailsWithinAboutOneTimeout)
{
    for (int method : { 1, 2 }) {
        SCOPED_TRACE(method);
        startDevice(method);
        sim_setFault(server, "silent");
        Settings settings;
        settings.loginVersion = std::to_string(method);
        writeSettings(settings);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(0, checkConnection());
        auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_GE(elapsed, std::chrono::milliseconds(900));
        EXPECT_LT(elapsed, std::chrono::milliseconds(2500)); // loaded machines
        // Method 2 gives up after the TAN exchange.
        EXPECT_EQ(1u, sim_connectionCount(server));
        sim_stop(server);
        server = nullptr;
    }
}

} // namespace
