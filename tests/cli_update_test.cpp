// Whole runs of `ormi update` against simulated devices: one device with
// either login method, the verdict on the version the device comes back
// with, the dry run, several devices in parallel with one faulty, and the
// working folder's removal when the run is interrupted.
#include "cli_run.h"

#include <chrono>
#include <thread>

#ifndef _WIN32
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

std::size_t countOf(const std::string& text, const std::string& part)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

using CliUpdate = CliTest;

// Requests that wrote to the device: uploads and parameter sets alike.
std::size_t postsIn(sim_server* s)
{
    std::size_t n = 0;
    for (const std::string& request : sim_requests(s))
        n += request.compare(0, 5, "POST ") == 0;
    return n;
}

std::size_t uploadsIn(sim_server* s)
{
    std::size_t n = 0;
    for (const std::string& request : sim_requests(s))
        n += request.find("setUpdateFileToServer") != std::string::npos;
    return n;
}

// The one result object of a --json run ("" when there is none).
std::string resultObject(const std::string& output)
{
    std::size_t at = output.find("{\"device\":");
    return at == std::string::npos ? "" : output.substr(at, output.find('\n', at) - at);
}

TEST_F(CliUpdate, FullUpdateWithEitherLoginMethodStoresThePackageByteExact)
{
    for (int method : { 1, 2 }) {
        SCOPED_TRACE("login method " + std::to_string(method));
        sim_options options;
        options.loginMethod = method;
        sim_server* s = startSim(options);
        ASSERT_NE(s, nullptr);
        cli_outcome run =
            cli_run(quick({ "update", packagePath, "--device", device(s), "--login-method", std::to_string(method) }));
        EXPECT_EQ(run.code, ORMI_EXIT_OK) << run.output;

        sim_upload stored = sim_lastUpload(s);
        EXPECT_EQ(stored.fileName, "fw_ormi_2.2.0.bz2");
        EXPECT_TRUE(stored.passwordOk);
        EXPECT_TRUE(stored.data == package) << "stored " << stored.size << " bytes of " << package.size();

        // The device's texts in the order it gave them, then the reboot and the version read again.
        const char* steps[] = { "ORMI, Version 2.1.0",
                                "install: installing fw_ormi_2.2.0.bz2: step 1 of 2",
                                "install: installing fw_ormi_2.2.0.bz2: step 2 of 2",
                                "install: installation of fw_ormi_2.2.0.bz2 finished",
                                "reboot: the device answers again",
                                "updated: package version 2.1.0 -> 2.2.0" };
        std::size_t at = 0;
        for (const char* step : steps) {
            std::size_t found = run.output.find(step, at);
            EXPECT_NE(found, std::string::npos) << "missing or out of order: " << step << "\n" << run.output;
            if (found != std::string::npos)
                at = found;
        }
        EXPECT_EQ(countOf(run.output, "step 1 of 2"), 1u) << "each text once, as it comes";

        // The installation and the reboot were asked for with the whole configuration.
        bool installAsked = false, rebootAsked = false;
        for (const std::string& request : sim_requests(s)) {
            if (request.find("setParamToServer") == std::string::npos)
                continue;
            installAsked = installAsked || (request.find("\"install_component\":\"package\"") != std::string::npos &&
                                            request.find("\"serial_number\":\"0412-3387\"") != std::string::npos);
            rebootAsked = rebootAsked || request.find("\"reboot\":true") != std::string::npos;
        }
        EXPECT_TRUE(installAsked);
        EXPECT_TRUE(rebootAsked);
        EXPECT_EQ(run.output.find("secret"), std::string::npos) << "the password is never shown";
        EXPECT_EQ(run.output.find('\r'), std::string::npos) << "no progress line without a terminal";
    }
}

