// File, search-path, folder-browser and file-dialog helpers: thin wrappers
// over the platform calls, results 1 for success and 0 for failure.
#include "file.h"

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

static const DWORD openDialogFlags = OFN_CREATEPROMPT | OFN_HIDEREADONLY;
static const DWORD saveDialogFlags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
static const bool clearOpenPath = true;

OPENFILENAMEA fileDialog;
void* lastFolderItem;

static const char invalidFolderText[] = "Verzeichniss ungültig";
static const char invalidFolderCaption[] = "Fehlermeldung";

void initFileDialog(HWND owner, const char* filter)
{
    memset(&fileDialog, 0, sizeof fileDialog);
    // The first form of the record: the later fields are left off, so
    // that every platform version accepts it.
    fileDialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    fileDialog.hwndOwner = owner;
    fileDialog.lpstrFilter = filter;
    fileDialog.nMaxFile = FILE_PATH_SIZE;
    fileDialog.nMaxFileTitle = FILE_PATH_SIZE;
}

static void setDialogCall(HWND owner, char* path, char* name, DWORD flags)
{
    fileDialog.hwndOwner = owner;
    fileDialog.lpstrFile = path;
    fileDialog.lpstrFileTitle = name;
    fileDialog.Flags = flags;
}

int openFileDialog(HWND owner, char* path, char* name)
{
    if (clearOpenPath)
        path[0] = '\0';
    setDialogCall(owner, path, name, openDialogFlags);
    return GetOpenFileNameA(&fileDialog);
}

int saveFileDialog(HWND owner, char* path, char* name)
{
    setDialogCall(owner, path, name, saveDialogFlags);
    return GetSaveFileNameA(&fileDialog);
}

int chooseFolder(HWND owner, char* path)
{
    BROWSEINFOA browse;
    memset(&browse, 0, sizeof browse);
    browse.hwndOwner = owner;
    browse.pszDisplayName = path;
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST item = SHBrowseForFolderA(&browse);
    // Only the newest list is kept, so the one before it is released here.
    if (lastFolderItem != NULL)
        CoTaskMemFree(lastFolderItem);
    lastFolderItem = item;
    if (item == NULL)
        return 0;
    return SHGetPathFromIDListA(item, path) ? 1 : 0;
}

static int enterFolder(const char* folder, bool report)
{
    if (SetCurrentDirectoryA(folder))
        return 1;
    if (report)
        MessageBoxA(NULL, invalidFolderText, invalidFolderCaption, MB_OK);
    return 0;
}

