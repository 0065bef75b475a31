// Stages the updater for screenshots: starts it in a scratch folder with
// settings and legal notes, then, in step with the screenshot script,
// shows the main window and the About box. Handshake through files in the
// output folder: "<stage>.ready" from here, "<stage>.done" from the script.
#include "windriver.h"

#include <stdio.h>
#include <string.h>

static const char settings[] = "[IP]\r\nip_address=192.168.1.20\r\nip_port=80\r\n"
                               "[LOGIN]\r\nusername=admin\r\nlogin_version=2\r\n[CONTROL]\r\ntimeout=2\r\n";
static const char legalNotes[] = "Rechtliche Hinweise: Die Nutzung geschieht auf eigene Gefahr. Für Schäden an "
                                 "Geräten wird keine Haftung übernommen. Änderungen vorbehalten.";

static bool waitForFile(const char* folder, const char* name, int timeoutMs)
{
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s\\%s", folder, name);
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
            return true;
        Sleep(50);
    }
    fprintf(stderr, "updater_shots: no %s\n", name);
    return false;
}

static void signalStage(const char* folder, const char* name, HWND window)
{
    // Where the script clicks to drop down the two menus.
    POINT origin = { 0, 0 };
    ClientToScreen(window, &origin);
    int y = origin.y - GetSystemMetrics(SM_CYMENU) / 2;
    char text[64];
    int n = snprintf(text, sizeof text, "%ld %d %ld %d\n", origin.x + 16, y, origin.x + 52, y);
    drv_writeFile(folder, name, text, (DWORD)n);
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: updater_shots <output folder>\n");
        return 2;
    }
    const char* out = argv[1];
    char own[MAX_PATH], folder[MAX_PATH], source[MAX_PATH], program[MAX_PATH];
    if (!drv_ownFolder(own, sizeof own) || !drv_makeFolder(folder, sizeof folder))
        return 1;
    snprintf(source, sizeof source, "%s\\ORMI_updater.exe", own);
    drv_copyInto(source, folder, "ORMI_updater.exe");
    // The real library when it is built, else the stand-in.
    snprintf(source, sizeof source, "%s\\ormi_control.dll", own);
    if (!drv_copyInto(source, folder, "ormi_control.dll")) {
        snprintf(source, sizeof source, "%s\\updater_fake_control.dll", own);
        drv_copyInto(source, folder, "ormi_control.dll");
    }
    drv_writeFile(folder, "ormi_control.ini", settings, sizeof settings - 1);
    drv_writeFile(folder, "Rechtliche Hinweise.txt", legalNotes, sizeof legalNotes - 1);
    snprintf(program, sizeof program, "%s\\ORMI_updater.exe", folder);

    int status = 1;
    PROCESS_INFORMATION process;
    if (drv_start(program, folder, &process)) {
        HWND window = drv_findWindow(process.dwProcessId, "TESTBOX", NULL, 30000);
        if (window != NULL && drv_waitIdle(&process, 30000)) {
            SetForegroundWindow(window);
            Sleep(500);
            signalStage(out, "main.ready", window);
            if (waitForFile(out, "main.done", 60000)) {
                drv_postCommand(window, 1510);
                HWND about = drv_findWindow(process.dwProcessId, "#32770", "About ...", 10000);
                if (about != NULL) {
                    Sleep(500);
                    signalStage(out, "about.ready", window);
                    if (waitForFile(out, "about.done", 60000)) {
                        drv_click(about, 1);
                        drv_waitGone(about, 10000);
                        status = 0;
                    }
                }
            }
            drv_postCommand(window, 1050);
            DWORD code;
            drv_waitExit(&process, 10000, &code);
        }
        drv_end(&process);
    }
    drv_removeFolder(folder);
    return status;
}
