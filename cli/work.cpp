// The private working folder: the library reads ormi_control.ini from the
// directory that is current when it is loaded, so each run gets a folder of
// its own. The password in it is emptied when the program ends, also on
// Ctrl+C, and the folder removed.
#include "cli.h"
#include "profile.h"

#include <cstdio>
#include <cstring>
#include <csignal>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <direct.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#endif

namespace {

#ifdef _WIN32
const char lineEnd[] = "\r\n";
#else
const char lineEnd[] = "\n";
#endif

// Fixed buffers so that the signal handler needs nothing but write calls.
char folderPath[1024];
char iniPath[1100];
char originalDir[1024];
char emptiedText[4096]; // the settings file with "password=" empty
std::size_t emptiedLength;
volatile std::sig_atomic_t folderOpen;

void writeEmptied()
{
#ifdef _WIN32
    HANDLE file = CreateFileA(iniPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, emptiedText, (DWORD)emptiedLength, &written, nullptr);
    CloseHandle(file);
#else
    int fd = open(iniPath, O_WRONLY | O_TRUNC);
    if (fd < 0)
        return;
    ssize_t ignored = write(fd, emptiedText, emptiedLength);
    (void)ignored;
    close(fd);
#endif
}

void removeFolder()
{
#ifdef _WIN32
    SetCurrentDirectoryA(originalDir);
    DeleteFileA(iniPath);
    RemoveDirectoryA(folderPath);
#else
    if (chdir(originalDir) != 0) {
        // Still leaves the folder removable: nothing holds it open.
    }
    unlink(iniPath);
    rmdir(folderPath);
#endif
}

void closeNow()
{
    if (!folderOpen)
        return;
    folderOpen = 0;
    writeEmptied();
    removeFolder();
}

#ifdef _WIN32
BOOL WINAPI onConsoleEvent(DWORD)
{
    closeNow();
    proc_terminateAll();
    term_restoreConsole();
    ExitProcess(130);
    return TRUE;
}
#else
void onSignal(int signalNumber)
{
    closeNow();
    proc_terminateAll();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}
#endif

// 1 when the library's reader takes line (without its line feed) for the
// password, reading on from scan. Like the library's, it sees at most
// PROFILE_LINE_SIZE - 1 bytes of a line.
bool isPasswordLine(profile_scan* scan, const std::string& line)
{
    char scratch[PROFILE_LINE_SIZE];
    char value[1];
    std::size_t n = line.copy(scratch, sizeof scratch - 1);
    scratch[n] = 0;
    return profile_line(scan, scratch, "LOGIN", "password", value, sizeof value) == 1;
}

} // namespace

// Every section "LOGIN" counts, not only the first one that the library
// reads, so that no password stays behind.
std::string work_withoutPassword(const std::string& text)
{
    std::string out;
    profile_scan scan = { 0, 0 };
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        std::size_t next = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(at, next - at);
        at = next;
        std::string bare = line.substr(0, line.find('\n'));
        bool password = isPasswordLine(&scan, bare);
        if (scan.inSection == 2) {
            // The header that ends one "LOGIN" section may open another.
            scan.inSection = 0;
            isPasswordLine(&scan, bare);
        }
        if (password) {
            std::size_t kept = line.find_last_not_of("\r\n");
            line = "password=" + (kept == std::string::npos ? line : line.substr(kept + 1));
        }
        out += line;
    }
    return out;
}

std::string work_settingsText(const cli_options& options, const std::string& password)
{
    std::string e = lineEnd;
    return "[IP]" + e + "ip_address=" + options.host + e + "ip_port=" + std::to_string(options.port) + e + "[LOGIN]" +
           e + "username=" + options.user + e + "password=" + password + e +
           "login_version=" + std::to_string(options.loginMethod) + e + "[CONTROL]" + e +
           "timeout=" + std::to_string(options.timeout) + e;
}

int work_open(const std::string& settingsText, std::string* error)
{
    std::string emptied = work_withoutPassword(settingsText);
    if (emptied.size() >= sizeof emptiedText) {
        *error = "the settings file is too long";
        return 0;
    }
    std::memcpy(emptiedText, emptied.data(), emptied.size());
    emptiedLength = emptied.size();
#ifdef _WIN32
    if (!GetCurrentDirectoryA(sizeof originalDir, originalDir))
        originalDir[0] = 0;
    char temp[MAX_PATH];
    DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n >= sizeof temp) {
        *error = "no folder for temporary files";
        return 0;
    }
    bool made = false;
    for (int attempt = 0; attempt < 100 && !made; ++attempt) {
        std::snprintf(folderPath, sizeof folderPath, "%sormi-%lu-%lu-%d", temp, (unsigned long)GetCurrentProcessId(),
                      (unsigned long)GetTickCount(), attempt);
        made = CreateDirectoryA(folderPath, nullptr) != 0;
    }
    if (!made) {
        *error = "cannot create a working folder in the temporary folder";
        return 0;
    }
    std::snprintf(iniPath, sizeof iniPath, "%s\\ormi_control.ini", folderPath);
#else
    if (!getcwd(originalDir, sizeof originalDir))
        std::strcpy(originalDir, "/");
    const char* temp = std::getenv("TMPDIR");
    if (!temp || !*temp)
        temp = "/tmp";
    std::snprintf(folderPath, sizeof folderPath, "%s/ormi-XXXXXX", temp);
    if (!mkdtemp(folderPath)) {
        *error = std::string("cannot create a working folder in ") + temp;
        return 0;
    }
    std::snprintf(iniPath, sizeof iniPath, "%s/ormi_control.ini", folderPath);
#endif
    folderOpen = 1;
#ifdef _WIN32
    FILE* file = std::fopen(iniPath, "wb");
#else
    // Only this user may read the password.
    int fd = open(iniPath, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    FILE* file = fd < 0 ? nullptr : fdopen(fd, "wb");
#endif
    bool written = file && std::fwrite(settingsText.data(), 1, settingsText.size(), file) == settingsText.size();
    if (file && std::fclose(file) != 0)
        written = false;
    bool entered =
#ifdef _WIN32
        SetCurrentDirectoryA(folderPath) != 0;
#else
        chdir(folderPath) == 0;
#endif
    if (!written || !entered) {
        closeNow();
        *error = "cannot write the settings file in the working folder";
        return 0;
    }
    return 1;
}

void work_close()
{
    closeNow();
}

void work_installSignalHandlers()
{
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int s : { SIGINT, SIGTERM, SIGHUP })
        sigaction(s, &action, nullptr);
#endif
}
