// Platform side of the benchmark: the floor client (a plain blocking
// socket), the clock, the process probes and starting the curl peer.
#include "bench.h"

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>
#else
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cstdio>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

#ifdef _WIN32
typedef SOCKET bench_socket;
const bench_socket kNoSocket = INVALID_SOCKET;
void bench_closeSocket(bench_socket s)
{
    closesocket(s);
}
#else
typedef int bench_socket;
const bench_socket kNoSocket = -1;
void bench_closeSocket(bench_socket s)
{
    close(s);
}
#endif

bool bench_socketsStarted()
{
#ifdef _WIN32
    static bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
#else
    return true;
#endif
}

} // namespace

bench_exchange bench_floorExchange(int port, const std::string& request)
{
    bench_exchange result;
    if (!bench_socketsStarted())
        return result;
    bench_socket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == kNoSocket)
        return result;
    sockaddr_in where;
    std::memset(&where, 0, sizeof where);
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<unsigned short>(port));
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // A device that never closes must not hang the run: give up after 10 s.
#ifdef _WIN32
    DWORD limit = 10000;
#else
    timeval limit = { 10, 0 };
#endif
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    if (connect(s, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) {
        bench_closeSocket(s);
        return result;
    }
    std::size_t sent = 0;
    while (sent < request.size()) {
        std::size_t piece = request.size() - sent;
        if (piece > (1u << 30))
            piece = 1u << 30;
#ifdef _WIN32
        int n = send(s, request.data() + sent, static_cast<int>(piece), 0);
#else
        int n = static_cast<int>(send(s, request.data() + sent, piece, MSG_NOSIGNAL));
#endif
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
    char buffer[4096];
    bool closed = false;
    for (;;) {
        int n = static_cast<int>(recv(s, buffer, sizeof buffer, 0));
        if (n <= 0) {
            closed = n == 0;
            break;
        }
        result.answer.append(buffer, static_cast<std::size_t>(n));
    }
    bench_closeSocket(s);
    result.ok = sent == request.size() && closed;
    return result;
}

double bench_nowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

long long bench_residentKb()
{
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return -1;
    return static_cast<long long>(counters.WorkingSetSize / 1024);
#else
    std::FILE* file = std::fopen("/proc/self/statm", "r");
    if (!file)
        return -1;
    long long total = 0, resident = -1;
    int got = std::fscanf(file, "%lld %lld", &total, &resident);
    std::fclose(file);
    if (got != 2)
        return -1;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
#endif
}

int bench_openHandles(std::string* source)
{
#ifdef _WIN32
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) {
        if (source)
            *source = "GetProcessHandleCount";
        return static_cast<int>(count);
    }
    if (source)
        *source = "GetProcessHandleCount gives 0";
    return -1;
#else
    // The directory's own descriptor is counted too, the same on every probe.
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.')
            ++count;
    closedir(dir);
    if (source)
        *source = "/proc/self/fd";
    return count;
#endif
}

int bench_unixDescriptors()
{
#ifdef _WIN32
    // Under Wine the process's sockets and files are Unix descriptors, which
    // drive Z: shows; so are Wine's own pipes of every thread.
    if (!bench_underWine())
        return -1;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA("Z:\\proc\\self\\fd\\*", &entry);
    if (find == INVALID_HANDLE_VALUE)
        return -1;
    int fds = 0;
    do {
        if (entry.cFileName[0] != '.')
            ++fds;
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return fds;
#else
    return bench_openHandles(nullptr);
#endif
}

int bench_openSockets()
{
#ifdef _WIN32
    // Socket handles are small multiples of 4; asking each for its type finds
    // every open one, also where the handle count is not available.
    if (!bench_socketsStarted())
        return -1;
    int count = 0;
    for (UINT_PTR h = 4; h <= 0x20000; h += 4) {
        int type = 0, size = sizeof type;
        if (getsockopt(static_cast<SOCKET>(h), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &size) == 0)
            ++count;
    }
    return count;
#else
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        char path[300], target[64];
        std::snprintf(path, sizeof path, "/proc/self/fd/%s", entry->d_name);
        ssize_t n = readlink(path, target, sizeof target - 1);
        if (n > 0 && std::strncmp(target, "socket:", 7) == 0)
            ++count;
    }
    closedir(dir);
    return count;
#endif
}

int bench_runCommand(const std::string& commandLine, std::string* output)
{
    if (output)
        output->clear();
#ifdef _WIN32
    SECURITY_ATTRIBUTES inherit = { sizeof inherit, nullptr, TRUE };
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process;
    std::string line = commandLine;
    BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return -1;
    }
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0)
        if (output)
            output->append(buffer, n);
    CloseHandle(readEnd);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
#else
    std::FILE* pipe = popen(commandLine.c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        if (output)
            output->append(buffer, n);
    int status = pclose(pipe);
    if (status == -1)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

bool bench_underWine()
{
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

#ifdef _WIN32
namespace {

bool bench_readFile(const std::string& path, std::string* text)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    char buffer[4096];
    std::size_t n;
    text->clear();
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text->append(buffer, n);
    std::fclose(file);
    return true;
}

} // namespace
#endif

int bench_runCurl(const bench_curl& curl, const std::string& arguments, std::string* output, int timeoutMs)
{
    if (curl.program.empty())
        return -1;
    if (!curl.viaShell)
        return bench_runCommand(curl.program + " " + arguments, output);
#ifdef _WIN32
    // Wine starts a Unix program but can neither wait for it nor hand it a
    // pipe: the shell writes the output to a file and marks the end with a
    // second one, renamed into place only when the first is complete.
    std::string out = curl.scratch + "\\curl.out", done = curl.scratch + "\\curl.done";
    DeleteFileA(out.c_str());
    DeleteFileA(done.c_str());
    std::string u = curl.scratchUnix;
    std::string line = "Z:\\bin\\sh -c \"" + curl.program + " " + arguments + " >" + u +
                       "/curl.out 2>/dev/null; echo $? >" + u + "/curl.rc; mv " + u + "/curl.rc " + u + "/curl.done\"";
    if (bench_runCommand(line, nullptr) < 0)
        return -1;
    std::string code;
    // By the clock: on a busy machine Sleep(5) lasts much longer than 5 ms.
    for (double start = bench_nowMs(); !bench_readFile(done, &code);) {
        if (bench_nowMs() - start >= timeoutMs)
            return -1;
        Sleep(5);
    }
    if (output && !bench_readFile(out, output))
        output->clear();
    return std::atoi(code.c_str());
#else
    (void)output;
    (void)timeoutMs;
    return -1;
#endif
}

bench_curl bench_findCurl(const std::string& scratch, const std::string& scratchUnix)
{
    bench_curl curl;
    curl.scratch = scratch;
    curl.scratchUnix = scratchUnix;
#ifdef _WIN32
    if (bench_underWine()) {
        curl.viaShell = true;
        curl.program = "/usr/bin/curl";
    } else {
        curl.program = "curl.exe";
    }
#else
    curl.program = "curl";
#endif
    std::string output;
    if (bench_runCurl(curl, "--version", &output, 10000) != 0 || output.compare(0, 5, "curl ") != 0)
        curl.program.clear();
    return curl;
}
