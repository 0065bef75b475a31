// sendUpdateFile and sendUpdateFileResp against the simulated device: the
// multipart request byte for byte, packages up to the buffer limit stored
// byte-exact, the answer that comes later, the lock between the upload and a
// poll from another thread, and the results of every failure.
#include "ormi_control.h"
#include "param_fixture.h"
#include "upload.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace paramtest {
namespace {

const std::string kFaultSilent = "silent";
const std::string kFaultKeepOpen = "keep-open";
const std::string kFaultRefuse = "refuse"; // accepts and closes at once

const int kBufferSize = 10000000;
const std::string kSeparator = "-----------------------------17933678425893";

std::string headText(const std::string& hash, const std::string& fileName)
{
    return kSeparator + "\n" + "Content-Disposition: form-data; name=\"username\"\n\nAdministrator\n" + kSeparator +
           "\n" + "Content-Disposition: form-data; name=\"password\"\n\n" + hash + "\n" + kSeparator + "\n" +
           "Content-Disposition: form-data; name=\"max_file_size\"\n\n10000000\n" + kSeparator + "\n" +
           "Content-Disposition: form-data; name=\"text\"\n\nloading finished\n" + kSeparator + "\n" +
           "Content-Disposition: form-data; name=\"package\"; filename=\"" + fileName + "\"\n" +
           "Content-Type: application/octet-stream\n\n";
}

const std::string kTail = "\n" + kSeparator + "\n";

std::string requestHead(const std::string& host, long long contentLength)
{
    return "POST /cgi-bin/setUpdateFileToServer.cgi HTTP/1.1\nHost: " + host +
           "\nContent-Type:multipart/form-data\nContent-Length: " + std::to_string(contentLength) + "\n\n\n";
}

int sendPackage(const std::string& fileName, const std::string& data)
{
    return sendUpdateFile("update", fileName.c_str(), data.data(), static_cast<int>(data.size()));
}

long long millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// Bytes that a careless copy or a text function would lose or misread:
// zero bytes, separator lines with and without the closing "--", CR LF.
std::string trickyBytes(std::size_t size)
{
    std::string data(size, '\0');
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        data[i] = static_cast<char>(state >> 24);
    }
    const std::string traps[] = { std::string("\0\0\0", 3), kTail, "\r\n" + kSeparator + "--\r\n", "\n\n\n",
                                  kSeparator };
    std::size_t at = 0;
    for (std::size_t step = 0; at + 64 < size; ++step, at += 1 + size / 7) {
        const std::string& trap = traps[step % 5];
        data.replace(at, trap.size(), trap);
    }
    if (size >= kTail.size())
        data.replace(size - kTail.size(), kTail.size(), kTail);
    return data;
}

class UploadTest : public DeviceTest {};

