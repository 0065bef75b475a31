// The updater's toolkits in-process: settings file access, the legal notes
// reader, the shell and process launchers with their messages, and the
// common controls it creates.
#include "scratch_folder.h"
#include "updater.h"
#include "windriver.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

// Message boxes close at once under Wine.
const int unmanaged = drv_unmanageSelfUnderWine();

// A scratch folder that also knows the folder of the test program itself.
struct Scratch : ScratchFolder {
    char own[MAX_PATH] = {};
    void SetUp() override
    {
        ASSERT_TRUE(drv_ownFolder(own, sizeof own));
        ScratchFolder::SetUp();
    }
};

// Runs call on this thread while another answers every message box it shows;
// gives the caption and text of the last box ("" when none came). The
// platform may show a box of its own before ours.
template <typename Call> std::string withBox(Call call, int* result)
{
    std::string seen;
    std::atomic<bool> done{ false };
    std::thread answer([&] {
        while (!done) {
            HWND box = drv_findMessageBox(GetCurrentProcessId(), NULL, 50);
            if (box == NULL)
                continue;
            char caption[256], text[DRV_TEXT_SIZE];
            drv_getText(box, caption, sizeof caption);
            drv_messageBoxText(box, text, sizeof text);
            seen = std::string(caption) + "|" + text;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            drv_waitGone(box, DRV_WAIT_MS);
        }
    });
    *result = call();
    done = true;
    answer.join();
    return seen;
}

using Settings = Scratch;

TEST_F(Settings, ReadStringTellsMissingFromPresent)
{
    put("s.ini", "[IP]\r\nip_address=10.1.2.3\r\nempty=\r\nliteral=no entry\r\n"
                 "[LOGIN]\r\nusername=sehr_langer_name\r\n");
    std::string file = path("s.ini");
    struct Case {
        const char *section, *key;
        int size;
        int result;
        const char* out;
    } cases[] = {
        { "IP", "ip_address", 255, 1, "10.1.2.3" }, { "IP", "empty", 255, 1, "" },
        { "IP", "missing", 255, 0, "no entry" },    { "NOSECTION", "ip_address", 255, 0, "no entry" },
        { "IP", "literal", 255, 0, "no entry" }, // indistinguishable by design
        { "LOGIN", "username", 5, 1, "sehr" },   // at most size - 1 characters
    };
    for (const Case& c : cases) {
        char out[300];
        memset(out, '#', sizeof out);
        EXPECT_EQ(settings_readString(file.c_str(), c.section, c.key, out, c.size), c.result) << c.key;
        EXPECT_STREQ(out, c.out) << c.key;
    }
    char out[32];
    EXPECT_EQ(settings_readString(path("absent.ini").c_str(), "IP", "ip_address", out, 32), 0);
    EXPECT_STREQ(out, "no entry");
}

TEST_F(Settings, WriteStringKeepsEmptiedKeys)
{
    put("s.ini", "[LOGIN]\r\nusername=admin\r\npassword=geheim\r\n");
    std::string file = path("s.ini");
    EXPECT_EQ(settings_writeString(file.c_str(), "LOGIN", "password", ""), 1);
    EXPECT_EQ(settings_writeString(file.c_str(), "IP", "ip_address", "192.168.0.7"), 1);
    EXPECT_EQ(contents("s.ini"), "[LOGIN]\r\nusername=admin\r\npassword=\r\n[IP]\r\nip_address=192.168.0.7\r\n");
    EXPECT_EQ(settings_writeString(path("no\\such\\s.ini").c_str(), "IP", "a", "b"), 0);
}

