// The updater's start-up: fields from the settings, texts and progress bars
// put in at start, and the library binding with its failures.
#include "updater_window.h"

namespace {

TEST_F(UpdaterWindow, FieldsShowTheSettingsOrNoEntry)
{
    struct Case {
        const char* what;
        const char* settings;
        const char *address, *user;
    } cases[] = {
        { "complete settings", fullSettings, "192.168.17.4", "wartung" },
        { "no settings file", nullptr, "no entry", "no entry" },
        { "keys missing", "[IP]\r\nip_port=80\r\n[LOGIN]\r\npassword=x\r\n", "no entry", "no entry" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileA((std::string(folder) + "\\" + settingsName).c_str());
        if (c.settings)
            writeFile(settingsName, c.settings);
        useLibrary("updater_fake_control.dll");
        start();
        EXPECT_EQ(field(window, 1001), c.address);
        EXPECT_EQ(field(window, 1002), c.user);
        EXPECT_EQ(field(window, 1003), "");
        PostMessageA(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(exitCode(), 0u);
        drv_end(&process);
    }
}

TEST_F(UpdaterWindow, StartTextsProgressBarsAndAboutStyle)
{
    useLibrary("updater_fake_control.dll");
    start();
    struct Text {
        int id;
        const char* text;
    } texts[] = {
        { 1019, "1. Verbindung zum ORMI / ORMI-M prüfen" },
        { 1020, "IP-Adresse oder Name" },
        { 1023, "Status" },
        { 1027, "Gerät" },
        { 1030, "4. Gerät neu starten (Reboot)" },
        { 1031, "Status" },
        { 1005, "Check" },
        { 1007, "Datei ..." },
        { 1012, "Installation starten" },
        { 1004, "" },
    };
    for (const Text& t : texts)
        EXPECT_EQ(field(window, t.id), t.text) << "control " << t.id;
    char title[64];
    drv_getText(window, title, sizeof title);
    EXPECT_STREQ(title, "ORMI updater v1.2");

    for (int id : { 1014, 1015, 1017 })
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(window, id))) << "progress bar " << id;
    for (int id : { 1014, 1015 })
        EXPECT_TRUE(GetWindowLongA(GetDlgItem(window, id), GWL_STYLE) & 0x08 /*PBS_MARQUEE*/) << "progress bar " << id;
    HWND reboot = GetDlgItem(window, 1017);
    EXPECT_EQ(SendMessageA(reboot, WM_USER + 7 /*PBM_GETRANGE*/, FALSE, 0), 80);
    EXPECT_EQ(SendMessageA(reboot, WM_USER + 7, TRUE, 0), 0);
    EXPECT_EQ(SendMessageA(reboot, WM_USER + 8 /*PBM_GETPOS*/, 0, 0), 0);

    HWND about = openAbout();
    ASSERT_NE(about, (HWND)NULL);
    EXPECT_EQ(GetWindow(about, GW_OWNER), window);
    // No close box: the box ends only through OK.
    EXPECT_FALSE(GetWindowLongA(about, GWL_STYLE) & WS_SYSMENU);
    EXPECT_EQ(field(about, 1), "OK");
    drv_click(about, 1);
    EXPECT_TRUE(drv_waitGone(about, DRV_WAIT_MS));
}

TEST_F(UpdaterWindow, UnboundLibraryEndsWithMessageAndCodeOne)
{
    struct Case {
        const char* library; // nullptr: no ormi_control.dll at all
        const char* message;
    } cases[] = {
        { nullptr, "FEHLER: Datei ormi_control.dll nicht gefunden!" },
        { "updater_fake_control_nostart.dll", "ERROR: one or more funktion(s) not found in DLL!" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.library ? c.library : "no library");
        DeleteFileA((std::string(folder) + "\\ormi_control.dll").c_str());
        if (c.library)
            useLibrary(c.library);
        writeFile(settingsName, fullSettings);
        start();
        EXPECT_EQ(confirmBox(caption), c.message);
        EXPECT_EQ(exitCode(), 1u);
        // A failed start writes nothing: the password stays.
        EXPECT_EQ(readFile(settingsName), fullSettings);
        drv_end(&process);
    }
}

#ifdef HAVE_REAL_CONTROL_LIBRARY
TEST_F(UpdaterWindow, RealLibraryBinds)
{
    useLibrary("ormi_control.dll");
    start();
    EXPECT_EQ(drv_findMessageBox(process.dwProcessId, caption, 1500), (HWND)NULL) << "binding the real library failed";
    EXPECT_EQ(field(window, 1001), "no entry");
    drv_postCommand(window, 1050);
    EXPECT_EQ(exitCode(), 0u);
}
#endif

} // namespace
