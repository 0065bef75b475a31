// One exchange with a device over loopback: the request as sent, the answer
// collected whole, the debug lines, address rewriting, the faults of a
// device, complete sends of large blocks, the header/body split, and the
// serialisation of exported calls.
#include "control_capture.h"
#include "http.h"
#include "md5.h"
#include "ormi_control.h"
#include "sim_server.h"
#include "simnet.h"
#include "sock.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <set>
#include <thread>
#include <string.h>

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
const int refusedError = WSAECONNREFUSED;
#else
#include <errno.h>
const int refusedError = ECONNREFUSED;
#endif

namespace {

std::string md5Hex(const std::string& data)
{
    md5_context context;
    md5_init(&context);
    // In slices: the digest takes an int length.
    for (std::size_t at = 0; at < data.size(); at += 1 << 20)
        md5_update(&context, (const unsigned char*)data.data() + at,
                   (int)std::min<std::size_t>(1 << 20, data.size() - at));
    unsigned char digest[16];
    md5_final(&context, digest);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char b : digest) {
        text += hex[b >> 4];
        text += hex[b & 15];
    }
    return text;
}

std::string loginRequest(const std::string& host)
{
    char hash[33];
    md5_hexString("secret", hash);
    return std::string("GET /cgi-bin/getParamFromServer.cgi?username=admin&password=") + hash +
           "&type=login&module=login HTTP/1.1\nHost: " + host + "\n\n\n";
}

std::string httpAnswer(const std::string& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

// A body of exactly `size` characters that shows where each part lies.
std::string patterned(std::size_t size)
{
    std::string text;
    for (std::size_t i = 0; text.size() < size; ++i)
        text += "<" + std::to_string(i) + ">";
    text.resize(size);
    return text;
}

// Every line the transport writes, by its fixed beginning; a line mixed from
// two threads matches none.
bool knownLine(const std::string& line, const std::string& response)
{
    static const char* prefixes[] = { "winsock v",
                                      "socket created\n",
                                      "address: ",
                                      "address error: ",
                                      "connecting ",
                                      "connect error #",
                                      "sended ",
                                      "RX (len = ",
                                      "Error during close socket #",
                                      "socket closed\n",
                                      "connected\n",
                                      "disconnected from server\n",
                                      "connection reset after ",
                                      "connection error #",
                                      "WSASyncSelect error #",
                                      "Error during create socket #",
                                      "WSAstartup error #" };
    if (line == response)
        return true;
    for (const char* p : prefixes)
        if (line.compare(0, strlen(p), p) == 0)
            return true;
    return false;
}

struct exchange_run {
    int ok = 0;
    std::string address, port, response;
    long long ms = 0;
    std::vector<std::string> lines;
};

exchange_run runExchange(const std::string& request, const std::string& address, const std::string& port,
                         int timeout = 1)
{
    exchange_run run;
    char addressBuffer[256], portBuffer[256];
    snprintf(addressBuffer, sizeof addressBuffer, "%s", address.c_str());
    snprintf(portBuffer, sizeof portBuffer, "%s", port.c_str());
    control_takeLines();
    auto start = std::chrono::steady_clock::now();
    run.ok = sock_exchange(request.c_str(), addressBuffer, portBuffer, timeout);
    run.ms = control_millisecondsSince(start);
    // The event thread may still be writing its last line.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    run.lines = control_takeLines();
    run.address = addressBuffer;
    run.port = portBuffer;
    run.response = responseText;
    for (const std::string& line : run.lines)
        EXPECT_TRUE(knownLine(line, run.response)) << "unexpected debug line: " << line;
    return run;
}

bool hasLine(const exchange_run& run, const std::string& line)
{
    return std::find(run.lines.begin(), run.lines.end(), line) != run.lines.end();
}

bool hasLinePrefix(const exchange_run& run, const std::string& prefix)
{
    for (const std::string& line : run.lines)
        if (line.compare(0, prefix.size(), prefix) == 0)
            return true;
    return false;
}

// A port on loopback that nobody listens on.
int unusedPort()
{
    int port = 0;
    simnet_handle s = simnet_listen("127.0.0.1", 0, &port);
    simnet_close(s);
    return port;
}

class TransportTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        simnet_startup();
        control_startCapture();
    }
    void SetUp() override
    {
        sim_options options;
        server = sim_start(options);
        ASSERT_NE(server, nullptr);
        port = std::to_string(sim_port(server));
    }
    void TearDown() override
    {
        if (server)
            sim_stop(server);
    }
    sim_server* server = nullptr;
    std::string port;
};

