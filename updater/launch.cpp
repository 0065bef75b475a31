// Documents and program start: the legal notes reader, the shell launcher
// for the help document, and the process start/stop toolkit beside them.
#include "updater.h"

#include <stdio.h>
#include <string.h>

const char legalNotesName[] = "\\Rechtliche Hinweise.txt";
const char helpDocumentName[] = "ORMI_updater_ger.pdf";

static const char fileNotFoundText[] = "The specified file was not found.";
static const char pathNotFoundText[] = "The specified path was not found.";
static const char unspecifiedText[] = "Unspecified error.";

void readLegalNotes(char* out, int size)
{
    if (size < 1)
        return;
    out[0] = '\0';
    char path[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(sizeof path, path);
    // A folder too long for the path makes the notes count as missing.
    HANDLE file = INVALID_HANDLE_VALUE;
    if (length > 0 && length + strlen(legalNotesName) < sizeof path) {
        strcat(path, legalNotesName);
        file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_READONLY, NULL);
    }
    if (file == INVALID_HANDLE_VALUE) {
        snprintf(out, (size_t)size, "%s - File not found!", legalNotesName);
        return;
    }
    DWORD fileSize = GetFileSize(file, NULL);
    DWORD wanted = (DWORD)size - 1;
    if (fileSize != INVALID_FILE_SIZE && fileSize < wanted)
        wanted = fileSize;
    DWORD countRead = 0;
    if (!ReadFile(file, out, wanted, &countRead, NULL))
        countRead = 0;
    out[countRead] = '\0';
    CloseHandle(file);
}

int shellStartAppl(const char* file, const char* parameters, int showMode)
{
    INT_PTR result = (INT_PTR)ShellExecuteA(NULL, NULL, file, parameters, NULL, showMode);
    if (result > 32)
        return 1;
    const char* text = unspecifiedText;
    if (result == ERROR_FILE_NOT_FOUND)
        text = fileNotFoundText;
    else if (result == ERROR_PATH_NOT_FOUND)
        text = pathNotFoundText;
    else if (result == ERROR_BAD_FORMAT)
        text = "The .EXE file is invalid (non-Win32 .EXE or error in .EXE image).";
    MessageBoxA(NULL, text, "shellStartAppl", MB_OK | MB_ICONWARNING);
    return 0;
}

int startApplication(PROCESS_INFORMATION* process, const char* application, char* commandLine, int showMode)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = (WORD)showMode;
    memset(process, 0, sizeof *process);
    if (!CreateProcessA(application, commandLine, NULL, NULL, FALSE, NORMAL_PRIORITY_CLASS, NULL, NULL, &startup,
                        process))
        return 0;
    // Only the process id is used later; the handles are not kept open.
    CloseHandle(process->hProcess);
    CloseHandle(process->hThread);
    return 1;
}

int applicationRunning(const PROCESS_INFORMATION* process)
{
    HANDLE handle = OpenProcess(PROCESS_ALL_ACCESS, FALSE, process->dwProcessId);
    if (handle == NULL)
        return 0;
    DWORD code = 0;
    BOOL ok = GetExitCodeProcess(handle, &code);
    CloseHandle(handle);
    return ok && code == STILL_ACTIVE;
}

int stopApplication(const PROCESS_INFORMATION* process)
{
    HANDLE handle = OpenProcess(PROCESS_ALL_ACCESS, FALSE, process->dwProcessId);
    if (handle == NULL)
        return 0;
    TerminateProcess(handle, 0);
    CloseHandle(handle);
    return 1;
}

int shellStartApplication(SHELLEXECUTEINFOA* record, const char* file, const char* parameters, int showMode)
{
    memset(record, 0, sizeof *record);
    // The record has one form only; its size on this target (60 on x86).
    record->cbSize = sizeof *record;
    record->fMask = SEE_MASK_NOCLOSEPROCESS;
    record->lpFile = file;
    record->lpParameters = parameters;
    record->nShow = showMode;
    if (ShellExecuteExA(record))
        return 1;
    DWORD error = GetLastError();
    const char* caption = "ERROR"
                          "           "; // eleven blanks
    if (error == ERROR_FILE_NOT_FOUND)
        MessageBoxA(NULL, fileNotFoundText, caption, MB_OK | MB_ICONWARNING);
    else if (error == ERROR_PATH_NOT_FOUND)
        MessageBoxA(NULL, pathNotFoundText, caption, MB_OK | MB_ICONWARNING);
    return 0;
}

int shellApplicationRunning(const SHELLEXECUTEINFOA* record)
{
    DWORD code = 0;
    if (record->hProcess == NULL || !GetExitCodeProcess(record->hProcess, &code))
        return 0;
    return code == STILL_ACTIVE;
}

int shellStopApplication(SHELLEXECUTEINFOA* record)
{
    if (record->hProcess == NULL) {
        MessageBoxA(NULL, "Programm konnte nicht gestoppt werden!", "shellStopApplication", MB_OK | MB_ICONWARNING);
        return 0;
    }
    TerminateProcess(record->hProcess, 0);
    CloseHandle(record->hProcess);
    record->hProcess = NULL; // a second stop must not close a stranger's handle
    return 1;
}

// Messages for the results below 32 of the old program-start calls.
static const char* oldStartText(UINT_PTR result)
{
    switch (result) {
    case 0:
        return "The system is out of memory or resources.";
    case ERROR_FILE_NOT_FOUND:
        return fileNotFoundText;
    case ERROR_PATH_NOT_FOUND:
        return pathNotFoundText;
    case ERROR_BAD_FORMAT:
        return "The .EXE file is invalid \n(non-Win32 .EXE or error in .EXE image).";
    default:
        return unspecifiedText;
    }
}

int startAppWithWinExec(const char* commandLine, int showMode)
{
    UINT result = WinExec(commandLine, (UINT)showMode);
    if (result >= 32)
        return 1;
    MessageBoxA(NULL, oldStartText(result), "startAppWithWinExec", MB_OK | MB_ICONWARNING);
    return 0;
}

// Parameter block of the old module loader.
struct LoadParameters {
    LPSTR environment;
    LPSTR commandLine;
    WORD* showMode;
    DWORD reserved;
};

int startAppWithLoadModule(const char* program, int showMode)
{
    static char emptyCommandLine[2] = { 0, 0 }; // counted text of length 0
    WORD show[2] = { 2, (WORD)showMode };
    LoadParameters parameters = { NULL, emptyCommandLine, show, 0 };
    DWORD result = LoadModule(program, &parameters);
    if (result >= 32)
        return 1;
    MessageBoxA(NULL, oldStartText(result), "startAppWithLoadModule", MB_OK | MB_ICONWARNING);
    return 0;
}
