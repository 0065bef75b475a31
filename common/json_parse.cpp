// Event parser over JSON text in a caller's buffer: classifies tokens and
// raises the callbacks of the module-wide table. Writes zero bytes into the
// text at string ends; never reads past the text's zero byte.
#include "json.h"

#include <float.h>
#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

namespace {

// The ten slots; nothing registers the null slot, it stays empty.
struct json_callbacks {
    json_boolCallback boolValue;
    json_intCallback intValue;
    json_floatCallback floatValue;
    json_textCallback stringValue;
    json_textCallback key;
    json_eventCallback objectStart;
    json_eventCallback objectEnd;
    json_eventCallback arrayStart;
    json_eventCallback arrayEnd;
    json_eventCallback nullValue;
};

json_callbacks callbacks;

// Longer number runs are refused rather than converted from a cut copy.
const int NUMBER_RUN_SIZE = 128;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Skips white space and "//" comments; a comment without a line feed runs to
// the end of the text.
char* skipBlanks(char* p)
{
    for (;;) {
        if (isBlank(*p)) {
            ++p;
        } else if (p[0] == '/' && p[1] == '/') {
            p += 2;
            while (*p != '\0' && *p != '\n')
                ++p;
            if (*p == '\n')
                ++p;
        } else {
            return p;
        }
    }
}

// Converts the run [start, start+length) only: converting from the cursor
// would let the C library read an exponent or a hex prefix the token does
// not include. -1: refused; otherwise the callback's verdict.
int numberToken(json_parser* parser, char* start, int length, int dots)
{
    char run[NUMBER_RUN_SIZE];
    if (length >= NUMBER_RUN_SIZE)
        return -1;
    memcpy(run, start, length);
    run[length] = '\0';
    if (dots == 1) {
        double d = strtod(run, nullptr);
        float f;
        // A double beyond the float range has no defined narrowing.
        if (d > FLT_MAX)
            f = HUGE_VALF;
        else if (d < -FLT_MAX)
            f = -HUGE_VALF;
        else
            f = (float)d;
        return callbacks.floatValue ? callbacks.floatValue(parser->user, f) : 1;
    }
    long long v = strtoll(run, nullptr, 10);
    if (v > INT_MAX)
        v = INT_MAX;
    if (v < INT_MIN)
        v = INT_MIN;
    return callbacks.intValue ? callbacks.intValue(parser->user, (int)v) : 1;
}

} // namespace

json_parser* json_parserInit(json_parser* parser, void* user)
{
    if (!parser)
        return nullptr;
    memset(parser, 0, sizeof *parser);
    parser->stack[0] = JSON_ENTRY_OBJECT_NEW;
    parser->user = user;
    return parser;
}

void json_setBoolCallback(json_boolCallback callback)
{
    callbacks.boolValue = callback;
}
void json_setIntCallback(json_intCallback callback)
{
    callbacks.intValue = callback;
}
void json_setFloatCallback(json_floatCallback callback)
{
    callbacks.floatValue = callback;
}
void json_setStringCallback(json_textCallback callback)
{
    callbacks.stringValue = callback;
}
void json_setKeyCallback(json_textCallback callback)
{
    callbacks.key = callback;
}
void json_setObjectStartCallback(json_eventCallback callback)
{
    callbacks.objectStart = callback;
}
void json_setObjectEndCallback(json_eventCallback callback)
{
    callbacks.objectEnd = callback;
}
void json_setArrayStartCallback(json_eventCallback callback)
{
    callbacks.arrayStart = callback;
}
void json_setArrayEndCallback(json_eventCallback callback)
{
    callbacks.arrayEnd = callback;
}

int json_tokenType(int remaining, const char* cursor)
{
    if (!cursor)
        return JSON_TOKEN_END;
    switch (*cursor) {
    case '\0':
        return JSON_TOKEN_END;
    case '"':
    case '\'':
        return JSON_TOKEN_STRING;
    case ',':
        return JSON_TOKEN_COMMA;
    case ':':
        return JSON_TOKEN_COLON;
    case '-':
        return isDigit(cursor[1]) ? JSON_TOKEN_NUMBER : JSON_TOKEN_MINUS;
    case '{':
        return JSON_TOKEN_OBJECT_START;
    case '}':
        return JSON_TOKEN_OBJECT_END;
    case '[':
        return JSON_TOKEN_ARRAY_START;
    case ']':
        return JSON_TOKEN_ARRAY_END;
    default:
        break;
    }
    if (isDigit(*cursor))
        return JSON_TOKEN_NUMBER;
    // Only the literal's own letters count; what follows is the next token.
    if (remaining >= 4 && strncmp(cursor, "true", 4) == 0)
        return JSON_TOKEN_TRUE;
    if (remaining >= 5 && strncmp(cursor, "false", 5) == 0)
        return JSON_TOKEN_FALSE;
    if (remaining >= 4 && strncmp(cursor, "null", 4) == 0)
        return JSON_TOKEN_NULL;
    return JSON_TOKEN_INVALID;
}

