// The program's dialog templates as its resources carry them: every control
// of the main window and of the About box with its number, kind, position,
// style and text, read from the binary template.
#include "windriver.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Control {
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::string className; // "button", "edit", "static" or the class text
    std::string text;      // "#<n>" for an ordinal
};

struct Dialog {
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string menu, className, title, font;
    int pointSize = 0;
    std::vector<Control> controls;
};

// Texts in the template are UTF-16; they are compared as Windows-1252.
std::string ansi(const WCHAR* text)
{
    char out[512];
    int n = WideCharToMultiByte(1252, 0, text, -1, out, sizeof out, NULL, NULL);
    return n > 0 ? std::string(out) : std::string();
}

// Reads a text-or-ordinal field and moves behind it.
std::string nameOrOrdinal(const WORD*& p)
{
    if (*p == 0) {
        ++p;
        return "";
    }
    if (*p == 0xFFFF) {
        WORD ordinal = p[1];
        p += 2;
        return "#" + std::to_string(ordinal);
    }
    std::string text = ansi((const WCHAR*)p);
    while (*p++)
        ;
    return text;
}

bool parseDialog(HMODULE module, const char* name, Dialog* dialog)
{
    HRSRC found = FindResourceA(module, name, (LPCSTR)RT_DIALOG);
    if (found == NULL)
        return false;
    const BYTE* data = (const BYTE*)LockResource(LoadResource(module, found));
    const DLGTEMPLATE* header = (const DLGTEMPLATE*)data;
    dialog->style = header->style;
    dialog->x = header->x;
    dialog->y = header->y;
    dialog->cx = header->cx;
    dialog->cy = header->cy;
    // DLGTEMPLATE is 18 bytes; the texts follow at once.
    const WORD* p = (const WORD*)(data + 18);
    dialog->menu = nameOrOrdinal(p);
    dialog->className = nameOrOrdinal(p);
    dialog->title = nameOrOrdinal(p);
    if (dialog->style & DS_SETFONT) {
        dialog->pointSize = *p++;
        dialog->font = nameOrOrdinal(p);
    }
    for (int i = 0; i < header->cdit; ++i) {
        p = (const WORD*)(((ULONG_PTR)p + 3) & ~(ULONG_PTR)3);
        const DLGITEMTEMPLATE* item = (const DLGITEMTEMPLATE*)p;
        Control c;
        c.style = item->style;
        c.x = item->x;
        c.y = item->y;
        c.cx = item->cx;
        c.cy = item->cy;
        c.id = item->id;
        p = (const WORD*)((const BYTE*)p + 18);
        c.className = nameOrOrdinal(p);
        if (c.className == "#128")
            c.className = "button";
        else if (c.className == "#129")
            c.className = "edit";
        else if (c.className == "#130")
            c.className = "static";
        c.text = nameOrOrdinal(p);
        WORD extra = *p++;
        p = (const WORD*)((const BYTE*)p + extra);
        dialog->controls.push_back(c);
    }
    return true;
}

struct Templates : ::testing::Test {
    HMODULE program = NULL;
    void SetUp() override
    {
        char own[MAX_PATH];
        ASSERT_TRUE(drv_ownFolder(own, sizeof own));
        std::string path = std::string(own) + "\\ORMI_updater.exe";
        program = LoadLibraryExA(path.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(program, (HMODULE)NULL);
    }
    void TearDown() override
    {
        FreeLibrary(program);
    }
};

// Kinds of the main window's controls.
enum Kind { Group, Label, Field, Password, Shown, Button, Progress };

TEST_F(Templates, MainWindowCarriesEveryControlInTabOrder)
{
    Dialog d;
    ASSERT_TRUE(parseDialog(program, "TESTBOX", &d));
    EXPECT_EQ(d.x, 100);
    EXPECT_EQ(d.y, 100);
    EXPECT_EQ(d.cx, 382);
    EXPECT_EQ(d.cy, 342);
    EXPECT_EQ(d.menu, "TESTBOX");
    EXPECT_EQ(d.className, "TESTBOX");
    EXPECT_EQ(d.title, "ORMI updater v1.2");
    EXPECT_EQ(d.font, "MS Sans Serif");
    EXPECT_EQ(d.pointSize, 8);
    const DWORD frame = DS_CENTER | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    EXPECT_EQ(d.style & frame, frame);
    EXPECT_EQ(d.style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_VISIBLE), 0u);

