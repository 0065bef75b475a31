// Configuration, values and channels of the simulated device, the request
// framing it tolerates, and the requests it refuses.
#include <gtest/gtest.h>

#include "sim_client.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

const std::string hash = sim_hash("secret");

struct Device : sim_testDevice {
    using sim_testDevice::sim_testDevice;
    std::string get(const std::string& type, const std::string& module)
    {
        return send(sim_getRequest("admin", hash, type, module));
    }
    std::string set(const std::string& type, const std::string& module, const std::string& data)
    {
        return send(sim_setRequest("admin", hash, type, module, data));
    }
};

TEST(SimConfiguration, DefaultIsAnIndentedObjectWithTheMembersParsersTripOver)
{
    Device device;
    std::string answer = device.get("configuration", "devicebase");
    EXPECT_EQ(sim_statusLine(answer), "HTTP/1.1 200 OK");
    EXPECT_NE(answer.find("\r\nContent-Type: application/json\r\n"), std::string::npos);
    std::string body = sim_body(answer);
    EXPECT_EQ(body, sim_configuration(device.server));
    EXPECT_EQ(body.compare(0, 6, "{\n    "), 0);
    for (const char* member : { "\"package_version\": \"2.1.0\"", "\"install_component\": \"none\"",
                                "\"reboot\": false", "\"location\": \"Hall 3, Miller's line, rack \\\"B\\\"\"",
                                "\"temperature_offset\": -2.5", "\"network\": {\n", "\"channels\": [\"di1\"" })
        EXPECT_NE(body.find(member), std::string::npos) << member;
    EXPECT_LT(answer.size(), 4000u);
    std::string contentLength = "Content-Length: " + std::to_string(body.size()) + "\r\n";
    EXPECT_NE(answer.find(contentLength), std::string::npos);
}

TEST(SimConfiguration, DeviceTypeFollowsThePackageVersionSuffix)
{
    struct {
        const char* version;
        const char* type;
    } cases[] = {
        { "2.1.0", "ORMI" }, { "2.1.0-rc", "ORMI" }, { "2.1.0m", "ORMI-M" }, { "beta", "ORMI-M" }, { "", "ORMI" }
    };
    for (const auto& c : cases) {
        sim_options options;
        options.packageVersion = c.version;
        Device device(options);
        std::string body = sim_body(device.get("configuration", "devicebase"));
        EXPECT_NE(body.find("\"package_version\": \"" + std::string(c.version) + "\""), std::string::npos) << c.version;
        EXPECT_NE(body.find("\"device_type\": \"" + std::string(c.type) + "\""), std::string::npos) << c.version;
    }
}

TEST(SimConfiguration, WholeTextRoundTripsByteForByteInEveryFraming)
{
    const std::string text =
        "{\n\t\"package_version\":\"2.1.0\",\n\t\"note\":\"a&b=c, it's \\\"x\\\"\",\n\t\"install_component\":\"none\","
        "\n\t\"reboot\":false,\n\t\"n\":{\n\t\t\"k\":[1,-2]\n\t}\n}";
    std::string form = "username=admin&password=" + hash + "&type=configuration&module=devicebase&data=" + text;
    auto post = [](const std::string& lineEnd, const std::string& body, std::size_t length) {
        return "POST /cgi-bin/setParamToServer.cgi HTTP/1.1" + lineEnd + "Host: 127.0.0.1" + lineEnd +
               "Content-Length: " + std::to_string(length) + lineEnd + lineEnd + body;
    };
    struct {
        const char* what;
        std::string request;
    } cases[] = {
        { "library framing", sim_setRequest("admin", hash, "configuration", "devicebase", text) },
        { "CRLF, exact length", post("\r\n", form, form.size()) },
        { "CRLF, final line feed", post("\r\n", form + "\n", form.size() + 1) },
    };
    for (const auto& c : cases) {
        Device device;
        std::string answer = device.send(c.request);
        EXPECT_EQ(sim_statusLine(answer), "HTTP/1.1 200 OK") << c.what;
        EXPECT_EQ(sim_body(answer), "OK\n") << c.what;
        EXPECT_EQ(sim_configuration(device.server), text) << c.what;
        EXPECT_EQ(sim_body(device.get("configuration", "devicebase")), text) << c.what;
        ASSERT_EQ(sim_requests(device.server).size(), 2u) << c.what;
        EXPECT_EQ(sim_requests(device.server)[0], c.request) << c.what;
    }
}

TEST(SimConfiguration, BrokenTextIsRefusedAndTheOldOneKept)
{
    Device device;
    std::string before = sim_configuration(device.server);
    for (const char* data : { "", "{\"a\":1", "not json", "[1,2]", "{\"a\":1}}", "{\"a\" 1}" }) {
        std::string answer = device.set("configuration", "devicebase", data);
        EXPECT_EQ(sim_statusLine(answer), "HTTP/1.1 400 Bad Request") << data;
        EXPECT_EQ(answer.find("OK"), std::string::npos) << data;
    }
    EXPECT_EQ(sim_configuration(device.server), before);
}

