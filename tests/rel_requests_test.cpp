// Caller and settings texts against the request framing, and the clear
// password against every place the library's work becomes visible: debug
// lines, the device's record of what it received, files left behind.
#include "ormi_control.h"
#include "param_fixture.h"

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

namespace paramtest {
namespace {

class RequestTextTest : public DeviceTest {};

// Calls one export; true when it gave its failure value.
using Call = std::function<bool()>;

bool callGetIO(const char* base, const char* channel)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s", channel);
    return getIO(base, buffer) == -1;
}

bool callSetIO(const char* base, const char* channel)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s", channel);
    return setIO(base, buffer, 1) == 0;
}

bool callUpload(const char* fileName)
{
    static const char data[] = "package";
    return sendUpdateFile("update", fileName, data, 7) == -1;
}

TEST_F(RequestTextTest, LineBreakInACallerTextIsRefusedAndNothingIsSent)
{
    const struct {
        const char* name;
        Call call;
    } cases[] = {
        { "getIO base LF", [] { return callGetIO("x\nHost: evil", "di1"); } },
        { "getIO channel CR", [] { return callGetIO("x", "di1\r"); } },
        { "setIO base CR", [] { return callSetIO("x\r", "do1"); } },
        { "setIO channel LF", [] { return callSetIO("x", "do1\n\nGET / HTTP/1.1"); } },
        { "getValue type", [] { return getValue("configuration\n", "devicebase", "") == nullptr; } },
        { "getValue module", [] { return getValue("configuration", "devicebase HTTP/1.1\r\nX: y", "") == nullptr; } },
        { "getValue key", [] { return getValue("configuration", "devicebase", "a\nb") == nullptr; } },
        { "setValue type", [] { return setValue("a\rb", "devicebase", "", "{}") == 0; } },
        { "setValue module", [] { return setValue("configuration", "\n", "", "{}") == 0; } },
        { "setValue key", [] { return setValue("configuration", "devicebase", "k\n", "1") == 0; } },
        { "upload file name LF", [] { return callUpload("p.bz2\"\nContent-Type: x"); } },
        { "upload file name CR", [] { return callUpload("p\r.bz2"); } },
    };
    // Method 2: not even the TAN request may go out.
    settings.loginVersion = 2;
    startDevice(sim_options());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim_clearRequests(server);
        std::size_t connections = sim_connectionCount(server);
        EXPECT_TRUE(c.call());
        EXPECT_TRUE(sim_requests(server).empty());
        EXPECT_EQ(sim_connectionCount(server), connections);
    }
}

TEST_F(RequestTextTest, LineBreakInASettingsTextIsRefusedByEveryExport)
{
    const Call exports[] = {
        [] { return checkConnection() == 0; },
        [] { return callGetIO("x", "di1"); },
        [] { return callSetIO("x", "do1"); },
        [] { return getValue("configuration", "devicebase", "") == nullptr; },
        [] { return setValue("configuration", "devicebase", "", "{}") == 0; },
        [] { return callUpload("p.bz2"); },
    };
    // A line feed cannot stand inside a settings line; a carriage return can
    // with the POSIX reader, while the Windows one ends the value there.
    const struct {
        const char* name;
        std::string Settings::*field;
        const char* section;
        const char* key;
        std::string text;
    } texts[] = {
        { "user", &Settings::user, "LOGIN", "username", "admin\rX-Injected: 1" },
        { "address", &Settings::address, "IP", "ip_address", "127.0.0.1\rX-Injected: 1" },
    };
    for (const auto& t : texts) {
        SCOPED_TRACE(t.name);
        Settings healthy = settings;
        settings.*(t.field) = t.text;
        settings.loginVersion = 2;
        writeSettings();
        char read[256];
        ini_readString("ormi_control.ini", t.section, t.key, read, 255);
        bool carried = std::strchr(read, '\r') != nullptr;
        for (std::size_t i = 0; i < std::size(exports); ++i) {
            SCOPED_TRACE("export " + std::to_string(i));
            sim_clearRequests(server);
            std::size_t connections = sim_connectionCount(server);
            bool failed = exports[i]();
            if (carried) {
                EXPECT_TRUE(failed);
                EXPECT_TRUE(sim_requests(server).empty());
                EXPECT_EQ(sim_connectionCount(server), connections);
            }
            for (const std::string& request : sim_requests(server))
                EXPECT_EQ(request.substr(0, request.find("\n\n")).find('\r'), std::string::npos);
        }
        settings = healthy;
        writeSettings();
    }
}

TEST_F(RequestTextTest, MultiLineValueOfSetValueIsStillSent)
{
    // The value is form data: a JSON text one member per line must go out.
    const char value[] = "{\n\t\"reboot\":\t\"false\"\n}";
    EXPECT_EQ(setValue("configuration", "devicebase", "", value), 1);
    EXPECT_NE(lastRequest().find(value), std::string::npos);
}

std::string readAll(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class PasswordTest : public DeviceTest, public ::testing::WithParamInterface<int> {};

TEST_P(PasswordTest, ClearPasswordAppearsOnlyInTheSettingsFile)
{
    const std::string password = "Qz7-clear-pw";
    settings.password = password;
    settings.loginVersion = GetParam();
    sim_options options;
    options.logDir = (directory() / ("log" + std::to_string(GetParam()))).string();
    startDevice(options);
    fs::create_directories(directory() / "configbase");
    std::ofstream(directory() / "configbase" / "devicebase.json") << "{\n\t\"reboot\": \"false\"\n}";
    clearDebug();

    char input[16] = "di1";
    char output[16] = "do1";
    static const char package[] = "bytes";
    EXPECT_EQ(checkConnection(), 1);
    EXPECT_NE(getIO("x", input), -1);
    EXPECT_EQ(setIO("x", output, 3), 1);
    EXPECT_NE(getValue("configuration", "devicebase", ""), nullptr);
    EXPECT_NE(getValue("configuration", "devicebase", "package_version"), nullptr);
    EXPECT_EQ(setValue("configuration", "devicebase", "reboot", "false"), 1);
    EXPECT_EQ(sendUpdateFile("update", "p_ormi_.bz2", package, 5), 1);

    std::vector<std::string> lines = debugLines();
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines)
        EXPECT_EQ(line.find(password), std::string::npos) << line;
    std::vector<std::string> requests = sim_requests(server);
    ASSERT_GE(requests.size(), 7u);
    for (const std::string& request : requests)
        EXPECT_EQ(request.find(password), std::string::npos) << request;
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(directory())) {
        if (!entry.is_regular_file() || entry.path().filename() == "ormi_control.ini")
            continue;
        ++files;
        EXPECT_EQ(readAll(entry.path()).find(password), std::string::npos) << entry.path();
    }
    EXPECT_GE(files, 7); // the device's log files were looked at
    EXPECT_NE(readAll(directory() / "ormi_control.ini").find(password), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(BothLoginMethods, PasswordTest, ::testing::Values(1, 2));

} // namespace
} // namespace paramtest
