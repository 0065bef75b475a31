// The ormi commands one by one against a simulated device: exit codes of
// each failure, the package-name checks with their texts, values and
// channels, an existing settings file used as it is, --help, and the end
// of a child's output.
#include "cli_run.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

using CliCommand = CliTest;

TEST_F(CliCommand, EachFailureHasItsOwnExitCode)
{
    sim_server* s = startSim(sim_options());
    ASSERT_NE(s, nullptr);
    const std::string dev = device(s);

    struct usageCase {
        std::vector<std::string> args;
        const char* says;
    } usage[] = {
        { {}, "no command" },
        { { "check", "--device", dev, "--password", "secret" }, "unknown option --password" },
        { { "update", "--device", dev }, "wrong number of arguments" },
        { { "check" }, "--device or --settings is needed" },
        { { "check", "--device", dev, "--login-method", "3" }, "--login-method is 1 or 2" },
        { { "check", "--device", "127.0.0.1:99999" }, "--device takes HOST[:PORT]" },
        { { "frobnicate", "--device", dev }, "unknown command frobnicate" },
    };
    for (const usageCase& c : usage) {
        cli_outcome run = cli_run(c.args);
        EXPECT_EQ(run.code, ORMI_EXIT_USAGE) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
    }

    // Refused login: the device answered, so there is no retry.
    cli_setEnv("ORMI_PASSWORD", "wrong");
    std::size_t before = sim_connectionCount(s);
    cli_outcome refused = cli_run(quick({ "check", "--device", dev, "--retries", "3" }));
    EXPECT_EQ(refused.code, ORMI_EXIT_LOGIN) << refused.output;
    EXPECT_EQ(refused.output.find("retry"), std::string::npos) << refused.output;
    EXPECT_LE(sim_connectionCount(s) - before, 2u) << "one login and one probe";
    cli_setEnv("ORMI_PASSWORD", "secret");

    // A value the device does not have.
    cli_outcome missing = cli_run(quick({ "get", "configuration", "nosuchmodule", "version", "--device", dev }));
    EXPECT_EQ(missing.code, ORMI_EXIT_FAILED) << missing.output;

    // A broken download is refused before anything is sent.
    sim_clearRequests(s);
    cli_writeFile(path("cut_ormi_2.2.0.bz2"), package.substr(0, package.size() / 2));
    cli_outcome cut = cli_run(quick({ "update", path("cut_ormi_2.2.0.bz2"), "--device", dev }));
    EXPECT_EQ(cut.code, ORMI_EXIT_CORRUPT) << cut.output;
    EXPECT_NE(cut.output.find("is not an intact bzip2 package (the file is truncated); nothing was sent"),
              std::string::npos)
        << cut.output;
    EXPECT_TRUE(sim_requests(s).empty());
    std::string flipped = package;
    flipped[flipped.size() / 2] ^= 0x10;
    cli_writeFile(path("bad_ormi_2.2.0.bz2"), flipped);
    EXPECT_EQ(cli_run(quick({ "update", path("bad_ormi_2.2.0.bz2"), "--device", dev })).code, ORMI_EXIT_CORRUPT);
    EXPECT_TRUE(sim_requests(s).empty());
    // --no-verify sends it all the same.
    EXPECT_EQ(cli_run(quick({ "update", path("bad_ormi_2.2.0.bz2"), "--device", dev, "--no-verify" })).code,
              ORMI_EXIT_OK);
    EXPECT_TRUE(sim_lastUpload(s).data == flipped);
}