    struct Expected {
        int id;
        Kind kind;
        const char* text;
        int x, y, cx, cy;
    } expected[] = {
        { 1019, Group, "1. Verbindung zum ORMI/ORMI-M prüfen", 15, 20, 351, 71 },
        { 1001, Field, "", 120, 36, 90, 12 },
        { 1020, Label, "IP-Adresse oder Name", 30, 36, 78, 12 },
        { 1021, Label, "Nutzer", 30, 54, 78, 12 },
        { 1002, Field, "", 120, 54, 90, 12 },
        { 1022, Label, "Passwort", 30, 72, 60, 12 },
        { 1003, Password, "", 120, 72, 90, 12 },
        { 1023, Label, "Status:", 270, 60, 39, 9 },
        { 1004, Shown, "", 270, 72, 84, 12 },
        { 1005, Button, "Check", 270, 36, 60, 12 },
        { 1024, Group, "2. Package laden", 12, 102, 354, 84 },
        { 1025, Label, "Datei", 30, 138, 24, 8 },
        { 1006, Field, "", 60, 138, 150, 12 },
        { 1007, Button, "Datei ...", 216, 138, 36, 12 },
        { 1008, Button, "Laden ...", 30, 162, 60, 12 },
        { 1026, Label, "Status:", 270, 150, 36, 8 },
        { 1009, Shown, "", 270, 162, 84, 12 },
        { 1015, Progress, "", 102, 162, 102, 12 },
        { 1027, Label, "Gerät", 30, 120, 30, 8 },
        { 1011, Shown, "", 60, 120, 150, 12 },
        { 1028, Group, "3. Package installieren", 12, 198, 354, 54 },
        { 1030, Group, "4. Gerät neu starten (reboot)", 12, 264, 354, 54 },
        { 1012, Button, "Installation starten", 30, 216, 72, 12 },
        { 1029, Label, "Status:", 216, 216, 30, 8 },
        { 1013, Shown, "", 216, 228, 138, 12 },
        { 1014, Progress, "", 114, 216, 90, 12 },
        { 1016, Button, "Reboot", 30, 282, 60, 12 },
        { 1017, Progress, "", 102, 282, 102, 12 },
        { 1031, Label, "Status:", 216, 282, 30, 8 },
        { 1018, Shown, "", 216, 294, 138, 14 },
    };
    ASSERT_EQ(d.controls.size(), sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < d.controls.size(); ++i) {
        const Control& c = d.controls[i];
        const Expected& e = expected[i];
        SCOPED_TRACE("control " + std::to_string(e.id));
        EXPECT_EQ(c.id, e.id);
        EXPECT_EQ(c.text, e.text);
        EXPECT_EQ(c.x, e.x);
        EXPECT_EQ(c.y, e.y);
        EXPECT_EQ(c.cx, e.cx);
        EXPECT_EQ(c.cy, e.cy);
        EXPECT_EQ(c.style & WS_DISABLED, 0u);
        EXPECT_TRUE(c.style & WS_VISIBLE);
        bool edit = e.kind == Field || e.kind == Password || e.kind == Shown;
        if (edit) {
            EXPECT_EQ(c.className, "edit");
            EXPECT_EQ(c.style & (WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP),
                      (DWORD)(WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP));
            EXPECT_EQ((c.style & ES_PASSWORD) != 0, e.kind == Password);
            EXPECT_EQ((c.style & ES_READONLY) != 0, e.kind == Shown);
        } else if (e.kind == Button) {
            EXPECT_EQ(c.className, "button");
            EXPECT_EQ(c.style & 0x0F, (DWORD)BS_PUSHBUTTON);
            EXPECT_TRUE(c.style & WS_TABSTOP);
        } else if (e.kind == Group) {
            EXPECT_EQ(c.className, "button");
            EXPECT_EQ(c.style & 0x0F, (DWORD)BS_GROUPBOX);
        } else if (e.kind == Label) {
            EXPECT_EQ(c.className, "static");
        } else {
            // Class names do not depend on case.
            EXPECT_EQ(lstrcmpiA(c.className.c_str(), PROGRESS_CLASSA), 0) << c.className;
            EXPECT_TRUE(c.style & WS_BORDER);
        }
    }
}