int json_parse(json_parser* parser, char* text, int length)
{
    if (!parser)
        return 0;
    if (!parser->cursor)
        parser->cursor = text;
    if (parser->remaining <= 0)
        parser->remaining = length;
    if (parser->remaining <= 0)
        return 1;
    if (!parser->cursor)
        return 0;

    for (;;) {
        parser->cursor = skipBlanks(parser->cursor);
        char* p = parser->cursor;
        int count = 1;
        int go = 1; // the callback's verdict; broken tokens return at once
        switch (json_tokenType(parser->remaining, p)) {
        case JSON_TOKEN_TRUE:
        case JSON_TOKEN_FALSE: {
            int value = (*p == 't');
            if (callbacks.boolValue)
                go = callbacks.boolValue(parser->user, value);
            count = value ? 4 : 5;
            break;
        }
        case JSON_TOKEN_NULL:
            if (callbacks.nullValue)
                go = callbacks.nullValue(parser->user);
            count = 4;
            break;
        case JSON_TOKEN_COLON:
            break;
        case JSON_TOKEN_COMMA:
            parser->afterComma = 1;
            break;
        case JSON_TOKEN_OBJECT_START:
        case JSON_TOKEN_ARRAY_START: {
            if (parser->depth + 1 >= JSON_STACK_SIZE)
                return 0;
            bool object = (*p == '{');
            parser->depth++;
            parser->stack[parser->depth] = object ? JSON_ENTRY_OBJECT_NEW : JSON_ENTRY_ARRAY;
            json_eventCallback cb = object ? callbacks.objectStart : callbacks.arrayStart;
            if (cb)
                go = cb(parser->user);
            break;
        }
        case JSON_TOKEN_OBJECT_END:
        case JSON_TOKEN_ARRAY_END: {
            // Closers are not matched to openers, but never leave the stack.
            if (parser->depth <= 0)
                return 0;
            parser->depth--;
            json_eventCallback cb = (*p == '}') ? callbacks.objectEnd : callbacks.arrayEnd;
            if (cb)
                go = cb(parser->user);
            break;
        }
        case JSON_TOKEN_NUMBER: {
            char* q = p;
            if (*q == '-')
                ++q;
            int dots = 0;
            while (isDigit(*q) || *q == '.') {
                if (*q == '.' && ++dots > 1)
                    return 0;
                ++q;
            }
            count = (int)(q - p);
            go = numberToken(parser, p, count, dots);
            if (go < 0)
                return 0;
            break;
        }
        case JSON_TOKEN_STRING: {
            char quote = *p;
            char* content = p + 1;
            char* q = content;
            // Only the opening quote character closes the string.
            while (*q != '\0' && *q != quote) {
                if (*q == '\\' && q[1] != '\0')
                    q += 2;
                else
                    ++q;
            }
            if (*q == '\0')
                return 0;
            *q = '\0';
            int textLength = (int)(q - content);
            int* entry = &parser->stack[parser->depth];
            bool isKey = false;
            if (*entry == JSON_ENTRY_OBJECT_NEW) {
                *entry = JSON_ENTRY_OBJECT;
                isKey = true;
            }
            if (parser->afterComma && *entry == JSON_ENTRY_OBJECT) {
                parser->afterComma = 0;
                isKey = true;
            }
            json_textCallback cb = isKey ? callbacks.key : callbacks.stringValue;
            if (cb)
                go = cb(parser->user, content, textLength);
            count = textLength + 2;
            break;
        }
        default: // end of text, lone minus, invalid character
            return 0;
        }
        // A token whose callback stopped the parse is still consumed, so that
        // a further json_parse goes on with the next token: a string cannot be
        // read twice, its closing quote is already gone.
        parser->remaining -= count;
        parser->cursor = p + count;
        if (!go)
            return 0;
        if (parser->remaining <= 0)
            return 1;
    }
}