TEST(SimConfiguration, IndentedFormWithLineBreaksInsideStringsIsAccepted)
{
    // What the updater writes back after re-indenting a value with a comma.
    Device device;
    std::string text = "{\n\t\"location\":\"Hall 3,\n\t Miller's line\",\n\t\"reboot\":false\n}";
    EXPECT_EQ(sim_body(device.set("configuration", "devicebase", text)), "OK\n");
    EXPECT_EQ(sim_configuration(device.server), text);
}

TEST(SimValues, IdleDeviceReportsAStateOtherThanRun)
{
    Device device;
    std::string body = sim_body(device.get("values", "devicebase"));
    EXPECT_NE(body.find("\"state\": \"idle\""), std::string::npos) << body;
    EXPECT_NE(body.find("\"content\": \"ready\""), std::string::npos) << body;
    EXPECT_EQ(sim_statusLine(device.set("values", "devicebase", "{}")), "HTTP/1.1 403 Forbidden");
}

TEST(SimChannels, OutputsKeepWhatIsSetAndInputsAnswerNumbers)
{
    Device device;
    EXPECT_EQ(sim_ioValue(device.server, "x/do3/output"), "");
    EXPECT_EQ(sim_body(device.get("singlevalue", "x/do3/output")), "0");
    std::string answer = device.set("singlevalue", "x/do3/output", "7");
    EXPECT_EQ(sim_statusLine(answer), "HTTP/1.1 200 OK");
    EXPECT_EQ(sim_body(answer), "OK\n");
    EXPECT_EQ(sim_ioValue(device.server, "x/do3/output"), "7");
    EXPECT_EQ(sim_body(device.set("singlevalue", "x/ao2/output", "-12")), "OK\n");
    EXPECT_EQ(sim_ioValue(device.server, "x/ao2/output"), "-12");
    struct {
        const char* module;
        const char* body;
    } reads[] = { { "x/do3/output", "7" },
                  { "x/ao2/output", "-12" },
                  { "x/ai1/input", "23.7" },
                  { "x/di1/input", "1" },
                  { "x/di2/input", "0" } };
    for (const auto& r : reads) {
        std::string got = device.get("singlevalue", r.module);
        EXPECT_EQ(sim_statusLine(got), "HTTP/1.1 200 OK") << r.module;
        EXPECT_EQ(sim_body(got), r.body) << r.module;
    }
}

TEST(SimChannels, UnknownModulesAndBadValuesAreRefusedWithoutOk)
{
    Device device;
    device.set("singlevalue", "x/do1/output", "5");
    struct {
        const char* what;
        std::string request;
        const char* status;
    } cases[] = {
        { "channel named undo", sim_getRequest("admin", hash, "singlevalue", "x/undo/output"),
          "HTTP/1.1 404 Not Found" },
        { "ending doubled", sim_getRequest("admin", hash, "singlevalue", "x/do3/output/output"),
          "HTTP/1.1 404 Not Found" },
        { "input as output", sim_getRequest("admin", hash, "singlevalue", "x/ai1/output"), "HTTP/1.1 404 Not Found" },
        { "no base", sim_getRequest("admin", hash, "singlevalue", "do1/output"), "HTTP/1.1 404 Not Found" },
        { "unknown type", sim_getRequest("admin", hash, "whatever", "devicebase"), "HTTP/1.1 404 Not Found" },
        { "unknown configuration", sim_getRequest("admin", hash, "configuration", "nothing"),
          "HTTP/1.1 404 Not Found" },
        { "set an input", sim_setRequest("admin", hash, "singlevalue", "x/di1/input", "1"), "HTTP/1.1 403 Forbidden" },
        { "not a number", sim_setRequest("admin", hash, "singlevalue", "x/do1/output", "abc"),
          "HTTP/1.1 400 Bad Request" },
        { "decimal", sim_setRequest("admin", hash, "singlevalue", "x/do1/output", "2.5"), "HTTP/1.1 400 Bad Request" },
        { "wrong password", sim_setRequest("admin", sim_hash("x"), "singlevalue", "x/do1/output", "1"),
          "HTTP/1.1 403 Forbidden" },
    };
    for (const auto& c : cases) {
        std::string answer = device.send(c.request);
        EXPECT_EQ(sim_statusLine(answer), c.status) << c.what;
        EXPECT_EQ(answer.find("OK"), std::string::npos) << c.what << ": " << answer;
    }
    EXPECT_EQ(sim_ioValue(device.server, "x/do1/output"), "5");
}

