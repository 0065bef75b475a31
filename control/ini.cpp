// Settings file ormi_control.ini, read afresh on every call from the
// directory captured at load time: once per exported call into a snapshot
// that all of the call's reads share.
#include "ini.h"
#include "plat.h"
#include "profile.h"
#include <stdio.h>
#include <string.h>

static const char missingText[] = "no entry";
static char iniDirectory[256];
const char ini_fileName[] = "ormi_control.ini";

// The settings file as the current exported call found it. snapshotLength
// is -1 outside a call and whenever the file could not be taken whole; the
// reads then go to the platform's reader one by one.
static char snapshotText[16384];
static int snapshotLength = -1;
static int callDepth;

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

void ini_beginCall(void)
{
    if (callDepth++ > 0)
        return;
    char path[260];
    snapshotLength =
        ini_path(ini_fileName, path, sizeof path) ? plat_readFile(path, snapshotText, (int)sizeof snapshotText) : -1;
    // On Windows the profile functions treat a byte order mark in a way of
    // their own (UTF-16 text they convert), so such a file is left to them.
    // The POSIX reader is the snapshot's own matching: there a mark only
    // sends the reads to the file one by one, with the same results.
    const unsigned char* t = (const unsigned char*)snapshotText;
    if (snapshotLength >= 2 && ((t[0] == 0xff && t[1] == 0xfe) || (t[0] == 0xfe && t[1] == 0xff)))
        snapshotLength = -1;
    if (snapshotLength >= 3 && t[0] == 0xef && t[1] == 0xbb && t[2] == 0xbf)
        snapshotLength = -1;
}

void ini_endCall(void)
{
    if (callDepth > 0 && --callDepth == 0)
        snapshotLength = -1;
}

static int ini_inSnapshot(const char* fileName)
{
    return snapshotLength >= 0 && fileName && strcmp(fileName, ini_fileName) == 0;
}

int ini_readString(const char* fileName, const char* section, const char* key, char* out, int size)
{
    if (!out || size <= 0)
        return 0;
    char path[260];
    if (ini_inSnapshot(fileName) && section && key) {
        if (!profile_findInText(snapshotText, snapshotLength, section, key, out, size))
            snprintf(out, (size_t)size, "%s", missingText);
    } else if (ini_path(fileName, path, sizeof path) && section && key) {
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
    char text[256];
    if (ini_inSnapshot(fileName) && section && key) {
        if (profile_findInText(snapshotText, snapshotLength, section, key, text, sizeof text))
            value = profile_number(text, defaultValue);
    } else if (ini_path(fileName, path, sizeof path) && section && key) {
        value = plat_profileInt(path, section, key, defaultValue);
    }
    if (out)
        *out = value;
    return value != defaultValue;
}

void ini_readConnection(ini_connection* conn)
{
    if (!conn)
        return;
    ini_readString(ini_fileName, "IP", "ip_address", conn->host, 255);
    ini_readString(ini_fileName, "IP", "ip_port", conn->port, 255);
    ini_readString(ini_fileName, "LOGIN", "username", conn->user, 255);
    ini_readInt(ini_fileName, "CONTROL", "timeout", 1, &conn->timeout);
    if (conn->timeout < 1)
        conn->timeout = 1;
}
