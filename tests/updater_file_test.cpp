// File and dialog helpers: the handle family and its messages, whole-file
// and window-file operations, folder listings, search path, extension and
// text checks, and the file dialog record.
#include "file.h"
#include "scratch_folder.h"
#include "windriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

// Message boxes close at once under Wine.
const int unmanaged = drv_unmanageSelfUnderWine();

// Answers every message box of this process as told and records what it
// showed; a box that nobody expects would otherwise block the test.
struct BoxWatcher {
    struct Box {
        std::string caption, text;
    };
    std::vector<int> answers; // one per box; IDOK once they run out
    std::vector<Box> seen;
    std::mutex lock;
    std::atomic<bool> stop{ false };
    std::thread thread;

    explicit BoxWatcher(std::vector<int> script = {}) : answers(std::move(script))
    {
        thread = std::thread([this] { run(); });
    }
    ~BoxWatcher()
    {
        stop = true;
        thread.join();
    }
    void run()
    {
        while (!stop) {
            HWND box = drv_findWindow(GetCurrentProcessId(), "#32770", NULL, 0);
            if (box == NULL) {
                Sleep(10);
                continue;
            }
            Box b;
            char text[DRV_TEXT_SIZE];
            drv_getText(box, text, sizeof text);
            b.caption = text;
            drv_messageBoxText(box, text, sizeof text);
            b.text = text;
            int answer;
            {
                std::lock_guard<std::mutex> guard(lock);
                answer = seen.size() < answers.size() ? answers[seen.size()] : IDOK;
                seen.push_back(b);
            }
            HWND button = GetDlgItem(box, answer);
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), (LPARAM)button);
            drv_waitGone(box, DRV_WAIT_MS);
        }
    }
    std::vector<Box> boxes()
    {
        std::lock_guard<std::mutex> guard(lock);
        return seen;
    }
};

struct FileHelpers : ScratchFolder {
    void makeDir(const char* name)
    {
        ASSERT_TRUE(CreateDirectoryA(path(name).c_str(), NULL));
    }
    std::string currentFolder()
    {
        char current[MAX_PATH];
        GetCurrentDirectoryA(sizeof current, current);
        return current;
    }
};

std::vector<std::string> nameList(const char* list)
{
    std::vector<std::string> names;
    for (const char* p = list; *p; p += strlen(p) + 1)
        names.push_back(p);
    return names;
}

TEST_F(FileHelpers, OpenAndCreateReportHandleAndSize)
{
    BoxWatcher watcher;
    HANDLE handle = NULL;
    DWORD size = 77;
    EXPECT_EQ(OpenFileX(path("missing.bin").c_str(), &handle, &size), 0);
    EXPECT_EQ(handle, INVALID_HANDLE_VALUE);

    put("data.bin", "0123456789");
    ASSERT_EQ(OpenFileX(path("data.bin").c_str(), &handle, &size), 1);
    EXPECT_EQ(size, 10u);
    char buffer[32] = {};
    DWORD countRead = 0;
    // A read shorter than asked is a success; the count tells.
    EXPECT_EQ(readFileX(handle, buffer, sizeof buffer, &countRead), 1);
    EXPECT_EQ(countRead, 10u);
    EXPECT_EQ(std::string(buffer, countRead), "0123456789");
    EXPECT_EQ(closeFileX(handle), 1);

    // Creating replaces the old contents.
    ASSERT_EQ(createFileX(path("data.bin").c_str(), &handle, &size), 1);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(writeFileX(handle, "abc", 3), 1);
    EXPECT_EQ(closeFileX(handle), 1);
    EXPECT_EQ(contents("data.bin"), "abc");

    EXPECT_EQ(createFileX(path("no\\such\\folder.bin").c_str(), &handle, &size), 0);
    EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(watcher.boxes().empty());
}

TEST_F(FileHelpers, FailedReadAndWriteShowTheirError)
{
    put("data.bin", "0123456789");
    struct Case {
        const char* what;
        DWORD access;
        bool write;
        const char* text;
    } cases[] = {
        { "write to a read-only handle", GENERIC_READ, true, "Funktion: writeFileX\nFehler- Nr.: 5" },
        { "read from a write-only handle", GENERIC_WRITE, false, "Funktion: readFileX\nFehler- Nr.: 5" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HANDLE handle = CreateFileA(path("data.bin").c_str(), c.access, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                    OPEN_EXISTING, 0, NULL);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        int result;
        {
            BoxWatcher watcher;
            char buffer[16];
            DWORD countRead = 99;
            result = c.write ? writeFileX(handle, "xyz", 3) : readFileX(handle, buffer, sizeof buffer, &countRead);
            auto boxes = watcher.boxes();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].caption, "ERROR");
            EXPECT_EQ(boxes[0].text, c.text);
            if (!c.write) {
                EXPECT_EQ(countRead, 0u);
            }
        }
        EXPECT_EQ(result, 0);
        CloseHandle(handle);
    }
    EXPECT_EQ(contents("data.bin"), "0123456789");
}

