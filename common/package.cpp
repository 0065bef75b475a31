// Firmware packages: the device type and version a package version names,
// and whether a package's file name fits them. The texts are the ones the
// operator sees in the updater and in ormi alike.
#include "package.h"

#include <stdio.h>
#include <string.h>

const char package_noVersionText[] = "Sorry. Mit der vorhandenen Firmware kann kein Package geladen werden.";

static void copyBounded(char* out, int size, const char* text)
{
    if (size < 1)
        return;
    size_t length = strlen(text);
    if (length >= (size_t)size)
        length = (size_t)size - 1;
    memcpy(out, text, length);
    out[length] = '\0';
}

void package_splitVersion(const char* version, char* tag, int tagSize, char* suffix, int suffixSize)
{
    size_t end = strlen(version);
    size_t at = end;
    while (at > 0 && !(version[at - 1] >= '0' && version[at - 1] <= '9'))
        --at;
    const char* rest = version + at;
    copyBounded(suffix, suffixSize, rest);
    copyBounded(tag, tagSize, rest[0] == '\0' || rest[0] == '-' ? "_ormi_" : "_ormim_");
}

const char* package_deviceType(const char* tag)
{
    return strcmp(tag, "_ormi_") == 0 ? "ORMI" : "ORMI-M";
}

int package_checkName(const char* tag, const char* suffix, const char* fileName, char* message, int size)
{
    size_t room = size > 0 ? (size_t)size : 0;
    if (strstr(fileName, tag) == NULL) {
        snprintf(message, room, "Das Gerät ist vom Typ %s. Das Package muss dazu passen.", package_deviceType(tag));
        return 0;
    }
    if (strstr(fileName, suffix) == NULL) {
        snprintf(message, room, "Der ORMI/ORMI-M hat die Version %s. Das Package muss dazu passen.", suffix);
        return 0;
    }
    return 1;
}
