// Whole runs of `ormi update` against simulated devices: one device with
// either login method, several devices in parallel with one faulty, and
// the working folder's removal when the run is interrupted.
#include "cli_run.h"

#include <chrono>
#include <thread>

#ifndef _WIN32
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

using CliUpdate = CliTest;

TEST_F(CliUpdate, FullUpdateWithEitherLoginMethodStoresThePackageByteExact) {
    for (int method : {1, 2}) {
        SCOPED_TRACE("login method " + std::to_string(method));
        sim_options options;
        options.loginMethod = method;
        sim_server* s = startSim(options);
        ASSERT_NE(s, nullptr);
        cli_outcome run = cli_run(quick({"update", packagePath, "--device", device(s), "--login-method", std::to_string(method)}));
        EXPECT_EQ(run.code, ORMI_EXIT_OK) << run.output;

        sim_upload stored = sim_lastUpload(s);
        EXPECT_EQ(stored.fileName, "fw_ormi_2.2.0.bz2");
        EXPECT_TRUE(stored.passwordOk);
        EXPECT_TRUE(stored.data == package) << "stored " << stored.size << " bytes of " << package.size();

        // The device's texts in the order it gave them, then the reboot and the version read again.
        const char* steps[] = {"ORMI, Version 2.1.0", "install: installing fw_ormi_2.2.0.bz2: step 1 of 2",
                               "install: installing fw_ormi_2.2.0.bz2: step 2 of 2",
                               "install: installation of fw_ormi_2.2.0.bz2 finished", "reboot: the device answers again",
                               "updated: package version 2.1.0 -> 2.1.0"};
        std::size_t at = 0;
        for (const char* step : steps) {
            std::size_t found = run.output.find(step, at);
            EXPECT_NE(found, std::string::npos) << "missing or out of order: " << step << "\n" << run.output;
            if (found != std::string::npos) at = found;
        }
        EXPECT_EQ(countOf(run.output, "step 1 of 2"), 1u) << "each text once, as it comes";

        // The installation and the reboot were asked for with the whole configuration.
        bool installAsked = false, rebootAsked = false;
        for (const std::string& request : sim_requests(s)) {
            if (request.find("setParamToServer") == std::string::npos) continue;
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

TEST_F(CliUpdate, SeveralDevicesWithOneFaultyGiveTwoSuccessesAndOneFailure) {
    sim_options healthy, faulty;
    faulty.fault = "refuse";
    sim_server* a = startSim(healthy);
    sim_server* b = startSim(faulty);
    sim_server* c = startSim(healthy);
    ASSERT_TRUE(a && b && c);
    std::string list = path("devices.txt");
    cli_writeFile(list, "# plant 3\n" + device(a) + "\n\n" + device(b) + "   # the broken one\r\n" + device(c) + "\n");

    cli_outcome run = cli_run(quick({"update", packagePath, "--devices", list, "--parallel", "3", "--retries", "0"}));
    EXPECT_EQ(run.code, ORMI_EXIT_SOME_FAILED) << run.output;
    for (sim_server* good : {a, c}) EXPECT_TRUE(sim_lastUpload(good).data == package);
    EXPECT_TRUE(sim_lastUpload(b).fileName.empty());
    // The summary: one row per device, with its result and exit code.
    EXPECT_NE(run.output.find("DEVICE"), std::string::npos) << run.output;
    for (sim_server* good : {a, c}) {
        std::size_t row = run.output.rfind(device(good) + "  ");
        ASSERT_NE(row, std::string::npos) << run.output;
        EXPECT_EQ(run.output.compare(row, device(good).size() + 2, device(good) + "  "), 0);
        EXPECT_NE(run.output.substr(row, 60).find("ok"), std::string::npos) << run.output.substr(row, 80);
    }
    std::size_t badRow = run.output.rfind(device(b) + "  ");
    ASSERT_NE(badRow, std::string::npos);
    EXPECT_NE(run.output.substr(badRow, 60).find("unreachable"), std::string::npos) << run.output.substr(badRow, 80);
    EXPECT_NE(run.output.find("2 of 3 devices updated"), std::string::npos);

    // --json: one result object per device.
    cli_outcome json = cli_run(quick({"update", packagePath, "--devices", list, "--parallel", "2", "--retries", "0", "--json"}));
    EXPECT_EQ(json.code, ORMI_EXIT_SOME_FAILED);
    EXPECT_EQ(countOf(json.output, "{\"device\":"), 3u) << json.output;
    EXPECT_EQ(countOf(json.output, "\"ok\":true,\"exit_code\":0"), 2u) << json.output;
    EXPECT_NE(json.output.find("{\"device\":\"" + device(b) + "\",\"command\":\"update\",\"ok\":false,\"exit_code\":3,"
                               "\"result\":\"unreachable\""),
              std::string::npos)
        << json.output;
}

#ifndef _WIN32
// The settings file of the run, once it exists (empty if it does not come).
std::string waitForSettingsFile(const std::filesystem::path& temp) {
    for (int i = 0; i < 1000; ++i) {
        for (const auto& entry : std::filesystem::directory_iterator(temp))
            if (std::filesystem::exists(entry.path() / "ormi_control.ini")) return (entry.path() / "ormi_control.ini").string();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
}
#endif

// Natively only: Wine delivers no console event to a program started without a console.
#ifndef _WIN32
TEST_F(CliUpdate, InterruptedRunRemovesItsWorkingFolder) {
    sim_options slow;
    slow.answerDelayMs = 20000;   // the upload's answer does not come before the interrupt
    sim_server* s = startSim(slow);
    ASSERT_NE(s, nullptr);
    std::string program = cli_programPath(), dev = device(s);
    pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        execl(program.c_str(), program.c_str(), "update", packagePath.c_str(), "--device", dev.c_str(), "--timeout", "1",
              "--upload-wait", "60", (char*)nullptr);
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    // Wait until the settings file with the password exists, then interrupt.
    std::string ini = waitForSettingsFile(temp);
    ASSERT_FALSE(ini.empty());
    EXPECT_NE(cli_readFile(ini).find("password=secret"), std::string::npos);
    for (int i = 0; i < 500 && sim_lastUpload(s).fileName.empty() && sim_requests(s).size() < 2; ++i) usleep(10000);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    // TearDown checks that the folder is gone.
}
#endif

}  // namespace
