// Run-time binding of the control library: loaded by file name, never
// released, six entry points resolved by name.
#include "updater.h"

#include <stdio.h>

ControlLibrary controlLibrary;
const char controlLibraryName[] = "ormi_control.dll";

static const char bindCaption[] = "ORMI updater";

template <typename Entry> static bool resolve(HMODULE module, const char* name, Entry* entry)
{
    *entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *entry != nullptr;
}

int bindControlLibrary(void)
{
    controlLibrary.module = LoadLibraryA(controlLibraryName);
    if (controlLibrary.module == NULL) {
        char text[128];
        snprintf(text, sizeof text, "FEHLER: Datei %s nicht gefunden!", controlLibraryName);
        MessageBoxA(NULL, text, bindCaption, MB_OK | MB_ICONWARNING);
        return 0;
    }
    HMODULE module = controlLibrary.module;
    // Every name is looked up, also after one is missing.
    bool found = resolve(module, "startDLL", &controlLibrary.startDLL);
    found &= resolve(module, "checkConnection", &controlLibrary.checkConnection);
    found &= resolve(module, "setValue", &controlLibrary.setValue);
    found &= resolve(module, "getValue", &controlLibrary.getValue);
    found &= resolve(module, "sendUpdateFile", &controlLibrary.sendUpdateFile);
    found &= resolve(module, "sendUpdateFileResp", &controlLibrary.sendUpdateFileResp);
    if (!found) {
        MessageBoxA(NULL, "ERROR: one or more funktion(s) not found in DLL!", bindCaption, MB_OK | MB_ICONWARNING);
        return 0;
    }
    return 1;
}