TEST_F(TransportTest, ExchangeSendsRequestAndCollectsWholeAnswerWithItsDebugLines)
{
    const std::string request = loginRequest("127.0.0.1");
    exchange_run run = runExchange(request, "127.0.0.1", port);
    ASSERT_EQ(run.ok, 1);

    std::vector<std::string> requests = sim_requests(server);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], request); // bare line feeds, three at the end, nothing else
    EXPECT_EQ(run.response.compare(0, 17, "HTTP/1.1 200 OK\r\n"), 0) << run.response;
    EXPECT_NE(run.response.find("LOGIN OK"), std::string::npos);
    // Whole: the body is as long as the device said.
    std::size_t lengthAt = run.response.find("Content-Length: ");
    ASSERT_NE(lengthAt, std::string::npos);
    EXPECT_EQ(strlen(http_findBody(responseText)), (std::size_t)atoi(run.response.c_str() + lengthAt + 16));

    // The event thread writes "connected" and "disconnected from server"
    // right after setting the flag the caller waits for, so the caller's
    // next line may come first; the caller's own lines keep their order.
    std::vector<std::string> lines;
    std::vector<std::size_t> eventIndex;
    for (std::size_t i = 0; i < run.lines.size(); ++i) {
        if (run.lines[i] == "connected\n" || run.lines[i] == "disconnected from server\n")
            eventIndex.push_back(i);
        else
            lines.push_back(run.lines[i]);
    }
    ASSERT_EQ(eventIndex.size(), 2u);
    EXPECT_EQ(run.lines[eventIndex[0]], "connected\n");
    const std::vector<std::string> expected = {
        "winsock v2.0 started\n",
        "socket created\n",
        "address: 127.0.0.1, port: " + port + "\n",
        "connecting 127.0.0.1 ... \n",
        "sended " + std::to_string(request.size()) + " bytes",
        "RX (len = " + std::to_string(run.response.size()) + "):",
        run.response,
        "socket closed\n",
    };
    EXPECT_EQ(lines, expected);
    EXPECT_GE(eventIndex[0], 3u); // not before the connect
    EXPECT_GE(eventIndex[1], 5u); // the device answers what was sent
}

TEST_F(TransportTest, AnswersArriveWholeWhateverTheirPieces)
{
    struct answer_case {
        const char* name;
        const char* fault;
        std::size_t bodySize;
    };
    const answer_case cases[] = {
        { "600 bytes in pieces of 32 with pauses", "slow", 600 - 83 },
        { "3000 bytes at once, over many reads", "", 3000 },
        { "empty body", "", 0 },
    };
    for (const answer_case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string answer = httpAnswer(patterned(c.bodySize));
        sim_setOverride(server, "type=login", answer);
        sim_setFault(server, c.fault);
        exchange_run run = runExchange(loginRequest("127.0.0.1"), "127.0.0.1", port, 3);
        EXPECT_EQ(run.ok, 1);
        EXPECT_EQ(run.response, answer);
        EXPECT_TRUE(hasLine(run, "RX (len = " + std::to_string(answer.size()) + "):"));
    }
}

TEST_F(TransportTest, ExchangesInARowStartAfresh)
{
    sim_setOverride(server, "first", httpAnswer("one"));
    sim_setOverride(server, "second", httpAnswer("two"));
    exchange_run first = runExchange("GET /first HTTP/1.1\nHost: 127.0.0.1\n\n\n", "127.0.0.1", port);
    exchange_run second = runExchange("GET /second HTTP/1.1\nHost: 127.0.0.1\n\n\n", "127.0.0.1", port);
    EXPECT_EQ(first.ok, 1);
    EXPECT_EQ(second.ok, 1);
    EXPECT_STREQ(http_findBody(first.response.c_str()), "one");
    EXPECT_EQ(second.response, httpAnswer("two")); // nothing of the first left in it
}

