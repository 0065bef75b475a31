// The updater's menu and end: closing empties only the password, the About
// box with the legal notes and its keys, and the help command without its
// document.
#include "updater_window.h"

namespace {

TEST_F(UpdaterWindow, ClosingEmptiesOnlyThePassword)
{
    struct Case {
        const char* how;
        UINT message;
        WPARAM wParam;
    } cases[] = {
        { "menu Beenden", WM_COMMAND, 1050 },
        { "close box", WM_SYSCOMMAND, SC_CLOSE },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        writeFile(settingsName, fullSettings);
        useLibrary("updater_fake_control.dll");
        start();
        ASSERT_TRUE(drv_setItemText(window, 1001, "10.0.0.9"));
        ASSERT_TRUE(drv_setItemText(window, 1002, "service"));
        ASSERT_TRUE(drv_setItemText(window, 1003, "s3cret"));
        ASSERT_TRUE(drv_click(window, 1005));
        // The settings are written while the window still runs.
        DWORD start = GetTickCount();
        while (setting("LOGIN", "password") != "s3cret" && GetTickCount() - start < DRV_WAIT_MS)
            Sleep(20);
        EXPECT_EQ(setting("LOGIN", "password"), "s3cret");
        PostMessageA(window, c.message, c.wParam, 0);
        EXPECT_EQ(exitCode(), 0u);
        EXPECT_EQ(setting("LOGIN", "password"), "");
        EXPECT_NE(readFile(settingsName).find("\npassword=\r\n"), std::string::npos) << readFile(settingsName);
        EXPECT_EQ(setting("LOGIN", "username"), "service");
        EXPECT_EQ(setting("IP", "ip_address"), "10.0.0.9");
        // Keys the program never touches are kept.
        EXPECT_EQ(setting("LOGIN", "login_version"), "2");
        EXPECT_EQ(setting("CONTROL", "timeout"), "3");
        drv_end(&process);
    }
}

TEST_F(UpdaterWindow, CheckWithEmptyFieldsKeepsTheFile)
{
    writeFile(settingsName, fullSettings);
    useLibrary("updater_fake_control.dll");
    start();
    ASSERT_TRUE(drv_setItemText(window, 1001, ""));
    ASSERT_TRUE(drv_setItemText(window, 1002, ""));
    ASSERT_TRUE(drv_click(window, 1005));
    drv_postCommand(window, 1050);
    EXPECT_EQ(exitCode(), 0u);
    EXPECT_EQ(setting("IP", "ip_address"), "192.168.17.4");
    EXPECT_EQ(setting("LOGIN", "username"), "wartung");
    EXPECT_EQ(setting("LOGIN", "password"), "");
}

TEST_F(UpdaterWindow, FolderTooLongForSettingsWritesNothing)
{
    // The folder fits a path; with "\\ormi_control.ini" it exceeds 255 characters.
    std::string deep = std::string(folder) + "\\" + std::string(245 - strlen(folder), 'd');
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), NULL)) << GetLastError();
    useLibrary("updater_fake_control.dll");
    start(deep.c_str());
    EXPECT_EQ(field(window, 1001), "no entry");
    EXPECT_EQ(field(window, 1002), "no entry");
    ASSERT_TRUE(drv_setItemText(window, 1003, "s3cret"));
    ASSERT_TRUE(drv_click(window, 1005));
    drv_postCommand(window, 1050);
    EXPECT_EQ(exitCode(), 0u);
    // No settings file under a cut name, neither in the folder nor beside it.
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((deep + "\\*").c_str(), &entry);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        EXPECT_TRUE(!strcmp(entry.cFileName, ".") || !strcmp(entry.cFileName, "..")) << "written: " << entry.cFileName;
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    EXPECT_EQ(readFile(settingsName), "<missing>");
}

TEST_F(UpdaterWindow, AboutShowsLegalNotesOrTheirAbsence)
{
    struct Case {
        const char* notes; // nullptr: no file
        const char* shown;
    } cases[] = {
        { "Haftungsausschluss: für Schäden wird nicht gehaftet.\r\nÄnderungen vorbehalten.",
          "Haftungsausschluss: für Schäden wird nicht gehaftet.\r\nÄnderungen vorbehalten." },
        { "", "" },
        { nullptr, "\\Rechtliche Hinweise.txt - File not found!" },
    };
    useLibrary("updater_fake_control.dll");
    start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        std::string path = std::string(folder) + "\\Rechtliche Hinweise.txt";
        DeleteFileA(path.c_str());
        if (c.notes)
            writeFile("Rechtliche Hinweise.txt", c.notes);
        HWND about = openAbout();
        ASSERT_NE(about, (HWND)NULL);
        EXPECT_EQ(field(about, 1600), c.shown);
        drv_click(about, 1);
        EXPECT_TRUE(drv_waitGone(about, DRV_WAIT_MS));
    }
}

TEST_F(UpdaterWindow, AboutClosesWithEnterButNotEscape)
{
    useLibrary("updater_fake_control.dll");
    start();
    HWND about = openAbout();
    ASSERT_NE(about, (HWND)NULL);
    ASSERT_TRUE(drv_pressKey(about, VK_ESCAPE));
    EXPECT_FALSE(drv_waitGone(about, 700)) << "Escape closed the About box";
    ASSERT_TRUE(drv_pressKey(about, VK_RETURN));
    EXPECT_TRUE(drv_waitGone(about, DRV_WAIT_MS)) << "Enter did not close the About box";
    drv_postCommand(window, 1050);
    EXPECT_EQ(exitCode(), 0u);
}

TEST_F(UpdaterWindow, HelpWithoutDocumentReportsAndGoesOn)
{
    useLibrary("updater_fake_control.dll");
    start();
    drv_postCommand(window, 1500);
    EXPECT_EQ(confirmBox("shellStartAppl"), "The specified file was not found.");
    // The program goes on: the About box still opens.
    HWND about = openAbout();
    ASSERT_NE(about, (HWND)NULL);
    drv_click(about, 1);
    EXPECT_TRUE(drv_waitGone(about, DRV_WAIT_MS));
    drv_postCommand(window, 1050);
    EXPECT_EQ(exitCode(), 0u);
}

} // namespace