TEST_F(FileHelpers, ShortWriteShowsTheCounts)
{
    // A non-blocking pipe with a small buffer takes fewer bytes than asked.
    const char* name = "\\\\.\\pipe\\ormi_file_short_write";
    HANDLE server = CreateNamedPipeA(name, PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_NOWAIT, 1, 64, 64, 0, NULL);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    HANDLE client = CreateFileA(name, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(client, INVALID_HANDLE_VALUE);
    DWORD mode = PIPE_NOWAIT;
    SetNamedPipeHandleState(client, &mode, NULL, NULL);
    std::string data(100000, 'x');
    BoxWatcher watcher;
    int result = writeFileX(client, data.data(), (DWORD)data.size());
    auto boxes = watcher.boxes();
    CloseHandle(client);
    CloseHandle(server);
    if (result == 1)
        GTEST_SKIP() << "this platform took the whole write";
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "ERROR");
    // The count written depends on the pipe; the wording and the asked count do not.
    EXPECT_EQ(boxes[0].text.rfind("Funktion: writeFileX\nNur ", 0), 0u) << boxes[0].text;
    EXPECT_NE(boxes[0].text.find(" Bytes von 100000 geschrieben!"), std::string::npos) << boxes[0].text;
}

TEST_F(FileHelpers, WholeFileReadsOnlyWhenItFits)
{
    put("ten.bin", std::string("0123456\0"
                               "89",
                               10));
    struct Case {
        DWORD bufferSize;
        int result;
        std::string buffer;
    } cases[] = {
        { 10, 1,
          std::string("0123456\0"
                      "89",
                      10) +
              "--" },
        { 64, 1,
          std::string("0123456\0"
                      "89",
                      10) +
              "--" },
        { 9, 0, std::string(12, '-') },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bufferSize);
        char buffer[64];
        memset(buffer, '-', sizeof buffer);
        DWORD size = 0;
        EXPECT_EQ(readFileWhole(path("ten.bin").c_str(), buffer, c.bufferSize, &size), c.result);
        EXPECT_EQ(size, 10u);
        EXPECT_EQ(std::string(buffer, 12), c.buffer);
    }
    char buffer[4];
    DWORD size = 0;
    EXPECT_EQ(readFileWhole(path("missing.bin").c_str(), buffer, sizeof buffer, &size), 0);

    put("old.txt", "a much longer old text");
    EXPECT_EQ(writeFileWhole(path("old.txt").c_str(), "new", 3), 1);
    EXPECT_EQ(contents("old.txt"), "new");
    EXPECT_EQ(writeFileWhole(path("no\\such\\x.txt").c_str(), "new", 3), 0);
}

TEST_F(FileHelpers, WindowTextGoesToAndFromFiles)
{
    HWND edit = CreateWindowExA(0, "EDIT", "", ES_MULTILINE, 0, 0, 100, 100, NULL, NULL, GetModuleHandleA(NULL), NULL);
    ASSERT_NE(edit, (HWND)NULL);
    EXPECT_EQ(saveWindowToFile(edit, path("empty.txt").c_str()), 1);
    EXPECT_EQ(contents("empty.txt"), "");

    put("notes.txt", "Zeile 1\r\nGröße: 5 Ä");
    EXPECT_EQ(loadFileToWindow(edit, path("notes.txt").c_str()), 1);
    char text[64];
    GetWindowTextA(edit, text, sizeof text);
    EXPECT_STREQ(text, "Zeile 1\r\nGröße: 5 Ä");
    EXPECT_EQ(saveWindowToFile(edit, path("copy.txt").c_str()), 1);
    EXPECT_EQ(contents("copy.txt"), "Zeile 1\r\nGröße: 5 Ä");

    EXPECT_EQ(loadFileToWindow(edit, path("missing.txt").c_str()), 0);
    GetWindowTextA(edit, text, sizeof text);
    EXPECT_STREQ(text, "Zeile 1\r\nGröße: 5 Ä");
    EXPECT_EQ(saveWindowToFile(edit, path("no\\such\\x.txt").c_str()), 0);
    DestroyWindow(edit);
}

