// Settings file ormi_control.ini, read afresh on every call from the
// directory captured at load time.
#include "ini.h"
#include "plat.h"
#include <stdio.h>
#include <string.h>

static const char missingText[] = "no entry";
static char iniDirectory[256];

void ini_setDirectory(const char* dir)
{
    // Like the load-time capture: a directory that does not fit leaves it empty.
    if (!dir || strlen(dir) > 254) {
        iniDirectory[0] = 0;
        return;
    }
    memcpy(iniDirectory, dir, strlen(dir) + 1);
}

// 0 when the path does not fit the platform's limit: the settings then
// count as missing instead of naming some other file.
static int ini_path(const char* fileName, char* path, int size)
{
    int n = snprintf(path, (size_t)size, "%s" PLAT_PATH_SEPARATOR "%s", iniDirectory, fileName ? fileName : "");
    return n >= 0 && n < size;
}

int ini_readString(const char* fileName, const char* section, const char* key, char* out, int size)
{
    if (!out || size <= 0)
        return 0;
    char path[260];
    if (ini_path(fileName, path, sizeof path) && section && key) {
        plat_profileString(path, section, key, missingText, out, size);
    } else {
        snprintf(out, (size_t)size, "%s", missingText);
    }
    return strcmp(out, missingText) != 0;
}

int ini_readInt(const char* fileName, const char* section, const char* key, int defaultValue, int* out)
{
    char path[260];
    int value = defaultValue;
    if (ini_path(fileName, path, sizeof path) && section && key)
        value = plat_profileInt(path, section, key, defaultValue);
    if (out)
        *out = value;
    return value != defaultValue;
}

void ini_readConnection(ini_connection* conn)
{
    if (!conn)
        return;
    ini_readString("ormi_control.ini", "IP", "ip_address", conn->host, 255);
    ini_readString("ormi_control.ini", "IP", "ip_port", conn->port, 255);
    ini_readString("ormi_control.ini", "LOGIN", "username", conn->user, 255);
    ini_readInt("ormi_control.ini", "CONTROL", "timeout", 1, &conn->timeout);
    if (conn->timeout < 1)
        conn->timeout = 1;
}
