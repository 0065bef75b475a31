// Child processes of this program, one per device, with standard output
// and standard error in one pipe that the parent reads line by line.
#include "cli.h"

#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

enum { MAX_CHILDREN = 1024 };
std::mutex startLock; // one start at a time, so no child inherits another's pipe

#ifdef _WIN32
HANDLE running[MAX_CHILDREN];
#else
volatile pid_t running[MAX_CHILDREN];
#endif
volatile int runningCount;

#ifdef _WIN32
// Quoting as the C runtime's argument parser reads it back.
std::string quote(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
        return arg;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"')
            out.append(backslashes * 2 + 1, '\\');
        else
            out.append(backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}
#endif

} // namespace

struct proc_child {
#ifdef _WIN32
    HANDLE process;
    HANDLE output;
#else
    pid_t pid;
    int output;
#endif
    std::string pending;
    bool ended;
};

proc_child* proc_start(const std::string& program, const std::vector<std::string>& args)
{
    std::lock_guard<std::mutex> hold(startLock);
    if (runningCount >= MAX_CHILDREN)
        return nullptr;
#ifdef _WIN32
    SECURITY_ATTRIBUTES inherit = { sizeof inherit, nullptr, TRUE };
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return nullptr;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::string line = quote(program);
    for (const std::string& a : args)
        line += " " + quote(a);
    STARTUPINFOA start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = writeEnd;
    start.hStdError = writeEnd;
    PROCESS_INFORMATION info{};
    std::vector<char> commandLine(line.begin(), line.end());
    commandLine.push_back(0);
    // Only the pipe and standard input are inherited: sockets of this
    // process (inheritable by default) must not live on in the child.
    STARTUPINFOEXA startEx{};
    startEx.StartupInfo = start;
    startEx.StartupInfo.cb = sizeof startEx;
    HANDLE inherited[2] = { writeEnd, start.hStdInput };
    int handleCount = start.hStdInput && start.hStdInput != INVALID_HANDLE_VALUE && start.hStdInput != writeEnd ? 2 : 1;
    SIZE_T attributeSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeSize);
    std::vector<char> attributes(attributeSize ? attributeSize : 1);
    startEx.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    BOOL made = FALSE;
    if (attributeSize && InitializeProcThreadAttributeList(startEx.lpAttributeList, 1, 0, &attributeSize)) {
        if (UpdateProcThreadAttribute(startEx.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                      handleCount * sizeof(HANDLE), nullptr, nullptr))
            made = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                  EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &startEx.StartupInfo, &info);
        DeleteProcThreadAttributeList(startEx.lpAttributeList);
    }
    if (!made)
        made = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                              &info);
    CloseHandle(writeEnd);
    if (!made) {
        CloseHandle(readEnd);
        return nullptr;
    }
    CloseHandle(info.hThread);
    proc_child* child = new proc_child{ info.hProcess, readEnd, "", false };
    running[runningCount++] = info.hProcess;
#else
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return nullptr;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeEnds[1], 1);
        dup2(pipeEnds[1], 2);
        // A listening socket of the parent must not live on in the child.
        long limit = sysconf(_SC_OPEN_MAX);
        for (int fd = 3; fd < (limit > 0 && limit < 65536 ? limit : 65536); ++fd)
            close(fd);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    if (pid < 0) {
        close(pipeEnds[0]);
        return nullptr;
    }
    proc_child* child = new proc_child{ pid, pipeEnds[0], "", false };
    running[runningCount++] = pid;
#endif
    return child;
}

int proc_readLine(proc_child* child, std::string* line)
{
    for (;;) {
        std::size_t end = child->pending.find('\n');
        if (end != std::string::npos) {
            *line = child->pending.substr(0, end);
            if (!line->empty() && line->back() == '\r')
                line->pop_back();
            child->pending.erase(0, end + 1);
            return 1;
        }
        if (child->ended) {
            if (child->pending.empty())
                return 0;
            *line = child->pending;
            child->pending.clear();
            return 1;
        }
        char buffer[4096];
#ifdef _WIN32
        // Only what the pipe holds is read, and the child's exit with an
        // empty pipe ends its output: a process that inherited the write end
        // from the child (under Wine, a helper the child started) may hold it
        // open long after, and a blocking read would wait for it.
        DWORD available = 0;
        if (!PeekNamedPipe(child->output, nullptr, 0, nullptr, &available, nullptr)) {
            child->ended = true; // every writer has closed it
            continue;
        }
        if (available == 0) {
            if (WaitForSingleObject(child->process, 20) == WAIT_OBJECT_0 &&
                (!PeekNamedPipe(child->output, nullptr, 0, nullptr, &available, nullptr) || available == 0))
                child->ended = true;
            continue;
        }
        DWORD got = 0;
        if (!ReadFile(child->output, buffer, available < sizeof buffer ? available : (DWORD)sizeof buffer, &got,
                      nullptr) ||
            got == 0) {
            child->ended = true;
            continue;
        }
#else
        ssize_t got = read(child->output, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            child->ended = true;
            continue;
        }
#endif
        child->pending.append(buffer, (std::size_t)got);
    }
}

int proc_wait(proc_child* child)
{
    int code = ORMI_EXIT_FAILED;
#ifdef _WIN32
    WaitForSingleObject(child->process, INFINITE);
    DWORD exitCode = 0;
    if (GetExitCodeProcess(child->process, &exitCode))
        code = (int)exitCode;
    CloseHandle(child->output);
#else
    int status = 0;
    while (waitpid(child->pid, &status, 0) < 0 && errno == EINTR) {}
    if (WIFEXITED(status))
        code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        code = 128 + WTERMSIG(status);
    close(child->output);
#endif
    {
        std::lock_guard<std::mutex> hold(startLock);
        for (int i = 0; i < runningCount; ++i) {
#ifdef _WIN32
            bool same = running[i] == child->process;
#else
            bool same = running[i] == child->pid;
#endif
            if (same) {
                running[i] = running[--runningCount];
                break;
            }
        }
    }
#ifdef _WIN32
    CloseHandle(child->process);
#endif
    delete child;
    return code;
}

// From a signal or console handler: only calls that are safe there.
void proc_terminateAll()
{
    for (int i = 0; i < runningCount; ++i) {
#ifdef _WIN32
        TerminateProcess(running[i], 130);
#else
        kill(running[i], SIGTERM);
#endif
    }
}