TEST_F(TransportTest, AddressAndPortAreRewrittenInPlace)
{
    struct address_case {
        const char* name;
        std::string address, port;
        int ok;
        std::string addressAfter, portAfter;
    };
    const std::string other = std::to_string(unusedPort());
    const address_case cases[] = {
        { "prefix and port in the address win over ip_port", "http://127.0.0.1:" + port, other, 1, "127.0.0.1", port },
        { "host name resolved", "localhost", port, 1, "localhost", port },
        { "http:// behind the start is not a prefix", "localhost:" + port + "/http://x", other, 1, "localhost",
          port + "/http://x" },
        { "port no entry is port 0", "127.0.0.1", "no entry", 0, "127.0.0.1", "no entry" },
        { "port missing after the colon", "127.0.0.1:", port, 0, "127.0.0.1", "" },
        // The port is the leading number after blanks and a sign, taken to 16 bits.
        { "blanks and a plus before the port", "127.0.0.1", " \t+" + port, 1, "127.0.0.1", " \t+" + port },
        { "text after the port", "127.0.0.1", port + "abc", 1, "127.0.0.1", port + "abc" },
        { "port above 65535 wraps", "127.0.0.1", std::to_string(std::stoi(port) + 65536), 1, "127.0.0.1",
          std::to_string(std::stoi(port) + 65536) },
        { "negative port wraps", "127.0.0.1", std::to_string(std::stoi(port) - 65536), 1, "127.0.0.1",
          std::to_string(std::stoi(port) - 65536) },
    };
    for (const address_case& c : cases) {
        SCOPED_TRACE(c.name);
        exchange_run run = runExchange(loginRequest("127.0.0.1"), c.address, c.port);
        EXPECT_EQ(run.ok, c.ok);
        EXPECT_EQ(run.address, c.addressAfter);
        EXPECT_EQ(run.port, c.portAfter);
        EXPECT_TRUE(hasLine(run, "address: " + c.addressAfter + ", port: " + c.portAfter + "\n"));
        if (c.ok) {
            EXPECT_TRUE(hasLine(run, "connecting " + c.addressAfter + " ... \n"));
            EXPECT_NE(run.response.find("LOGIN OK"), std::string::npos);
        }
    }
}

