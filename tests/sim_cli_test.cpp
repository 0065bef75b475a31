// The ormi-sim program: start line, login over loopback, clean stop on
// SIGINT/SIGTERM (a console Ctrl+Break on Windows), --help and refused options.
#include <gtest/gtest.h>

#include "sim_client.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32

struct Program {
    PROCESS_INFORMATION process{};
    HANDLE output = nullptr;  // the program's stdout and stderr
    bool started = false;
};

const int stopInterrupt = 0, stopTerminate = 1;

Program launch(const std::vector<std::string>& arguments) {
    Program program;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&program.output, &writeEnd, &inherit, 0)) return program;
    SetHandleInformation(program.output, HANDLE_FLAG_INHERIT, 0);
    std::string line = "\"" ORMI_SIM_PATH "\"";
    for (const auto& a : arguments) line += " \"" + a + "\"";
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

std::string readOutput(const Program& program, bool firstLineOnly, int waitMs = 5000) {
    std::string text;
    for (int waited = 0; waited < waitMs;) {
        DWORD available = 0;
        if (!PeekNamedPipe(program.output, nullptr, 0, nullptr, &available, nullptr)) break;  // writer gone
        if (available == 0) {
            Sleep(10);
            waited += 10;
            continue;
        }
        char c;
        DWORD got = 0;
        if (!ReadFile(program.output, &c, 1, &got, nullptr) || got != 1) break;
        text += c;
        if (firstLineOnly && c == '\n') break;
    }
    return text;
}

void requestStop(const Program& program, int) { GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, program.process.dwProcessId); }

// Exit code, or -1 when the program did not end within waitMs (it is killed then).
int finish(Program& program, int waitMs = 3000) {
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

void release(Program& program) {
    CloseHandle(program.process.hProcess);
    CloseHandle(program.process.hThread);
    CloseHandle(program.output);
}

#else

struct Program {
    pid_t pid = -1;
    int output = -1;  // the program's stdout and stderr
    bool started = false;
};

const int stopInterrupt = SIGINT, stopTerminate = SIGTERM;

Program launch(const std::vector<std::string>& arguments) {
    int pipeEnds[2];
    Program program;
    if (pipe(pipeEnds) != 0) return program;
    program.pid = fork();
    if (program.pid == 0) {
        dup2(pipeEnds[1], 1);
        dup2(pipeEnds[1], 2);
        close(pipeEnds[0]);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(ORMI_SIM_PATH));
        for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
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
std::string readOutput(const Program& program, bool firstLineOnly, int waitMs = 5000) {
    std::string text;
    char c;
    while (poll(std::vector<pollfd>{{program.output, POLLIN, 0}}.data(), 1, waitMs) > 0 &&
           read(program.output, &c, 1) == 1) {
        text += c;
        if (firstLineOnly && c == '\n') break;
    }
    return text;
}

void requestStop(const Program& program, int signal) { kill(program.pid, signal); }

// Exit status, or -1 when the program did not end within waitMs (it is killed then).
int finish(Program& program, int waitMs = 3000) {
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

void release(Program& program) { close(program.output); }

#endif

TEST(SimProgram, AnswersLoginWithBothMethodsAndStopsOnSignals) {
    ASSERT_TRUE(simnet_startup());  // this process runs no server of its own
    struct { const char* method; int signal; } cases[] = {{"1", stopInterrupt}, {"2", stopTerminate}};
    for (const auto& c : cases) {
        Program program = launch({"--port", "0", "--login-method", c.method, "--password", "pw"});
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

TEST(SimProgram, HelpListsEveryOption) {
    Program program = launch({"--help"});
    std::string help = readOutput(program, false);
    EXPECT_EQ(finish(program), 0);
    release(program);
    for (const char* option : {"--port", "--bind", "--user", "--password", "--login-method", "--tan-line-feed",
                               "--package-version", "--install-polls", "--reboot-seconds", "--store-dir",
                               "--answer-delay", "--fault", "--log", "--help"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    for (const char* fault : {"silent", "keep-open", "refuse", "reset", "slow", "huge", "zero-byte",
                              "no-blank-line", "crlf-json", "keep-version"})
        EXPECT_NE(help.find(fault), std::string::npos) << fault;
    // The rule by which an installed package's name gives the version reported after the reboot.
    EXPECT_NE(help.find("ORMI_demo_ormi_2.1.0.bz2 gives 2.1.0"), std::string::npos) << help;
}

TEST(SimProgram, BadOptionsEndWithAClearMessage) {
    struct { std::vector<std::string> arguments; const char* message; } cases[] = {
        {{"--login-method", "3"}, "bad value for --login-method: 3"},
        {{"--port", "70000"}, "bad value for --port: 70000"},
        {{"--port", "12x"}, "bad value for --port: 12x"},
        {{"--fault", "explode"}, "bad value for --fault: explode"},
        {{"--frobnicate"}, "unknown option --frobnicate"},
        {{"--user"}, "--user needs a value"},
        {{"--bind", "not-an-address", "--port", "0"}, "cannot listen on not-an-address:0"},
#ifndef _WIN32
        {{"--log", "/proc/version/sub"}, "cannot create directory /proc/version/sub"},
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

}  // namespace
