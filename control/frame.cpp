// The library frame: load-time start-up (event thread, settings directory),
// the frame of every exported call, and startDLL.
#include "frame.h"
#include "ormi_control.h"
#include "ini.h"
#include "plat.h"

#ifdef _WIN32
#include <windows.h>
#endif

// Every export calls it, so that the static library pulls in the start-up
// with any export.
void frame_beginCall(int settings)
{
    plat_lock();
    if (settings)
        ini_beginCall();
}

void frame_endCall(int settings)
{
    if (settings)
        ini_endCall();
    plat_unlock();
}

static void frame_load(void)
{
    plat_startEventThread();
    char dir[256];
    if (plat_currentDirectory(dir, 255))
        ini_setDirectory(dir);
    else
        ini_setDirectory("");
}

ORMI_API int ORMI_CALL startDLL(void)
{
    frame_beginCall(FRAME_NO_SETTINGS);
    plat_sleep(10);
    frame_endCall(FRAME_NO_SETTINGS);
    return 0;
}

#if defined(_WIN32) && !defined(ORMI_CONTROL_STATIC)
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        frame_load();
    return TRUE;
}
#else
// The static library (tests) and the shared object start up at load too.
__attribute__((constructor)) static void frame_constructor(void)
{
    frame_load();
}
#endif