TEST_F(TransportTest, OverlongDebugLinesAreCutAtTheirBuffer)
{
    const std::string port = "1" + std::string(250, 'x'); // port 1: nobody listens
    exchange_run run = runExchange(loginRequest("127.0.0.1"), "127.0.0.1", port);
    EXPECT_EQ(run.ok, 0);
    const std::string full = "address: 127.0.0.1, port: " + port + "\n";
    bool found = false;
    for (const std::string& line : run.lines) {
        if (line.compare(0, 9, "address: ") == 0) {
            found = true;
            EXPECT_EQ(line, full.substr(0, 255));
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(TransportTest, AllOnesAddressGoesToTheNameLookUp)
{
    // The dotted parser cannot tell 255.255.255.255 from "no address"; the
    // name look-up resolves it, and the connection to it then fails.
    exchange_run run = runExchange(loginRequest("x"), "255.255.255.255", port);
    EXPECT_EQ(run.ok, 0);
    EXPECT_TRUE(hasLine(run, "address: 255.255.255.255, port: " + port + "\n"));
    EXPECT_FALSE(hasLinePrefix(run, "address error: "));
    EXPECT_EQ(sim_connectionCount(server), 0u);
}

TEST_F(TransportTest, DeviceFaultsEndTheExchangeWithinTheTimeOut)
{
    const std::string refused = std::to_string(unusedPort());
    {
        SCOPED_TRACE("connection refused");
        exchange_run run = runExchange(loginRequest("127.0.0.1"), "127.0.0.1", refused);
        EXPECT_EQ(run.ok, 0);
        EXPECT_TRUE(hasLine(run, "connect error #" + std::to_string(refusedError) + "\n"));
        EXPECT_FALSE(hasLinePrefix(run, "sended "));
        EXPECT_EQ(run.response, "");
        EXPECT_LT(run.ms, 1800);
    }
    struct fault_case {
        const char* fault;
        bool dataArrives;
    };
    const fault_case silent[] = { { "silent", false }, { "keep-open", true } };
    for (const fault_case& c : silent) {
        SCOPED_TRACE(c.fault);
        sim_setFault(server, c.fault);
        exchange_run run = runExchange(loginRequest("127.0.0.1"), "127.0.0.1", port);
        EXPECT_EQ(run.ok, 0);
        EXPECT_EQ(run.response, ""); // even where the answer arrived: it never completed
        EXPECT_TRUE(hasLinePrefix(run, "sended "));
        EXPECT_FALSE(hasLinePrefix(run, "RX (len = "));
        EXPECT_TRUE(hasLine(run, "socket closed\n"));
        EXPECT_GE(run.ms, 950);
        EXPECT_LT(run.ms, 2200);
    }
}

// A device that sends without end: the event thread hands the pieces on
// in batches, and the caller must still get the socket closed at its time-out.
TEST_F(TransportTest, FloodingDeviceStillEndsTheExchangeWithinTheTimeOut)
{
    int floodPort = 0;
    simnet_handle listener = simnet_listen("127.0.0.1", 0, &floodPort);
    ASSERT_NE(listener, simnet_invalid);
    std::atomic<bool> stop(false);
    std::thread device([&] {
        simnet_handle client = simnet_invalid;
        if (simnet_accept(listener, 5000, &client) != 1)
            return;
        const std::string block = httpAnswer(std::string(1000, 'f'));
        auto start = std::chrono::steady_clock::now();
        while (!stop && control_millisecondsSince(start) < 10000 &&
               simnet_sendAll(client, block.data(), block.size())) {}
        simnet_close(client);
    });
    exchange_run run = runExchange(loginRequest("127.0.0.1"), "127.0.0.1", std::to_string(floodPort));
    stop = true;
    device.join();
    simnet_close(listener);
    EXPECT_EQ(run.ok, 0);
    EXPECT_EQ(run.response, "");
    EXPECT_TRUE(hasLine(run, "socket closed\n"));
    EXPECT_GE(run.ms, 950);
    EXPECT_LT(run.ms, 2200);
}

TEST_F(TransportTest, ResetEndsTheExchangeAtOnceAsAFailure)
{
    // Only the device's orderly close ends an answer: after a reset, what
    // came before it is not handed on, however much of the answer it was,
    // and nothing waits for the time-out.
    const std::string answer = httpAnswer(patterned(400));
    for (std::size_t sent : { std::size_t(0), answer.size() / 2, answer.size() }) {
        SCOPED_TRACE(std::to_string(sent) + " bytes before the reset");
        int listenPort = 0;
        simnet_handle listener = simnet_listen("127.0.0.1", 0, &listenPort);
        ASSERT_NE(listener, simnet_invalid);
        std::thread device([&] {
            simnet_handle client;
            if (simnet_accept(listener, 3000, &client) != 1)
                return;
            std::string request;
            char buffer[1024];
            while (request.find("\n\n\n") == std::string::npos && simnet_waitReadable(client, 2000) == 1) {
                int n = simnet_recv(client, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                request.append(buffer, (std::size_t)n);
            }
            simnet_sendAll(client, answer.data(), sent);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            simnet_reset(client);
        });
        exchange_run run = runExchange(loginRequest("127.0.0.1"), "127.0.0.1", std::to_string(listenPort), 3);
        device.join();
        simnet_close(listener);
        EXPECT_EQ(run.ok, 0);
        EXPECT_EQ(run.response, "");
        EXPECT_LT(run.ms, 1500);
        EXPECT_TRUE(hasLine(run, "connection reset after " + std::to_string(sent) + " bytes\n"));
        EXPECT_FALSE(hasLine(run, "disconnected from server\n"));
        EXPECT_FALSE(hasLinePrefix(run, "RX (len = "));
        EXPECT_TRUE(hasLine(run, "socket closed\n"));
    }
}

TEST_F(TransportTest, ZeroByteEndsWhatItsPieceContributes)
{
    // One small answer arrives as one piece: the text behind the zero byte is lost.
    std::string answer = httpAnswer("before");
    answer += std::string(1, '\0') + "LOST behind the zero byte";
    sim_setOverride(server, "type=login", answer);
    exchange_run run = runExchange(loginRequest("127.0.0.1"), "127.0.0.1", port);
    EXPECT_EQ(run.ok, 1);
    EXPECT_EQ(run.response, httpAnswer("before"));
    EXPECT_TRUE(hasLine(run, "RX (len = " + std::to_string(run.response.size()) + "):"));
}

TEST_F(TransportTest, AnswerBeyondTheBufferIsCutAt4095Characters)
{
    const std::string answer = httpAnswer(patterned(9000));
    sim_setOverride(server, "type=login", answer);
    memset(responseText, '#', sizeof responseText);
    exchange_run run = runExchange(loginRequest("127.0.0.1"), "127.0.0.1", port, 3);
    EXPECT_EQ(run.ok, 1);
    EXPECT_EQ(run.response, answer.substr(0, 4095));
    EXPECT_EQ(responseText[4095], '\0');
    EXPECT_TRUE(hasLine(run, "RX (len = 4095):"));
}

// A 10 MB upload, zero bytes and noise, as request head with form head,
// package and tail.
struct upload_parts {
    std::string request, package, tail;
};

upload_parts bigUpload()
{
    upload_parts parts;
    parts.package.assign(10 * 1024 * 1024, '\0');
    unsigned state = 12345;
    for (std::size_t i = 0; i < parts.package.size(); i += 3) {
        state = state * 1103515245u + 12345u;
        parts.package[i] = (char)(state >> 16); // every third byte noise, the rest zero
    }
    char hash[33];
    md5_hexString("secret", hash);
    const std::string boundary = "----ormiBoundary";
    const std::string head = std::string("--") + boundary + "\nContent-Disposition: form-data; name=\"password\"\n\n" +
                             hash + "\n--" + boundary +
                             "\nContent-Disposition: form-data; name=\"package\"; filename=\"big_ormi_2.1.0.bz2\"\n"
                             "Content-Type: application/octet-stream\n\n";
    parts.tail = "\n--" + boundary + "--\n";
    parts.request = "POST /cgi-bin/setUpdateFileToServer.cgi HTTP/1.1\nHost: 127.0.0.1\n"
                    "Content-Type: multipart/form-data; boundary=" +
                    boundary +
                    "\nContent-Length: " + std::to_string(head.size() + parts.package.size() + parts.tail.size()) +
                    "\n\n\n" + head;
    return parts;
}

// The same 10 MB either as three sends or as one gathered send of its
// pieces (an empty one among them): whatever the platform takes per call,
// every byte arrives once and in order.
TEST_F(TransportTest, LargeBlockWithZeroBytesArrivesWhole)
{
    const upload_parts parts = bigUpload();
    const std::string& package = parts.package;
    const std::size_t total = parts.request.size() + package.size() + parts.tail.size();
    for (bool gathered : { false, true }) {
        SCOPED_TRACE(gathered ? "one gathered send" : "three sends");
        char address[256] = "127.0.0.1";
        char portBuffer[256];
        snprintf(portBuffer, sizeof portBuffer, "%s", port.c_str());
        control_takeLines();
        responseText[0] = 0;
        ASSERT_EQ(sock_open(5), 1);
        ASSERT_EQ(sock_connect(address, portBuffer), 1);
        if (gathered) {
            const char* pieces[] = { parts.request.data(), "", package.data(), parts.tail.data() };
            const int lengths[] = { (int)parts.request.size(), 0, (int)package.size(), (int)parts.tail.size() };
            EXPECT_EQ(sock_sendPieces(pieces, lengths, 4, 5), 1);
        } else {
            EXPECT_EQ(sock_sendText(parts.request.c_str(), 5), 1);
            EXPECT_EQ(sock_sendBytes(package.data(), (int)package.size(), 5), 1);
            EXPECT_EQ(sock_sendText(parts.tail.c_str(), 5), 1);
        }
        EXPECT_EQ(sock_waitResponse(responseText, 10), 1);
        EXPECT_EQ(sock_close(), 1);

        std::vector<std::string> lines = control_takeLines();
        const std::string sent = "sended " + std::to_string(gathered ? total : package.size()) + " bytes";
        EXPECT_NE(std::find(lines.begin(), lines.end(), sent), lines.end());
        sim_upload upload = sim_lastUpload(server);
        EXPECT_EQ(upload.size, package.size());
        EXPECT_EQ(upload.md5, md5Hex(package));
        EXPECT_TRUE(upload.passwordOk);
        EXPECT_NE(std::string(responseText).find("upload OK"), std::string::npos) << responseText;
    }
}

TEST_F(TransportTest, SendToADeviceThatHasGoneFails)
{
    // The device takes a little of the block, then resets the connection.
    int listenPort = 0;
    simnet_handle listener = simnet_listen("127.0.0.1", 0, &listenPort);
    ASSERT_NE(listener, simnet_invalid);
    std::thread device([&] {
        simnet_handle client;
        if (simnet_accept(listener, 3000, &client) != 1)
            return;
        char buffer[4096];
        int taken = 0;
        while (taken < 65536 && simnet_waitReadable(client, 1000) == 1) {
            int n = simnet_recv(client, buffer, sizeof buffer);
            if (n <= 0)
                break;
            taken += n;
        }
        simnet_reset(client);
    });
    std::string block(32 * 1024 * 1024, 'b');
    char address[256] = "127.0.0.1";
    char portBuffer[256];
    snprintf(portBuffer, sizeof portBuffer, "%d", listenPort);
    control_takeLines();
    ASSERT_EQ(sock_open(1), 1);
    ASSERT_EQ(sock_connect(address, portBuffer), 1);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sock_sendBytes(block.data(), (int)block.size(), 2), 0);
    EXPECT_LT(control_millisecondsSince(start), 4000);
    sock_close();
    device.join();
    simnet_close(listener);
    std::vector<std::string> lines = control_takeLines();
    bool reported = false;
    for (const std::string& line : lines) {
        if (line.compare(0, 7, "sended ") == 0) {
            reported = true;
            EXPECT_LT(atoi(line.c_str() + 7), (int)block.size()) << line;
        }
    }
    EXPECT_TRUE(reported);
}

TEST_F(TransportTest, BadBlockArgumentsFailTheSend)
{
    char address[256] = "127.0.0.1";
    char portBuffer[256];
    snprintf(portBuffer, sizeof portBuffer, "%s", port.c_str());
    ASSERT_EQ(sock_open(1), 1);
    ASSERT_EQ(sock_connect(address, portBuffer), 1);
    EXPECT_EQ(sock_sendBytes(nullptr, 10, 1), 0);
    EXPECT_EQ(sock_sendBytes("abc", -1, 1), 0);
    const char* pieces[] = { "ab", nullptr, "cd", "ef", "gh" };
    const int lengths[] = { 2, 2, 2, 2, 2 };
    const int negative[] = { 2, 0, -1, 2, 2 };
    EXPECT_EQ(sock_sendPieces(pieces, lengths, 2, 1), 0); // no data behind a length
    EXPECT_EQ(sock_sendPieces(pieces + 2, negative + 1, 2, 1), 0);
    const char* many[] = { "ab", "cd", "ef", "gh", "ij" };
    static_assert(sizeof many / sizeof many[0] == PLAT_MAX_PIECES + 1, "one piece too many");
    EXPECT_EQ(sock_sendPieces(many, lengths, PLAT_MAX_PIECES + 1, 1), 0);
    EXPECT_EQ(sock_sendPieces(nullptr, lengths, 1, 1), 0);
    EXPECT_EQ(sock_close(), 1);
}

// The event window as the event thread publishes it, taken away for a test
// and put back when the test ends.
class WithoutEventWindow {
  public:
    WithoutEventWindow()
    {
        // An exchange waits for the window the event thread makes at load.
        EXPECT_EQ(sock_open(5), 1);
        sock_close();
        saved = eventWindow.exchange(nullptr);
    }
    ~WithoutEventWindow()
    {
        publish();
    }
    void publish()
    {
        if (saved)
            eventWindow.store(saved, std::memory_order_release);
        saved = nullptr;
    }

  private:
    plat_window saved = nullptr;
};

TEST_F(TransportTest, EventWindowThatComesLateIsWaitedFor)
{
    WithoutEventWindow absent;
    std::thread eventThread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        absent.publish();
    });
    exchange_run run = runExchange(loginRequest("127.0.0.1"), "127.0.0.1", port, 2);
    eventThread.join();
    EXPECT_EQ(run.ok, 1);
    EXPECT_NE(run.response.find("LOGIN OK"), std::string::npos);
    EXPECT_GE(run.ms, 250);
    EXPECT_LT(run.ms, 1500);
    EXPECT_EQ(sim_requests(server).size(), 1u);
}

TEST_F(TransportTest, NoEventWindowWithinTheTimeoutFailsTheOpenAndTheFinalClose)
{
    exchange_run run;
    {
        WithoutEventWindow absent;
        run = runExchange(loginRequest("127.0.0.1"), "127.0.0.1", port);
    }
    EXPECT_EQ(run.ok, 0);
    EXPECT_GE(run.ms, 950); // the whole time-out of 1 s
    EXPECT_LT(run.ms, 3000);
    EXPECT_TRUE(hasLinePrefix(run, "WSASyncSelect error #"));
    EXPECT_FALSE(hasLinePrefix(run, "address: "));
    // The open already closed the socket, so the exchange's own close fails.
    EXPECT_EQ(run.lines.back().compare(0, 27, "Error during close socket #"), 0) << run.lines.back();
    EXPECT_EQ(sim_connectionCount(server), 0u);
}

TEST_F(TransportTest, WaitsEndAsSoonAsTheDeviceIsDone)
{
    // A device that answers at once: with blind 10 ms pauses each exchange
    // would take two pauses or more.
    int listenPort = 0;
    simnet_handle listener = simnet_listen("127.0.0.1", 0, &listenPort);
    ASSERT_NE(listener, simnet_invalid);
    const int rounds = 20;
    std::thread device([&] {
        for (int i = 0; i < rounds; ++i) {
            simnet_handle client;
            if (simnet_accept(listener, 3000, &client) != 1)
                return;
            char buffer[1024];
            std::string got;
            while (got.find("\n\n\n") == std::string::npos && simnet_waitReadable(client, 1000) == 1) {
                int n = simnet_recv(client, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                got.append(buffer, (std::size_t)n);
            }
            const std::string answer = httpAnswer("fast");
            simnet_sendAll(client, answer.data(), answer.size());
            simnet_close(client);
        }
    });
    const std::string devicePort = std::to_string(listenPort);
    int ok = 0;
    std::vector<long long> times;
    for (int i = 0; i < rounds; ++i) {
        exchange_run run = runExchange("GET / HTTP/1.1\nHost: 127.0.0.1\n\n\n", "127.0.0.1", devicePort);
        ok += run.ok;
        times.push_back(run.ms);
    }
    device.join();
    simnet_close(listener);
    EXPECT_EQ(ok, rounds);
    // The median: a busy machine may stall single exchanges.
    std::sort(times.begin(), times.end());
    EXPECT_LT(times[rounds / 2], 10) << "slowest " << times.back() << " ms";
}

TEST_F(TransportTest, ExportedCallsWaitForTheLock)
{
    std::atomic<int> done(0);
    plat_lock();
    std::thread caller([&] {
        startDLL();
        done = 1;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(done.load(), 0); // held off while another call is running
    plat_lock();               // the lock is recursive within one thread
    plat_unlock();
    plat_unlock();
    caller.join();
    EXPECT_EQ(done.load(), 1);
}

#ifdef _WIN32
TEST_F(TransportTest, ClosingTheEventWindowLeavesItWorking)
{
    ASSERT_EQ(sock_open(5), 1); // waits for the window
    sock_close();
    HWND window = eventWindow.load();
    EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(window));
    exchange_run run = runExchange(loginRequest("127.0.0.1"), "127.0.0.1", port);
    EXPECT_EQ(run.ok, 1);
    EXPECT_NE(run.response.find("LOGIN OK"), std::string::npos);
}
#endif

#ifdef _WIN32
// Stands in for a busy event thread: holds the first close notification in
// the library's window until released, then hands it on.
namespace held_close {
WNDPROC original;
std::atomic<bool> holding(false), held(false), released(false), forwarded(false);
std::atomic<WPARAM> heldSocket(0), connectSocket(0);

LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_USER + 1 && WSAGETSELECTEVENT(lParam) == FD_CONNECT)
        connectSocket = wParam;
    if (message == WM_USER + 1 && WSAGETSELECTEVENT(lParam) == FD_CLOSE && holding.exchange(false)) {
        heldSocket = wParam;
        held = true;
        for (int i = 0; i < 500 && !released; ++i)
            Sleep(10);
        LRESULT result = CallWindowProcA(original, window, message, wParam, lParam);
        forwarded = true;
        return result;
    }
    return CallWindowProcA(original, window, message, wParam, lParam);
}
} // namespace held_close

bool waitFor(const std::atomic<bool>& flag)
{
    for (int i = 0; i < 300 && !flag; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return flag;
}

TEST_F(TransportTest, LateCloseOfAClosedSocketIsNotTakenForTheNextOne)
{
    int listenPort = 0;
    simnet_handle listener = simnet_listen("127.0.0.1", 0, &listenPort);
    ASSERT_NE(listener, simnet_invalid);
    char address[256], portText[256];
    auto connectNext = [&](simnet_handle* client) {
        snprintf(address, sizeof address, "127.0.0.1");
        snprintf(portText, sizeof portText, "%d", listenPort);
        EXPECT_EQ(sock_open(5), 1);
        EXPECT_EQ(sock_connect(address, portText), 1);
        EXPECT_EQ(simnet_accept(listener, 3000, client), 1);
    };
    simnet_handle first = simnet_invalid, second = simnet_invalid;
    connectNext(&first);
    ASSERT_EQ(sock_sendText("x", 2), 1); // connected

    HWND window = eventWindow.load();
    held_close::original = (WNDPROC)SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)held_close::proc);
    held_close::holding = true;
    simnet_close(first); // the device goes: its close is queued
    ASSERT_TRUE(waitFor(held_close::held));

    sock_close();
    connectNext(&second); // its connect queues behind the held close
    held_close::released = true;
    ASSERT_TRUE(waitFor(held_close::forwarded));
    EXPECT_EQ(sock_sendText("y", 2), 1);

    // The second device has neither answered nor closed.
    char out[4096];
    EXPECT_EQ(sock_waitResponse(out, 1), 0)
        << "socket " << held_close::heldSocket << " closed, then " << held_close::connectSocket << " opened";
    sock_close();
    SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)held_close::original);
    simnet_close(second);
    simnet_close(listener);
}
#endif

