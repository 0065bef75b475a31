// getIO, setIO, getValue and setValue against the simulated device: the
// request bytes, the results of every failure, the evaluation of answers,
// the stored module configuration and the refusal of texts that do not fit.
#include "ormi_control.h"
#include "param_fixture.h"

#include <clocale>
#include <cstring>
#include <functional>
#include <string>

namespace paramtest {
namespace {

const std::string kFaultSilent = "silent";      // accepts, never answers
const std::string kFaultKeepOpen = "keep-open"; // answers, never closes

std::string postRequest(const std::string& host, const std::string& form)
{
    return "POST /cgi-bin/setParamToServer.cgi HTTP/1.1\nHost: " + host +
           "\nContent-Length: " + std::to_string(form.size()) + "\n\n\n" + form + "\n";
}

std::string getRequest(const std::string& query, const std::string& host)
{
    return "GET /cgi-bin/getParamFromServer.cgi?" + query + " HTTP/1.1\nHost: " + host + "\n\n\n";
}

class ParamTest : public DeviceTest {
  protected:
    // The request as the device received it, and the count the library sent.
    void expectSent(const std::string& expected)
    {
        EXPECT_EQ(lastRequest(), expected);
        EXPECT_TRUE(debugHas("sended " + std::to_string(expected.size()) + " bytes"))
            << "expected " << expected.size() << " bytes sent";
    }
};

// ---------------------------------------------------------------------------
// Request bytes

struct RequestCase {
    const char* name;
    std::function<void()> call;
    // host text of the Host line, hash -> expected request
    std::function<std::string(const std::string&, const std::string&)> expected;
};

std::vector<RequestCase> requestCases()
{
    return {
        { "getValue", [] { getValue("configuration", "devicebase", ""); },
          [](const std::string& host, const std::string& hash) {
              return getRequest("username=admin&password=" + hash + "&type=configuration&module=devicebase", host);
          } },
        { "getIO output channel",
          [] {
              char channel[16] = "do3";
              getIO("x", channel);
          },
          [](const std::string& host, const std::string& hash) {
              return getRequest("username=admin&password=" + hash + "&type=singlevalue&module=x/do3/output", host);
          } },
        { "getIO input channel",
          [] {
              char channel[16] = "ai1";
              getIO("x", channel);
          },
          [](const std::string& host, const std::string& hash) {
              return getRequest("username=admin&password=" + hash + "&type=singlevalue&module=x/ai1/input", host);
          } },
        { "setIO substring output, negative value",
          [] {
              char channel[16] = "undo";
              setIO("x", channel, -17);
          },
          [](const std::string& host, const std::string& hash) {
              return postRequest(host, "username=admin&password=" + hash +
                                           "&type=singlevalue&module=x/undo/output&data=-17\n");
          } },
        { "setIO analog output",
          [] {
              char channel[16] = "ao2";
              setIO("base", channel, 300);
          },
          [](const std::string& host, const std::string& hash) {
              return postRequest(host, "username=admin&password=" + hash +
                                           "&type=singlevalue&module=base/ao2/output&data=300\n");
          } },
        { "setValue empty key sends the value unescaped",
          [] { setValue("configuration", "devicebase", "", "{\"a\": \"b&c=d\"}"); },
          [](const std::string& host, const std::string& hash) {
              return postRequest(host, "username=admin&password=" + hash +
                                           "&type=configuration&module=devicebase&data={\"a\": \"b&c=d\"}\n");
          } },
    };
}

TEST_F(ParamTest, RequestsCarryTheSettingsAddressUnchangedWithMethod1)
{
    settings.address = "http://127.0.0.1:" + std::to_string(sim_port(server));
    settings.port = "1"; // the port in the address wins
    writeSettings();
    for (const RequestCase& c : requestCases()) {
        SCOPED_TRACE(c.name);
        clearDebug();
        c.call();
        expectSent(c.expected(settings.address, expectedHash()));
    }
}

TEST_F(ParamTest, RequestsCarryTheNormalisedAddressWithMethod2)
{
    settings.loginVersion = 2;
    startDevice(sim_options());
    settings.address = "http://127.0.0.1:" + std::to_string(sim_port(server));
    settings.port = "1";
    writeSettings();
    for (const RequestCase& c : requestCases()) {
        SCOPED_TRACE(c.name);
        clearDebug();
        sim_clearRequests(server);
        c.call();
        ASSERT_EQ(sim_requests(server).size(), 2u) << "TAN request, then the export's own";
        expectSent(c.expected("127.0.0.1", expectedHash()));
    }
}

TEST_F(ParamTest, ExportsWriteTheirDebugLines)
{
    sim_setOverride(server, "cgi-bin", "HTTP/1.1 200 OK\r\n\r\n23.7");
    char channel[16] = "do1";
    EXPECT_EQ(getIO("x", channel), 24);
    EXPECT_TRUE(debugHas("pData getIO() = HTTP/1.1 200 OK\r\n\r\n23.7"));
    EXPECT_TRUE(debugHas("24"));
    EXPECT_EQ(setIO("x", channel, 5), 1);
    EXPECT_TRUE(debugHas("pData setIO() = 5"));
    EXPECT_NE(getValue("values", "devicebase", ""), nullptr);
    EXPECT_TRUE(debugHas("pData getValue() = HTTP/1.1 200 OK\r\n\r\n23.7"));
    setValue("configuration", "devicebase", "", "{}");
    EXPECT_TRUE(debugHas("pData setValue() = {}"));
}

// ---------------------------------------------------------------------------
// Channel texts

TEST_F(ParamTest, ChannelTextIsLeftUnchangedSoRepeatedCallsAddressTheSameChannel)
{
    // Exactly the text and a canary behind it: nothing may be appended.
    char channel[8];
    std::memset(channel, 'Z', sizeof channel);
    std::memcpy(channel, "do3", 4);
    char before[sizeof channel];
    std::memcpy(before, channel, sizeof channel);

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        sim_clearRequests(server);
        EXPECT_EQ(setIO("x", channel, round), 1);
        EXPECT_NE(lastRequest().find("&module=x/do3/output&data="), std::string::npos) << lastRequest();
        sim_clearRequests(server);
        getIO("x", channel);
        EXPECT_NE(lastRequest().find("&module=x/do3/output HTTP/1.1\n"), std::string::npos) << lastRequest();
        EXPECT_EQ(std::memcmp(channel, before, sizeof channel), 0);
    }
}

TEST_F(ParamTest, SetIOValueIsReadBackByGetIO)
{
    char channel[16] = "do2";
    ASSERT_EQ(setIO("x", channel, 7), 1);
    EXPECT_EQ(sim_ioValue(server, "x/do2/output"), "7");
    EXPECT_EQ(getIO("x", channel), 7);
}

// ---------------------------------------------------------------------------
// Results per failure

struct Outcome {
    int setIO;
    int getIO;
    const char* valueNoKey; // nullptr: null expected
    const char* valueKey;
    int setValue;
};

struct FailureCase {
    const char* name;
    std::function<void(ParamTest*)> arrange;
    Outcome expected;
};

TEST_F(ParamTest, ResultsPerFailure)
{
    const FailureCase cases[] = {
        { "no hash (unknown login method)",
          [](ParamTest* t) {
              t->settings.loginVersion = 3;
              t->writeSettings();
          },
          { 0, -1, nullptr, nullptr, 0 } },
        { "no hash (method 2, no TAN)",
          [](ParamTest* t) {
              t->settings.loginVersion = 2;
              t->writeSettings();
              sim_setOverride(t->server, "type=single_id", "HTTP/1.1 200 OK\r\n\r\n");
          },
          { 0, -1, nullptr, nullptr, 0 } },
        { "refused",
          [](ParamTest* t) {
              t->settings.port = t->refusedPort();
              t->writeSettings();
          },
          { 0, -1, nullptr, nullptr, 0 } },
        { "silent", [](ParamTest* t) { sim_setFault(t->server, kFaultSilent); }, { 0, -1, nullptr, nullptr, 0 } },
        { "keep-open", [](ParamTest* t) { sim_setFault(t->server, kFaultKeepOpen); }, { 0, -1, nullptr, nullptr, 0 } },
        { "answer without OK",
          [](ParamTest* t) { sim_setOverride(t->server, "cgi-bin", "HTTP/1.1 500 Error\r\n\r\n{\"k\": \"v\"}"); },
          { 0, -1, "{\"k\": \"v\"}", "v", 0 } },
        { "empty body",
          [](ParamTest* t) { sim_setOverride(t->server, "cgi-bin", "HTTP/1.1 200 OK\r\n\r\n"); },
          { 1, -1, nullptr, nullptr, 1 } },
        { "answer without {",
          [](ParamTest* t) { sim_setOverride(t->server, "cgi-bin", "HTTP/1.1 200 OK\r\n\r\nk: v"); },
          { 1, 0, "k: v", nullptr, 1 } },
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        settings = Settings();
        startDevice(sim_options());
        c.arrange(this);
        char channel[16] = "do1";
        EXPECT_EQ(setIO("x", channel, 1), c.expected.setIO);
        EXPECT_EQ(getIO("x", channel), c.expected.getIO);
        const char* noKey = getValue("configuration", "devicebase", "");
        if (c.expected.valueNoKey == nullptr)
            EXPECT_EQ(noKey, nullptr) << noKey;
        else if (noKey == nullptr)
            ADD_FAILURE() << "getValue without key gave null";
        else
            EXPECT_STREQ(noKey, c.expected.valueNoKey);
        const char* withKey = getValue("configuration", "devicebase", "k");
        if (c.expected.valueKey == nullptr)
            EXPECT_EQ(withKey, nullptr) << withKey;
        else if (withKey == nullptr)
            ADD_FAILURE() << "getValue with key gave null";
        else
            EXPECT_STREQ(withKey, c.expected.valueKey);
        EXPECT_EQ(setValue("configuration", "devicebase", "", "{}"), c.expected.setValue);
    }
}

TEST_F(ParamTest, NoHashSendsNothing)
{
    settings.loginVersion = 3;
    writeSettings();
    char channel[16] = "di1";
    EXPECT_EQ(getIO("x", channel), -1);
    EXPECT_EQ(setIO("x", channel, 1), 0);
    EXPECT_EQ(getValue("configuration", "devicebase", ""), nullptr);
    EXPECT_EQ(setValue("configuration", "devicebase", "", "{}"), 0);
    EXPECT_EQ(sim_connectionCount(server), 0u);
}

// ---------------------------------------------------------------------------
// Answers

TEST_F(ParamTest, GetIOReadsTheBodyAsARoundedWholeNumber)
{
    const struct {
        const char* body;
        int expected;
    } cases[] = {
        { "23.7", 24 },       { "23", 23 }, { "abc", 0 }, { "-4.6", -5 },
        { "  42 units", 42 }, { "-1", -1 }, { "0", 0 },   { "99999999999", 2147483647 },
        { "1e3.", 1000 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        sim_setOverride(server, "cgi-bin", std::string("HTTP/1.1 200 OK\r\n\r\n") + c.body);
        char channel[16] = "ai1";
        EXPECT_EQ(getIO("x", channel), c.expected);
    }
}

TEST_F(ParamTest, GetIOReadsTheDecimalPointWhateverTheHostsLocale)
{
    const char* german = nullptr;
    for (const char* name : { "de_DE.UTF-8", "de_DE", "German_Germany.1252", "German" })
        if (std::setlocale(LC_NUMERIC, name) != nullptr) {
            german = name;
            break;
        }
    if (german == nullptr)
        GTEST_SKIP() << "no locale with a decimal comma here";
    sim_setOverride(server, "cgi-bin", "HTTP/1.1 200 OK\r\n\r\n23.7");
    char channel[16] = "ai1";
    int value = getIO("x", channel);
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(value, 24) << german;
}

TEST_F(ParamTest, GetValueWithoutKeyReturnsTheBodyOnly)
{
    const std::string body = "{\n\t\"package_version\": \"2.1.0-x\"\n}";
    sim_setOverride(server, "cgi-bin", "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n" + body);
    const char* value = getValue("configuration", "devicebase", "");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(std::string(value), body);
    EXPECT_EQ(std::string(responseText), body) << "status line and head are gone";
}

TEST_F(ParamTest, GetValueWithKeyReturnsStringsAndTheEmptyTextOtherwise)
{
    const std::string long255(255, 'l');
    const std::string long256(256, 'm');
    const std::string body = "{\"s\": \"text\", \"n\": 5, \"f\": 2.5, \"t\": true, \"o\": {\"in\": \"ner\"}, "
                             "\"l255\": \"" +
                             long255 + "\", \"l256\": \"" + long256 + "\"}";
    sim_setOverride(server, "cgi-bin", "HTTP/1.1 200 OK\r\n\r\n" + body);
    const struct {
        const char* key;
        const char* expected; // nullptr: null
    } cases[] = {
        { "s", "text" },
        { "t", "true" },
        { "o.in", "ner" },
        { "n", "" },
        { "f", "" },
        { "missing", "" },
        { "l255", long255.c_str() },
        { "l256", nullptr }, // does not fit the value buffer: refused, not cut
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const char* value = getValue("configuration", "devicebase", c.key);
        if (c.expected == nullptr) {
            EXPECT_EQ(value, nullptr);
        } else {
            ASSERT_NE(value, nullptr);
            EXPECT_STREQ(value, c.expected);
        }
    }
}

TEST_F(ParamTest, GetValueReadsTheDevicesConfiguration)
{
    const char* version = getValue("configuration", "devicebase", "package_version");
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(version, "2.1.0");
}

// ---------------------------------------------------------------------------
// setValue with a key: the stored module configuration

class StoredConfigurationTest : public ParamTest {
  protected:
    void SetUp() override
    {
        ParamTest::SetUp();
        fs::create_directories(directory() / "configbase");
        // The device takes any data over (and does not act on it, e.g. reboot).
        sim_setOverride(server, "setParamToServer", kOkAnswer);
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(directory() / "configbase", ignored);
        ParamTest::TearDown();
    }
    void store(const std::string& module, const std::string& text)
    {
        std::ofstream(directory() / "configbase" / (module + ".json"), std::ios::binary) << text;
    }
    std::string form(const std::string& data)
    {
        return "username=admin&password=" + expectedHash() + "&type=configuration&module=devicebase&data=" + data +
               "\n";
    }
};

TEST_F(StoredConfigurationTest, SetValueSendsTheStoredFileWithTheKeyChanged)
{
    store("devicebase", "stored\n{\n\t\"reboot\": false,\n\t\"name\": \"old\"\n}\n");
    const struct {
        const char* key;
        const char* value;
        const char* data;
    } cases[] = {
        { "reboot", "true", "{\n\t\"reboot\": true,\n\t\"name\": \"old\"\n}\n" },
        { "name", "new", "{\n\t\"reboot\": false,\n\t\"name\": \"new\"\n}\n" },
        // a key that is not there: the text goes out as it was read
        { "absent", "1", "{\n\t\"reboot\": false,\n\t\"name\": \"old\"\n}\n" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        clearDebug();
        EXPECT_EQ(setValue("configuration", "devicebase", c.key, c.value), 1);
        expectSent(postRequest("127.0.0.1", form(c.data)));
    }
}

TEST_F(StoredConfigurationTest, SetValueWithMissingFileSendsEmptyData)
{
    EXPECT_EQ(setValue("configuration", "nomodule", "reboot", "true"), 1);
    std::string expected = postRequest("127.0.0.1", "username=admin&password=" + expectedHash() +
                                                        "&type=configuration&module=nomodule&data=\n");
    EXPECT_EQ(lastRequest(), expected);
}

TEST_F(StoredConfigurationTest, SetValueRefusesAStoredFileThatDoesNotFit)
{
    const struct {
        const char* name;
        std::string text;
        std::string value;
    } cases[] = {
        { "file beyond the data buffer", "{\"k\": \"" + std::string(4100, 'a') + "\"}", "1" },
        { "change beyond the data buffer", "{\"k\": \"\"\n, \"p\": \"" + std::string(4000, 'a') + "\"}",
          std::string(200, 'b') },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        store("big", c.text);
        EXPECT_EQ(setValue("configuration", "big", "k", c.value.c_str()), 0);
        EXPECT_EQ(sim_connectionCount(server), 0u);
    }
}

// ---------------------------------------------------------------------------
// Texts that do not fit are refused before anything goes out, the TAN
// request of method 2 included.

TEST_F(ParamTest, OversizedTextsAreRefusedBeforeAnythingIsSent)
{
    settings.loginVersion = 2;
    startDevice(sim_options());
    const std::string base300(300, 'b');
    const std::string module1000(1000, 'm');
    const std::string value4096(4096, 'v');
    const std::string value4000(4000, 'v'); // fits the data, not the form text
    const std::string longChannel(250, 'c');
    char channel[16] = "do1";
    char wide[260];
    std::memcpy(wide, longChannel.c_str(), longChannel.size() + 1);

    EXPECT_EQ(setIO(base300.c_str(), channel, 1), 0);
    EXPECT_EQ(getIO(base300.c_str(), channel), -1);
    EXPECT_EQ(setIO("x", wide, 1), 0) << "module path beyond 255 characters";
    EXPECT_EQ(getValue("configuration", module1000.c_str(), ""), nullptr);
    EXPECT_EQ(getValue(module1000.c_str(), "devicebase", "k"), nullptr);
    EXPECT_EQ(setValue("configuration", "devicebase", "", value4096.c_str()), 0);
    EXPECT_EQ(setValue("configuration", "devicebase", "", value4000.c_str()), 0);
    EXPECT_EQ(setValue("configuration", module1000.c_str(), "k", "1"), 0) << "configbase path";
    EXPECT_EQ(sim_connectionCount(server), 0u);
}

TEST_F(ParamTest, LongestTextsThatFitAreSent)
{
    // A request of exactly 1023 characters: the query padded through the module.
    std::string fixedPart =
        getRequest("username=admin&password=" + expectedHash() + "&type=values&module=", "127.0.0.1");
    std::string module(1023 - fixedPart.size(), 'm');
    sim_setOverride(server, "cgi-bin", "HTTP/1.1 200 OK\r\n\r\nbody");
    EXPECT_STREQ(getValue("values", module.c_str(), ""), "body");
    EXPECT_EQ(sim_connectionCount(server), 1u);
    module += "m";
    EXPECT_EQ(getValue("values", module.c_str(), ""), nullptr);
    EXPECT_EQ(sim_connectionCount(server), 1u);
}

} // namespace
} // namespace paramtest