TEST_F(CliCommand, NetworkFailuresAreRetriedThenReportedUnreachable)
{
    sim_server* gone = sim_start(sim_options());
    ASSERT_NE(gone, nullptr);
    std::string dev = device(gone);
    sim_stop(gone);
    cli_outcome run = cli_run(quick({ "check", "--device", dev, "--retries", "2" }));
    EXPECT_EQ(run.code, ORMI_EXIT_UNREACHABLE) << run.output;
    EXPECT_NE(run.output.find("login: no connection, retry 1 of 2 in 0.1 s"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("retry 2 of 2"), std::string::npos);
    EXPECT_EQ(run.output.find("retry 3"), std::string::npos);

    // A device that accepts but never answers counts as unreachable too.
    sim_options silent;
    silent.fault = "silent";
    sim_server* s = startSim(silent);
    EXPECT_EQ(cli_run(quick({ "check", "--device", device(s), "--retries", "0" })).code, ORMI_EXIT_UNREACHABLE);
}

// An answer cut by a reset is not the device's answer: nothing of it is
// printed, the exit code is the one for an unreachable device, and the
// message says that the answer was cut.
TEST_F(CliCommand, AnswerCutByAResetIsUnreachableAndSaysSo)
{
    const char* cutText = "the device's answer was cut: the connection was reset after ";
    struct cutCase {
        const char* fault;
        std::vector<std::string> command;
    } cases[] = {
        { "reset-mid-answer", { "get", "configuration", "devicebase" } },
        { "reset-mid-answer", { "get", "configuration", "devicebase", "package_version" } },
        { "reset-mid-answer", { "check" } },
        { "reset-mid-answer", { "io", "get", "station", "di1" } },
        { "reset", { "check" } },
    };
    for (const cutCase& c : cases) {
        SCOPED_TRACE(std::string(c.fault) + ", " + c.command[0] + " " + (c.command.size() > 2 ? c.command[2] : ""));
        sim_options options;
        options.fault = c.fault;
        sim_server* s = startSim(options);
        ASSERT_NE(s, nullptr);
        std::vector<std::string> args = c.command;
        args.insert(args.end(), { "--device", device(s), "--retries", "1" });
        cli_outcome run = cli_run(quick(args));
        EXPECT_EQ(run.code, ORMI_EXIT_UNREACHABLE) << run.output;
        EXPECT_NE(run.output.find(cutText), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("the device's answer was cut, retry 1 of 1"), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("device_name"), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("2.1.0"), std::string::npos) << run.output;
    }
}

// A first exchange that fails at once while the device is healthy is a
// failure on the way, not a refusal: the login question asked again gets
// "LOGIN OK", so the call is retried and succeeds.
TEST_F(CliCommand, QuickFailureOfAHealthyDeviceIsRetriedNotCalledARefusal)
{
    // skip: the connections before the one that fails (under method 2 a call makes two).
    struct quickCase {
        int method;
        const char* fault;
        int skip;
        std::vector<std::string> command;
        const char* says;
        const char* printed;
    } cases[] = {
        { 1, "refuse", 0, { "check" }, "login: failed", "ORMI, Version 2.1.0" },
        { 1, "reset", 0, { "check" }, "login: failed", "ORMI, Version 2.1.0" },
        { 1, "refuse", 0, { "get", "configuration", "devicebase", "package_version" }, "login: failed", "2.1.0\n" },
        { 2, "refuse", 0, { "check" }, "login: failed", "ORMI, Version 2.1.0" },
        { 2, "reset", 0, { "get", "configuration", "devicebase", "package_version" }, "login: failed", "2.1.0\n" },
        // The read itself fails at once: asked again, the device gives its value.
        { 1, "refuse", 1, { "get", "configuration", "devicebase", "package_version" }, "read: failed", "2.1.0\n" },
        { 2, "refuse", 3, { "get", "configuration", "devicebase" }, "read: failed", "\"package_version\"" },
        { 1, "refuse", 1, { "io", "get", "station", "do1" }, "read: failed", "\n0\n" },
    };
    for (const quickCase& c : cases) {
        SCOPED_TRACE(std::string(c.fault) + " after " + std::to_string(c.skip) + ", login method " +
                     std::to_string(c.method) + ", " + c.command[0]);
        sim_options options;
        options.loginMethod = c.method;
        options.fault = c.fault;
        options.faultConnections = 1;
        options.faultSkip = c.skip;
        sim_server* s = startSim(options);
        ASSERT_NE(s, nullptr);
        std::vector<std::string> args = c.command;
        args.insert(args.end(),
                    { "--device", device(s), "--login-method", std::to_string(c.method), "--retries", "1" });
        cli_outcome run = cli_run(quick(args));
        EXPECT_EQ(run.code, ORMI_EXIT_OK) << run.output;
        EXPECT_NE(run.output.find(std::string(c.says) + " although the device takes the login, retry 1 of 1"),
                  std::string::npos)
            << run.output;
        EXPECT_NE(run.output.find(c.printed), std::string::npos) << run.output;
    }
}

// A read the device answers with nothing the library takes is the device's
// refusal: told at once, not retried.
TEST_F(CliCommand, ReadAnsweredWithoutABodyIsRefusedAtOnce)
{
    sim_server* s = startSim(sim_options());
    ASSERT_NE(s, nullptr);
    sim_setOverride(s, "type=configuration&module=devicebase", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
    std::size_t before = sim_connectionCount(s);
    cli_outcome run = cli_run(quick({ "get", "configuration", "devicebase", "--device", device(s), "--retries", "3" }));
    EXPECT_EQ(run.code, ORMI_EXIT_FAILED) << run.output;
    EXPECT_NE(run.output.find("the device refused the request"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("retry"), std::string::npos) << run.output;
    EXPECT_EQ(sim_connectionCount(s) - before, 4u) << "login, read, the login and the read asked again";
}

// A wrong password is the device's own answer to the login: told at once,
// never retried, under both login methods.
TEST_F(CliCommand, WrongPasswordIsLoginRefusedAtOnce)
{
    struct refusedCase {
        int method;
        std::size_t connections;
    } cases[] = { { 1, 2 }, { 2, 4 } };
    cli_setEnv("ORMI_PASSWORD", "wrong");
    for (const refusedCase& c : cases) {
        SCOPED_TRACE("login method " + std::to_string(c.method));
        sim_options options;
        options.loginMethod = c.method;
        sim_server* s = startSim(options);
        ASSERT_NE(s, nullptr);
        for (const char* command : { "check", "get" }) {
            std::size_t before = sim_connectionCount(s);
            std::vector<std::string> args = { command };
            if (std::string(command) == "get")
                args.insert(args.end(), { "configuration", "devicebase" });
            args.insert(args.end(), { "--device", device(s), "--login-method", std::to_string(c.method), "--retries",
                                      "3", "--retry-pause", "5" });
            auto started = std::chrono::steady_clock::now();
            cli_outcome run = cli_run(quick(args));
            double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            EXPECT_EQ(run.code, ORMI_EXIT_LOGIN) << run.output;
            EXPECT_NE(run.output.find("the device refused the login"), std::string::npos) << run.output;
            EXPECT_EQ(run.output.find("retry"), std::string::npos) << run.output;
            EXPECT_LT(seconds, 5.0) << "no pause before a retry";
            EXPECT_EQ(sim_connectionCount(s) - before, c.connections)
                << "the library's login and the same login asked again";
        }
    }
}

TEST_F(CliCommand, UploadInstallationAndRebootFailuresHaveTheirExitCodes)
{
    sim_options slowAnswer;
    slowAnswer.answerDelayMs = 4000;
    sim_server* slow = startSim(slowAnswer);
    cli_outcome upload = cli_run(quick({ "update", packagePath, "--device", device(slow), "--upload-wait", "1" }));
    EXPECT_EQ(upload.code, ORMI_EXIT_UPLOAD) << upload.output;
    EXPECT_NE(upload.output.find("the device did not answer the upload within 1 s"), std::string::npos)
        << upload.output;

    sim_server* failing = startSim(sim_options());
    sim_setOverride(failing, "type=values",
                    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n"
                    "{\"state\": \"error\", \"content\": \"checksum of the package wrong\"}");
    cli_outcome install = cli_run(quick({ "update", packagePath, "--device", device(failing) }));
    EXPECT_EQ(install.code, ORMI_EXIT_INSTALL) << install.output;
    EXPECT_NE(install.output.find("the installation failed: checksum of the package wrong"), std::string::npos)
        << install.output;
    EXPECT_EQ(sim_configuration(failing).find("\"reboot\": true"), std::string::npos)
        << "no reboot after a failed installation";

    // A refused installation request is sent once, and nothing follows it.
    sim_server* refusing = startSim(sim_options());
    sim_setOverride(refusing, "\"install_component\":\"package\"", "HTTP/1.1 500 Error\r\n\r\nrefused\n");
    cli_outcome start = cli_run(quick({ "update", packagePath, "--device", device(refusing), "--retries", "3" }));
    EXPECT_EQ(start.code, ORMI_EXIT_INSTALL) << start.output;
    EXPECT_NE(start.output.find("the device did not take the installation request"), std::string::npos) << start.output;
    int installRequests = 0, afterwards = 0;
    for (const std::string& request : sim_requests(refusing)) {
        if (installRequests)
            ++afterwards;
        if (request.find("\"install_component\":\"package\"") != std::string::npos)
            ++installRequests;
    }
    EXPECT_EQ(installRequests, 1);
    EXPECT_LE(afterwards, 1) << "at most the probe";

    sim_options longReboot;
    longReboot.rebootSeconds = 30;
    sim_server* away = startSim(longReboot);
    cli_outcome reboot = cli_run(quick({ "update", packagePath, "--device", device(away), "--reboot-wait", "2" }));
    EXPECT_EQ(reboot.code, ORMI_EXIT_REBOOT) << reboot.output;
    EXPECT_NE(reboot.output.find("the device did not answer again within 2 s after the reboot"), std::string::npos)
        << reboot.output;
}

TEST_F(CliCommand, PackageNameMustFitTheDevice)
{
    struct nameCase {
        const char* version;
        const char* name;
        int code;
        const char* says;
    } cases[] = {
        { "2.1.0", "fw_ormim_2.2.0.bz2", ORMI_EXIT_NOFIT, "Das Gerät ist vom Typ ORMI. Das Package muss dazu passen." },
        { "2.1.0m", "fw_ormi_2.2.0m.bz2", ORMI_EXIT_NOFIT,
          "Das Gerät ist vom Typ ORMI-M. Das Package muss dazu passen." },
        { "2.1.0-rc", "fw_ormi_2.2.0.bz2", ORMI_EXIT_NOFIT,
          "Der ORMI/ORMI-M hat die Version -rc. Das Package muss dazu passen." },
        { "2.1.0-rc", "fw_ormi_2.2.0-rc.bz2", ORMI_EXIT_OK, "ORMI, Version 2.1.0-rc" },
        { "2.1.0m", "fw_ormim_2.2.0m.bz2", ORMI_EXIT_OK, "ORMI-M, Version 2.1.0m" },
    };
    for (const nameCase& c : cases) {
        SCOPED_TRACE(std::string(c.version) + " " + c.name);
        sim_options options;
        options.packageVersion = c.version;
        sim_server* s = startSim(options);
        ASSERT_NE(s, nullptr);
        cli_writeFile(path(c.name), package);
        cli_outcome run = cli_run(quick({ "update", path(c.name), "--device", device(s) }));
        EXPECT_EQ(run.code, c.code) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        EXPECT_EQ(sim_lastUpload(s).fileName.empty(), c.code != ORMI_EXIT_OK)
            << "a package that does not fit is not sent";
    }
}

TEST_F(CliCommand, ValuesAndChannelsAreReadAndWritten)
{
    sim_server* s = startSim(sim_options());
    const std::string dev = device(s);
    cli_outcome whole = cli_run(quick({ "get", "configuration", "devicebase", "--device", dev }));
    EXPECT_EQ(whole.code, ORMI_EXIT_OK);
    EXPECT_EQ(whole.output.compare(0, 2, "{\n"), 0) << whole.output;
    struct getCase {
        const char* key;
        const char* printed;
    } gets[] = {
        { "package_version", "2.1.0\n" },
        { "network.netmask", "255.255.255.0\n" },
        { "temperature_offset", "-2.5\n" },
        { "utc_offset_minutes", "-60\n" },
    };
    for (const getCase& g : gets)
        EXPECT_EQ(cli_run(quick({ "get", "configuration", "devicebase", g.key, "--device", dev })).output, g.printed);

    // A string with a quote and a comma replaces the old one whole; everything else stays.
    cli_outcome set = cli_run(
        quick({ "set", "configuration", "devicebase", "location", "\"Hall 4, rack \\\"A\\\"\"", "--device", dev }));
    EXPECT_EQ(set.code, ORMI_EXIT_OK) << set.output;
    std::string stored = sim_configuration(s);
    EXPECT_NE(stored.find("\"location\":\"Hall 4, rack \\\"A\\\"\","), std::string::npos) << stored;
    EXPECT_NE(stored.find("\"serial_number\":\"0412-3387\""), std::string::npos) << stored;
    EXPECT_NE(stored.find("\"temperature_offset\":-2.5"), std::string::npos) << stored;
    EXPECT_EQ(cli_run(quick({ "set", "configuration", "devicebase", "no_such_key", "1", "--device", dev })).code,
              ORMI_EXIT_FAILED);

    // @file: the file's text is the value.
    cli_writeFile(path("module.json"), "{\"a\": 1, \"zero\": 0, \"empty\": \"\"}");
    EXPECT_EQ(cli_run(quick({ "set", "configuration", "extra", "", "@" + path("module.json"), "--device", dev })).code,
              ORMI_EXIT_OK);
    for (const char* key : { "a", "zero", "empty" }) {
        std::string expected = std::string(key) == "a" ? "1\n" : std::string(key) == "zero" ? "0\n" : "\n";
        EXPECT_EQ(cli_run(quick({ "get", "configuration", "extra", key, "--device", dev })).output, expected) << key;
    }

    EXPECT_EQ(cli_run(quick({ "io", "set", "station", "do1", "1", "--device", dev })).code, ORMI_EXIT_OK);
    EXPECT_EQ(sim_ioValue(s, "station/do1/output"), "1");
    cli_outcome io = cli_run(quick({ "io", "get", "station", "do1", "--device", dev, "--json" }));
    EXPECT_EQ(io.code, ORMI_EXIT_OK);
    EXPECT_NE(io.output.find("\"ok\":true,\"exit_code\":0,\"result\":\"ok\",\"message\":\"1\""), std::string::npos)
        << io.output;
    EXPECT_EQ(cli_run(quick({ "io", "set", "station", "do1", "one", "--device", dev })).code, ORMI_EXIT_USAGE);
}

TEST_F(CliCommand, ExistingSettingsFileIsUsedAsItIsAndLeftUnchanged)
{
    sim_options options;
    options.loginMethod = 2;
    options.password = "pass word";
    options.packageVersion = "2.1.0m";
    sim_server* s = startSim(options);
    cli_unsetEnv("ORMI_PASSWORD");
    std::string settings = "[IP]\r\nip_address=http://127.0.0.1:" + std::to_string(sim_port(s)) +
                           "\r\n[LOGIN]\r\nusername=admin\r\npassword=pass word\r\nlogin_version=2\r\n";
    cli_writeFile(path("ormi_control.ini"), settings);
    cli_outcome run = cli_run({ "check", "--settings", path("ormi_control.ini") });
    EXPECT_EQ(run.code, ORMI_EXIT_OK) << run.output;
    EXPECT_NE(run.output.find("ORMI-M, Version 2.1.0m"), std::string::npos) << run.output;
    EXPECT_EQ(cli_readFile(path("ormi_control.ini")), settings);
    EXPECT_EQ(cli_run({ "check", "--settings", path("ormi_control.ini"), "--user", "x" }).code, ORMI_EXIT_USAGE);

    // The password from a file: its first line only.
    cli_writeFile(path("password.txt"), "pass word\r\nsecond line\n");
    EXPECT_EQ(cli_run(quick({ "check", "--device", device(s), "--login-method", "2", "--password-file",
                              path("password.txt") }))
                  .code,
              ORMI_EXIT_OK);
    EXPECT_EQ(cli_run(quick({ "check", "--device", device(s), "--login-method", "1", "--password-file",
                              path("password.txt") }))
                  .code,
              ORMI_EXIT_LOGIN);
}

// --settings reads the file by the library's rules, so that ormi looks for
// the device where the library talks to it: a refused login there is told
// from a device that cannot be reached.
TEST_F(CliCommand, SettingsFileIsReadByTheLibrarysRules)
{
    sim_server* s = startSim(sim_options());
    ASSERT_NE(s, nullptr);
    cli_unsetEnv("ORMI_PASSWORD");
    const std::string port = std::to_string(sim_port(s));
    struct fileCase {
        const char* name;
        std::string text;
    } cases[] = {
        { "value in quotes", "[IP]\nip_address=\"127.0.0.1:" + port + "\"\n[LOGIN]\nusername=admin\npassword=PW\n" },
        { "names in any case, blanks, the port apart", "[ ip ]\r\n IP_Address = http://127.0.0.1 \r\nip_port = '" +
                                                           port + "'\r\n[Login]\r\nUserName=admin\r\nPassword=PW\r\n" },
        { "the first section and the first key win",
          "[IP]\nip_address=127.0.0.1\nip_port=" + port +
              "\nip_port=1\n[IP]\nip_port=2\n[LOGIN]\nusername=admin\npassword=PW\n" },
        { "byte order mark, a number followed by text",
          "\xef\xbb\xbf[IP]\nip_address=127.0.0.1:" + port +
              "\n[LOGIN]\nusername=admin\npassword=PW\n[CONTROL]\ntimeout=2s\n" },
    };
    for (const fileCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool right : { true, false }) {
            std::string text = c.text;
            text.replace(text.find("PW"), 2, right ? "secret" : "wrong");
            cli_writeFile(path("ormi_control.ini"), text);
            cli_outcome run = cli_run({ "check", "--settings", path("ormi_control.ini"), "--retries", "0" });
            EXPECT_EQ(run.code, right ? ORMI_EXIT_OK : ORMI_EXIT_LOGIN) << run.output;
        }
    }
    // Without a port the library would connect to port 0, which never answers.
    cli_writeFile(path("ormi_control.ini"), "[IP]\nip_address=127.0.0.1\n[LOGIN]\npassword=secret\n");
    cli_outcome portless = cli_run({ "check", "--settings", path("ormi_control.ini") });
    EXPECT_EQ(portless.code, ORMI_EXIT_USAGE) << portless.output;
    EXPECT_NE(portless.output.find("the settings file has no usable port"), std::string::npos) << portless.output;
    // A login method the library does not have: it would send nothing, and no device could refuse it.
    cli_writeFile(path("ormi_control.ini"),
                  "[IP]\nip_address=127.0.0.1:" + port + "\n[LOGIN]\npassword=secret\nlogin_version=3\n");
    cli_outcome method = cli_run({ "check", "--settings", path("ormi_control.ini") });
    EXPECT_EQ(method.code, ORMI_EXIT_USAGE) << method.output;
    EXPECT_NE(method.output.find("login_version is 1 or 2"), std::string::npos) << method.output;
}

TEST_F(CliCommand, EveryCommandHasHelp)
{
    struct helpCase {
        std::vector<std::string> args;
        const char* starts;
    } cases[] = {
        { { "--help" }, "usage: ormi COMMAND" },
        { { "check", "--help" }, "usage: ormi check" },
        { { "get", "--help" }, "usage: ormi get TYPE MODULE [KEY]" },
        { { "set", "--help" }, "usage: ormi set TYPE MODULE KEY VALUE" },
        { { "io", "get", "--help" }, "usage: ormi io get BASE CHANNEL" },
        { { "io", "--help" }, "usage: ormi io get BASE CHANNEL" },
        { { "update", "--help" }, "usage: ormi update PACKAGE" },
    };
    for (const helpCase& c : cases) {
        cli_outcome run = cli_run(c.args);
        EXPECT_EQ(run.code, ORMI_EXIT_OK);
        EXPECT_EQ(run.output.compare(0, std::strlen(c.starts), c.starts), 0) << run.output;
        EXPECT_NE(run.output.find("--password-file FILE"), std::string::npos);
    }
}

#ifdef _WIN32
// A process that inherited the child's pipe may hold it open long after the
// child has ended (under Wine, helpers the child started): the child's end
// with its output read must end the reading all the same.
TEST(CliProcess, OutputEndsWithTheChildThoughAnotherProcessHoldsThePipe)
{
    std::string self = term_executablePath();
    std::string helper = self.substr(0, self.find_last_of("/\\") + 1) + "cli_leave_helper.exe";
    auto start = std::chrono::steady_clock::now();
    proc_child* child = proc_start(helper, {});
    ASSERT_NE(child, nullptr);
    std::string output, line;
    while (proc_readLine(child, &line))
        output += line + "\n";
    EXPECT_EQ(proc_wait(child), 0);
    long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(ms, 5000) << "waited for the process left behind";
    unsigned long pid = 0;
    ASSERT_EQ(std::sscanf(output.c_str(), "left behind %lu", &pid), 1) << output;
    HANDLE left = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, (DWORD)pid);
    ASSERT_NE(left, nullptr);
    TerminateProcess(left, 0);
    WaitForSingleObject(left, 5000);
    CloseHandle(left);
}
#endif

} // namespace