TEST(HttpFindBody, SplitsAtTheFirstBlankLine)
{
    struct body_case {
        const char* name;
        const char* text;
        int bodyOffset;
    };
    const body_case cases[] = {
        { "CRLF blank line", "HTTP/1.1 200 OK\r\n\r\nOK", 19 },
        { "bare line feeds", "HTTP/1.1 200 OK\nA: b\n\nbody", 22 },
        { "no blank line: the whole text", "HTTP/1.1 200 OK\r\nA: b\r\n", 0 },
        { "ends in CRLF blank line: empty body", "HTTP/1.1 200 OK\r\n\r\n", 19 },
        { "ends in two line feeds: empty body", "HTTP/1.1 200 OK\n\n", 17 },
        { "blank line one before the end", "H\n\nX", 3 },
        { "only two line feeds", "\n\n", 2 },
        { "first blank line decides", "a\n\nb\r\n\r\nc", 3 },
        { "CRLF before a later bare pair", "a\r\n\r\nb\n\nc", 5 },
        { "line feed, CR, line feed is no blank line", "a\n\r\nb", 0 },
        { "empty text", "", 0 },
        { "short text", "\n", 0 },
    };
    for (const body_case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(http_findBody(c.text), c.text + c.bodyOffset);
    }
    EXPECT_EQ(http_findBody(nullptr), nullptr);
}

} // namespace
