// Login of the simulated device: both methods, single-use TANs, refusals
// that never say "OK".
#include <gtest/gtest.h>

#include "sim_client.h"

#include <cctype>

namespace {

struct Device : sim_testDevice {
    using sim_testDevice::sim_testDevice;
    std::string get(const std::string& hash, const std::string& type, const std::string& module,
                    const std::string& user = "admin")
    {
        return send(sim_getRequest(user, hash, type, module));
    }
    std::string tan()
    {
        return sim_body(get(sim_hash("secret"), "single_id", "login"));
    }
};

sim_options method(int loginMethod)
{
    sim_options options;
    options.loginMethod = loginMethod;
    return options;
}

const char loginOk[] = "HTTP/1.1 200 OK\r\nServer: ormi-sim\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n"
                       "Connection: close\r\n\r\nLOGIN OK\n";

TEST(SimLogin, MethodOneAcceptsOnlyTheLowerCaseHashOfThePassword)
{
    Device device(method(1));
    ASSERT_NE(device.server, nullptr);
    EXPECT_EQ(device.get("5ebe2294ecd0e0f08eab7690d2a6ee69", "login", "login"), loginOk);
    struct {
        const char* what;
        std::string user, hash;
    } refused[] = {
        { "wrong password", "admin", sim_hash("Secret") },
        { "upper-case hex", "admin", "5EBE2294ECD0E0F08EAB7690D2A6EE69" },
        { "password in clear", "admin", "secret" },
        { "empty hash", "admin", "" },
        { "wrong user", "root", sim_hash("secret") },
    };
    for (const auto& c : refused) {
        std::string answer = device.get(c.hash, "login", "login", c.user);
        EXPECT_EQ(sim_statusLine(answer), "HTTP/1.1 403 Forbidden") << c.what;
        EXPECT_EQ(answer.find("OK"), std::string::npos) << c.what << ": " << answer;
    }
}

TEST(SimLogin, MethodOneHandsOutNoTan)
{
    Device device(method(1));
    std::string answer = device.get(sim_hash("secret"), "single_id", "login");
    EXPECT_EQ(sim_statusLine(answer), "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(answer.find("OK"), std::string::npos);
}

TEST(SimLogin, MethodTwoTanIsDigitsAndSaltsTheHashOnce)
{
    Device device(method(2));
    std::string tan = device.tan();
    ASSERT_FALSE(tan.empty());
    for (char c : tan)
        EXPECT_TRUE(std::isdigit((unsigned char)c)) << tan;
    EXPECT_EQ(sim_lastTan(device.server), tan);
    std::string hash = sim_hash("secret" + tan);
    EXPECT_EQ(device.get(hash, "login", "login"), loginOk);
    std::string again = device.get(hash, "login", "login");
    EXPECT_EQ(sim_statusLine(again), "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(again.find("OK"), std::string::npos);
}

TEST(SimLogin, MethodTwoTanIsUsedUpByAnyRequestEvenAFailedOne)
{
    Device device(method(2));
    // Used by a parameter request: the login with the same TAN fails.
    std::string tan = device.tan();
    std::string config = device.get(sim_hash("secret" + tan), "configuration", "devicebase");
    EXPECT_EQ(sim_statusLine(config), "HTTP/1.1 200 OK");
    EXPECT_EQ(sim_statusLine(device.get(sim_hash("secret" + tan), "login", "login")), "HTTP/1.1 403 Forbidden");
    // Burnt by a wrong guess: the right hash afterwards is refused too.
    tan = device.tan();
    EXPECT_EQ(sim_statusLine(device.get(sim_hash("wrong" + tan), "login", "login")), "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(sim_statusLine(device.get(sim_hash("secret" + tan), "login", "login")), "HTTP/1.1 403 Forbidden");
    // Without any TAN fetched, the plain password hash is not enough.
    EXPECT_EQ(sim_statusLine(device.get(sim_hash("secret"), "login", "login")), "HTTP/1.1 403 Forbidden");
}

TEST(SimLogin, MethodTwoRefusesTheTanToAWrongPassword)
{
    Device device(method(2));
    std::string answer = device.get(sim_hash("wrong"), "single_id", "login");
    EXPECT_EQ(sim_statusLine(answer), "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(answer.find("OK"), std::string::npos);
}

TEST(SimLogin, TanLineFeedIsPartOfTheBodyAndOfTheHash)
{
    sim_options options = method(2);
    options.tanLineFeed = true;
    Device device(options);
    std::string body = device.tan();
    ASSERT_GE(body.size(), 2u);
    EXPECT_EQ(body.back(), '\n');
    EXPECT_EQ(body.substr(0, body.size() - 1), sim_lastTan(device.server));
    EXPECT_EQ(device.get(sim_hash("secret" + body), "login", "login"), loginOk);
    std::string tan = sim_body(device.get(sim_hash("secret"), "single_id", "login"));
    tan.pop_back();
    EXPECT_EQ(sim_statusLine(device.get(sim_hash("secret" + tan), "login", "login")), "HTTP/1.1 403 Forbidden");
}

TEST(SimLogin, CustomCredentialsAndInvalidMethod)
{
    sim_options options;
    options.user = "service";
    options.password = "p&ss=1";
    Device device(options);
    EXPECT_EQ(device.get(sim_hash("p&ss=1"), "login", "login", "service"), loginOk);
    EXPECT_EQ(sim_statusLine(device.get(sim_hash("secret"), "login", "login")), "HTTP/1.1 403 Forbidden");
    sim_options bad;
    bad.loginMethod = 3;
    EXPECT_EQ(sim_start(bad), nullptr);
}

} // namespace
