// Fault modes of the simulated device, switched at start and at run time.
#include <gtest/gtest.h>

#include "sim_client.h"

#include <chrono>
#include <functional>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

const std::string hash = sim_hash("secret");

std::string loginRequest()
{
    return sim_getRequest("admin", hash, "login", "login");
}
std::string configurationRequest()
{
    return sim_getRequest("admin", hash, "configuration", "devicebase");
}

struct FaultCase {
    const char* fault;
    std::function<std::string()> request;
    int waitMs;
    std::function<void(const sim_reply&, const std::string& healthy)> check;
};

TEST(SimFaults, EachModeMisbehavesAsNamed)
{
    sim_server* server = sim_start(sim_options());
    ASSERT_NE(server, nullptr);
    int port = sim_port(server);
    const FaultCase cases[] = {
        { "silent", loginRequest, 400,
          [](const sim_reply& r, const std::string&) {
              EXPECT_TRUE(r.connected);
              EXPECT_TRUE(r.bytes.empty());
              EXPECT_FALSE(r.closedByPeer);
          } },
        { "keep-open", loginRequest, 400,
          [](const sim_reply& r, const std::string& healthy) {
              EXPECT_EQ(r.bytes, healthy);
              EXPECT_FALSE(r.closedByPeer);
          } },
        { "refuse", loginRequest, 2000,
          [](const sim_reply& r, const std::string&) {
              EXPECT_TRUE(r.connected);
              EXPECT_TRUE(r.bytes.empty());
              EXPECT_TRUE(r.closedByPeer);
          } },
        { "reset", configurationRequest, 2000,
          [](const sim_reply& r, const std::string& healthy) {
              EXPECT_TRUE(r.closedByPeer);
              EXPECT_LT(r.bytes.size(), healthy.size());
#ifndef _WIN32
              // Wine's recv reports a reset as an orderly end; Linux tells them apart.
              EXPECT_TRUE(r.reset);
#endif
          } },
        { "reset-mid-answer", configurationRequest, 2000,
          [](const sim_reply& r, const std::string& healthy) {
              EXPECT_EQ(r.bytes, healthy.substr(0, healthy.size() / 2));
              EXPECT_TRUE(r.closedByPeer);
#ifndef _WIN32
              EXPECT_TRUE(r.reset);
#endif
          } },
        { "slow", configurationRequest, 3000,
          [](const sim_reply& r, const std::string& healthy) {
              EXPECT_EQ(r.bytes, healthy);
              EXPECT_TRUE(r.closedByPeer);
              EXPECT_GT(r.pieces, 5);
          } },
        { "huge", loginRequest, 2000,
          [](const sim_reply& r, const std::string&) {
              EXPECT_GT(r.bytes.size(), 4096u);
              EXPECT_EQ(r.bytes.compare(0, 15, "HTTP/1.1 200 OK"), 0);
              EXPECT_EQ(sim_body(r.bytes).compare(0, 9, "LOGIN OK\n"), 0);
              EXPECT_NE(r.bytes.find("Content-Length: " + std::to_string(sim_body(r.bytes).size()) + "\r\n"),
                        std::string::npos);
              EXPECT_TRUE(r.closedByPeer);
          } },
        { "zero-byte", loginRequest, 2000,
          [](const sim_reply& r, const std::string&) {
              EXPECT_EQ(sim_body(r.bytes), std::string("LOGI\0N OK\n", 10));
              EXPECT_TRUE(r.closedByPeer);
          } },
        { "no-blank-line", loginRequest, 2000,
          [](const sim_reply& r, const std::string&) {
              EXPECT_EQ(r.bytes,
                        "HTTP/1.1 200 OK\r\nServer: ormi-sim\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n"
                        "Connection: close\r\nLOGIN OK\n");
          } },
        { "crlf-json", configurationRequest, 2000,
          [](const sim_reply& r, const std::string& healthy) {
              std::string body = sim_body(r.bytes);
              std::string expected;
              for (char c : sim_body(healthy))
                  expected += c == '\n' ? std::string("\r\n") : std::string(1, c);
              EXPECT_EQ(body, expected);
          } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        sim_setFault(server, "");
        std::string healthy = sim_exchange(port, c.request()).bytes;
        ASSERT_EQ(healthy.compare(0, 15, "HTTP/1.1 200 OK"), 0);
        sim_setFault(server, c.fault);
        c.check(sim_exchange(port, c.request(), c.waitMs), healthy);
    }
    // Healed at run time.
    sim_setFault(server, "");
    EXPECT_NE(sim_exchange(port, loginRequest()).bytes.find("LOGIN OK"), std::string::npos);
    sim_stop(server);
}

TEST(SimFaults, CrlfJsonLeavesPlainAnswersAlone)
{
    sim_options options;
    options.fault = "crlf-json";
    sim_server* server = sim_start(options);
    EXPECT_EQ(sim_body(sim_exchange(sim_port(server), loginRequest()).bytes), "LOGIN OK\n");
    sim_stop(server);
}

TEST(SimFaults, ResetMidAnswerAnswersTheLoginWhole)
{
    sim_options options;
    options.fault = "reset-mid-answer";
    options.loginMethod = 2;
    sim_server* server = sim_start(options);
    ASSERT_NE(server, nullptr);
    sim_reply tan = sim_exchange(sim_port(server), sim_getRequest("admin", hash, "single_id", "login"));
    EXPECT_FALSE(tan.reset);
    EXPECT_TRUE(tan.closedByPeer);
    ASSERT_FALSE(sim_body(tan.bytes).empty());
    sim_reply login = sim_exchange(sim_port(server),
                                   sim_getRequest("admin", sim_hash("secret" + sim_body(tan.bytes)), "login", "login"));
    EXPECT_FALSE(login.reset);
    EXPECT_EQ(sim_body(login.bytes), "LOGIN OK\n");
    sim_stop(server);
}

TEST(SimFaults, FaultLimitedToSomeConnectionsIsHealthyBeforeAndAfterThem)
{
    sim_options options;
    options.fault = "refuse";
    options.faultSkip = 1;
    options.faultConnections = 2;
    sim_server* server = sim_start(options);
    ASSERT_NE(server, nullptr);
    for (int i = 0; i < 5; ++i) {
        sim_reply reply = sim_exchange(sim_port(server), loginRequest(), 2000);
        bool faulty = i == 1 || i == 2;
        EXPECT_EQ(reply.bytes.find("LOGIN OK") != std::string::npos, !faulty) << i;
        EXPECT_EQ(reply.bytes.empty(), faulty) << i;
        EXPECT_TRUE(reply.closedByPeer) << i;
    }
    sim_stop(server);
}

TEST(SimFaults, StopReturnsPromptlyWhileClientsAreHeld)
{
    for (const char* fault : { "silent", "keep-open" }) {
        sim_options options;
        options.fault = fault;
        sim_server* server = sim_start(options);
        simnet_handle s = simnet_connect("127.0.0.1", sim_port(server));
        ASSERT_NE(s, simnet_invalid);
        std::string request = loginRequest();
        simnet_sendAll(s, request.data(), request.size());
        sim_sleepMs(100);
        auto start = std::chrono::steady_clock::now();
        sim_stop(server);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << fault;
        simnet_close(s);
    }
}

TEST(SimFaults, ConnectionFloodIsToldToComeBackLater)
{
    sim_options options;
    options.fault = "silent";
    sim_server* server = sim_start(options);
    std::vector<simnet_handle> held;
    std::string request = loginRequest();
    for (int i = 0; i < 64; ++i) {
        held.push_back(simnet_connect("127.0.0.1", sim_port(server)));
        ASSERT_NE(held.back(), simnet_invalid);
        simnet_sendAll(held.back(), request.data(), request.size());
    }
    for (int i = 0; i < 200 && sim_requests(server).size() < 64; ++i)
        sim_sleepMs(10);
    sim_reply reply = sim_exchange(sim_port(server), request);
    EXPECT_EQ(sim_statusLine(reply.bytes), "HTTP/1.1 503 Service Unavailable");
    EXPECT_TRUE(reply.closedByPeer);
    for (simnet_handle s : held)
        simnet_close(s);
    // Served again once the held connections are gone.
    sim_setFault(server, "");
    bool served = false;
    for (int i = 0; i < 100 && !served; ++i) {
        served = sim_exchange(sim_port(server), request).bytes.find("LOGIN OK") != std::string::npos;
        if (!served)
            sim_sleepMs(20);
    }
    EXPECT_TRUE(served);
    sim_stop(server);
}

TEST(SimFaults, OutputDelayAppliesToEveryAnswer)
{
    sim_server* server = sim_start(sim_options());
    sim_setOutputDelay(server, 300);
    auto start = std::chrono::steady_clock::now();
    EXPECT_NE(sim_exchange(sim_port(server), loginRequest()).bytes.find("LOGIN OK"), std::string::npos);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    sim_stop(server);
}

#ifndef _WIN32
// A process serving many devices may hold descriptors past FD_SETSIZE (1024),
// which an fd_set cannot hold.
TEST(SimNet, WaitsOnADescriptorPastTheSelectLimit)
{
    rlimit limit;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < 2048)
        GTEST_SKIP() << "the hard limit is below 2048 descriptors";
    rlimit raised = limit;
    if (raised.rlim_cur == RLIM_INFINITY || raised.rlim_cur < 2048)
        raised.rlim_cur = 2048;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
    sim_server* server = sim_start(sim_options());
    ASSERT_NE(server, nullptr);
    simnet_handle s = simnet_connect("127.0.0.1", sim_port(server));
    ASSERT_NE(s, simnet_invalid);
    const int high = 2000;
    ASSERT_EQ(dup2((int)s, high), high);
    close((int)s);
    EXPECT_EQ(simnet_waitReadable((simnet_handle)high, 100), 0) << "nothing sent yet";
    std::string request = loginRequest();
    ASSERT_TRUE(simnet_sendAll((simnet_handle)high, request.data(), request.size()));
    EXPECT_EQ(simnet_waitReadable((simnet_handle)high, 3000), 1);
    char buffer[256];
    EXPECT_GT(simnet_recv((simnet_handle)high, buffer, sizeof buffer), 0);
    simnet_close((simnet_handle)high);
    sim_stop(server);
    setrlimit(RLIMIT_NOFILE, &limit);
}
#endif

} // namespace
