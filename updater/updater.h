// Shared state and operations of the updater program.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

#include "ormi_control.h"

enum {
    SETTINGS_PATH_SIZE = 256,
    MESSAGE_TEXT_SIZE = 2000,
    LEGAL_NOTES_SIZE = 2000,
};

// Entry points of the control library, resolved at run time.
struct ControlLibrary {
    HMODULE module;
    decltype(&startDLL) startDLL;
    decltype(&checkConnection) checkConnection;
    decltype(&setValue) setValue;
    decltype(&getValue) getValue;
    decltype(&sendUpdateFile) sendUpdateFile;
    decltype(&sendUpdateFileResp) sendUpdateFileResp;
};
extern ControlLibrary controlLibrary;

// Window and settings state of the running program.
extern HINSTANCE appInstance;
extern HWND mainWindow;
extern char settingsPath[SETTINGS_PATH_SIZE];
extern char messageText[MESSAGE_TEXT_SIZE];
// Edit fields and progress bars of the main window, looked up once at start.
extern HWND addressField, userField, passwordField, checkStatusField, packageNameField, loadStatusField, deviceField,
    installStatusField, rebootStatusField;
extern HWND loadProgress, installProgress, rebootProgress;

// The working folder: a folder of the user's own when the start folder
// cannot be written (1 and the folder when moved there).
int workdir_choose(char* chosen, int size);
int workdir_writable(const char* folder);
int workdir_userFolder(char* folder, int size);

extern const char controlLibraryName[];
int bindControlLibrary(void);

// Settings file access (full path of the file).
int settings_readString(const char* path, const char* section, const char* key, char* out, int size);
int settings_writeString(const char* path, const char* section, const char* key, const char* value);
int settings_sectionNames(const char* path, char* names, int size, int* count);
int settings_readSection(const char* path, const char* section, char* entries, int size, int* count);
int settings_splitEntry(const char* entry, char* key, int keySize, char* value, int valueSize);
int settings_readInt(const char* path, const char* section, const char* key, int fallback, int* value);
int settings_nthText(const char* list, int index, char* out, int size);

// Common-control toolkit; each operation initialises the class it needs.
HWND ctrl_createProgressBar(HWND parent, HINSTANCE instance, int id);
HWND ctrl_bindProgressBar(HWND dialog, int id);
HWND ctrl_createTrackbar(HWND parent, HINSTANCE instance, int id);
HWND ctrl_bindTrackbar(HWND dialog, int id);
HWND ctrl_createStatusBar(HWND parent, HINSTANCE instance, int id);
int ctrl_splitStatusBar(HWND statusBar, HWND parent);
HWND ctrl_createTooltip(HWND parent, HINSTANCE instance);
int ctrl_addTooltip(HWND tooltip, HWND control, HINSTANCE instance, const char* text);
HWND ctrl_createUpDown(HWND parent, HINSTANCE instance, int id, HWND buddy);
extern HWND ctrl_progressBar;
extern HWND ctrl_trackbar;

// Documents and program start.
extern const char legalNotesName[];
extern const char helpDocumentName[];
void readLegalNotes(char* out, int size);
int shellStartAppl(const char* file, const char* parameters, int showMode);
int startApplication(PROCESS_INFORMATION* process, const char* application, char* commandLine, int showMode);
int applicationRunning(const PROCESS_INFORMATION* process);
int stopApplication(const PROCESS_INFORMATION* process);
int shellStartApplication(SHELLEXECUTEINFOA* record, const char* file, const char* parameters, int showMode);
int shellApplicationRunning(const SHELLEXECUTEINFOA* record);
int shellStopApplication(SHELLEXECUTEINFOA* record);
int startAppWithWinExec(const char* commandLine, int showMode);
int startAppWithLoadModule(const char* program, int showMode);

// Gives the menu of the main window its German texts.
void renameMainMenu(HMENU menu);

// Window procedures.
LRESULT CALLBACK mainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK aboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Workflow steps run from mainWndProc.
void workflow_check(void);
void workflow_readDevice(void);
void workflow_choosePackage(void);
void workflow_load(void);
void workflow_install(void);
void workflow_reboot(void);
void workflow_timer(UINT_PTR timer);
void workflow_release(void);
