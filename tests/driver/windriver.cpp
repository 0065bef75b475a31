// Window test driver: process start in a scratch folder, window lookup by
// process, class and caption, and message-based control of fields, buttons,
// menus and message boxes.
#include "windriver.h"

#include <stdio.h>
#include <string.h>

static const int pollMs = 20;
static const UINT sendTimeoutMs = 5000;

int drv_makeFolder(char* folder, int size)
{
    static LONG counter;
    char base[MAX_PATH];
    DWORD length = GetTempPathA(sizeof base, base);
    if (length == 0 || length >= sizeof base)
        return 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        int n = snprintf(folder, (size_t)size, "%sormi_win_%lu_%ld", base, GetCurrentProcessId(),
                         InterlockedIncrement(&counter));
        if (n <= 0 || n >= size)
            return 0;
        if (CreateDirectoryA(folder, NULL))
            return 1;
    }
    return 0;
}

int drv_removeFolder(const char* folder)
{
    char pattern[MAX_PATH];
    if (snprintf(pattern, sizeof pattern, "%s\\*", folder) >= (int)sizeof pattern)
        return 0;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!strcmp(entry.cFileName, ".") || !strcmp(entry.cFileName, ".."))
                continue;
            char path[MAX_PATH];
            snprintf(path, sizeof path, "%s\\%s", folder, entry.cFileName);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                drv_removeFolder(path);
            } else {
                SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path);
            }
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    return RemoveDirectoryA(folder) ? 1 : 0;
}

int drv_copyInto(const char* source, const char* folder, const char* name)
{
    char target[MAX_PATH];
    if (snprintf(target, sizeof target, "%s\\%s", folder, name) >= (int)sizeof target)
        return 0;
    return CopyFileA(source, target, FALSE) ? 1 : 0;
}

int drv_writeFile(const char* folder, const char* name, const char* data, DWORD count)
{
    char path[MAX_PATH];
    if (snprintf(path, sizeof path, "%s\\%s", folder, name) >= (int)sizeof path)
        return 0;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    BOOL ok = WriteFile(file, data, count, &written, NULL);
    CloseHandle(file);
    return ok && written == count;
}

int drv_readFile(const char* folder, const char* name, char* data, int size)
{
    char path[MAX_PATH];
    if (size < 1 || snprintf(path, sizeof path, "%s\\%s", folder, name) >= (int)sizeof path)
        return -1;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    DWORD countRead = 0;
    if (!ReadFile(file, data, (DWORD)size - 1, &countRead, NULL))
        countRead = 0;
    CloseHandle(file);
    data[countRead] = '\0';
    return (int)countRead;
}

int drv_ownFolder(char* folder, int size)
{
    DWORD length = GetModuleFileNameA(NULL, folder, (DWORD)size);
    if (length == 0 || length >= (DWORD)size)
        return 0;
    char* slash = strrchr(folder, '\\');
    if (slash == NULL)
        return 0;
    *slash = '\0';
    return 1;
}

// Without a window manager Wine waits two seconds for each closed top-level
// window of a managed program; an unmanaged program closes at once and draws
// its own captions. Only the driven program's Wine defaults are changed.
int drv_unmanageUnderWine(const char* program)
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == NULL || GetProcAddress(ntdll, "wine_get_version") == NULL)
        return 0;
    const char* name = strrchr(program, '\\');
    name = name != NULL ? name + 1 : program;
    char key[MAX_PATH];
    snprintf(key, sizeof key, "Software\\Wine\\AppDefaults\\%s\\X11 Driver", name);
    HKEY handle;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, NULL, 0, KEY_SET_VALUE, NULL, &handle, NULL) != ERROR_SUCCESS)
        return 0;
    LONG result = RegSetValueExA(handle, "Managed", 0, REG_SZ, (const BYTE*)"N", 2);
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

int drv_unmanageSelfUnderWine(void)
{
    char program[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, program, sizeof program);
    return length > 0 && length < sizeof program && drv_unmanageUnderWine(program);
}

int drv_start(const char* program, const char* folder, PROCESS_INFORMATION* process)
{
    drv_unmanageUnderWine(program);
    char commandLine[MAX_PATH + 2];
    snprintf(commandLine, sizeof commandLine, "\"%s\"", program);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    memset(process, 0, sizeof *process);
    return CreateProcessA(program, commandLine, NULL, NULL, FALSE, 0, NULL, folder, &startup, process) ? 1 : 0;
}

int drv_waitExit(PROCESS_INFORMATION* process, int timeoutMs, DWORD* code)
{
    if (process->hProcess == NULL)
        return 0;
    if (WaitForSingleObject(process->hProcess, (DWORD)timeoutMs) != WAIT_OBJECT_0)
        return 0;
    return GetExitCodeProcess(process->hProcess, code) ? 1 : 0;
}

int drv_waitIdle(PROCESS_INFORMATION* process, int timeoutMs)
{
    return WaitForInputIdle(process->hProcess, (DWORD)timeoutMs) == 0;
}