TEST(SimFraming, MalformedAndOversizedRequestsGetAnErrorStatus)
{
    Device device;
    struct {
        const char* what;
        std::string request;
        const char* status;
    } cases[] = {
        { "garbage", "garbage\n\n", "HTTP/1.1 400 Bad Request" },
        { "no target", "GET HTTP/1.1\n\n", "HTTP/1.1 400 Bad Request" },
        { "bad header", "GET / HTTP/1.1\nno colon here\n\n", "HTTP/1.1 400 Bad Request" },
        { "bad length", "POST /cgi-bin/setParamToServer.cgi HTTP/1.1\nContent-Length: 1x\n\n",
          "HTTP/1.1 400 Bad Request" },
        { "no length", "POST /cgi-bin/setParamToServer.cgi HTTP/1.1\nHost: a\n\n\nusername=admin",
          "HTTP/1.1 411 Length Required" },
        { "huge length", "POST /cgi-bin/setUpdateFileToServer.cgi HTTP/1.1\nContent-Length: 99999999\n\n",
          "HTTP/1.1 413 Payload Too Large" },
        { "endless head", "GET /" + std::string(20000, 'a'), "HTTP/1.1 431 Request Header Fields Too Large" },
        { "unknown page", "GET /index.html HTTP/1.1\n\n", "HTTP/1.1 404 Not Found" },
        { "wrong method", "POST /cgi-bin/getParamFromServer.cgi HTTP/1.1\nContent-Length: 0\n\n",
          "HTTP/1.1 405 Method Not Allowed" },
    };
    for (const auto& c : cases) {
        sim_reply reply = sim_exchange(sim_port(device.server), c.request);
        EXPECT_TRUE(reply.closedByPeer) << c.what;
        EXPECT_EQ(sim_statusLine(reply.bytes), c.status) << c.what;
        EXPECT_EQ(reply.bytes.find("OK"), std::string::npos) << c.what;
    }
    // Still serving.
    EXPECT_EQ(sim_body(device.get("singlevalue", "x/ai1/input")), "23.7");
}

TEST(SimFraming, RequestEndedByTheClientEarlyIsAnsweredAsBad)
{
    Device device;
    simnet_handle s = simnet_connect("127.0.0.1", sim_port(device.server));
    ASSERT_NE(s, simnet_invalid);
    std::string part = "POST /cgi-bin/setParamToServer.cgi HTTP/1.1\nContent-Length: 100\n\n\nusername=";
    simnet_sendAll(s, part.data(), part.size());
    simnet_shutdownSend(s);
    std::string answer;
    char buffer[1024];
    for (int n; simnet_waitReadable(s, 3000) > 0 && (n = simnet_recv(s, buffer, sizeof buffer)) > 0;)
        answer.append(buffer, (std::size_t)n);
    simnet_close(s);
    EXPECT_EQ(sim_statusLine(answer), "HTTP/1.1 400 Bad Request");
    ASSERT_EQ(sim_requests(device.server).size(), 1u);
    EXPECT_EQ(sim_requests(device.server)[0], part);
}

TEST(SimFraming, RequestsAreRecordedAndLoggedByteForByte)
{
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "ormi_sim_log_test";
    std::filesystem::remove_all(dir);
    sim_options options;
    options.logDir = (dir / "created").string(); // made on start
    std::vector<std::string> sent = { sim_getRequest("admin", hash, "login", "login"),
                                      sim_setRequest("admin", hash, "singlevalue", "x/do1/output", "1") };
    {
        Device device(options);
        for (const auto& request : sent)
            device.send(request);
        EXPECT_EQ(sim_requests(device.server), sent);
        sim_clearRequests(device.server);
        EXPECT_TRUE(sim_requests(device.server).empty());
        EXPECT_EQ(sim_connectionCount(device.server), 2u);
    }
    for (std::size_t i = 0; i < sent.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "request-%06zu.http", i + 1);
        std::ifstream file(dir / "created" / name, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes, sent[i]) << name;
    }
    std::filesystem::remove_all(dir);
}

TEST(SimOverride, MatchingRequestsGetTheRawAnswerUntilRemoved)
{
    Device device;
    const std::string raw = "HTTP/1.1 200 OK\n\n{\"package_version\":\"9.9\"}";
    sim_setOverride(device.server, "type=configuration", raw);
    sim_setOverride(device.server, "module=devicebase", "HTTP/1.1 500 Later\n\n");
    sim_reply reply =
        sim_exchange(sim_port(device.server), sim_getRequest("admin", hash, "configuration", "devicebase"));
    EXPECT_EQ(reply.bytes, raw);
    EXPECT_TRUE(reply.closedByPeer);
    EXPECT_EQ(device.get("values", "devicebase"), "HTTP/1.1 500 Later\n\n");
    sim_setOverride(device.server, "type=configuration", "");
    sim_setOverride(device.server, "module=devicebase", "");
    EXPECT_EQ(sim_body(device.get("configuration", "devicebase")), sim_configuration(device.server));
}

} // namespace
