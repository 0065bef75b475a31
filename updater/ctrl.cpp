// Common-control toolkit of the updater: progress bar, trackbar, status bar,
// tooltips and up-down control, each created or bound in one call.
#include "updater.h"

#include <commctrl.h>

HWND ctrl_progressBar;
HWND ctrl_trackbar;

static void initControlClass(DWORD classes)
{
    INITCOMMONCONTROLSEX init;
    init.dwSize = sizeof init;
    init.dwICC = classes;
    InitCommonControlsEx(&init);
}

HWND ctrl_createProgressBar(HWND parent, HINSTANCE instance, int id)
{
    initControlClass(ICC_PROGRESS_CLASS);
    ctrl_progressBar = CreateWindowExA(0, PROGRESS_CLASSA, "Progress", WS_CHILD | WS_VISIBLE, 30, 24, 132, 12, parent,
                                       (HMENU)(INT_PTR)id, instance, NULL);
    return ctrl_progressBar;
}

HWND ctrl_bindProgressBar(HWND dialog, int id)
{
    initControlClass(ICC_PROGRESS_CLASS);
    ctrl_progressBar = GetDlgItem(dialog, id);
    return ctrl_progressBar;
}

HWND ctrl_createTrackbar(HWND parent, HINSTANCE instance, int id)
{
    initControlClass(ICC_BAR_CLASSES);
    ctrl_trackbar = CreateWindowExA(0, TRACKBAR_CLASSA, "Trackbar",
                                    WS_CHILD | WS_VISIBLE | TBS_AUTOTICKS | TBS_BOTH | TBS_ENABLESELRANGE, 10, 10, 200,
                                    45, parent, (HMENU)(INT_PTR)id, instance, NULL);
    return ctrl_trackbar;
}

HWND ctrl_bindTrackbar(HWND dialog, int id)
{
    initControlClass(ICC_BAR_CLASSES);
    ctrl_trackbar = GetDlgItem(dialog, id);
    return ctrl_trackbar;
}

HWND ctrl_createStatusBar(HWND parent, HINSTANCE instance, int id)
{
    initControlClass(ICC_BAR_CLASSES);
    return CreateWindowExA(0, STATUSCLASSNAMEA, "Statusbar erzeugt", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent,
                           (HMENU)(INT_PTR)id, instance, NULL);
}

int ctrl_splitStatusBar(HWND statusBar, HWND parent)
{
    initControlClass(ICC_BAR_CLASSES);
    RECT client;
    if (!GetClientRect(parent, &client))
        return 0;
    int edges[5];
    for (int i = 0; i < 5; ++i)
        edges[i] = client.right * (i + 1) / 5;
    return SendMessageA(statusBar, SB_SETPARTS, 5, (LPARAM)edges) ? 1 : 0;
}

HWND ctrl_createTooltip(HWND parent, HINSTANCE instance)
{
    initControlClass(ICC_WIN95_CLASSES);
    HWND tooltip =
        CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, NULL, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parent, NULL, instance, NULL);
    if (tooltip != NULL)
        SetWindowPos(tooltip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return tooltip;
}

int ctrl_addTooltip(HWND tooltip, HWND control, HINSTANCE instance, const char* text)
{
    initControlClass(ICC_WIN95_CLASSES);
    TOOLINFOA tool = {};
    // The record's first form: every version of the control accepts it.
    tool.cbSize = TTTOOLINFOA_V1_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = GetParent(control);
    tool.uId = (UINT_PTR)control;
    GetClientRect(control, &tool.rect);
    tool.hinst = instance;
    tool.lpszText = const_cast<char*>(text);
    return SendMessageA(tooltip, TTM_ADDTOOLA, 0, (LPARAM)&tool) ? 1 : 0;
}

HWND ctrl_createUpDown(HWND parent, HINSTANCE instance, int id, HWND buddy)
{
    initControlClass(ICC_UPDOWN_CLASS);
    return CreateUpDownControl(WS_CHILD | WS_VISIBLE | WS_BORDER | UDS_ALIGNRIGHT | UDS_SETBUDDYINT, 100, 100, 30, 30,
                               parent, id, instance, buddy, 10, 0, 5);
}
