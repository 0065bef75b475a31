// Private-profile text matching: case-insensitive section and key names,
// blanks around names and values ignored, the first section and the first
// key of a name win, a value in matching quotes given without them, comment
// lines skipped, a UTF-8 byte order mark at the start of the file ignored.
#include "profile.h"
#include <string.h>
#include <strings.h>

static char* profile_trim(char* text)
{
    while (*text == ' ' || *text == '\t')
        ++text;
    size_t n = strlen(text);
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t' || text[n - 1] == '\r'))
        text[--n] = 0;
    return text;
}

int profile_line(profile_scan* scan, char* line, const char* section, const char* key, char* out, int size)
{
    if (scan->lines++ == 0 && strncmp(line, "\xef\xbb\xbf", 3) == 0)
        line += 3;
    char* text = profile_trim(line);
    if (*text == '[') {
        char* end = strchr(text, ']');
        if (end)
            *end = 0;
        // Only the first section of the name counts, as with the platform's
        // profile functions.
        if (scan->inSection == 1)
            scan->inSection = 2;
        else if (scan->inSection == 0 && strcasecmp(profile_trim(text + 1), section) == 0)
            scan->inSection = 1;
        return 0;
    }
    char* equals = strchr(text, '=');
    if (scan->inSection != 1 || *text == ';' || !equals)
        return 0;
    *equals = 0;
    if (strcasecmp(profile_trim(text), key) != 0)
        return 0;
    char* value = profile_trim(equals + 1);
    size_t n = strlen(value);
    if (n >= 2 && (value[0] == '"' || value[0] == '\'') && value[n - 1] == value[0]) {
        value[n - 1] = 0;
        ++value;
        --n;
        --n;
    }
    if (size <= 0)
        return 1;
    if (n > (size_t)(size - 1))
        n = (size_t)(size - 1);
    memcpy(out, value, n);
    out[n] = 0;
    return 1;
}

int profile_findInText(const char* text, int length, const char* section, const char* key, char* out, int size)
{
    profile_scan scan = { 0, 0 };
    char line[PROFILE_LINE_SIZE];
    int position = 0;
    while (text && position < length) {
        // Bytes of an overlong line beyond the buffer are skipped, as when
        // the file is read line by line.
        int n = 0;
        while (position < length) {
            char c = text[position++];
            if (c == '\n')
                break;
            if (n < (int)sizeof line - 1)
                line[n++] = c;
        }
        line[n] = 0;
        if (profile_line(&scan, line, section, key, out, size))
            return 1;
    }
    return 0;
}

int profile_number(const char* value, int defaultValue)
{
    if (!value || !value[0])
        return defaultValue;
    int negative = 0;
    if (*value == '+' || *value == '-')
        negative = *value++ == '-';
    unsigned number = 0;
    while (*value >= '0' && *value <= '9')
        number = number * 10u + (unsigned)(*value++ - '0');
    return (int)(negative ? 0u - number : number);
}
