// A soak: many calls of alternating exports against the simulated device,
// mostly healthy with faults interleaved, while open descriptors, handles
// and resident memory must stay flat.
#include "ormi_control.h"
#include "param_fixture.h"
#include "rel_probe.h"

#include <cstdio>
#include <string>

namespace paramtest {
namespace {

#ifdef _WIN32
const int kCalls = 1000; // Wine: each exchange costs far more
const int kFastFaultEvery = 25;
const int kSlowFaultEvery = 400;
#else
const int kCalls = 10000;
const int kFastFaultEvery = 50;
const int kSlowFaultEvery = 2500;
#endif

const char* const kFastFaults[] = { "refuse", "reset", "huge", "zero-byte", "no-blank-line", "crlf-json", "slow" };
const char* const kSlowFaults[] = { "silent", "keep-open" };

// One call of the export picked by n; true when it gave its success value.
bool callExport(int n)
{
    static const char package[] = "soak package bytes";
    char channel[16];
    switch (n % 7) {
    case 0:
        return checkConnection() == 1;
    case 1:
        return getValue("configuration", "devicebase", "") != nullptr;
    case 2:
        return getValue("configuration", "devicebase", "package_version") != nullptr;
    case 3:
        return setValue("configuration", "module7", "", "{\n\t\"a\":\t1\n}") == 1;
    case 4:
        std::snprintf(channel, sizeof channel, "ai1");
        return getIO("x", channel) != -1;
    case 5:
        std::snprintf(channel, sizeof channel, "do1");
        return setIO("x", channel, n) == 1;
    default:
        return sendUpdateFile("update", "p_ormi_.bz2", package, sizeof package - 1) == 1;
    }
}

struct Probe {
    int descriptors;
    int handles;
    int sockets;
    long long residentKb;
};

Probe probe()
{
    return { reltest::descriptorCount(), reltest::handleCount(), reltest::socketCount(), reltest::residentKb() };
}

class SoakTest : public DeviceTest {};

TEST_F(SoakTest, ResourcesStayFlatOverManyCallsWithFaults)
{
    // The fixture keeps every debug line; that memory is the test's, not the
    // library's.
    debug_setCapture(nullptr, nullptr);
    int failedHealthy = 0;
    int faults = 0;
    Probe warm{};
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCalls; ++i) {
        if (i == kCalls / 10)
            warm = probe();
        const char* fault = nullptr;
        if (i % kSlowFaultEvery == kSlowFaultEvery / 2)
            fault = kSlowFaults[(i / kSlowFaultEvery) % 2];
        else if (i % kFastFaultEvery == kFastFaultEvery / 2)
            fault = kFastFaults[(i / kFastFaultEvery) % 7];
        if (fault) {
            sim_setFault(server, fault);
            callExport(i);
            // An upload left waiting is collected or given up like a caller would.
            if (i % 7 == 6)
                sendUpdateFileResp();
            sim_setFault(server, "");
            ++faults;
            continue;
        }
        if (!callExport(i)) {
            ++failedHealthy;
            ADD_FAILURE() << "healthy call " << i << " (export " << i % 7 << ") failed";
            if (failedHealthy > 5)
                break;
        }
        // The device keeps every request; the test must not measure that.
        if (i % 200 == 0)
            sim_clearRequests(server);
    }
    sim_clearRequests(server);
    Probe end = probe();
    long long seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
    std::printf("soak: %d calls (%d under faults) in %lld s\n", kCalls, faults, seconds);
    std::printf("  descriptors %d -> %d, handles %d -> %d, sockets %d -> %d, resident %lld -> %lld KiB\n",
                warm.descriptors, end.descriptors, warm.handles, end.handles, warm.sockets, end.sockets,
                warm.residentKb, end.residentKb);
    EXPECT_EQ(failedHealthy, 0);
    ASSERT_GT(warm.descriptors, 0);
    // A leak of one per faulty call would show as dozens; the slack is for
    // the device's own threads that may still be ending a connection.
    EXPECT_LE(end.descriptors, warm.descriptors + 4);
#ifdef _WIN32
    ASSERT_GE(warm.sockets, 0);
    EXPECT_LE(end.sockets, warm.sockets + 2);
    if (warm.handles > 0) {
        EXPECT_LE(end.handles, warm.handles + 20);
    }
#endif
    ASSERT_GT(warm.residentKb, 0);
#ifndef __SANITIZE_ADDRESS__
    // Under AddressSanitizer freed memory is held in quarantine, so resident
    // memory grows by design there; its leak checker stands in.
    EXPECT_LE(end.residentKb, warm.residentKb + 4096);
#endif
}

} // namespace
} // namespace paramtest
