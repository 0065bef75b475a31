// The four update steps run from the main window. Only the hand-over of the
// connection fields to the settings file is in place; the device steps are
// hooks that do nothing yet.
#include "updater.h"
#include "resource.h"

extern HWND addressField, userField, passwordField;

// Non-empty fields go to the settings file, where the library reads them.
static void writeFieldSetting(HWND field, const char *section, const char *key)
{
    GetWindowTextA(field, messageText, MESSAGE_TEXT_SIZE);
    if (messageText[0] != '\0')
        profile_writeString(settingsPath, section, key, messageText);
}

void workflow_check(void)
{
    writeFieldSetting(addressField, "IP", "ip_address");
    writeFieldSetting(userField, "LOGIN", "username");
    writeFieldSetting(passwordField, "LOGIN", "password");
    // Hook: connection check and its status follow with the workflow.
}

// Hooks for the device steps; each does nothing yet.
void workflow_readDevice(void) {}
void workflow_choosePackage(void) {}
void workflow_load(void) {}
void workflow_install(void) {}
void workflow_reboot(void) {}
void workflow_timer(UINT_PTR) {}

// Releases what the steps hold when the window closes (nothing yet).
void workflow_release(void) {}
