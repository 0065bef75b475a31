// The shipped library is ready when loaded: a fresh process that loads it
// and calls an export at once (control_load_helper) gets the answer of a
// healthy device every time, without waiting for anything itself.
#include <gtest/gtest.h>

#include "sim_server.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace {

std::string directoryOfThisProgram()
{
#ifdef _WIN32
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string text(path, length);
#else
    std::string text = std::filesystem::read_symlink("/proc/self/exe").string();
#endif
    return text.substr(0, text.find_last_of("\\/") + 1);
}

// How one helper ended: "exit 0" when its call succeeded; otherwise how it
// failed to start, to end or to succeed, so that a rare failure says which.
std::string runHelper(const std::string& helper, const std::string& library, const std::string& settings)
{
    char text[96];
#ifdef _WIN32
    std::string line = "\"" + helper + "\" \"" + library + "\" \"" + settings + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Wine now and then fails to create a process with ERROR_INTERNAL_ERROR
    // (1 in about 1,000 here) before any of the helper runs: no load of the
    // library took place, so that start is tried again, and said.
    BOOL started = FALSE;
    DWORD error = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
        error = started ? 0 : GetLastError();
        if (started || error != ERROR_INTERNAL_ERROR)
            break;
        printf("helper not started (error %lu), tried again\n", (unsigned long)error);
        Sleep(100);
    }
    if (!started) {
        snprintf(text, sizeof text, "not started (error %lu)", (unsigned long)error);
        return text;
    }
    DWORD code = 0;
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 99);
        snprintf(text, sizeof text, "no end within 60 s");
    } else if (!GetExitCodeProcess(process.hProcess, &code)) {
        snprintf(text, sizeof text, "no exit code (error %lu)", (unsigned long)GetLastError());
    } else {
        snprintf(text, sizeof text, code < 256 ? "exit %lu" : "exit 0x%lx", (unsigned long)code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return text;
#else
    char* argv[] = { (char*)helper.c_str(), (char*)library.c_str(), (char*)settings.c_str(), nullptr };
    pid_t child = 0;
    int error = posix_spawn(&child, helper.c_str(), nullptr, nullptr, argv, environ);
    if (error != 0) {
        snprintf(text, sizeof text, "not started (error %d)", error);
        return text;
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child)
        snprintf(text, sizeof text, "not waited for (errno %d)", errno);
    else if (WIFSIGNALED(status))
        snprintf(text, sizeof text, "signal %d", WTERMSIG(status));
    else
        snprintf(text, sizeof text, "exit %d", WEXITSTATUS(status));
    return text;
#endif
}

TEST(LibraryLoad, FirstCallRightAfterLoadingSucceedsInEveryFreshProcess)
{
    sim_server* device = sim_start(sim_options());
    ASSERT_NE(device, nullptr);
    std::filesystem::path settings =
        std::filesystem::temp_directory_path() / ("ormi_load_" + std::to_string(sim_port(device)));
    std::filesystem::create_directories(settings);
    {
        // The time-out a new user starts with: the one second of the default.
        std::ofstream file(settings / "ormi_control.ini", std::ios::binary | std::ios::trunc);
        file << "[IP]\r\nip_address=127.0.0.1\r\nip_port=" << sim_port(device) << "\r\n"
             << "[LOGIN]\r\nusername=admin\r\npassword=secret\r\nlogin_version=1\r\n";
    }
    const std::string here = directoryOfThisProgram();
#ifdef _WIN32
    const std::string helper = here + "control_load_helper.exe", library = here + "ormi_control.dll";
#else
    const std::string helper = here + "control_load_helper", library = here + "libormi_control.so";
#endif
    const int runs = 200;
    std::map<std::string, int> endings; // how a helper ended -> how often
    for (int i = 0; i < runs; ++i)
        ++endings[runHelper(helper, library, settings.string())];
    const std::size_t requests = sim_requests(device).size();
    sim_stop(device);
    std::error_code ignored;
    std::filesystem::remove_all(settings, ignored);

    std::string seen;
    for (const auto& e : endings)
        seen += " " + e.first + ": " + std::to_string(e.second) + "x;";
    EXPECT_EQ(endings["exit 0"], runs) << seen;
    EXPECT_EQ(requests, (std::size_t)runs); // each call made its one exchange
}

} // namespace