TEST_F(FileHelpers, AudioListTakesLowerCaseAudioNamesOnly)
{
    for (const char* name : { "a.wav", "B.WAV", "notes.mp3.txt", "song.mp3", "track.cda", "readme.txt", "x.wave" })
        put(name, "x");
    makeDir("dir.mp3");
    char list[256];
    memset(list, '#', sizeof list);
    ASSERT_EQ(listAudioFiles(folder, list, sizeof list), 1);
    auto names = nameList(list);
    std::set<std::string> got(names.begin(), names.end());
    EXPECT_EQ(got, (std::set<std::string>{ "a.wav", "notes.mp3.txt", "song.mp3", "track.cda", "x.wave" }));
    EXPECT_EQ(names.size(), got.size());
    EXPECT_EQ(currentFolder(), folder);

    // The list stays closed when not all names fit; the result says so.
    memset(list, '#', sizeof list);
    ASSERT_EQ(listAudioFiles(folder, list, 14), 0);
    size_t used = 0;
    for (const std::string& n : nameList(list))
        used += n.size() + 1;
    EXPECT_LE(used + 1, 14u);
    EXPECT_EQ(list[used], '\0');
    EXPECT_EQ(list[14], '#');
}

TEST_F(FileHelpers, AudioListOfEmptyOrMissingFolder)
{
    makeDir("empty");
    put("empty.txt", "x");
    char list[8] = "#######";
    EXPECT_EQ(listAudioFiles(path("empty").c_str(), list, sizeof list), 1);
    EXPECT_EQ(std::string(list, 3), std::string("\0\0#", 3));

    BoxWatcher watcher;
    EXPECT_EQ(listAudioFiles(path("missing").c_str(), list, sizeof list), 0);
    EXPECT_EQ(showDirectoryFiles(path("missing").c_str()), 0);
    auto boxes = watcher.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    for (const auto& b : boxes) {
        EXPECT_EQ(b.caption, "Fehlermeldung");
        EXPECT_EQ(b.text, "Verzeichniss ungültig");
    }
}

TEST_F(FileHelpers, DirectoryWalkShowsEveryEntryUntilNo)
{
    put("a.txt", "x");
    put("b.txt", "x");
    makeDir("sub");
    {
        BoxWatcher watcher({ IDYES, IDYES, IDYES });
        EXPECT_EQ(showDirectoryFiles(folder), 1);
        std::set<std::string> texts;
        for (const auto& b : watcher.boxes()) {
            EXPECT_EQ(b.caption, "Datei:");
            texts.insert(b.text);
        }
        EXPECT_EQ(texts, (std::set<std::string>{ "a.txt\n\n\tWeiter?", "b.txt\n\n\tWeiter?", "sub\n\n\tWeiter?" }));
    }
    BoxWatcher watcher({ IDNO });
    EXPECT_EQ(showDirectoryFiles(folder), 1);
    EXPECT_EQ(watcher.boxes().size(), 1u);
}

TEST_F(FileHelpers, FindFileReplacesPatternWithFirstMatch)
{
    put("package_ormi_2.1.bz2", "x");
    put("readme.txt", "x");
    BoxWatcher watcher;
    char pattern[FILE_PATH_SIZE] = "*.bz2";
    EXPECT_EQ(findFileInFolder(folder, pattern), 1);
    EXPECT_STREQ(pattern, "package_ormi_2.1.bz2");
    EXPECT_EQ(currentFolder(), folder);

    strcpy(pattern, "*.zip");
    EXPECT_EQ(findFileInFolder(folder, pattern), 0);
    EXPECT_STREQ(pattern, "*.zip");
    EXPECT_EQ(findFileInFolder(path("missing").c_str(), pattern), 0);
    EXPECT_TRUE(watcher.boxes().empty());
}

TEST_F(FileHelpers, SearchPathWithFullAndShortenedExtension)
{
    put("data.txt", "x");
    put("plain", "x");
    ASSERT_TRUE(SetCurrentDirectoryA(folder));
    struct Case {
        const char* name;
        int full, shortened;
    } cases[] = {
        { "data.txt", 1, 1 },    { "data.txtx", 0, 1 },
        { "data.tx", 0, 0 },     { "plain", 1, 0 }, // no extension: no search at all
        { "missing.txt", 0, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fileOnSearchPath(c.name), c.full);
        EXPECT_EQ(fileOnSearchPathShortExt(c.name), c.shortened);
    }
}

