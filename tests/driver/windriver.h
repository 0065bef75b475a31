// Driver for window tests: starts a program in a folder of its own, finds
// its windows and message boxes, reads and sets fields, presses buttons and
// menu commands, and waits for the exit code. Every wait is bounded.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

enum { DRV_WAIT_MS = 10000, DRV_TEXT_SIZE = 2048 };

// Folders and files.
int drv_makeFolder(char* folder, int size);
int drv_removeFolder(const char* folder);
int drv_copyInto(const char* source, const char* folder, const char* name);
int drv_writeFile(const char* folder, const char* name, const char* data, DWORD count);
int drv_readFile(const char* folder, const char* name, char* data, int size);
// The folder that holds the running test program (and the build's artefacts).
int drv_ownFolder(char* folder, int size);

// Under Wine without a window manager every closed top-level window of a
// managed program costs two seconds; these make the program unmanaged (it
// draws its own captions then). The self variant must run before the first
// window of the process, e.g. from a static initialiser.
int drv_unmanageUnderWine(const char* program);
int drv_unmanageSelfUnderWine(void);

// Processes.
int drv_start(const char* program, const char* folder, PROCESS_INFORMATION* process);
// 1 and the code once the process ended within timeoutMs, else 0.
int drv_waitExit(PROCESS_INFORMATION* process, int timeoutMs, DWORD* code);
// Waits until the process waits for input, i.e. runs its message loop.
int drv_waitIdle(PROCESS_INFORMATION* process, int timeoutMs);
// Ends the process if it still runs and closes its handles.
void drv_end(PROCESS_INFORMATION* process);

// Windows of one process (className or caption may be NULL for any).
HWND drv_findWindow(DWORD processId, const char* className, const char* caption, int timeoutMs);
int drv_waitGone(HWND window, int timeoutMs);
int drv_getText(HWND window, char* text, int size);
int drv_getItemText(HWND window, int id, char* text, int size);
int drv_setItemText(HWND window, int id, const char* text);
// Posted, so that a command that opens a modal box does not block the test.
int drv_postCommand(HWND window, int id);
int drv_click(HWND window, int id);
// Posts a key press to the control that has the keyboard focus in the
// window's thread.
int drv_pressKey(HWND window, UINT key);

// Message boxes: found by caption, text read from the box's text control.
HWND drv_findMessageBox(DWORD processId, const char* caption, int timeoutMs);
int drv_messageBoxText(HWND box, char* text, int size);
// Finds the box, reads its text and answers it with button (IDOK, IDYES, ...).
int drv_answerMessageBox(DWORD processId, const char* caption, int button, int timeoutMs, char* text, int size);

// Brings the window to the top and writes what the screen shows of it to
// path as a 24-bit BMP file.
int drv_saveWindowImage(HWND window, const char* path);
