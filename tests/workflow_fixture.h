// Fixture for driving the updater's update steps against the simulated
// device: a scratch folder with the program, the real control library and
// its settings, a simulator run in-process on loopback, and waits on the
// window's fields, buttons and bars.
#pragma once

#include "sim_server.h"
#include "windriver.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

namespace workflow_test {

const char updaterName[] = "ORMI_updater.exe";
const char caption[] = "ORMI updater";
const char deviceUser[] = "admin";
const char devicePassword[] = "secret";

inline DWORD elapsedSince(DWORD start)
{
    return GetTickCount() - start;
}

struct UpdateWindow : ::testing::Test {
    char own[MAX_PATH] = {};
    char folder[MAX_PATH] = {};
    PROCESS_INFORMATION process = {};
    HWND window = NULL;
    sim_server* device = nullptr;
    sim_options options;

    void SetUp() override
    {
        options.user = deviceUser;
        options.password = devicePassword;
        options.loginMethod = 2;
        ASSERT_TRUE(drv_ownFolder(own, sizeof own));
        ASSERT_TRUE(drv_makeFolder(folder, sizeof folder));
        ASSERT_TRUE(drv_copyInto(artefact(updaterName).c_str(), folder, updaterName));
        ASSERT_TRUE(drv_copyInto(artefact("ormi_control.dll").c_str(), folder, "ormi_control.dll"));
    }
    void TearDown() override
    {
        if (process.hProcess != NULL && window != NULL && IsWindow(window)) {
            PostMessageA(window, WM_CLOSE, 0, 0);
            DWORD code;
            drv_waitExit(&process, DRV_WAIT_MS, &code);
        }
        drv_end(&process);
        if (device)
            sim_stop(device);
        device = nullptr;
        drv_removeFolder(folder);
    }
    std::string artefact(const char* name)
    {
        return std::string(own) + "\\" + name;
    }
    std::string path(const char* name)
    {
        return std::string(folder) + "\\" + name;
    }

    void startDevice()
    {
        device = sim_start(options);
        ASSERT_NE(device, nullptr) << "simulator did not start";
    }
    // The connection fields are typed into the window; the settings file
    // carries only what the updater never writes.
    void writeSettings(int port)
    {
        std::string text = "[IP]\r\nip_port=" + std::to_string(port) +
                           "\r\n[LOGIN]\r\nlogin_version=" + std::to_string(options.loginMethod) +
                           "\r\n[CONTROL]\r\ntimeout=1\r\n";
        ASSERT_TRUE(drv_writeFile(folder, "ormi_control.ini", text.data(), (DWORD)text.size()));
    }
    void startUpdater()
    {
        std::string program = path(updaterName);
        ASSERT_TRUE(drv_start(program.c_str(), folder, &process));
        // Wine's first window of a session waits for its desktop process.
        window = drv_findWindow(process.dwProcessId, "TESTBOX", NULL, 3 * DRV_WAIT_MS);
        ASSERT_NE(window, (HWND)NULL) << "main window did not appear";
    }
    // Device, settings and program, with the connection fields filled in.
    void startAll()
    {
        ASSERT_NO_FATAL_FAILURE(startDevice());
        ASSERT_NO_FATAL_FAILURE(writeSettings(sim_port(device)));
        ASSERT_NO_FATAL_FAILURE(startUpdater());
        ASSERT_TRUE(drv_setItemText(window, 1001, "127.0.0.1"));
        ASSERT_TRUE(drv_setItemText(window, 1002, deviceUser));
        ASSERT_TRUE(drv_setItemText(window, 1003, devicePassword));
    }

    // A tick may block the window for a library call of up to two waits, so
    // reads allow more than that.
    std::string field(int id)
    {
        char text[DRV_TEXT_SIZE] = "";
        DWORD_PTR length = 0;
        HWND item = GetDlgItem(window, id);
        if (item == NULL ||
            !SendMessageTimeoutA(item, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 8000, &length))
            return "<no answer>";
        return text;
    }
    bool enabled(int id)
    {
        return IsWindowEnabled(GetDlgItem(window, id)) != FALSE;
    }
    bool shown(int id)
    {
        return IsWindowVisible(GetDlgItem(window, id)) != FALSE;
    }
    int barPosition(int id)
    {
        DWORD_PTR position = 0;
        SendMessageTimeoutA(GetDlgItem(window, id), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &position);
        return (int)position;
    }
    // Waits until the field shows the text; gives what it shows last.
    std::string waitField(int id, const std::string& expected, int timeoutMs = DRV_WAIT_MS)
    {
        DWORD start = GetTickCount();
        std::string text = field(id);
        while (text != expected && (int)elapsedSince(start) < timeoutMs) {
            Sleep(50);
            text = field(id);
        }
        return text;
    }
    bool waitEnabled(int id, bool state, int timeoutMs = DRV_WAIT_MS)
    {
        DWORD start = GetTickCount();
        while (enabled(id) != state) {
            if ((int)elapsedSince(start) >= timeoutMs)
                return false;
            Sleep(50);
        }
        return true;
    }
    // Answers the workflow's next message box with OK and gives its text.
    std::string confirmBox(int timeoutMs = DRV_WAIT_MS)
    {
        char text[DRV_TEXT_SIZE];
        if (!drv_answerMessageBox(process.dwProcessId, caption, IDOK, timeoutMs, text, sizeof text))
            return "<no box>";
        return text;
    }
    bool noBox(int timeoutMs)
    {
        return drv_findMessageBox(process.dwProcessId, caption, timeoutMs) == NULL;
    }

    void check()
    {
        ASSERT_TRUE(drv_postCommand(window, 1005));
        ASSERT_EQ(waitField(1004, "OK"), "OK");
        ASSERT_TRUE(waitEnabled(1005, true)) << "Check not enabled again";
    }

    void writePackage(const char* name, const std::string& data)
    {
        ASSERT_TRUE(drv_writeFile(folder, name, data.data(), (DWORD)data.size()));
    }
    // Picks the file through the open-file dialog the way an operator does:
    // the file name typed into the dialog, then Open; an empty name cancels.
    void choosePackage(const std::string& file)
    {
        ASSERT_TRUE(drv_postCommand(window, 1007));
        HWND dialog = NULL;
        DWORD start = GetTickCount();
        while (dialog == NULL && (int)elapsedSince(start) < DRV_WAIT_MS) {
            HWND candidate = drv_findWindow(process.dwProcessId, "#32770", NULL, 100);
            if (candidate != NULL && GetWindow(candidate, GW_OWNER) == window)
                dialog = candidate;
        }
        ASSERT_NE(dialog, (HWND)NULL) << "open-file dialog did not appear";
        // edt1 in the classic layout, cmb13 (the name combo box) in the
        // explorer layout.
        int nameControl = GetDlgItem(dialog, 0x480) != NULL ? 0x480 : 0x47c;
        int button = file.empty() ? IDCANCEL : IDOK;
        if (!file.empty()) {
            ASSERT_TRUE(drv_setItemText(dialog, nameControl, file.c_str()));
        }
        ASSERT_TRUE(
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(dialog, button)));
        ASSERT_TRUE(drv_waitGone(dialog, DRV_WAIT_MS)) << "open-file dialog stayed open";
    }
};

} // namespace workflow_test