TEST(FileChecks, ExtensionIsNormalisedInPlace)
{
    struct Case {
        const char* in;
        int result;
        const char* out;
    } cases[] = {
        { ".txt", 1, "txt" }, { "txt", 1, "txt" },  { ".jpeg", 1, "jpe" }, { "bz2", 1, "bz2" },
        { "Ä1b", 1, "Ä1b" },  { ".t-t", 0, "t-t" }, { "a b", 0, "a b" },   { ".tx", 0, "tx" },
        { "", 0, "" },        { ".", 0, "" },       { "ab", 0, "ab" },
    };
    for (const Case& c : cases) {
        char ext[8];
        strcpy(ext, c.in);
        EXPECT_EQ(checkExtension(ext), c.result) << c.in;
        EXPECT_STREQ(ext, c.out) << c.in;
    }
}

TEST(FileChecks, ContainsTextIsCaseSensitive)
{
    struct Case {
        const char *text, *part;
        int result;
    } cases[] = {
        { "fw_ormim_2.1.0m.bz2", "_ormim_", 1 },
        { "fw_ormim_2.1.0m.bz2", "_ormi_", 0 },
        { "fw_ORMI_2.bz2", "_ormi_", 0 },
        { "abc", "", 1 },
        { "", "a", 0 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(containsText(c.text, c.part), c.result) << c.text << " / " << c.part;
}

TEST(FileDialog, InitFillsTheFirstFormOfTheRecord)
{
    static const char filter[] = "Packages (*.bz2)\0*.bz2\0Alle Dateien (*.*)\0*.*\0";
    memset(&fileDialog, 0x5A, sizeof fileDialog);
    HWND owner = GetDesktopWindow();
    initFileDialog(owner, filter);
#ifndef _WIN64
    EXPECT_EQ(fileDialog.lStructSize, 76u);
#endif
    EXPECT_EQ(fileDialog.lStructSize, offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(void*));
    EXPECT_EQ(fileDialog.hwndOwner, owner);
    EXPECT_EQ(fileDialog.lpstrFilter, filter);
    EXPECT_EQ(fileDialog.nMaxFile, 260u);
    EXPECT_EQ(fileDialog.nMaxFileTitle, 260u);
    EXPECT_EQ(fileDialog.Flags, 0u);
    EXPECT_EQ(fileDialog.nFilterIndex, 0u);
    EXPECT_EQ(fileDialog.hInstance, (HINSTANCE)NULL);
    EXPECT_EQ(fileDialog.lpstrInitialDir, (const char*)NULL);
    EXPECT_EQ(fileDialog.lpstrTitle, (const char*)NULL);
    EXPECT_EQ(fileDialog.lpstrDefExt, (const char*)NULL);
    EXPECT_EQ(fileDialog.lpstrCustomFilter, (char*)NULL);
}

TEST(FileDialog, CancelledDialogsKeepTheirFlagsAndPaths)
{
    static const char filter[] = "Alle Dateien (*.*)\0*.*\0";
    char path[FILE_PATH_SIZE] = "proposed.bz2";
    char name[FILE_PATH_SIZE] = "earlier.bz2";
    {
        BoxWatcher watcher({ IDCANCEL });
        initFileDialog(NULL, filter);
        EXPECT_EQ(openFileDialog(NULL, path, name), 0);
        EXPECT_EQ(watcher.boxes().size(), 1u);
    }
    EXPECT_EQ(fileDialog.Flags, 0x2004u);
    EXPECT_STREQ(path, ""); // the open dialog proposes no name
    EXPECT_STREQ(name, "earlier.bz2");
    EXPECT_EQ(fileDialog.lpstrFile, path);
    EXPECT_EQ(fileDialog.lpstrFileTitle, name);

    strcpy(path, "proposed.bz2");
    {
        BoxWatcher watcher({ IDCANCEL });
        initFileDialog(NULL, filter);
        EXPECT_EQ(saveFileDialog(NULL, path, name), 0);
        EXPECT_EQ(watcher.boxes().size(), 1u);
    }
    // The platform may add its sizing flag on return.
    EXPECT_EQ(fileDialog.Flags & ~(DWORD)OFN_ENABLESIZING, 0x81006u);
    EXPECT_STREQ(path, "proposed.bz2");
}

} // namespace
