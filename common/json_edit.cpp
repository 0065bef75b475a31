// In-place edit of one member value (json_setValue). Works on texts written
// one member per line: the value is sought on the line after "key":.
#include "json.h"

#include <stdio.h>
#include <string.h>

namespace {

bool isAlnum(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// First "key": in text, at any depth; null when there is none.
char* findMember(char* text, const char* key)
{
    size_t keyLength = strlen(key);
    for (char* p = strchr(text, '"'); p; p = strchr(p + 1, '"')) {
        // Each comparison stops at the text's zero byte before reading on.
        if (strncmp(p + 1, key, keyLength) == 0 && p[1 + keyLength] == '"' && p[2 + keyLength] == ':')
            return p + 2 + keyLength;
    }
    return nullptr;
}

int broken()
{
    fputs("Fehler json_setValue():  JSON-String defekt\n", stdout);
    return -1;
}

} // namespace

int json_setValue(char* text, int textSize, const char* key, const char* newValue)
{
    if (!text || textSize <= 0 || !key || !newValue)
        return -1;
    const void* zero = memchr(text, '\0', (size_t)textSize);
    if (!zero)
        return broken();
    size_t length = (size_t)(static_cast<const char*>(zero) - text);

    char* colon = findMember(text, key);
    if (!colon) {
        fputs("Fehler json_setValue(): key nicht enthalten\n", stdout);
        return -1;
    }
    char* value = colon + 1;
    const char* lineFeed = strchr(value, '\n');
    size_t lineLength = lineFeed ? (size_t)(lineFeed - value) : 0;

    char* start = value;
    char* end = value;
    if (lineLength > 0 && (memchr(value, '"', lineLength) || memchr(value, '\'', lineLength))) {
        char* quote = static_cast<char*>(memchr(value, '"', lineLength));
        if (quote) {
            start = quote + 1;
            end = strchr(start, '"');
        } else {
            // Only an apostrophe on the line: the value is bounded by
            // apostrophes, so the edit cannot reach into the next member.
            quote = static_cast<char*>(memchr(value, '\'', lineLength));
            start = quote + 1;
            end = static_cast<char*>(memchr(start, '\'', (size_t)(lineFeed - start)));
        }
        if (!end)
            return broken();
    } else {
        for (size_t n = 0; n < lineLength && !isAlnum(*start); ++n)
            ++start;
        end = start;
        for (size_t n = 0; n < lineLength && (isAlnum(*end) || *end == '.'); ++n)
            ++end;
    }

    size_t regionLength = (size_t)(end - start);
    size_t newLength = strlen(newValue);
    if (length - regionLength + newLength >= (size_t)textSize) {
        fputs("Fehler json_setValue(): Text passt nicht in den Puffer\n", stdout);
        return -1;
    }
    memmove(start + newLength, end, length - (size_t)(end - text) + 1);
    memcpy(start, newValue, newLength);
    return 0;
}