TEST_F(CliUpdate, UpdateCountsByTheVersionTheDeviceComesBackWith)
{
    struct {
        const char* fault;
        const char* expect;
        bool json;
        int code;
        std::vector<std::string> shown; // in the result object (--json) or the output
        std::vector<std::string> absent;
    } cases[] = {
        { "",
          "",
          true,
          ORMI_EXIT_OK,
          { "\"message\":\"updated: package version 2.1.0 -> 2.2.0\"",
            "\"version_before\":\"2.1.0\",\"version_after\":\"2.2.0\"", "\"changed\":true,\"version_changed\":true" },
          { "expected_version", "dry_run" } },
        { "",
          "2.2.0",
          true,
          ORMI_EXIT_OK,
          { "\"ok\":true",
            "\"version_after\":\"2.2.0\",\"expected_version\":\"2.2.0\",\"changed\":true,\"version_changed\":true" },
          {} },
        { "keep-version",
          "2.2.0",
          true,
          ORMI_EXIT_VERSION,
          { "\"ok\":false,\"exit_code\":11,\"result\":\"wrong-version\"",
            "\"message\":\"device came back with version 2.1.0, expected 2.2.0\"",
            "\"version_after\":\"2.1.0\",\"expected_version\":\"2.2.0\",\"changed\":true,\"version_changed\":false" },
          {} },
        { "keep-version",
          "",
          true,
          ORMI_EXIT_OK,
          { "\"message\":\"installed, but the device still reports 2.1.0\"",
            "\"changed\":true,\"version_changed\":false" },
          { "updated" } },
        { "keep-version",
          "",
          false,
          ORMI_EXIT_OK,
          { "warning: installed, but the device still reports 2.1.0" },
          { "updated" } },
        { "keep-version",
          "2.2.0",
          false,
          ORMI_EXIT_VERSION,
          { "device came back with version 2.1.0, expected 2.2.0" },
          { "updated" } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("fault '") + c.fault + "', expected '" + c.expect + "', json " +
                     (c.json ? "yes" : "no"));
        sim_options options;
        options.fault = c.fault;
        sim_server* s = startSim(options);
        ASSERT_NE(s, nullptr);
        std::vector<std::string> args = { "update", packagePath, "--device", device(s) };
        if (*c.expect)
            args.insert(args.end(), { "--expect-version", c.expect });
        if (c.json)
            args.push_back("--json");
        cli_outcome run = cli_run(quick(args));
        EXPECT_EQ(run.code, c.code) << run.output;
        EXPECT_EQ(uploadsIn(s), 1u);
        std::string seen = c.json ? resultObject(run.output) : run.output;
        for (const std::string& part : c.shown)
            EXPECT_NE(seen.find(part), std::string::npos) << part << "\n" << run.output;
        for (const std::string& part : c.absent)
            EXPECT_EQ(seen.find(part), std::string::npos) << part << "\n" << run.output;
    }
}

TEST_F(CliUpdate, DeviceAtTheExpectedVersionIsLeftAloneUnlessForced)
{
    sim_options atTarget;
    atTarget.packageVersion = "2.2.0";
    sim_server* s = startSim(atTarget);
    ASSERT_NE(s, nullptr);
    cli_outcome skip =
        cli_run(quick({ "update", packagePath, "--device", device(s), "--expect-version", "2.2.0", "--json" }));
    EXPECT_EQ(skip.code, ORMI_EXIT_OK) << skip.output;
    EXPECT_NE(resultObject(skip.output)
                  .find("\"ok\":true,\"exit_code\":0,\"result\":\"ok\",\"message\":\"already at 2.2.0\""),
              std::string::npos)
        << skip.output;
    EXPECT_NE(resultObject(skip.output)
                  .find("\"version_before\":\"2.2.0\",\"expected_version\":\"2.2.0\",\"changed\":false,"),
              std::string::npos)
        << skip.output;
    EXPECT_EQ(resultObject(skip.output).find("version_changed"), std::string::npos) << "no update was completed";
    EXPECT_EQ(postsIn(s), 0u) << "nothing uploaded, installed or rebooted";
    EXPECT_FALSE(sim_requests(s).empty()) << "the version was read from the device";

    // Another version expected: the same device is updated.
    cli_outcome other = cli_run(quick({ "update", packagePath, "--device", device(s), "--expect-version", "2.3.0" }));
    EXPECT_EQ(other.code, ORMI_EXIT_VERSION) << other.output;
    EXPECT_EQ(uploadsIn(s), 1u);

    sim_clearRequests(s);
    cli_outcome forced = cli_run(
        quick({ "update", packagePath, "--device", device(s), "--expect-version", "2.2.0", "--force", "--json" }));
    EXPECT_EQ(forced.code, ORMI_EXIT_OK) << forced.output;
    EXPECT_EQ(uploadsIn(s), 1u) << "--force uploads";
    EXPECT_NE(resultObject(forced.output)
                  .find("\"version_before\":\"2.2.0\",\"version_after\":\"2.2.0\",\"expected_version\":\"2.2.0\","
                        "\"changed\":true,\"version_changed\":false"),
              std::string::npos)
        << forced.output;
}

