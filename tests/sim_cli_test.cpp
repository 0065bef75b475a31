// The ormi-sim program: start line, login over loopback, clean stop on
// SIGINT/SIGTERM (a console Ctrl+Break on Windows), --help and refused
// options; several devices of one process with their own states, up to 200
// of them within the usual limit of 1024 descriptors.
#include <gtest/gtest.h>

#include "sim_client.h"
#include "simjson.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32

struct Program {
    PROCESS_INFORMATION process{};
    HANDLE output = nullptr; // the program's stdout and stderr
    bool started = false;
};

const int stopInterrupt = 0, stopTerminate = 1;

Program launch(const std::vector<std::string>& arguments, int = 0)
{
    Program program;
    SECURITY_ATTRIBUTES inherit{ sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE };
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&program.output, &writeEnd, &inherit, 0))
        return program;
    SetHandleInformation(program.output, HANDLE_FLAG_INHERIT, 0);
    std::string line = "\"" ORMI_SIM_PATH "\"";
    for (const auto& a : arguments)
        line += " \"" + a + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    program.started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr,
                                     nullptr, &startup, &program.process) != 0;
    CloseHandle(writeEnd);
    return program;
}

std::string readOutput(const Program& program, bool firstLineOnly, int waitMs = 5000)
{
    std::string text;
    for (int waited = 0; waited < waitMs;) {
        DWORD available = 0;
        if (!PeekNamedPipe(program.output, nullptr, 0, nullptr, &available, nullptr))
            break; // writer gone
        if (available == 0) {
            Sleep(10);
            waited += 10;
            continue;
        }
        char c;
        DWORD got = 0;
        if (!ReadFile(program.output, &c, 1, &got, nullptr) || got != 1)
            break;
        text += c;
        if (firstLineOnly && c == '\n')
            break;
    }
    return text;
}

void requestStop(const Program& program, int)
{
    GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, program.process.dwProcessId);
}

