// Terminal: whether a stream is a terminal, the password prompt without
// echo, the console's code page, and where this program lies.
#include "cli.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#else
#include <termios.h>
#include <unistd.h>
#include <climits>
#endif

bool term_isTerminal(int fd)
{
#ifdef _WIN32
    return _isatty(fd) != 0;
#else
    return isatty(fd) != 0;
#endif
}

#ifdef _WIN32
static UINT savedCodePage;
#endif

// The console's code page outlives this program: it is set back at the end.
void term_restoreConsole()
{
#ifdef _WIN32
    if (savedCodePage)
        SetConsoleOutputCP(savedCodePage);
    savedCodePage = 0;
#endif
}

void term_prepareConsole()
{
#ifdef _WIN32
    // The device texts are Windows-1252, like the updater's.
    savedCodePage = GetConsoleOutputCP();
    SetConsoleOutputCP(1252);
    std::atexit(term_restoreConsole);
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(err, &mode))
        SetConsoleMode(err, mode | 0x0004 /* virtual terminal processing */);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (GetConsoleMode(out, &mode))
        SetConsoleMode(out, mode | 0x0004);
#endif
}

// 1 and the line typed (without its line end), 0 when there is no terminal.
int term_readPassword(const char* prompt, std::string* password)
{
    password->clear();
    if (!term_isTerminal(0))
        return 0;
    std::fputs(prompt, stderr);
    std::fflush(stderr);
#ifdef _WIN32
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    GetConsoleMode(in, &mode);
    SetConsoleMode(in, mode & ~(DWORD)ENABLE_ECHO_INPUT);
#else
    termios saved{}, quiet{};
    tcgetattr(0, &saved);
    quiet = saved;
    quiet.c_lflag &= ~(tcflag_t)ECHO;
    tcsetattr(0, TCSAFLUSH, &quiet);
#endif
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') {
        if (c != '\r')
            password->push_back((char)c);
    }
#ifdef _WIN32
    SetConsoleMode(in, mode);
#else
    tcsetattr(0, TCSAFLUSH, &saved);
#endif
    std::fputs("\n", stderr);
    return 1;
}

std::string term_executablePath()
{
#ifdef _WIN32
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return "";
    return std::string(path, n);
#else
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return "";
    return std::string(path, (std::size_t)n);
#endif
}
