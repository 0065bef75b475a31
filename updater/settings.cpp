// Settings file access of the updater: private-profile reads and writes by
// the file's full path, and the list helpers around them.
#include "updater.h"

#include <string.h>

static const char missingText[] = "no entry";

// An empty path would make the platform fall back to its own win.ini.
int settings_readString(const char* path, const char* section, const char* key, char* out, int size)
{
    if (size < 1)
        return 0;
    if (path[0] == '\0') {
        lstrcpynA(out, missingText, size);
        return 0;
    }
    GetPrivateProfileStringA(section, key, missingText, out, (DWORD)size, path);
    return strcmp(out, missingText) != 0;
}

int settings_writeString(const char* path, const char* section, const char* key, const char* value)
{
    if (path[0] == '\0')
        return 0;
    return WritePrivateProfileStringA(section, key, value, path) ? 1 : 0;
}

static int countTexts(const char* list)
{
    int count = 0;
    for (const char* p = list; *p; p += strlen(p) + 1)
        ++count;
    return count;
}

int settings_sectionNames(const char* path, char* names, int size, int* count)
{
    *count = 0;
    if (size < 2)
        return 0;
    names[0] = names[1] = '\0';
    GetPrivateProfileSectionNamesA(names, (DWORD)size, path);
    *count = countTexts(names);
    return *count > 0;
}

int settings_readSection(const char* path, const char* section, char* entries, int size, int* count)
{
    *count = 0;
    if (size < 2)
        return 0;
    entries[0] = entries[1] = '\0';
    GetPrivateProfileSectionA(section, entries, (DWORD)size, path);
    *count = countTexts(entries);
    return *count > 0;
}

int settings_splitEntry(const char* entry, char* key, int keySize, char* value, int valueSize)
{
    const char* equals = strchr(entry, '=');
    if (equals == NULL || keySize < 1 || valueSize < 1)
        return 0;
    int keyLength = (int)(equals - entry);
    if (keyLength > keySize - 1)
        keyLength = keySize - 1;
    memcpy(key, entry, (size_t)keyLength);
    key[keyLength] = '\0';
    lstrcpynA(value, equals + 1, valueSize);
    return 1;
}

int settings_readInt(const char* path, const char* section, const char* key, int fallback, int* value)
{
    *value = (int)GetPrivateProfileIntA(section, key, fallback, path);
    return *value != fallback;
}

int settings_nthText(const char* list, int index, char* out, int size)
{
    if (size < 1)
        return 0;
    out[0] = '\0';
    if (index < 0)
        return 0;
    const char* p = list;
    for (int i = 0; i < index; ++i) {
        if (*p == '\0')
            return 0;
        p += strlen(p) + 1;
    }
    if (*p == '\0')
        return 0;
    lstrcpynA(out, p, size);
    return 1;
}
