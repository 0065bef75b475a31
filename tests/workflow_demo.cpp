// Runs a whole update through the updater's window for scripts/demo when
// there is no display to show it on: check, package chosen in the open-file
// dialog and loaded, installation, reboot. At each step it asks the script
// for a screenshot (a ".ready" file answered by a ".done" file) and waits.
//
// usage: workflow_demo <updater folder> <package file> <password> <sync folder>
#include "windriver.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>

static const char* syncFolder;
static PROCESS_INFORMATION process;
static HWND window;

static int fail(const char* what)
{
    fprintf(stderr, "workflow_demo: %s\n", what);
    fflush(stderr);
    drv_end(&process);
    return 1;
}

static int fileExists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// Lets the script photograph the screen as it stands now.
static int screenshot(const char* name)
{
    char readyName[MAX_PATH], ready[MAX_PATH], done[MAX_PATH];
    snprintf(readyName, sizeof readyName, "%s.ready", name);
    snprintf(ready, sizeof ready, "%s\\%s", syncFolder, readyName);
    snprintf(done, sizeof done, "%s\\%s.done", syncFolder, name);
    // Let the window finish painting first.
    Sleep(400);
    if (!drv_writeFile(syncFolder, readyName, "", 0))
        return 0;
    for (int i = 0; i < 300; ++i) {
        if (fileExists(done)) {
            DeleteFileA(done);
            DeleteFileA(ready);
            printf("screenshot %s\n", name);
            fflush(stdout);
            return 1;
        }
        Sleep(100);
    }
    return 0;
}

static int waitField(int id, const char* expected, int timeoutMs)
{
    char text[DRV_TEXT_SIZE];
    DWORD start = GetTickCount();
    do {
        if (drv_getItemText(window, id, text, sizeof text) >= 0 && strcmp(text, expected) == 0)
            return 1;
        Sleep(100);
    } while ((int)(GetTickCount() - start) < timeoutMs);
    return 0;
}

static int waitEnabled(int id, int timeoutMs)
{
    DWORD start = GetTickCount();
    while (!IsWindowEnabled(GetDlgItem(window, id))) {
        if ((int)(GetTickCount() - start) >= timeoutMs)
            return 0;
        Sleep(100);
    }
    return 1;
}

static HWND findFileDialog(void)
{
    DWORD start = GetTickCount();
    while ((int)(GetTickCount() - start) < DRV_WAIT_MS) {
        HWND candidate = drv_findWindow(process.dwProcessId, "#32770", NULL, 100);
        if (candidate != NULL && GetWindow(candidate, GW_OWNER) == window)
            return candidate;
    }
    return NULL;
}

int main(int argc, char** argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: workflow_demo <updater folder> <package file> <password> "
                        "<sync folder>\n");
        return 2;
    }
    const char *folder = argv[1], *package = argv[2], *password = argv[3];
    syncFolder = argv[4];
    char program[MAX_PATH];
    snprintf(program, sizeof program, "%s\\ORMI_updater.exe", folder);
    if (!drv_start(program, folder, &process))
        return fail("the updater did not start");
    // Wine's first window of a session waits for its desktop process.
    window = drv_findWindow(process.dwProcessId, "TESTBOX", NULL, 9 * DRV_WAIT_MS);
    if (window == NULL)
        return fail("the main window did not appear");

    // Step 1: address and user come from the settings file; the password is typed.
    drv_setItemText(window, 1003, password);
    drv_postCommand(window, 1005);
    if (!waitField(1004, "OK", DRV_WAIT_MS) || !waitEnabled(1005, DRV_WAIT_MS))
        return fail("the check did not succeed");
    if (!screenshot("step1-check"))
        return fail("no screenshot of step 1");

    // Step 2: the package is picked in the open-file dialog, then loaded.
    drv_postCommand(window, 1007);
    HWND dialog = findFileDialog();
    if (dialog == NULL)
        return fail("the open-file dialog did not appear");
    // As an operator does: into the package folder first, then the file.
    int nameControl = GetDlgItem(dialog, 0x480) != NULL ? 0x480 : 0x47c;
    char packageFolder[MAX_PATH];
    snprintf(packageFolder, sizeof packageFolder, "%s", package);
    char* slash = strrchr(packageFolder, '\\');
    if (slash == NULL)
        return fail("the package needs a full path");
    *slash = '\0';
    drv_setItemText(dialog, nameControl, packageFolder);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDOK));
    Sleep(800);
    if (!IsWindow(dialog))
        return fail("the open-file dialog closed on the folder");
    drv_setItemText(dialog, nameControl, slash + 1);
    if (!screenshot("step2-choose-package"))
        return fail("no screenshot of the open-file dialog");
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDOK));
    if (!drv_waitGone(dialog, DRV_WAIT_MS))
        return fail("the open-file dialog stayed open");
    drv_postCommand(window, 1008);
    // The simulated device delays its answer, so the loading state shows.
    if (!waitField(1009, "wird geladen ...", DRV_WAIT_MS) || !screenshot("step2-loading"))
        return fail("the upload did not start");
    if (!waitField(1009, "OK", 3 * DRV_WAIT_MS) || !waitEnabled(1008, DRV_WAIT_MS))
        return fail("the upload did not end with OK");
    if (!screenshot("step2-loaded"))
        return fail("no screenshot of step 2");

    // Step 3: the installation runs until the device no longer reports "run".
    drv_postCommand(window, 1012);
    if (!waitField(1013, "installation started", DRV_WAIT_MS))
        return fail("the installation did not start");
    Sleep(1700);
    if (!screenshot("step3-installing"))
        return fail("no screenshot of the running installation");
    if (!waitEnabled(1012, 6 * DRV_WAIT_MS))
        return fail("the installation did not end");
    if (!screenshot("step3-installed"))
        return fail("no screenshot of step 3");

    // Step 4: 80 ticks of one second.
    drv_postCommand(window, 1016);
    if (!waitField(1018, "Reboot wird ausgeführt ...", DRV_WAIT_MS))
        return fail("the reboot did not start");
    Sleep(30000);
    if (!screenshot("step4-rebooting"))
        return fail("no screenshot of the running reboot");
    if (!waitField(1018, "Reboot beendet", 9 * DRV_WAIT_MS))
        return fail("the reboot did not end");
    if (!screenshot("step4-rebooted"))
        return fail("no screenshot of step 4");

    PostMessageA(window, WM_CLOSE, 0, 0);
    DWORD code = 1;
    if (!drv_waitExit(&process, DRV_WAIT_MS, &code) || code != 0)
        return fail("the updater did not end normally");
    drv_end(&process);
    printf("update finished\n");
    return 0;
}