TEST_F(UploadTest, RequestIsTheMultipartFrameByteForByte)
{
    const struct {
        const char* name;
        std::string fileName;
        std::string data;
        int headLength;
    } cases[] = {
        { "empty file", "a.bz2", "", 595 },
        { "10-character name", "0123456789", "abcde", 600 },
        { "zero and separator bytes", "pkg_ormi_2.1.0.bz2", trickyBytes(5000), 608 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        clearDebug();
        ASSERT_EQ(sendPackage(c.fileName, c.data), 1);
        std::string head = headText(expectedHash(), c.fileName);
        ASSERT_EQ(static_cast<int>(head.size()), c.headLength);
        std::string body = head + c.data + kTail;
        std::string request = requestHead("127.0.0.1", static_cast<long long>(body.size()) + 1) + body;
        EXPECT_EQ(lastRequest(), request);
        int requestHeadLength = static_cast<int>(request.size() - body.size());
        EXPECT_TRUE(debugHas("sendUpdateFile: len = " + std::to_string(request.size()) + " (" +
                             std::to_string(requestHeadLength) + " " + std::to_string(body.size()) + " " +
                             std::to_string(c.data.size()) + " " + std::to_string(head.size()) + " 45)"));
        // Login method 1: the hash is the same at every login, so only its beginning.
        EXPECT_TRUE(debugHas("tanStr = " + expectedHash().substr(0, 6) + "..."));
        EXPECT_TRUE(debugHas("module = " + c.fileName));
        sim_upload upload = sim_lastUpload(server);
        EXPECT_EQ(upload.fileName, c.fileName);
        EXPECT_EQ(upload.data, c.data);
        EXPECT_TRUE(upload.passwordOk);
    }
}

TEST_F(UploadTest, ContentLengthCountsTheByteBeforeTheBody)
{
    ASSERT_EQ(sendPackage("0123456789", ""), 1);
    EXPECT_NE(lastRequest().find("\nContent-Length: 646\n\n\n" + kSeparator), std::string::npos);
    ASSERT_EQ(sendPackage("0123456789", "xyz"), 1);
    EXPECT_NE(lastRequest().find("\nContent-Length: 649\n\n\n"), std::string::npos);
    ASSERT_EQ(sendPackage("", ""), 1); // head 590 + tail 45 + 1
    EXPECT_NE(lastRequest().find("\nContent-Length: 636\n\n\n"), std::string::npos);
}

TEST_F(UploadTest, HostLineCarriesTheNormalisedAddressWithMethod2)
{
    settings.loginVersion = 2;
    startDevice(sim_options());
    settings.address = "http://127.0.0.1:" + std::to_string(sim_port(server));
    settings.port = "1";
    writeSettings();
    ASSERT_EQ(sendPackage("p.bz2", "data"), 1);
    std::string body = headText(expectedHash(), "p.bz2") + "data" + kTail;
    EXPECT_EQ(lastRequest(), requestHead("127.0.0.1", static_cast<long long>(body.size()) + 1) + body);
    EXPECT_TRUE(sim_lastUpload(server).passwordOk);
}

TEST_F(UploadTest, LargestPackageThatFitsIsStoredByteExactAndOneByteMoreIsRefused)
{
    settings.timeout = 20;
    writeSettings();
    const std::string fileName = "big_ormi_2.1.0.bz2";
    const long long head = 590 + static_cast<long long>(fileName.size());
    // Request head, body and the terminating zero fill the buffer exactly.
    long long body = kBufferSize - 1 - static_cast<long long>(requestHead("127.0.0.1", 9999999).size());
    const std::size_t largest = static_cast<std::size_t>(body - head - 45);
    ASSERT_EQ(requestHead("127.0.0.1", body + 1).size(), requestHead("127.0.0.1", 9999999).size());
    EXPECT_EQ(upload_largestPackage("127.0.0.1", fileName.c_str()), static_cast<int>(largest));
    EXPECT_EQ(upload_largestPackage("127.0.0.1", std::string(5000, 'n').c_str()), 0);

    std::string data = trickyBytes(largest + 1);
    ASSERT_EQ(sendUpdateFile("update", fileName.c_str(), data.data(), static_cast<int>(largest + 1)), -1);
    EXPECT_EQ(sim_connectionCount(server), 0u);

    data.resize(largest);
    ASSERT_EQ(sendPackage(fileName, data), 1);
    sim_upload upload = sim_lastUpload(server);
    EXPECT_EQ(upload.size, largest);
    EXPECT_EQ(upload.md5, md5Hex(data));
    EXPECT_TRUE(upload.data == data);
}

TEST_F(UploadTest, FileNameLimitIsTheHeadBuffer)
{
    // The head holds 590 characters besides the name in 4096 bytes.
    ASSERT_EQ(sendPackage(std::string(3505, 'n'), "x"), 1);
    EXPECT_EQ(sim_lastUpload(server).fileName, std::string(3505, 'n'));
    std::size_t connections = sim_connectionCount(server);
    EXPECT_EQ(sendPackage(std::string(3506, 'n'), "x"), -1);
    EXPECT_EQ(sim_connectionCount(server), connections);
}

TEST_F(UploadTest, AnswerAfterTheTimeOutIsCollectedByTheResponsePoll)
{
    sim_options options;
    options.answerDelayMs = 1500;
    startDevice(options);
    EXPECT_EQ(sendPackage("late.bz2", "payload"), 0);
    EXPECT_EQ(sendUpdateFileResp(), 1);
    EXPECT_NE(std::strstr(responseText, "upload OK"), nullptr) << responseText;
    // Nothing is pending any more: a further poll waits its second and says no.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sendUpdateFileResp(), 0);
    EXPECT_GE(millisecondsSince(start), 900);
    EXPECT_NE(std::strstr(responseText, "upload OK"), nullptr) << "the answer stays";
}

TEST_F(UploadTest, ResponsePollWithoutUploadWaitsASecondAndReturns0)
{
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sendUpdateFileResp(), 0);
    long long elapsed = millisecondsSince(start);
    EXPECT_GE(elapsed, 900);
    EXPECT_LT(elapsed, 5000);
    ASSERT_EQ(sendPackage("p.bz2", "1"), 1);
    EXPECT_EQ(sendUpdateFileResp(), 0) << "an answered upload is not answered again";
    EXPECT_EQ(sim_connectionCount(server), 1u);
}