static bool isDotEntry(const char* name)
{
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

int listAudioFiles(const char* folder, char* list, unsigned listSize)
{
    if (listSize < 2)
        return 0;
    list[0] = '\0';
    list[1] = '\0';
    if (!enterFolder(folder, true))
        return 0;
    int result = 1;
    unsigned used = 0; // bytes of names taken, each with its zero byte
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA("*", &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const char* name = entry.cFileName;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || isDotEntry(name))
                continue;
            if (!strstr(name, ".wav") && !strstr(name, ".mp3") && !strstr(name, ".cda"))
                continue;
            unsigned length = (unsigned)strlen(name) + 1;
            // Room must remain for the closing zero byte.
            if (used + length + 1 > listSize) {
                result = 0;
                continue;
            }
            memcpy(list + used, name, length);
            used += length;
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    list[used] = '\0';
    if (used == 0)
        list[1] = '\0';
    return result;
}

int showDirectoryFiles(const char* folder)
{
    if (!enterFolder(folder, true))
        return 0;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA("*", &entry);
    if (search == INVALID_HANDLE_VALUE)
        return 1;
    do {
        if (isDotEntry(entry.cFileName))
            continue;
        char text[256];
        // A name too long for the box is shortened, the question kept.
        snprintf(text, sizeof text, "%.*s\n\n\tWeiter?", (int)(sizeof text - sizeof "\n\n\tWeiter?"), entry.cFileName);
        if (MessageBoxA(NULL, text, "Datei:", MB_YESNO) == IDNO)
            break;
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return 1;
}

int findFileInFolder(const char* folder, char* pattern)
{
    if (!enterFolder(folder, false))
        return 0;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    lstrcpynA(pattern, entry.cFileName, FILE_PATH_SIZE);
    FindClose(search);
    return 1;
}

int fileOnSearchPath(const char* name)
{
    char found[FILE_PATH_SIZE];
    return SearchPathA(NULL, name, NULL, sizeof found, found, NULL) != 0;
}

int fileOnSearchPathShortExt(const char* name)
{
    char shortName[FILE_PATH_SIZE];
    lstrcpynA(shortName, name, sizeof shortName);
    char* dot = strrchr(shortName, '.');
    if (dot == NULL)
        return 0;
    if (strlen(dot + 1) > 3)
        dot[4] = '\0';
    return fileOnSearchPath(shortName);
}

int checkExtension(char* ext)
{
    if (ext[0] == '.')
        memmove(ext, ext + 1, strlen(ext)); // the zero byte moves along
    if (strlen(ext) < 3)
        return 0;
    ext[3] = '\0';
    for (int i = 0; i < 3; ++i)
        if (!IsCharAlphaNumericA(ext[i]))
            return 0;
    return 1;
}

int containsText(const char* text, const char* part)
{
    return strstr(text, part) != NULL;
}

static HANDLE openForReading(const char* name)
{
    return CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
}

static HANDLE createForWriting(const char* name)
{
    return CreateFileA(name, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

int readFileWhole(const char* name, char* buffer, DWORD bufferSize, DWORD* fileSize)
{
    HANDLE file = openForReading(name);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD size = GetFileSize(file, NULL);
    *fileSize = size;
    if (size == INVALID_FILE_SIZE || size > bufferSize) {
        CloseHandle(file);
        return 0;
    }
    DWORD countRead = 0;
    BOOL ok = ReadFile(file, buffer, size, &countRead, NULL);
    CloseHandle(file);
    return ok && countRead == size;
}

int writeFileWhole(const char* name, const char* data, DWORD count)
{
    HANDLE file = createForWriting(name);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    BOOL ok = WriteFile(file, data, count, &written, NULL);
    CloseHandle(file);
    return ok && written == count;
}

int loadFileToWindow(HWND window, const char* name)
{
    HANDLE file = openForReading(name);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD size = GetFileSize(file, NULL);
    // An unknown size would wrap size + 1 to an empty allocation.
    char* text = size == INVALID_FILE_SIZE ? NULL : (char*)HeapAlloc(GetProcessHeap(), 0, size + 1);
    if (text == NULL) {
        CloseHandle(file);
        return 0;
    }
    DWORD countRead = 0;
    if (!ReadFile(file, text, size, &countRead, NULL))
        countRead = 0;
    CloseHandle(file);
    text[countRead] = '\0'; // behind the bytes actually read, never stale ones
    SetWindowTextA(window, text);
    HeapFree(GetProcessHeap(), 0, text);
    return 1;
}

int saveWindowToFile(HWND window, const char* name)
{
    HANDLE file = createForWriting(name);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int length = GetWindowTextLengthA(window);
    char* text = (char*)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)length + 1);
    if (text == NULL) {
        CloseHandle(file);
        return 0;
    }
    // The window may report more than it hands over (double-byte texts).
    int fetched = GetWindowTextA(window, text, length + 1);
    DWORD written = 0;
    BOOL ok = WriteFile(file, text, (DWORD)fetched, &written, NULL);
    CloseHandle(file);
    HeapFree(GetProcessHeap(), 0, text);
    return ok && written == (DWORD)fetched;
}

static int openHandle(const char* name, DWORD creation, const char* caption, HANDLE* handle, DWORD* size)
{
    *handle =
        CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, creation, FILE_ATTRIBUTE_NORMAL, NULL);
    if (*handle == INVALID_HANDLE_VALUE)
        return 0;
    *size = GetFileSize(*handle, NULL);
    if (*size == INVALID_FILE_SIZE) {
        char text[500];
        wsprintfA(text, "Error number = %d", (int)GetLastError());
        // The caller gets no handle on failure, so none is left open.
        CloseHandle(*handle);
        *handle = INVALID_HANDLE_VALUE;
        MessageBoxA(NULL, text, caption, MB_OK);
        return 0;
    }
    return 1;
}

int createFileX(const char* name, HANDLE* handle, DWORD* size)
{
    return openHandle(name, CREATE_ALWAYS, "createFileX", handle, size);
}

int OpenFileX(const char* name, HANDLE* handle, DWORD* size)
{
    return openHandle(name, OPEN_EXISTING, "OpenFileX", handle, size);
}

int readFileX(HANDLE handle, char* buffer, DWORD count, DWORD* countRead)
{
    *countRead = 0;
    if (!ReadFile(handle, buffer, count, countRead, NULL)) {
        char text[100];
        wsprintfA(text, "Funktion: readFileX\nFehler- Nr.: %d", (int)GetLastError());
        MessageBoxA(NULL, text, "ERROR", MB_OK);
        return 0;
    }
    return 1;
}

int writeFileX(HANDLE handle, const char* data, DWORD count)
{
    DWORD written = 0;
    char text[100];
    if (!WriteFile(handle, data, count, &written, NULL)) {
        wsprintfA(text, "Funktion: writeFileX\nFehler- Nr.: %d", (int)GetLastError());
        MessageBoxA(NULL, text, "ERROR", MB_OK);
        return 0;
    }
    if (written < count) {
        wsprintfA(text, "Funktion: writeFileX\nNur %d Bytes von %d geschrieben!", (int)written, (int)count);
        MessageBoxA(NULL, text, "ERROR", MB_OK);
        return 0;
    }
    return 1;
}

int closeFileX(HANDLE handle)
{
    return CloseHandle(handle) ? 1 : 0;
}