TEST_F(CliUpdate, DryRunWritesNothingAndEndsWithTheRealRunsCode)
{
    std::string truncated = path("cut_ormi_2.2.0.bz2");
    cli_writeFile(truncated, package.substr(0, package.size() / 2));
    std::string otherType = path("fw_ormim_2.2.0m.bz2");
    cli_writeFile(otherType, package);
    std::string fits =
        "would upload fw_ormi_2.2.0.bz2 (" + std::to_string(package.size()) + " bytes), install and reboot";
    struct {
        const char* name;
        std::string file;
        std::vector<std::string> extra;
        const char* fault;
        int code;
        std::string message;
        bool readsDevice;
    } cases[] = {
        { "fitting package", packagePath, {}, "", ORMI_EXIT_OK, fits, true },
        { "already at the expected version",
          packagePath,
          { "--expect-version", "2.1.0" },
          "",
          ORMI_EXIT_OK,
          "already at 2.1.0",
          true },
        { "forced", packagePath, { "--expect-version", "2.1.0", "--force" }, "", ORMI_EXIT_OK, fits, true },
        { "name refused",
          otherType,
          {},
          "",
          ORMI_EXIT_NOFIT,
          "t ist vom Typ ORMI. Das Package muss dazu passen.",
          true },
        { "corrupt package", truncated, {}, "", ORMI_EXIT_CORRUPT, "the package is not an intact bzip2 stream", false },
        { "device unreachable", packagePath, { "--retries", "0" }, "refuse", ORMI_EXIT_UNREACHABLE, "", false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim_options options;
        options.fault = c.fault;
        sim_server* s = startSim(options);
        ASSERT_NE(s, nullptr);
        std::vector<std::string> args = { "update", c.file, "--device", device(s), "--dry-run", "--json" };
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        cli_outcome run = cli_run(quick(args));
        EXPECT_EQ(run.code, c.code) << run.output;
        std::string result = resultObject(run.output);
        EXPECT_NE(result.find("\"exit_code\":" + std::to_string(c.code) + ","), std::string::npos) << run.output;
        EXPECT_NE(edit_member(result, "message").find(c.message), std::string::npos) << run.output;
        EXPECT_NE(result.find("\"changed\":false"), std::string::npos) << run.output;
        EXPECT_NE(result.find("\"dry_run\":true"), std::string::npos) << run.output;
        EXPECT_EQ(postsIn(s), 0u) << "a dry run sends no POST";
        if (c.readsDevice)
            EXPECT_NE(result.find("\"version_before\":\"2.1.0\""), std::string::npos) << run.output;
    }
}

TEST_F(CliUpdate, SeveralDevicesWithOneFaultyGiveTwoSuccessesAndOneFailure)
{
    sim_options healthy, faulty, fallsBack;
    faulty.fault = "refuse";
    fallsBack.fault = "keep-version";
    sim_server* a = startSim(healthy);
    sim_server* b = startSim(faulty);
    sim_server* c = startSim(fallsBack);
    ASSERT_TRUE(a && b && c);
    std::string list = path("devices.txt");
    cli_writeFile(list, "# plant 3\n" + device(a) + "\n\n" + device(b) + "   # the broken one\r\n" + device(c) + "\n");

    cli_outcome run = cli_run(quick({ "update", packagePath, "--devices", list, "--parallel", "3", "--retries", "0" }));
    EXPECT_EQ(run.code, ORMI_EXIT_SOME_FAILED) << run.output;
    for (sim_server* good : { a, c })
        EXPECT_TRUE(sim_lastUpload(good).data == package);
    EXPECT_TRUE(sim_lastUpload(b).fileName.empty());
    // The summary: one row per device, with its result, exit code and the
    // versions before and after; the one that kept its version is marked.
    EXPECT_NE(run.output.find("DEVICE"), std::string::npos) << run.output;
    auto rowOf = [&](sim_server* s) {
        std::size_t row = run.output.rfind(device(s) + "  ");
        return row == std::string::npos ? std::string() : run.output.substr(row, run.output.find('\n', row) - row);
    };
    auto columns = [](const std::string& row) {
        std::vector<std::string> words;
        for (std::size_t at = row.find_first_not_of(' '); at != std::string::npos;
             at = row.find_first_not_of(' ', at)) {
            std::size_t end = row.find(' ', at);
            words.push_back(row.substr(at, end - at));
            at = end;
        }
        return words;
    };
    std::vector<std::string> updated = columns(rowOf(a)), kept = columns(rowOf(c)), failed = columns(rowOf(b));
    ASSERT_GE(updated.size(), 6u) << run.output;
    EXPECT_EQ(std::vector<std::string>(updated.begin() + 1, updated.begin() + 5),
              (std::vector<std::string>{ "ok", "0", "2.1.0", "2.2.0" }))
        << rowOf(a);
    EXPECT_EQ(rowOf(a).find("unchanged"), std::string::npos) << rowOf(a);
    ASSERT_GE(kept.size(), 6u) << run.output;
    EXPECT_EQ(std::vector<std::string>(kept.begin() + 1, kept.begin() + 6),
              (std::vector<std::string>{ "ok", "0", "2.1.0", "2.1.0", "(unchanged)" }))
        << rowOf(c);
    EXPECT_NE(rowOf(c).find("installed, but the device still reports 2.1.0"), std::string::npos) << rowOf(c);
    ASSERT_GE(failed.size(), 5u) << run.output;
    EXPECT_EQ(std::vector<std::string>(failed.begin() + 1, failed.begin() + 5),
              (std::vector<std::string>{ "unreachable", "3", "-", "-" }))
        << rowOf(b);
    EXPECT_NE(run.output.find("1 of 3 devices updated, 1 unchanged, 1 failed"), std::string::npos) << run.output;

    // --json: one result object per device.
    cli_outcome json =
        cli_run(quick({ "update", packagePath, "--devices", list, "--parallel", "2", "--retries", "0", "--json" }));
    EXPECT_EQ(json.code, ORMI_EXIT_SOME_FAILED);
    EXPECT_EQ(countOf(json.output, "{\"device\":"), 3u) << json.output;
    EXPECT_EQ(countOf(json.output, "\"ok\":true,\"exit_code\":0"), 2u) << json.output;
    EXPECT_NE(json.output.find("{\"device\":\"" + device(b) +
                               "\",\"command\":\"update\",\"ok\":false,\"exit_code\":3,"
                               "\"result\":\"unreachable\""),
              std::string::npos)
        << json.output;

    // A dry run over the list writes to none of them.
    for (sim_server* s : { a, b, c })
        sim_clearRequests(s);
    cli_outcome dry =
        cli_run(quick({ "update", packagePath, "--devices", list, "--parallel", "3", "--retries", "0", "--dry-run" }));
    EXPECT_EQ(dry.code, ORMI_EXIT_SOME_FAILED) << dry.output;
    for (sim_server* s : { a, b, c })
        EXPECT_EQ(postsIn(s), 0u);
    EXPECT_FALSE(sim_requests(a).empty());
    EXPECT_NE(dry.output.find("dry run, nothing written: 2 of 3 devices would be updated, 1 failed"), std::string::npos)
        << dry.output;
}

#ifndef _WIN32
// The settings file of the run, once it exists (empty if it does not come).
std::string waitForSettingsFile(const std::filesystem::path& temp)
{
    for (int i = 0; i < 1000; ++i) {
        for (const auto& entry : std::filesystem::directory_iterator(temp))
            if (std::filesystem::exists(entry.path() / "ormi_control.ini"))
                return (entry.path() / "ormi_control.ini").string();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
}
#endif

// Natively only: Wine delivers no console event to a program started without a console.
#ifndef _WIN32
TEST_F(CliUpdate, InterruptedRunRemovesItsWorkingFolder)
{
    sim_options slow;
    slow.answerDelayMs = 20000; // the upload's answer does not come before the interrupt
    sim_server* s = startSim(slow);
    ASSERT_NE(s, nullptr);
    std::string program = cli_programPath(), dev = device(s);
    pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        execl(program.c_str(), program.c_str(), "update", packagePath.c_str(), "--device", dev.c_str(), "--timeout",
              "1", "--upload-wait", "60", (char*)nullptr);
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    // Wait until the settings file with the password exists, then interrupt.
    std::string ini = waitForSettingsFile(temp);
    ASSERT_FALSE(ini.empty());
    EXPECT_NE(cli_readFile(ini).find("password=secret"), std::string::npos);
    for (int i = 0; i < 500 && sim_lastUpload(s).fileName.empty() && sim_requests(s).size() < 2; ++i)
        usleep(10000);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    // TearDown checks that the folder is gone.
}
#endif

} // namespace