void drv_end(PROCESS_INFORMATION* process)
{
    if (process->hProcess != NULL) {
        if (WaitForSingleObject(process->hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process->hProcess, 99);
            WaitForSingleObject(process->hProcess, DRV_WAIT_MS);
        }
        CloseHandle(process->hProcess);
    }
    if (process->hThread != NULL)
        CloseHandle(process->hThread);
    memset(process, 0, sizeof *process);
}

struct WindowQuery {
    DWORD processId;
    const char* className;
    const char* caption;
    HWND found;
};

static BOOL CALLBACK matchWindow(HWND window, LPARAM parameter)
{
    WindowQuery* query = (WindowQuery*)parameter;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != query->processId || !IsWindowVisible(window))
        return TRUE;
    char text[256];
    if (query->className != NULL) {
        if (!GetClassNameA(window, text, sizeof text) || strcmp(text, query->className) != 0)
            return TRUE;
    }
    if (query->caption != NULL) {
        if (drv_getText(window, text, sizeof text) < 0 || strcmp(text, query->caption) != 0)
            return TRUE;
    }
    query->found = window;
    return FALSE;
}

HWND drv_findWindow(DWORD processId, const char* className, const char* caption, int timeoutMs)
{
    WindowQuery query = { processId, className, caption, NULL };
    DWORD start = GetTickCount();
    for (;;) {
        EnumWindows(matchWindow, (LPARAM)&query);
        if (query.found != NULL || (int)(GetTickCount() - start) >= timeoutMs)
            return query.found;
        Sleep(pollMs);
    }
}

int drv_waitGone(HWND window, int timeoutMs)
{
    DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if ((int)(GetTickCount() - start) >= timeoutMs)
            return 0;
        Sleep(pollMs);
    }
    return 1;
}

int drv_getText(HWND window, char* text, int size)
{
    if (size < 1)
        return -1;
    text[0] = '\0';
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, (WPARAM)size, (LPARAM)text, SMTO_NORMAL, sendTimeoutMs, &length))
        return -1;
    text[size - 1] = '\0';
    return (int)length;
}

int drv_getItemText(HWND window, int id, char* text, int size)
{
    HWND item = GetDlgItem(window, id);
    if (item == NULL) {
        if (size > 0)
            text[0] = '\0';
        return -1;
    }
    return drv_getText(item, text, size);
}

int drv_setItemText(HWND window, int id, const char* text)
{
    HWND item = GetDlgItem(window, id);
    DWORD_PTR result = 0;
    return item != NULL &&
           SendMessageTimeoutA(item, WM_SETTEXT, 0, (LPARAM)text, SMTO_NORMAL, sendTimeoutMs, &result) && result;
}

int drv_postCommand(HWND window, int id)
{
    return PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0) ? 1 : 0;
}

int drv_click(HWND window, int id)
{
    HWND button = GetDlgItem(window, id);
    return button != NULL && PostMessageA(button, BM_CLICK, 0, 0);
}

int drv_pressKey(HWND window, UINT key)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    DWORD thread = GetWindowThreadProcessId(window, NULL);
    HWND target = window;
    if (GetGUIThreadInfo(thread, &info) && info.hwndFocus != NULL)
        target = info.hwndFocus;
    return PostMessageA(target, WM_KEYDOWN, key, 1) && PostMessageA(target, WM_KEYUP, key, (LPARAM)0xC0000001);
}

HWND drv_findMessageBox(DWORD processId, const char* caption, int timeoutMs)
{
    return drv_findWindow(processId, "#32770", caption, timeoutMs);
}

int drv_messageBoxText(HWND box, char* text, int size)
{
    // The message box keeps its text in a static control numbered 0xFFFF.
    return drv_getItemText(box, 0xFFFF, text, size);
}

int drv_answerMessageBox(DWORD processId, const char* caption, int button, int timeoutMs, char* text, int size)
{
    HWND box = drv_findMessageBox(processId, caption, timeoutMs);
    if (box == NULL)
        return 0;
    if (text != NULL && drv_messageBoxText(box, text, size) < 0)
        return 0;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(box, button));
    return drv_waitGone(box, timeoutMs);
}

int drv_saveWindowImage(HWND window, const char* path)
{
    RECT r;
    if (!GetWindowRect(window, &r))
        return 0;
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    Sleep(500);
    int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0)
        return 0;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = NULL;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    int ok = 0;
    if (bitmap != NULL) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != FALSE;
        SelectObject(memory, old);
        GdiFlush();
    }
    DWORD rowSize = ((DWORD)width * 3 + 3) & ~3u;
    DWORD imageSize = rowSize * (DWORD)height;
    if (ok) {
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4d42;
        file.bfOffBits = sizeof file + sizeof info.bmiHeader;
        file.bfSize = file.bfOffBits + imageSize;
        info.bmiHeader.biSizeImage = imageSize;
        HANDLE out = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        DWORD written = 0;
        ok = out != INVALID_HANDLE_VALUE && WriteFile(out, &file, sizeof file, &written, NULL) &&
             WriteFile(out, &info.bmiHeader, sizeof info.bmiHeader, &written, NULL) &&
             WriteFile(out, bits, imageSize, &written, NULL);
        if (out != INVALID_HANDLE_VALUE)
            CloseHandle(out);
    }
    if (bitmap != NULL)
        DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    return ok;
}
