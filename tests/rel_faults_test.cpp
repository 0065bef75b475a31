// The fault matrix: every misbehaviour of the simulated device against every
// export that talks to a device. Each cell must end within its bound with the
// export's failure value (or, where the device still delivered a whole
// answer, its success value), and the same export must succeed against the
// healthy device right after. The matrix is printed as a table.
#include "ormi_control.h"
#include "param_fixture.h"
#include "rel_probe.h"

#include <algorithm>
#include <cstdio>
#include <vector>
#include <functional>
#include <string>
#include <thread>

namespace paramtest {
namespace {

struct ExportCase {
    const char* name;
    std::function<int()> call; // the export's result
    int failure;               // its failure value
};

// setValue writes back the device's own configuration, so that the value
// getValue reads by key stays in place.
std::string& configuration()
{
    static std::string text;
    return text;
}

int callGetValueBody()
{
    return getValue("configuration", "devicebase", "") != nullptr;
}
int callGetValueKey()
{
    const char* v = getValue("configuration", "devicebase", "package_version");
    return v != nullptr && *v != '\0';
}

const ExportCase kExports[] = {
    { "checkConnection", [] { return checkConnection(); }, 0 },
    { "getIO",
      [] {
          char c[16] = "ai1";
          return getIO("x", c);
      },
      -1 },
    { "setIO",
      [] {
          char c[16] = "do1";
          return setIO("x", c, 5);
      },
      0 },
    { "getValue body", callGetValueBody, 0 },
    { "getValue key", callGetValueKey, 0 },
    { "setValue", [] { return setValue("configuration", "devicebase", "", configuration().c_str()); }, 0 },
    { "sendUpdateFile",
      [] {
          static const char d[] = "pkg";
          return sendUpdateFile("update", "p_ormi_.bz2", d, 3);
      },
      -1 },
};

// What each fault may give. Without a close, or closed before any answer,
// there is no answer and every export fails; an upload that is out but
// unanswered gives 0, and its collection 0 as well. An upload closed
// without an answer counts as answered, since the answer is not examined.
// A reset is no close: what came before it is not an answer, and the call
// fails as if nothing had come.
// A whole answer that arrives slowly or with CR LF lines must succeed. A
// device that takes the login and cuts every other answer fails every call
// but the login check.
enum Expect { MUST_FAIL, MAY_SUCCEED, MUST_SUCCEED, LOGIN_ONLY };
const struct {
    const char* fault;
    Expect expect;
} kFaults[] = {
    { "silent", MUST_FAIL },       { "keep-open", MUST_FAIL },
    { "refuse", MUST_FAIL },       { "reset", MUST_FAIL },
    { "slow", MUST_SUCCEED },      { "huge", MAY_SUCCEED },
    { "zero-byte", MAY_SUCCEED },  { "no-blank-line", MAY_SUCCEED },
    { "crlf-json", MUST_SUCCEED }, { "reset-mid-answer", LOGIN_ONLY },
};

class FaultMatrixTest : public DeviceTest {
  protected:
    // Every fault against the exports named (all when names is empty), under
    // the login method of the settings; the table goes to stdout.
    void runMatrix(const std::vector<std::string>& names);
};

void FaultMatrixTest::runMatrix(const std::vector<std::string>& names)
{
    configuration() = sim_configuration(server);
    ASSERT_NE(configuration().find("package_version"), std::string::npos);
    std::vector<ExportCase> exports;
    for (const ExportCase& e : kExports)
        if (names.empty() || std::find(names.begin(), names.end(), e.name) != names.end())
            exports.push_back(e);
    // The TAN is an exchange of its own.
    int exchanges = settings.loginVersion == 2 ? 2 : 1;
    std::string table = "fault            ";
    for (const ExportCase& e : exports) {
        char column[40];
        std::snprintf(column, sizeof column, "| %-16s", e.name);
        table += column;
    }
    table += "\n";
    for (const auto& f : kFaults) {
        char row[40];
        std::snprintf(row, sizeof row, "%-17s", f.fault);
        table += row;
        for (const ExportCase& e : exports) {
            SCOPED_TRACE(std::string(f.fault) + " / " + e.name);
            Expect expect = f.expect;
            if (expect == LOGIN_ONLY)
                expect = std::string(e.name) == "checkConnection" ? MUST_SUCCEED : MUST_FAIL;
            sim_setFault(server, f.fault);
            auto start = std::chrono::steady_clock::now();
            int result = e.call();
            long long ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
            long long bound = exchanges * 2LL * settings.timeout * 1000 + 500;
            EXPECT_LE(ms, bound);
            bool isUpload = e.failure == -1 && std::string(e.name) == "sendUpdateFile";
            std::string cell = std::to_string(result);
            if (isUpload && result == 0) {
                // Out but unanswered: the collection must not invent an answer.
                auto wait = std::chrono::steady_clock::now();
                int collected = sendUpdateFileResp();
                long long waited =
                    std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - wait)
                        .count();
                EXPECT_EQ(collected, 0);
                EXPECT_LE(waited, 1500);
                cell += "/" + std::to_string(collected);
                ms += waited;
            }
            if (expect == MUST_FAIL && !isUpload) {
                EXPECT_EQ(result, e.failure);
            }
            if (expect == MUST_FAIL && isUpload && std::string(f.fault) != "refuse") {
                EXPECT_NE(result, 1);
            }
            if (expect == MUST_SUCCEED) {
                EXPECT_TRUE(isUpload ? result == 1 : result != e.failure);
            }
            sim_setFault(server, "");
            int healthy = e.call();
            bool healthyOk = isUpload ? healthy == 1 : healthy != e.failure;
            EXPECT_TRUE(healthyOk) << "after " << f.fault << ": " << healthy;
            char text[40];
            std::snprintf(text, sizeof text, "| %-5s %5lldms %-3s", cell.c_str(), ms, healthyOk ? "ok" : "BAD");
            table += text;
        }
        table += "\n";
    }
    std::printf("fault matrix, login method %d (result, time, next healthy call), timeout %d s:\n%s",
                settings.loginVersion, settings.timeout, table.c_str());
}

TEST_F(FaultMatrixTest, EveryFaultFailsInTimeAndTheNextCallSucceeds)
{
    runMatrix({});
}

TEST_F(FaultMatrixTest, EveryFaultFailsInTimeWithTheTanExchangeToo)
{
    settings.loginVersion = 2;
    startDevice(sim_options());
    runMatrix({ "checkConnection", "getValue key", "sendUpdateFile" });
}

TEST_F(FaultMatrixTest, UnansweredUploadIsGivenUpByTheNextCall)
{
    // The upload's connection is still open when the caller moves on; the
    // next exchange must close it, not leak it with its notifications bound.
    static const char package[] = "pkg";
    ASSERT_EQ(checkConnection(), 1);
#ifdef _WIN32
    int before = reltest::socketCount();
    ASSERT_GE(before, 0);
#else
    int before = reltest::descriptorCount();
#endif
    const int rounds = 6;
    for (int i = 0; i < rounds; ++i) {
        SCOPED_TRACE(i);
        sim_setFault(server, "silent");
        EXPECT_EQ(sendUpdateFile("update", "p_ormi_.bz2", package, 3), 0);
        sim_setFault(server, "");
        EXPECT_EQ(checkConnection(), 1);
        EXPECT_NE(getValue("configuration", "devicebase", ""), nullptr);
    }
    // The device ends its side once ours is closed; a leak never settles.
    auto settled = [&](int (*count)(), int start) {
        int now = count();
        for (int i = 0; i < 40 && now >= start + rounds / 2; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            now = count();
        }
        return now;
    };
#ifdef _WIN32
    // Under Wine the process's Unix descriptors also hold Wine's own, which
    // vary from run to run on a long-lived server (seen: up to 30 more after
    // six rounds); the sockets are counted exactly instead.
    EXPECT_LT(settled(reltest::socketCount, before), before + rounds / 2);
#else
    EXPECT_LT(settled(reltest::descriptorCount, before), before + rounds / 2);
#endif
    // No answer of a given-up upload is collected later.
    EXPECT_EQ(sendUpdateFileResp(), 0);
}

} // namespace
} // namespace paramtest
