// The device's configuration text: compacting, re-indenting and the repair
// of a fetched configuration. Strings are tracked with their backslash
// escapes so that a quote, comma or bracket inside a value never moves or
// breaks it.
#include "devicebase.h"

#include <string.h>

static int isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void compactJsonText(char* text)
{
    // The result is never longer, so it is written over the text itself.
    int inString = 0, escaped = 0;
    char* out = text;
    for (const char* in = text; *in != '\0'; ++in) {
        char c = *in;
        if (inString) {
            if (escaped)
                escaped = 0;
            else if (c == '\\')
                escaped = 1;
            else if (c == '"')
                inString = 0;
        } else if (c == '"') {
            inString = 1;
        } else if (isBlank(c)) {
            continue;
        }
        *out++ = c;
    }
    *out = '\0';
}

struct Output {
    char* text;
    int size;
    int length;
    int overflow;
};

static void put(Output* out, char c)
{
    if (out->length + 1 >= out->size) {
        out->overflow = 1;
        return;
    }
    out->text[out->length++] = c;
}

static void putTabs(Output* out, int depth)
{
    for (int i = 0; i < depth; ++i)
        put(out, '\t');
}

int indentJsonText(char* text, int size)
{
    char scratch[JSON_FORMAT_SIZE];
    Output out = { scratch, size < JSON_FORMAT_SIZE ? size : JSON_FORMAT_SIZE, 0, 0 };
    if (out.size < 1)
        return 0;
    int depth = 0, inString = 0, escaped = 0;
    for (int i = 0; text[i] != '\0' && !out.overflow; ++i) {
        char c = text[i];
        if (inString) {
            put(&out, c);
            if (escaped)
                escaped = 0;
            else if (c == '\\')
                escaped = 1;
            else if (c == '"')
                inString = 0;
            continue;
        }
        switch (c) {
        case '"':
            inString = 1;
            put(&out, c);
            break;
        case '{':
        case '[':
            if (c == '[' || i > 0)
                put(&out, '\n');
            putTabs(&out, depth);
            put(&out, c);
            put(&out, '\n');
            ++depth;
            putTabs(&out, depth);
            break;
        case '}':
        case ']':
            put(&out, '\n');
            --depth;
            putTabs(&out, depth);
            put(&out, c);
            break;
        case ',':
            put(&out, ',');
            put(&out, '\n');
            putTabs(&out, depth);
            break;
        default:
            put(&out, c);
        }
    }
    if (out.overflow)
        return 0;
    scratch[out.length] = '\0';
    memcpy(text, scratch, (size_t)out.length + 1);
    return 1;
}

// An answer cut at a buffer's end leaves a string or a bracket open.
static int isClosed(const char* text)
{
    int depth = 0, inString = 0, escaped = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (inString) {
            if (escaped)
                escaped = 0;
            else if (*c == '\\')
                escaped = 1;
            else if (*c == '"')
                inString = 0;
        } else if (*c == '"') {
            inString = 1;
        } else if (*c == '{' || *c == '[') {
            ++depth;
        } else if (*c == '}' || *c == ']') {
            if (--depth < 0)
                return 0;
        }
    }
    return depth == 0 && !inString;
}

int formatDeviceBase(const char* answer, char* out, int size)
{
    if (size > JSON_FORMAT_SIZE)
        size = JSON_FORMAT_SIZE;
    if (size < 1)
        return DEVICEBASE_TOO_LONG;
    out[0] = '\0';
    const char* brace = strchr(answer, '{');
    if (brace == NULL)
        return DEVICEBASE_NO_OBJECT;
    // A cut text must never be written back, so it is refused whole.
    size_t length = strlen(brace);
    if (length >= (size_t)size)
        return DEVICEBASE_TOO_LONG;
    memcpy(out, brace, length + 1);
    compactJsonText(out);
    if (!isClosed(out)) {
        out[0] = '\0';
        return DEVICEBASE_CUT;
    }
    if (!indentJsonText(out, size)) {
        out[0] = '\0';
        return DEVICEBASE_TOO_LONG;
    }
    return DEVICEBASE_OK;
}