TEST_F(UploadTest, ResponsePollDuringTheUploadWaitsForItAndTakesTheUploadsAnswer)
{
    // Method 2: the upload's own login exchange closes a connection first,
    // which a poll running beside it must not take for the upload's answer.
    settings.loginVersion = 2;
    sim_options options;
    options.answerDelayMs = 1500;
    startDevice(options);

    std::atomic<int> uploadResult{ 99 };
    std::atomic<long long> uploadDone{ 0 };
    auto start = std::chrono::steady_clock::now();
    std::thread uploader([&] {
        uploadResult = sendPackage("p.bz2", "package bytes");
        uploadDone = millisecondsSince(start);
    });
    // Poll as soon as the upload is inside the library, during its login.
    for (int i = 0; i < 500 && !debugHas("socket created\n"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    int pollResult = sendUpdateFileResp();
    long long pollDone = millisecondsSince(start);
    uploader.join();

    EXPECT_EQ(uploadResult.load(), 0);
    EXPECT_EQ(pollResult, 1);
    EXPECT_GE(pollDone, uploadDone.load()) << "the poll waited for the upload through the lock";
    EXPECT_NE(std::strstr(responseText, "upload OK"), nullptr) << responseText;
    EXPECT_EQ(sim_connectionCount(server), 2u);
    EXPECT_TRUE(sim_lastUpload(server).passwordOk);
}

// ---------------------------------------------------------------------------
// Results per failure

struct UploadFailure {
    const char* name;
    std::function<void(UploadTest*)> arrange;
    std::function<int()> call;
    int result;
    bool nothingSent;
};

TEST_F(UploadTest, ResultsPerFailure)
{
    auto small = [] { return sendPackage("p.bz2", "data"); };
    const UploadFailure cases[] = {
        { "no hash (unknown login method)",
          [](UploadTest* t) {
              t->settings.loginVersion = 3;
              t->writeSettings();
          },
          small, -1, true },
        { "no hash (method 2, no TAN)",
          [](UploadTest* t) {
              t->settings.loginVersion = 2;
              t->writeSettings();
              sim_setOverride(t->server, "type=single_id", "HTTP/1.1 200 OK\r\n\r\n");
          },
          small, -1, false },
        { "refused",
          [](UploadTest* t) {
              t->settings.port = t->refusedPort();
              t->writeSettings();
          },
          small, -1, true },
        { "silent", [](UploadTest* t) { sim_setFault(t->server, kFaultSilent); }, small, 0, false },
        { "keep-open", [](UploadTest* t) { sim_setFault(t->server, kFaultKeepOpen); }, small, 0, false },
        { "answer reports an error (not examined)",
          [](UploadTest* t) {
              sim_setOverride(t->server, "setUpdateFileToServer", "HTTP/1.1 500 Error\r\n\r\nfailed");
          },
          small, 1, false },
        { "negative length", [](UploadTest*) {}, [] { return sendUpdateFile("update", "p.bz2", "data", -1); }, -1,
          true },
        { "no file name", [](UploadTest*) {}, [] { return sendUpdateFile("update", nullptr, "data", 4); }, -1, true },
        { "no data", [](UploadTest*) {}, [] { return sendUpdateFile("update", "p.bz2", nullptr, 4); }, -1, true },
        { "package beyond the buffers", [](UploadTest*) {},
          [] {
              static const std::string big(kBufferSize, 'b');
              return sendUpdateFile("update", "p.bz2", big.data(), kBufferSize);
          },
          -1, true },
    };
    for (const UploadFailure& c : cases) {
        SCOPED_TRACE(c.name);
        settings = Settings();
        startDevice(sim_options());
        c.arrange(this);
        EXPECT_EQ(c.call(), c.result);
        if (c.nothingSent) {
            EXPECT_EQ(sim_connectionCount(server), 0u);
        }
        // Whatever happened, a poll afterwards finds no answer to hand out.
        EXPECT_EQ(sendUpdateFileResp(), 0);
    }
}

TEST_F(UploadTest, FailedSendClosesTheConnection)
{
    const struct {
        const char* name;
        std::function<void(UploadTest*)> arrange;
        std::string data;
    } cases[] = {
        { "connection never comes up",
          [](UploadTest* t) {
              t->settings.port = t->refusedPort();
              t->writeSettings();
          },
          "data" },
        // The device drops the connection while a large package is still going out.
        { "device closes during the send", [](UploadTest* t) { sim_setFault(t->server, kFaultRefuse); },
          std::string(8000000, 'p') },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings = Settings();
        startDevice(sim_options());
        c.arrange(this);
        clearDebug();
        EXPECT_EQ(sendPackage("p.bz2", c.data), -1);
        EXPECT_TRUE(debugHas("sendUpdateFile: Fehler beim Senden"));
        std::string lastSocketLine;
        for (const std::string& line : debugLines())
            if (line == "socket created\n" || line == "socket closed\n")
                lastSocketLine = line;
        EXPECT_EQ(lastSocketLine, "socket closed\n");
    }
}

} // namespace
} // namespace paramtest
