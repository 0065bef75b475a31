// Drives an installed updater the way a standard user would: "Check" against
// a device, the About box, "Hilfe", then the close box. Prints the About
// box's text into <sync folder>\about.txt and asks the script for a
// screenshot of the box (an "about.ready" file answered by "about.done").
//
// usage: installed_updater <updater program> <start folder> <address> <user> <password> <sync folder>
#include "windriver.h"

#include <stdio.h>
#include <string.h>

static PROCESS_INFORMATION process;
static HWND window;

static int fail(const char* what)
{
    fprintf(stderr, "installed_updater: %s\n", what);
    fflush(stderr);
    drv_end(&process);
    return 1;
}

static int waitField(int id, const char* expected, int timeoutMs)
{
    char text[DRV_TEXT_SIZE] = "";
    DWORD start = GetTickCount();
    do {
        if (drv_getItemText(window, id, text, sizeof text) >= 0 && strcmp(text, expected) == 0)
            return 1;
        Sleep(100);
    } while ((int)(GetTickCount() - start) < timeoutMs);
    fprintf(stderr, "installed_updater: field %d reads \"%s\", not \"%s\"\n", id, text, expected);
    return 0;
}

static int screenshot(const char* folder, const char* name)
{
    char readyName[MAX_PATH], done[MAX_PATH];
    snprintf(readyName, sizeof readyName, "%s.ready", name);
    snprintf(done, sizeof done, "%s\\%s.done", folder, name);
    Sleep(400); // the box paints first
    if (!drv_writeFile(folder, readyName, "", 0))
        return 0;
    for (int i = 0; i < 300; ++i) {
        if (GetFileAttributesA(done) != INVALID_FILE_ATTRIBUTES)
            return 1;
        Sleep(100);
    }
    return 0;
}

int main(int argc, char** argv)
{
    if (argc != 7) {
        fprintf(stderr, "usage: installed_updater <updater program> <start folder> <address> <user> <password> "
                        "<sync folder>\n");
        return 2;
    }
    const char *program = argv[1], *folder = argv[2], *sync = argv[6];
    drv_unmanageUnderWine(program);
    if (!drv_start(program, folder, &process))
        return fail("the updater did not start");
    window = drv_findWindow(process.dwProcessId, "TESTBOX", NULL, 9 * DRV_WAIT_MS);
    if (window == NULL)
        return fail("the main window did not appear");

    drv_setItemText(window, 1001, argv[3]);
    drv_setItemText(window, 1002, argv[4]);
    drv_setItemText(window, 1003, argv[5]);
    drv_postCommand(window, 1005);
    if (!waitField(1004, "OK", 3 * DRV_WAIT_MS))
        return fail("the check did not succeed");
    printf("check: OK\n");

    drv_postCommand(window, 1510);
    HWND about = drv_findWindow(process.dwProcessId, "#32770", "About ...", DRV_WAIT_MS);
    if (about == NULL)
        return fail("no About box");
    char notes[DRV_TEXT_SIZE];
    int length = drv_getItemText(about, 1600, notes, sizeof notes);
    if (length < 0 || !drv_writeFile(sync, "about.txt", notes, (DWORD)length))
        return fail("the About box's text could not be kept");
    if (!screenshot(sync, "about"))
        return fail("no screenshot of the About box");
    drv_click(about, IDOK);
    if (!drv_waitGone(about, DRV_WAIT_MS))
        return fail("the About box did not close");
    printf("about: %d bytes\n", length);

    // The shell gets the manual; a refusal would show a box.
    drv_postCommand(window, 1500);
    HWND box = drv_findMessageBox(process.dwProcessId, "shellStartAppl", 3000);
    if (box != NULL) {
        char text[DRV_TEXT_SIZE] = "";
        drv_messageBoxText(box, text, sizeof text);
        return fail(text);
    }
    printf("help: handed to the shell\n");

    PostMessageA(window, WM_CLOSE, 0, 0);
    DWORD code = 1;
    if (!drv_waitExit(&process, DRV_WAIT_MS, &code) || code != 0)
        return fail("the updater did not end normally");
    drv_end(&process);
    printf("closed\n");
    return 0;
}
