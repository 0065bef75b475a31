// The updater's frame: start-up, main window of class TESTBOX built from its
// dialog template, menu, About box and the orderly end.
#include "updater.h"
#include "resource.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>

HINSTANCE appInstance;
HWND mainWindow;
char settingsPath[SETTINGS_PATH_SIZE];
char messageText[MESSAGE_TEXT_SIZE];

static const char windowClassName[] = "TESTBOX";
static const char settingsFileName[] = "\\ormi_control.ini";

HWND addressField, userField, passwordField, checkStatusField, packageNameField, loadStatusField, deviceField,
    installStatusField, rebootStatusField;
HWND loadProgress, installProgress, rebootProgress;

static int registerWindowClass(HINSTANCE instance)
{
    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWndProc;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_UPDATER));
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = windowClassName;
    return RegisterClassA(&windowClass) != 0;
}

// Texts put in at start; the template's own texts differ in places.
static const struct {
    int id;
    const char* text;
} startTexts[] = {
    { IDC_STEP1_FRAME, "1. Verbindung zum ORMI / ORMI-M prüfen" },
    { IDC_ADDRESS_LABEL, "IP-Adresse oder Name" },
    { IDC_USER_LABEL, "Nutzer" },
    { IDC_PASSWORD_LABEL, "Passwort" },
    { IDC_CHECK_STATUS_LABEL, "Status" },
    { IDC_STEP2_FRAME, "2. Package laden" },
    { IDC_PACKAGE_LABEL, "Datei" },
    { IDC_LOAD_STATUS_LABEL, "Status" },
    { IDC_DEVICE_LABEL, "Gerät" },
    { IDC_STEP3_FRAME, "3. Package installieren" },
    { IDC_INSTALL_STATUS_LABEL, "Status" },
    { IDC_STEP4_FRAME, "4. Gerät neu starten (Reboot)" },
    { IDC_REBOOT_STATUS_LABEL, "Status" },
    { IDC_LOAD, "Laden ..." },
    { IDC_CHOOSE_PACKAGE, "Datei ..." },
    { IDC_INSTALL, "Installation starten" },
};

static void setStartTexts(HWND window)
{
    for (const auto& entry : startTexts)
        SetDlgItemTextA(window, entry.id, entry.text);
}

static void findFields(HWND window)
{
    addressField = GetDlgItem(window, IDC_ADDRESS);
    userField = GetDlgItem(window, IDC_USER);
    passwordField = GetDlgItem(window, IDC_PASSWORD);
    checkStatusField = GetDlgItem(window, IDC_CHECK_STATUS);
    packageNameField = GetDlgItem(window, IDC_PACKAGE_NAME);
    loadStatusField = GetDlgItem(window, IDC_LOAD_STATUS);
    deviceField = GetDlgItem(window, IDC_DEVICE);
    installStatusField = GetDlgItem(window, IDC_INSTALL_STATUS);
    rebootStatusField = GetDlgItem(window, IDC_REBOOT_STATUS);
    loadProgress = GetDlgItem(window, IDC_LOAD_PROGRESS);
    installProgress = GetDlgItem(window, IDC_INSTALL_PROGRESS);
    rebootProgress = GetDlgItem(window, IDC_REBOOT_PROGRESS);
}

static void prepareMarquee(HWND bar)
{
    SetWindowLongPtrA(bar, GWL_STYLE, GetWindowLongPtrA(bar, GWL_STYLE) | PBS_MARQUEE);
    SendMessageA(bar, PBM_SETMARQUEE, TRUE, 1500);
    ShowWindow(bar, SW_HIDE);
}

static void prepareProgressBars(void)
{
    prepareMarquee(loadProgress);
    prepareMarquee(installProgress);
    SendMessageA(rebootProgress, PBM_SETRANGE, 0, MAKELPARAM(0, 80));
    SendMessageA(rebootProgress, PBM_SETSTEP, 1, 0);
    SendMessageA(rebootProgress, PBM_SETPOS, 0, 0);
    ShowWindow(rebootProgress, SW_HIDE);
}

static void computeSettingsPath(void)
{
    char folder[SETTINGS_PATH_SIZE];
    DWORD length = GetCurrentDirectoryA(SETTINGS_PATH_SIZE - 1, folder);
    // A folder too long for the path leaves it empty: the settings then read
    // as missing and writes are refused.
    if (length == 0 || length >= SETTINGS_PATH_SIZE - 1 || length + strlen(settingsFileName) >= sizeof settingsPath) {
        settingsPath[0] = '\0';
        return;
    }
    snprintf(settingsPath, sizeof settingsPath, "%s%s", folder, settingsFileName);
}

static void readSettingsIntoFields(void)
{
    settings_readString(settingsPath, "LOGIN", "username", messageText, MESSAGE_TEXT_SIZE);
    SetWindowTextA(userField, messageText);
    settings_readString(settingsPath, "IP", "ip_address", messageText, 255);
    SetWindowTextA(addressField, messageText);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showMode)
{
    // Before the library is loaded: it reads the settings of the folder
    // that is current then.
    workdir_choose(NULL, 0);
    if (!registerWindowClass(instance))
        MessageBoxA(NULL, "Fehler Windows-Registrierung", "", MB_OK);

    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);
    appInstance = instance;
    mainWindow = CreateDialogA(instance, windowClassName, NULL, NULL);
    setStartTexts(mainWindow);
    renameMainMenu(GetMenu(mainWindow));
    DrawMenuBar(mainWindow);
    ShowWindow(mainWindow, showMode);
    findFields(mainWindow);

    if (!bindControlLibrary())
        return 1;

    prepareProgressBars();
    computeSettingsPath();
    readSettingsIntoFields();

    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (int)message.wParam;
}

LRESULT CALLBACK mainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDM_EXIT:
            SendMessageA(window, WM_CLOSE, 0, 0);
            return 0;
        case IDM_HELP:
            shellStartAppl(helpDocumentName, NULL, SW_SHOWNORMAL);
            break;
        case IDM_ABOUT:
            DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_ABOUT), window, aboutDlgProc, 0);
            return 0;
        case IDC_CHECK:
            workflow_check();
            break;
        case IDM_READ_DEVICE:
            workflow_readDevice();
            break;
        case IDC_CHOOSE_PACKAGE:
            workflow_choosePackage();
            break;
        case IDC_LOAD:
            workflow_load();
            break;
        case IDC_INSTALL:
            workflow_install();
            break;
        case IDC_REBOOT:
            workflow_reboot();
            break;
        }
        break;
    case WM_TIMER:
        workflow_timer(wParam);
        break;
    case WM_CLOSE:
        workflow_release();
        settings_writeString(settingsPath, "LOGIN", "password", "");
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

INT_PTR CALLBACK aboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        char notes[LEGAL_NOTES_SIZE];
        readLegalNotes(notes, sizeof notes);
        SetDlgItemTextA(dialog, IDC_LEGAL_NOTES, notes);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        break;
    }
    return FALSE;
}
