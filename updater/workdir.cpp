// The working folder: where the settings file is written and the documents
// are looked up. A standard user cannot write the installed program's folder
// (Program Files), and the settings written on "Check" would be refused
// without a word; so before the library is loaded (it reads the settings of
// the folder current at its load), the updater moves to a folder of the user's
// own and brings the documents and a prepared settings file along.
#include "updater.h"

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

static const char* const documentNames[] = { "ORMI_updater_ger.pdf", "Rechtliche Hinweise.txt", "Lizenzen.txt" };
static const char settingsName[] = "ormi_control.ini";

// A file made and removed at once says whether this user may write there.
// The settings file itself must be writable too when it exists.
int workdir_writable(const char* folder)
{
    char path[MAX_PATH];
    if (snprintf(path, sizeof path, "%s\\ormi_write_probe_%lu.tmp", folder, (unsigned long)GetCurrentProcessId()) >=
        (int)sizeof path)
        return 0;
    HANDLE probe = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, NULL);
    if (probe == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(probe);
    if (snprintf(path, sizeof path, "%s\\%s", folder, settingsName) >= (int)sizeof path)
        return 0;
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return 1;
    HANDLE settings =
        CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (settings == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(settings);
    return 1;
}

// %LOCALAPPDATA%\ORMI, made if missing.
int workdir_userFolder(char* folder, int size)
{
    char base[MAX_PATH];
    if (SHGetFolderPathA(NULL, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, NULL, SHGFP_TYPE_CURRENT, base) != S_OK)
        return 0;
    if (snprintf(folder, (size_t)size, "%s\\ORMI", base) >= size)
        return 0;
    return CreateDirectoryA(folder, NULL) || GetLastError() == ERROR_ALREADY_EXISTS;
}

static int copyInto(const char* fromFolder, const char* toFolder, const char* name, BOOL keepExisting)
{
    char from[MAX_PATH], to[MAX_PATH];
    if (snprintf(from, sizeof from, "%s\\%s", fromFolder, name) >= (int)sizeof from ||
        snprintf(to, sizeof to, "%s\\%s", toFolder, name) >= (int)sizeof to)
        return 0;
    if (GetFileAttributesA(from) == INVALID_FILE_ATTRIBUTES)
        return 0;
    return CopyFileA(from, to, keepExisting) != 0;
}

int workdir_choose(char* chosen, int size)
{
    char start[MAX_PATH], program[MAX_PATH], user[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(sizeof start, start);
    if (length == 0 || length >= sizeof start || workdir_writable(start))
        return 0;
    if (!workdir_userFolder(user, sizeof user)) {
        OutputDebugStringA("no folder of the user's own: the settings stay in the start folder\n");
        return 0;
    }
    // The documents come from the program's folder, afresh on every start,
    // so that an updated installation shows its own.
    length = GetModuleFileNameA(NULL, program, sizeof program);
    if (length > 0 && length < sizeof program) {
        char* slash = strrchr(program, '\\');
        if (slash != NULL) {
            *slash = '\0';
            for (const char* name : documentNames)
                copyInto(program, user, name, FALSE);
        }
    }
    // Settings prepared in the start folder (port, login method, time-out,
    // kept there by IT) seed the user's file once; the user's own stay.
    copyInto(start, user, settingsName, TRUE);
    if (!SetCurrentDirectoryA(user))
        return 0;
    char line[MAX_PATH + 32];
    snprintf(line, sizeof line, "settings folder %s\n", user);
    OutputDebugStringA(line);
    if (chosen != NULL && size > 0)
        lstrcpynA(chosen, user, size);
    return 1;
}
