// The control library's event window in this process. Other processes of
// the session (tests running beside this one) have windows of the same
// class, so the first one found may belong to any of them.
#pragma once

#include <windows.h>

inline HWND eventWindowOfThisProcess()
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
