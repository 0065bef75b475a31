// Fixture for driving the updater program through its window: a scratch
// folder with the program, the chosen library and settings, and helpers to
// read fields, settings and message boxes.
#pragma once

#include "windriver.h"

#include <gtest/gtest.h>

#include <string>

const char updaterName[] = "ORMI_updater.exe";
const char caption[] = "ORMI updater";
const char settingsName[] = "ormi_control.ini";

struct UpdaterWindow : ::testing::Test {
    char own[MAX_PATH] = {};
    char folder[MAX_PATH] = {};
    PROCESS_INFORMATION process = {};
    HWND window = NULL;

    void SetUp() override
    {
        ASSERT_TRUE(drv_ownFolder(own, sizeof own));
        ASSERT_TRUE(drv_makeFolder(folder, sizeof folder));
        ASSERT_TRUE(drv_copyInto(artefact(updaterName).c_str(), folder, updaterName));
    }
    void TearDown() override
    {
        drv_end(&process);
        drv_removeFolder(folder);
    }
    std::string artefact(const char* name)
    {
        return std::string(own) + "\\" + name;
    }
    void useLibrary(const char* name)
    {
        ASSERT_TRUE(drv_copyInto(artefact(name).c_str(), folder, "ormi_control.dll")) << name;
    }
    void writeFile(const char* name, const std::string& data)
    {
        ASSERT_TRUE(drv_writeFile(folder, name, data.data(), (DWORD)data.size()));
    }
    std::string readFile(const char* name)
    {
        static char data[8192];
        return drv_readFile(folder, name, data, sizeof data) < 0 ? "<missing>" : data;
    }
    // Starts the program of the scratch folder, in that folder or in current.
    void start(const char* current = nullptr)
    {
        std::string program = std::string(folder) + "\\" + updaterName;
        ASSERT_TRUE(drv_start(program.c_str(), current ? current : folder, &process));
        // The first window of a Wine session may take several seconds.
        window = drv_findWindow(process.dwProcessId, "TESTBOX", NULL, 3 * DRV_WAIT_MS);
        ASSERT_NE(window, (HWND)NULL) << "main window did not appear";
        // The fields are filled just before the message loop starts.
        ASSERT_TRUE(drv_waitIdle(&process, 3 * DRV_WAIT_MS)) << "no message loop";
    }
    std::string field(HWND parent, int id)
    {
        char text[DRV_TEXT_SIZE];
        EXPECT_GE(drv_getItemText(parent, id, text, sizeof text), 0) << "control " << id;
        return text;
    }
    std::string setting(const char* section, const char* key)
    {
        char value[256];
        std::string path = std::string(folder) + "\\" + settingsName;
        GetPrivateProfileStringA(section, key, "<absent>", value, sizeof value, path.c_str());
        return value;
    }
    // Answers the box with OK and gives its text, or "<no box>".
    std::string confirmBox(const char* boxCaption)
    {
        char text[DRV_TEXT_SIZE];
        if (!drv_answerMessageBox(process.dwProcessId, boxCaption, IDOK, DRV_WAIT_MS, text, sizeof text))
            return "<no box>";
        return text;
    }
    DWORD exitCode()
    {
        DWORD code = 12345;
        EXPECT_TRUE(drv_waitExit(&process, DRV_WAIT_MS, &code)) << "program did not end";
        return code;
    }
    HWND openAbout()
    {
        EXPECT_TRUE(drv_postCommand(window, 1510));
        return drv_findWindow(process.dwProcessId, "#32770", "About ...", DRV_WAIT_MS);
    }
};

const char fullSettings[] = "[IP]\r\nip_address=192.168.17.4\r\nip_port=80\r\n"
                            "[LOGIN]\r\nusername=wartung\r\npassword=geheim\r\nlogin_version=2\r\n"
                            "[CONTROL]\r\ntimeout=3\r\n";