TEST_F(Templates, AboutBoxHasIconNotesAndOnlyOk)
{
    Dialog d;
    ASSERT_TRUE(parseDialog(program, MAKEINTRESOURCEA(600), &d));
    EXPECT_EQ(d.cx, 180);
    EXPECT_EQ(d.cy, 160);
    EXPECT_EQ(d.title, "About ...");
    EXPECT_EQ(d.font, "MS Sans Serif");
    EXPECT_EQ(d.pointSize, 8);
    const DWORD frame = DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION;
    EXPECT_EQ(d.style & frame, frame);
    EXPECT_EQ(d.style & WS_SYSMENU, 0u); // no close box
    ASSERT_EQ(d.controls.size(), 8u);

    const Control& icon = d.controls[0];
    EXPECT_EQ(icon.className, "static");
    EXPECT_EQ(icon.style & SS_TYPEMASK, (DWORD)SS_ICON);
    EXPECT_EQ(icon.text, "#11");
    EXPECT_EQ(icon.x, 12);
    EXPECT_EQ(icon.y, 7);

    struct Line {
        const char* text;
        int x, y, cx, cy;
    } lines[] = {
        { "ORMI updater  v1.2", 50, 12, 80, 10 },  { nullptr, 7, 30, 166, 8 }, { nullptr, 7, 40, 166, 8 },
        { "____________________", 7, 50, 166, 8 }, { nullptr, 7, 60, 166, 8 },
    };
    for (int i = 0; i < 5; ++i) {
        const Control& c = d.controls[1 + i];
        SCOPED_TRACE("line " + std::to_string(i));
        EXPECT_EQ(c.className, "static");
        EXPECT_EQ(c.style & SS_TYPEMASK, (DWORD)SS_CENTER);
        if (lines[i].text)
            EXPECT_EQ(c.text, lines[i].text);
        else
            EXPECT_FALSE(c.text.empty());
        EXPECT_EQ(c.x, lines[i].x);
        EXPECT_EQ(c.y, lines[i].y);
        EXPECT_EQ(c.cx, lines[i].cx);
        EXPECT_EQ(c.cy, lines[i].cy);
    }
    EXPECT_TRUE(d.controls[1].style & WS_BORDER);

    const Control& notes = d.controls[6];
    EXPECT_EQ(notes.id, 1600);
    EXPECT_EQ(notes.className, "edit");
    const DWORD notesStyle = ES_MULTILINE | ES_READONLY | WS_BORDER | WS_VSCROLL;
    EXPECT_EQ(notes.style & notesStyle, notesStyle);
    EXPECT_EQ(notes.x, 20);
    EXPECT_EQ(notes.y, 80);
    EXPECT_EQ(notes.cx, 140);
    EXPECT_EQ(notes.cy, 40);

    const Control& ok = d.controls[7];
    EXPECT_EQ(ok.id, IDOK);
    EXPECT_EQ(ok.text, "OK");
    EXPECT_EQ(ok.style & 0x0F, (DWORD)BS_DEFPUSHBUTTON);
    EXPECT_EQ(ok.x, 65);
    EXPECT_EQ(ok.y, 135);
    EXPECT_EQ(ok.cx, 50);
    EXPECT_EQ(ok.cy, 14);
}

TEST_F(Templates, IconManifestAndVersionArePresent)
{
    HRSRC icon = FindResourceA(program, MAKEINTRESOURCEA(11), (LPCSTR)RT_GROUP_ICON);
    ASSERT_NE(icon, (HRSRC)NULL);
    // One image of 32 by 32.
    const BYTE* group = (const BYTE*)LockResource(LoadResource(program, icon));
    EXPECT_EQ(*(const WORD*)(group + 4), 1);
    EXPECT_EQ(group[6], 32);
    EXPECT_EQ(group[7], 32);

    HRSRC manifest = FindResourceA(program, MAKEINTRESOURCEA(1), (LPCSTR)RT_MANIFEST);
    ASSERT_NE(manifest, (HRSRC)NULL);
    std::string text((const char*)LockResource(LoadResource(program, manifest)), SizeofResource(program, manifest));
    EXPECT_NE(text.find("name=\"Microsoft.Windows.Common-Controls\""), std::string::npos);
    EXPECT_NE(text.find("version=\"6.0.0.0\""), std::string::npos);

    EXPECT_NE(FindResourceA(program, MAKEINTRESOURCEA(1), (LPCSTR)RT_VERSION), (HRSRC)NULL);
}

} // namespace
