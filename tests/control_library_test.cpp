// The shipped library as a caller binds it at run time: the eight names,
// nothing of the internals, startDLL, and (Windows) the event window.
#include <gtest/gtest.h>
#include <chrono>
#include <thread>

#ifdef _WIN32
#include <windows.h>
typedef HMODULE library_handle;
static library_handle openLibrary()
{
    return LoadLibraryA("ormi_control.dll");
}
static void* findName(library_handle library, const char* name)
{
    return (void*)GetProcAddress(library, name);
}
#define ORMI_TEST_CALL __stdcall
#else
#include <dlfcn.h>
typedef void* library_handle;
static library_handle openLibrary()
{
    return dlopen("./libormi_control.so", RTLD_NOW | RTLD_LOCAL);
}
static void* findName(library_handle library, const char* name)
{
    return dlsym(library, name);
}
#define ORMI_TEST_CALL
#endif

namespace {

typedef int(ORMI_TEST_CALL* start_function)(void);

TEST(ControlLibrary, ExportsTheEightNamesAndNothingInternal)
{
    library_handle library = openLibrary();
    ASSERT_NE(library, nullptr);
    // Right after loading: the event window need not exist yet.
    start_function start = (start_function)findName(library, "startDLL");
    ASSERT_NE(start, nullptr);
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(start(), 0);
    long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - before).count();
    EXPECT_GE(ms, 9);
    EXPECT_LT(ms, 500);

    const char* exported[] = { "startDLL", "checkConnection", "getIO",          "setIO",
                               "getValue", "setValue",        "sendUpdateFile", "sendUpdateFileResp" };
    for (const char* name : exported)
        EXPECT_NE(findName(library, name), nullptr) << name;
    const char* internal[] = { "sock_open",     "sock_exchange", "ini_readString", "debug_print",
                               "md5_hexString", "plat_lock",     "responseText",   "_startDLL@0" };
    for (const char* name : internal)
        EXPECT_EQ(findName(library, name), nullptr) << name;
}

#ifdef _WIN32
// The event window in this process, as any program sees it: by its class.
// Other processes of the session (tests running beside this one) have
// windows of the same class.
HWND eventWindowOfThisProcess()
{
    for (HWND w = FindWindowExA(HWND_MESSAGE, nullptr, "ormiControl", nullptr); w;
         w = FindWindowExA(HWND_MESSAGE, w, "ormiControl", nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == GetCurrentProcessId())
            return w;
    }
    return nullptr;
}

// The event thread makes its window soon after loading (its own time, not
// the caller's: the calls wait for it themselves).
TEST(ControlLibrary, EventWindowSurvivesClose)
{
    library_handle library = openLibrary();
    ASSERT_NE(library, nullptr);
    HWND window = NULL;
    for (int i = 0; i < 3000 && !window; ++i) {
        window = eventWindowOfThisProcess();
        if (!window)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_NE(window, (HWND)NULL);
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    EXPECT_STREQ(className, "ormiControl");
    EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(window));
    DWORD_PTR result = 1;
    EXPECT_NE(SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &result), 0);
    EXPECT_EQ(eventWindowOfThisProcess(), window);
    char title[64] = "";
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "ormiControl");
}
#endif

} // namespace