TEST_F(Settings, SectionsEntriesAndLists)
{
    put("s.ini", "[IP]\r\nip_address=1.2.3.4\r\nip_port=8080\r\n[LOGIN]\r\nuser=a=b\r\n"
                 "[CONTROL]\r\n");
    std::string file = path("s.ini");
    char list[256];
    int count = -1;
    EXPECT_EQ(settings_sectionNames(file.c_str(), list, sizeof list, &count), 1);
    EXPECT_EQ(count, 3);
    char text[64];
    EXPECT_EQ(settings_nthText(list, 1, text, sizeof text), 1);
    EXPECT_STREQ(text, "LOGIN");
    EXPECT_EQ(settings_nthText(list, 3, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(settings_nthText(list, -1, text, sizeof text), 0);

    EXPECT_EQ(settings_readSection(file.c_str(), "IP", list, sizeof list, &count), 1);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(settings_readSection(file.c_str(), "CONTROL", list, sizeof list, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(settings_sectionNames(path("absent.ini").c_str(), list, sizeof list, &count), 0);
    EXPECT_EQ(count, 0);

    struct Split {
        const char* entry;
        int keySize, result;
        const char *key, *value;
    } splits[] = {
        { "ip_port=8080", 32, 1, "ip_port", "8080" },
        { "user=a=b", 32, 1, "user", "a=b" }, // at the first equals sign
        { "=value", 32, 1, "", "value" },
        { "novalue", 32, 0, "", "" },
        { "ip_address=1", 3, 1, "ip", "1" }, // the key is cut to its buffer
    };
    for (const Split& s : splits) {
        char key[32] = "", value[32] = "";
        EXPECT_EQ(settings_splitEntry(s.entry, key, s.keySize, value, sizeof value), s.result) << s.entry;
        EXPECT_STREQ(key, s.key) << s.entry;
        EXPECT_STREQ(value, s.value) << s.entry;
    }

    int value = 0;
    EXPECT_EQ(settings_readInt(file.c_str(), "IP", "ip_port", 80, &value), 1);
    EXPECT_EQ(value, 8080);
    EXPECT_EQ(settings_readInt(file.c_str(), "IP", "timeout", 1, &value), 0);
    EXPECT_EQ(value, 1);
}

using Documents = Scratch;

TEST_F(Documents, LegalNotesFromTheCurrentFolder)
{
    struct Case {
        const char* file; // nullptr: no file
        int size;
        std::string shown;
    } cases[] = {
        { "Hinweise für Nutzer\r\n§ 1 Gewähr", 2000, "Hinweise für Nutzer\r\n§ 1 Gewähr" },
        { "", 2000, "" },
        { "0123456789", 5, "0123" }, // cut to the buffer, still terminated
        { nullptr, 2000, "\\Rechtliche Hinweise.txt - File not found!" },
        { nullptr, 10, "\\Rechtlic" },
    };
    ASSERT_TRUE(SetCurrentDirectoryA(folder));
    for (const Case& c : cases) {
        DeleteFileA(path("Rechtliche Hinweise.txt").c_str());
        if (c.file)
            put("Rechtliche Hinweise.txt", c.file);
        char out[2001];
        memset(out, '#', sizeof out);
        readLegalNotes(out, c.size);
        EXPECT_EQ(std::string(out), c.shown) << c.shown;
        EXPECT_EQ(out[c.size], '#') << "wrote behind the buffer";
    }
}

TEST_F(Documents, LegalNotesInAFolderTooLongForTheirPath)
{
    // The folder fits a path, the folder and the file name together do not.
    std::string deep = std::string(folder) + "\\" + std::string(240 - strlen(folder), 'd');
    ASSERT_LT(deep.size(), 248u);
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), NULL)) << GetLastError();
    ASSERT_TRUE(SetCurrentDirectoryA(deep.c_str()));
    char out[2001];
    memset(out, '#', sizeof out);
    readLegalNotes(out, 2000);
    EXPECT_STREQ(out, "\\Rechtliche Hinweise.txt - File not found!");
    SetCurrentDirectoryA(startFolder);
}

TEST_F(Documents, ShellStartReportsMissingFile)
{
    ASSERT_TRUE(SetCurrentDirectoryA(folder));
    struct Case {
        const char* file;
        const char* box;
    } cases[] = {
        { "ORMI_updater_ger.pdf", "shellStartAppl|The specified file was not found." },
        { "no_such_folder\\x.pdf", "shellStartAppl|The specified path was not found." },
    };
    for (const Case& c : cases) {
        int result = -1;
        std::string box = withBox([&] { return shellStartAppl(c.file, NULL, SW_SHOWNORMAL); }, &result);
        EXPECT_EQ(result, 0) << c.file;
        // Wine may map a missing folder to "file not found"; both name the cause.
        if (strchr(c.file, '\\'))
            EXPECT_TRUE(box == c.box || box == cases[0].box) << box;
        else
            EXPECT_EQ(box, c.box);
    }
}

TEST_F(Documents, OldStartsReportTheirFailures)
{
    ASSERT_TRUE(SetCurrentDirectoryA(folder));
    int result = -1;
    std::string box = withBox([] { return startAppWithWinExec("no_such_program.exe", SW_SHOW); }, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(box, "startAppWithWinExec|The specified file was not found.");
    box = withBox([] { return startAppWithLoadModule("no_such_program.exe", SW_SHOW); }, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(box, "startAppWithLoadModule|The specified file was not found.");

    SHELLEXECUTEINFOA record = {};
    box = withBox([&] { return shellStopApplication(&record); }, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(box, "shellStopApplication|Programm konnte nicht gestoppt werden!");
    // The shell shows its own error box first and may change the last error
    // with it, so only the result is certain here.
    box = withBox([&] { return shellStartApplication(&record, "no_such.pdf", NULL, SW_SHOW); }, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(record.hProcess, (HANDLE)NULL);
    EXPECT_EQ(record.cbSize, sizeof(SHELLEXECUTEINFOA));
#ifndef _WIN64
    EXPECT_EQ(record.cbSize, 60u);
#endif
}

TEST_F(Documents, StartedProcessRunsUntilStopped)
{
    // The helper idles until it is stopped.
    std::string helper = std::string(own) + "\\updater_idle_helper.exe";
    char commandLine[MAX_PATH + 8];
    snprintf(commandLine, sizeof commandLine, "\"%s\" 30", helper.c_str());
    PROCESS_INFORMATION process;
    ASSERT_EQ(startApplication(&process, helper.c_str(), commandLine, SW_HIDE), 1);
    EXPECT_EQ(applicationRunning(&process), 1);
    HANDLE watch = OpenProcess(SYNCHRONIZE, FALSE, process.dwProcessId);
    EXPECT_EQ(stopApplication(&process), 1);
    ASSERT_NE(watch, (HANDLE)NULL);
    EXPECT_EQ(WaitForSingleObject(watch, 5000), WAIT_OBJECT_0);
    CloseHandle(watch);
    EXPECT_EQ(applicationRunning(&process), 0);

    PROCESS_INFORMATION missing;
    char badLine[] = "no_such_program.exe";
    EXPECT_EQ(startApplication(&missing, NULL, badLine, SW_HIDE), 0);

    SHELLEXECUTEINFOA record;
    ASSERT_EQ(shellStartApplication(&record, helper.c_str(), "30", SW_HIDE), 1);
    ASSERT_NE(record.hProcess, (HANDLE)NULL);
    EXPECT_EQ(shellApplicationRunning(&record), 1);
    HANDLE process2 = NULL;
    DuplicateHandle(GetCurrentProcess(), record.hProcess, GetCurrentProcess(), &process2, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    EXPECT_EQ(shellStopApplication(&record), 1);
    EXPECT_EQ(WaitForSingleObject(process2, 5000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(process2, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(process2);
    EXPECT_EQ(record.hProcess, (HANDLE)NULL);
}

std::string menuText(HMENU menu, UINT item, UINT by)
{
    char text[64] = "<none>";
    GetMenuStringA(menu, item, text, sizeof text, by);
    return text;
}

using Menu = Scratch;

TEST_F(Menu, MainMenuIsRenamedAndKeepsItsItems)
{
    // The menu as the program's resources carry it.
    std::string program = std::string(own) + "\\ORMI_updater.exe";
    HMODULE resources = LoadLibraryExA(program.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(resources, (HMODULE)NULL);
    HMENU menu = LoadMenuA(resources, "TESTBOX");
    ASSERT_NE(menu, (HMENU)NULL);
    struct Item {
        int drop; // -1: the menu bar
        UINT item, by;
        const char *before, *after;
    } items[] = {
        { -1, 0, MF_BYPOSITION, "File", "Datei" },          { -1, 1, MF_BYPOSITION, "&?", "&?" },
        { -1, 1050, MF_BYCOMMAND, "E&xit", "Beenden" },     { -1, 1500, MF_BYCOMMAND, "&Help", "Hilfe" },
        { -1, 1510, MF_BYCOMMAND, "&About...", "Info..." }, { 0, 0, MF_BYPOSITION, "E&xit", "Beenden" },
        { 1, 0, MF_BYPOSITION, "&Help", "Hilfe" },          { 1, 1, MF_BYPOSITION, "&About...", "Info..." },
    };
    auto holder = [&](int drop) { return drop < 0 ? menu : GetSubMenu(menu, drop); };
    for (const Item& i : items)
        EXPECT_EQ(menuText(holder(i.drop), i.item, i.by), i.before) << i.item;
    renameMainMenu(menu);
    for (const Item& i : items)
        EXPECT_EQ(menuText(holder(i.drop), i.item, i.by), i.after) << i.item;
    EXPECT_EQ(GetMenuItemCount(menu), 2);
    EXPECT_EQ(GetMenuItemCount(GetSubMenu(menu, 0)), 1);
    EXPECT_EQ(GetMenuItemCount(GetSubMenu(menu, 1)), 2);
    EXPECT_EQ(GetMenuItemID(GetSubMenu(menu, 1), 1), 1510u);
    DestroyMenu(menu);
    FreeLibrary(resources);
}

struct Controls : ::testing::Test {
    HWND parent = NULL;
    void SetUp() override
    {
        parent = CreateWindowExA(0, "STATIC", "parent", WS_OVERLAPPEDWINDOW, 0, 0, 500, 300, NULL, NULL,
                                 GetModuleHandleA(NULL), NULL);
        ASSERT_NE(parent, (HWND)NULL);
    }
    void TearDown() override
    {
        DestroyWindow(parent);
    }
    static RECT placeIn(HWND child)
    {
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(NULL, GetParent(child), (POINT*)&r, 2);
        return r;
    }
};

TEST_F(Controls, CreatedControlsHaveTheirPlaceAndSettings)
{
    HINSTANCE instance = GetModuleHandleA(NULL);
    HWND bar = ctrl_createProgressBar(parent, instance, 700);
    ASSERT_NE(bar, (HWND)NULL);
    EXPECT_EQ(ctrl_progressBar, bar);
    EXPECT_EQ(GetDlgCtrlID(bar), 700);
    RECT r = placeIn(bar);
    EXPECT_EQ(r.left, 30);
    EXPECT_EQ(r.top, 24);
    EXPECT_EQ(r.right - r.left, 132);
    EXPECT_EQ(r.bottom - r.top, 12);
    EXPECT_EQ(ctrl_bindProgressBar(parent, 700), bar);

    HWND track = ctrl_createTrackbar(parent, instance, 701);
    ASSERT_NE(track, (HWND)NULL);
    LONG style = GetWindowLongA(track, GWL_STYLE);
    EXPECT_EQ(style & (TBS_AUTOTICKS | TBS_BOTH | TBS_ENABLESELRANGE), TBS_AUTOTICKS | TBS_BOTH | TBS_ENABLESELRANGE);
    EXPECT_EQ(ctrl_bindTrackbar(parent, 701), track);
    EXPECT_EQ(ctrl_trackbar, track);

    HWND edit =
        CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE, 10, 100, 80, 20, parent, (HMENU)702, instance, NULL);
    HWND updown = ctrl_createUpDown(parent, instance, 703, edit);
    ASSERT_NE(updown, (HWND)NULL);
    EXPECT_EQ(SendMessageA(updown, UDM_GETRANGE, 0, 0), MAKELONG(10, 0));
    EXPECT_EQ(LOWORD(SendMessageA(updown, UDM_GETPOS, 0, 0)), 5);
    // The position goes into the buddy as a number.
    char text[16];
    GetWindowTextA(edit, text, sizeof text);
    EXPECT_STREQ(text, "5");

    HWND tooltip = ctrl_createTooltip(parent, instance);
    ASSERT_NE(tooltip, (HWND)NULL);
    EXPECT_TRUE(GetWindowLongA(tooltip, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(ctrl_addTooltip(tooltip, edit, instance, "Hilfe zum Feld"), 1);
    EXPECT_EQ(SendMessageA(tooltip, TTM_GETTOOLCOUNT, 0, 0), 1);
    DestroyWindow(tooltip);
}

TEST_F(Controls, StatusBarSplitsIntoFifths)
{
    HWND status = ctrl_createStatusBar(parent, GetModuleHandleA(NULL), 710);
    ASSERT_NE(status, (HWND)NULL);
    char text[64];
    GetWindowTextA(status, text, sizeof text);
    EXPECT_STREQ(text, "Statusbar erzeugt");
    ASSERT_EQ(ctrl_splitStatusBar(status, parent), 1);
    RECT client;
    GetClientRect(parent, &client);
    int edges[8] = {};
    ASSERT_EQ(SendMessageA(status, SB_GETPARTS, 8, (LPARAM)edges), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(edges[i], client.right * (i + 1) / 5) << "part " << i;
}

} // namespace
