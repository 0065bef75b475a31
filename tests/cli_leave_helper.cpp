// Helper program for the child-output test: starts a copy of itself that
// inherits its standard handles and idles, writes that copy's process id
// and ends at once, so that the pipe it wrote to stays open after its end.
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char** argv)
{
    if (argc > 1 && strcmp(argv[1], "idle") == 0) {
        Sleep(20000);
        return 0;
    }
    char self[MAX_PATH];
    if (!GetModuleFileNameA(NULL, self, sizeof self))
        return 1;
    char line[MAX_PATH + 16];
    snprintf(line, sizeof line, "\"%s\" idle", self);
    STARTUPINFOA start;
    ZeroMemory(&start, sizeof start);
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(self, line, NULL, NULL, TRUE, 0, NULL, NULL, &start, &process))
        return 2;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    printf("left behind %lu\n", (unsigned long)process.dwProcessId);
    fflush(stdout);
    return 0;
}