// Exit code, or -1 when the program did not end within waitMs (it is killed then).
int finish(Program& program, int waitMs = 3000)
{
    int result = -1;
    if (WaitForSingleObject(program.process.hProcess, (DWORD)waitMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(program.process.hProcess, &code);
        result = (int)code;
    } else {
        TerminateProcess(program.process.hProcess, 99);
        WaitForSingleObject(program.process.hProcess, INFINITE);
    }
    return result;
}

void release(Program& program)
{
    CloseHandle(program.process.hProcess);
    CloseHandle(program.process.hThread);
    CloseHandle(program.output);
}

#else

struct Program {
    pid_t pid = -1;
    int output = -1; // the program's stdout and stderr
    bool started = false;
};

const int stopInterrupt = SIGINT, stopTerminate = SIGTERM;

// fileLimit: the program's limit of open descriptors (0: this process's).
Program launch(const std::vector<std::string>& arguments, int fileLimit = 0)
{
    int pipeEnds[2];
    Program program;
    if (pipe(pipeEnds) != 0)
        return program;
    program.pid = fork();
    if (program.pid == 0) {
        if (fileLimit > 0) {
            rlimit limit;
            getrlimit(RLIMIT_NOFILE, &limit);
            limit.rlim_cur = (rlim_t)fileLimit;
            setrlimit(RLIMIT_NOFILE, &limit);
        }
        dup2(pipeEnds[1], 1);
        dup2(pipeEnds[1], 2);
        close(pipeEnds[0]);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(ORMI_SIM_PATH));
        for (const auto& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(ORMI_SIM_PATH, argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    program.output = pipeEnds[0];
    program.started = program.pid > 0;
    return program;
}

// Everything the program writes until it ends or the first line is complete.
std::string readOutput(const Program& program, bool firstLineOnly, int waitMs = 5000)
{
    std::string text;
    char c;
    while (poll(std::vector<pollfd>{ { program.output, POLLIN, 0 } }.data(), 1, waitMs) > 0 &&
           read(program.output, &c, 1) == 1) {
        text += c;
        if (firstLineOnly && c == '\n')
            break;
    }
    return text;
}

void requestStop(const Program& program, int signal)
{
    kill(program.pid, signal);
}

// Exit status, or -1 when the program did not end within waitMs (it is killed then).
int finish(Program& program, int waitMs = 3000)
{
    for (int waited = 0; waited < waitMs; waited += 10) {
        int status = 0;
        if (waitpid(program.pid, &status, WNOHANG) == program.pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        sim_sleepMs(10);
    }
    kill(program.pid, SIGKILL);
    waitpid(program.pid, nullptr, 0);
    return -1;
}

void release(Program& program)
{
    close(program.output);
}

#endif

TEST(SimProgram, AnswersLoginWithBothMethodsAndStopsOnSignals)
{
    ASSERT_TRUE(simnet_startup()); // this process runs no server of its own
    struct {
        const char* method;
        int signal;
    } cases[] = { { "1", stopInterrupt }, { "2", stopTerminate } };
    for (const auto& c : cases) {
        Program program = launch({ "--port", "0", "--login-method", c.method, "--password", "pw" });
        ASSERT_TRUE(program.started);
        std::string line = readOutput(program, true);
        ASSERT_EQ(line.compare(0, 23, "listening on 127.0.0.1:"), 0) << line;
        ASSERT_EQ(line.back(), '\n');
        int port = std::stoi(line.substr(23));
        ASSERT_GT(port, 0);
        std::string hash = sim_hash("pw");
        if (std::string(c.method) == "2") {
            std::string tan = sim_body(sim_exchange(port, sim_getRequest("admin", hash, "single_id", "login")).bytes);
            hash = sim_hash("pw" + tan);
        }
        std::string answer = sim_exchange(port, sim_getRequest("admin", hash, "login", "login")).bytes;
        EXPECT_EQ(sim_body(answer), "LOGIN OK\n") << "method " << c.method;
        requestStop(program, c.signal);
#ifdef _WIN32
        // Wine delivers no console event to a program started without a
        // console, so only the output is checked here; the program is killed.
        finish(program, 300);
#else
        EXPECT_EQ(finish(program), 0) << "method " << c.method;
#endif
        EXPECT_EQ(readOutput(program, false), "") << "exactly one line";
        release(program);
        EXPECT_FALSE(sim_exchange(port, "", 200).connected);
    }
    simnet_cleanup();
}

TEST(SimProgram, HelpListsEveryOption)
{
    Program program = launch({ "--help" });
    std::string help = readOutput(program, false);
    EXPECT_EQ(finish(program), 0);
    release(program);
    for (const char* option : { "--port", "--bind", "--user", "--password", "--login-method", "--tan-line-feed",
                                "--package-version", "--install-polls", "--reboot-seconds", "--store-dir",
                                "--answer-delay", "--fault", "--log", "--count", "--fault-on", "--help" })
        EXPECT_NE(help.find(option), std::string::npos) << option;
    for (const char* fault : { "silent", "keep-open", "refuse", "reset", "slow", "huge", "zero-byte", "no-blank-line",
                               "crlf-json", "keep-version", "reset-mid-answer" })
        EXPECT_NE(help.find(fault), std::string::npos) << fault;
    // The rule by which an installed package's name gives the version reported after the reboot.
    EXPECT_NE(help.find("ORMI_demo_ormi_2.1.0.bz2 gives 2.1.0"), std::string::npos) << help;
}

TEST(SimProgram, BadOptionsEndWithAClearMessage)
{
    struct {
        std::vector<std::string> arguments;
        const char* message;
    } cases[] = {
        { { "--login-method", "3" }, "bad value for --login-method: 3" },
        { { "--port", "70000" }, "bad value for --port: 70000" },
        { { "--port", "12x" }, "bad value for --port: 12x" },
        { { "--fault", "explode" }, "bad value for --fault: explode" },
        { { "--frobnicate" }, "unknown option --frobnicate" },
        { { "--user" }, "--user needs a value" },
        { { "--bind", "not-an-address", "--port", "0" }, "cannot listen on not-an-address:0" },
        { { "--count", "2" }, "--count needs --port P with P+N-1 at most 65535" },
        { { "--count", "3", "--port", "65534" }, "--count needs --port P with P+N-1 at most 65535" },
        { { "--count", "0", "--port", "20000" }, "bad value for --count: 0" },
        { { "--fault", "refuse", "--fault-on", "1" }, "--fault-on goes with --count" },
        { { "--count", "3", "--port", "20000", "--fault", "refuse", "--fault-on", "1,4" },
          "bad value for --fault-on: 1,4" },
        { { "--count", "3", "--port", "20000", "--fault-on", "2" }, "bad value for --fault-on: 2" },
#ifndef _WIN32
        { { "--log", "/proc/version/sub" }, "cannot create directory /proc/version/sub" },
#endif
    };
    for (const auto& c : cases) {
        Program program = launch(c.arguments);
        std::string text = readOutput(program, false);
        EXPECT_NE(text.find(c.message), std::string::npos) << text;
        EXPECT_NE(finish(program), 0) << c.message;
        release(program);
    }
}

// ormi-sim --count N from a free base port on (below the ephemeral ports of
// Linux and Windows); the ports its start lines give, one per device.
Program launchDevices(std::vector<std::string> arguments, int count, std::vector<int>* ports, int fileLimit = 0)
{
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 20; ++attempt) {
        int base = 10000 + (int)(random() % 20000);
        std::vector<std::string> all = { "--count", std::to_string(count), "--port", std::to_string(base) };
        all.insert(all.end(), arguments.begin(), arguments.end());
        Program program = launch(all, fileLimit);
        if (!program.started)
            return program;
        ports->clear();
        for (int i = 0; i < count; ++i) {
            std::string line = readOutput(program, true);
            if (line.compare(0, 23, "listening on 127.0.0.1:") != 0)
                break;
            ports->push_back(std::stoi(line.substr(23)));
        }
        if ((int)ports->size() == count)
            return program;
        finish(program, 300);
        release(program);
    }
    return Program();
}

std::string loginAnswer(int port, const std::string& password)
{
    return sim_body(sim_exchange(port, sim_getRequest("admin", sim_hash(password), "login", "login")).bytes);
}

// Upload, installation and reboot over raw requests, as the library sends
// them; the version the device gives once it is back.
std::string updateDevice(int port, const std::string& password)
{
    std::string hash = sim_hash(password);
    std::string configuration =
        sim_body(sim_exchange(port, sim_getRequest("admin", hash, "configuration", "devicebase")).bytes);
    if (sim_body(sim_exchange(port, sim_uploadRequest(hash, "fw_ormi_2.2.0.bz2", "pkg")).bytes)
            .compare(0, 9, "upload OK") != 0)
        return "upload refused";
    std::string install = configuration;
    simjson_replaceMember(install, "install_component", "\"package\"");
    sim_exchange(port, sim_setRequest("admin", hash, "configuration", "devicebase", install));
    for (int i = 0; i < 100; ++i) {
        if (sim_body(sim_exchange(port, sim_getRequest("admin", hash, "values", "devicebase")).bytes)
                .find("finished") != std::string::npos)
            break;
        sim_sleepMs(10);
    }
    std::string reboot = configuration;
    simjson_replaceMember(reboot, "reboot", "true");
    sim_exchange(port, sim_setRequest("admin", hash, "configuration", "devicebase", reboot));
    for (int i = 0; i < 300; ++i) {
        std::string answer =
            sim_exchange(port, sim_getRequest("admin", hash, "configuration", "devicebase"), 1000).bytes;
        if (sim_statusLine(answer) == "HTTP/1.1 200 OK")
            return simjson_memberText(sim_body(answer), "package_version");
        sim_sleepMs(20);
    }
    return "not back";
}

std::size_t filesIn(const std::filesystem::path& dir)
{
    std::error_code error;
    std::size_t n = 0;
    for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end; it.increment(error))
        ++n;
    return n;
}

TEST(SimProgram, DevicesOfOneProcessKeepTheirOwnState)
{
    ASSERT_TRUE(simnet_startup());
    std::filesystem::path logs = std::filesystem::absolute("sim-count-logs");
    std::filesystem::remove_all(logs);
    std::vector<int> ports;
    Program program = launchDevices({ "--password", "pw%d", "--fault", "keep-version", "--fault-on", "2", "--log",
                                      logs.string(), "--install-polls", "1", "--reboot-seconds", "0" },
                                    3, &ports);
    ASSERT_TRUE(program.started);
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[1], ports[0] + 1);
    EXPECT_EQ(ports[2], ports[0] + 2);
    // Each device takes its own password and none of the others'.
    for (int device = 1; device <= 3; ++device)
        for (int password = 1; password <= 3; ++password)
            EXPECT_EQ(loginAnswer(ports[device - 1], "pw" + std::to_string(password)),
                      device == password ? "LOGIN OK\n" : "login refused\n")
                << "device " << device << ", password pw" << password;
    std::size_t beforeUpdate = filesIn(logs / std::to_string(ports[2]));

    // The first takes the package's version, the second (its fault) keeps its own, the third is not touched.
    EXPECT_EQ(updateDevice(ports[0], "pw1"), "2.2.0");
    EXPECT_EQ(updateDevice(ports[1], "pw2"), "2.1.0");
    std::string third =
        sim_body(sim_exchange(ports[2], sim_getRequest("admin", sim_hash("pw3"), "configuration", "devicebase")).bytes);
    EXPECT_EQ(simjson_memberText(third, "package_version"), "2.1.0");
    EXPECT_NE(sim_body(sim_exchange(ports[2], sim_getRequest("admin", sim_hash("pw3"), "values", "devicebase")).bytes)
                  .find("\"state\": \"idle\""),
              std::string::npos);
    EXPECT_EQ(loginAnswer(ports[0], "pw1"), "LOGIN OK\n") << "the password stays the device's own after the reboot";

    // One request log per device, in a folder named after its port.
    for (int i = 0; i < 2; ++i)
        EXPECT_GT(filesIn(logs / std::to_string(ports[i])), 8u) << ports[i];
    EXPECT_EQ(filesIn(logs / std::to_string(ports[2])), beforeUpdate + 2)
        << "the third device saw only its own requests";
    EXPECT_EQ(filesIn(logs), 3u);

    requestStop(program, stopTerminate);
#ifdef _WIN32
    finish(program, 300);
#else
    EXPECT_EQ(finish(program), 0);
#endif
    release(program);
    for (int port : ports)
        EXPECT_FALSE(sim_exchange(port, "", 200).connected);
    simnet_cleanup();
    std::error_code ignored;
    std::filesystem::remove_all(logs, ignored);
}

#ifndef _WIN32
int threadsOf(pid_t pid)
{
    std::FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (!file)
        return -1;
    char line[256];
    int threads = -1;
    while (std::fgets(line, sizeof line, file))
        if (std::sscanf(line, "Threads: %d", &threads) == 1)
            break;
    std::fclose(file);
    return threads;
}

std::size_t descriptorsOf(pid_t pid)
{
    return filesIn("/proc/" + std::to_string(pid) + "/fd");
}
#endif

TEST(SimProgram, TwoHundredDevicesInOneProcessWithinTheUsualDescriptorLimit)
{
    ASSERT_TRUE(simnet_startup());
    const int count = 200;
    std::vector<int> ports;
    Program program = launchDevices({ "--password", "pw%d" }, count, &ports, 1024);
    ASSERT_TRUE(program.started);
    ASSERT_EQ(ports.size(), (std::size_t)count);
#ifndef _WIN32
    // One thread serves all the listening sockets.
    EXPECT_LE(threadsOf(program.pid), 2);
    EXPECT_LE(descriptorsOf(program.pid), (std::size_t)count + 8);
#endif
    // All of them at once: a connection to every device, open together.
    std::vector<simnet_handle> open;
    for (int i = 0; i < count; ++i) {
        simnet_handle s = simnet_connect("127.0.0.1", ports[i]);
        EXPECT_NE(s, simnet_invalid) << ports[i];
        open.push_back(s);
    }
    for (int i = 0; i < count; ++i) {
        std::string request = sim_getRequest("admin", sim_hash("pw" + std::to_string(i + 1)), "login", "login");
        if (open[i] != simnet_invalid)
            simnet_sendAll(open[i], request.data(), request.size());
    }
    int answered = 0;
    for (int i = 0; i < count; ++i) {
        std::string bytes;
        char buffer[512];
        while (open[i] != simnet_invalid && simnet_waitReadable(open[i], 3000) > 0) {
            int n = simnet_recv(open[i], buffer, sizeof buffer);
            if (n <= 0)
                break;
            bytes.append(buffer, (std::size_t)n);
        }
        answered += sim_body(bytes) == "LOGIN OK\n";
        simnet_close(open[i]);
    }
    EXPECT_EQ(answered, count);
    // And each one's own password only, the last device too.
    EXPECT_EQ(loginAnswer(ports[count - 1], "pw200"), "LOGIN OK\n");
    EXPECT_EQ(loginAnswer(ports[count - 1], "pw199"), "login refused\n");
#ifndef _WIN32
    for (int i = 0; i < 100 && threadsOf(program.pid) > 2; ++i)
        sim_sleepMs(20);
    EXPECT_LE(threadsOf(program.pid), 2) << "the connections' threads end with them";
#endif
    requestStop(program, stopTerminate);
#ifdef _WIN32
    finish(program, 300);
#else
    EXPECT_EQ(finish(program, 5000), 0);
#endif
    release(program);
    simnet_cleanup();
}

} // namespace
