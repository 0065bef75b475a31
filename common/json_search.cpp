// Lookup of a dotted key path (json_getValue): a search record driven by the
// event parser's callbacks, over a private copy of the text.
#include "json.h"

#include <limits.h>
#include <string.h>

namespace {

json_search* searchOf(void* user)
{
    return static_cast<json_search*>(user);
}

// Digits after the segment's first '[', saturated so that no index overflows.
int segmentIndex(const char* bracket)
{
    long long n = 0;
    for (const char* p = bracket + 1; *p >= '0' && *p <= '9'; ++p) {
        n = n * 10 + (*p - '0');
        if (n > INT_MAX)
            return INT_MAX;
    }
    return (int)n;
}

int onKey(void* user, const char* text, int length)
{
    json_search* s = searchOf(user);
    if (s->inArray)
        return 1;
    int position = s->objectDepth - 1;
    // Keys deeper than the path (or outside every object) have no segment.
    if (position < 0 || position >= s->segmentCount)
        return 1;
    const char* segment = s->segments[position];
    const char* bracket = strchr(segment, '[');
    bool match;
    if (bracket) {
        s->currentIndex = segmentIndex(bracket);
        size_t nameLength = (size_t)(bracket - segment);
        match = (size_t)length >= nameLength && memcmp(text, segment, nameLength) == 0;
    } else {
        s->currentIndex = -1;
        match = (size_t)length == strlen(segment) && memcmp(text, segment, length) == 0;
    }
    if (!match)
        return 1;
    if (s->objectDepth == s->matched + 1) {
        s->matched = s->objectDepth;
        s->elementCount = 0;
    }
    if (s->objectDepth == s->segmentCount && s->matched == s->segmentCount)
        s->found = 1;
    return 1;
}

int onObjectStart(void* user)
{
    json_search* s = searchOf(user);
    if (s->inArray && s->innerDepth == 0) {
        if (s->elementCount == s->currentIndex) {
            s->inArray = 0;
            s->innerDepth = 0;
            s->elementCount = 0;
        } else {
            s->elementCount++;
        }
    }
    if (s->inArray)
        s->innerDepth++;
    else
        s->objectDepth++;
    return 1;
}

int onObjectEnd(void* user)
{
    json_search* s = searchOf(user);
    if (s->inArray) {
        s->innerDepth--;
    } else {
        s->objectDepth--;
        if (s->arrayDepth == 0)
            s->matched = 0;
    }
    return 1;
}

int onArrayStart(void* user)
{
    json_search* s = searchOf(user);
    if (s->currentIndex != -1)
        s->inArray = 1;
    s->arrayDepth++;
    return 1;
}

int onArrayEnd(void* user)
{
    searchOf(user)->arrayDepth--;
    return 1;
}

// True when this scalar is to be passed over.
bool passOver(json_search* s)
{
    if (!s->found)
        return true;
    if (s->currentIndex >= 0 && s->valueCount != s->currentIndex) {
        s->valueCount++;
        return true;
    }
    return false;
}

int onString(void* user, const char* text, int length)
{
    json_search* s = searchOf(user);
    if (passOver(s))
        return 1;
    // A value beyond the value text is refused, not cut.
    if (length < JSON_VALUE_SIZE) {
        memcpy(s->valueText, text, (size_t)length);
        s->valueText[length] = '\0';
    }
    return 0;
}

int onBool(void* user, int value)
{
    json_search* s = searchOf(user);
    if (passOver(s))
        return 1;
    strcpy(s->valueText, value ? "true" : "false");
    return 0;
}

int onInt(void* user, int value)
{
    json_search* s = searchOf(user);
    if (passOver(s))
        return 1;
    s->intValue = value;
    return 0;
}

int onFloat(void* user, float value)
{
    json_search* s = searchOf(user);
    if (passOver(s))
        return 1;
    s->floatValue = value;
    return 0;
}

// Cuts the path at every '.'; false when it has too many or too long segments.
bool splitPath(json_search* s, const char* keyPath)
{
    s->segmentCount = 0;
    const char* start = keyPath;
    for (;;) {
        const char* end = strchr(start, '.');
        size_t length = end ? (size_t)(end - start) : strlen(start);
        if (s->segmentCount >= JSON_MAX_SEGMENTS || length >= JSON_SEGMENT_SIZE)
            return false;
        memcpy(s->segments[s->segmentCount], start, length);
        s->segments[s->segmentCount][length] = '\0';
        s->segmentCount++;
        if (!end)
            return true;
        start = end + 1;
    }
}

size_t boundedLength(const char* text, size_t limit)
{
    const void* zero = memchr(text, '\0', limit);
    return zero ? (size_t)(static_cast<const char*>(zero) - text) : limit;
}

} // namespace

int json_getValue(const char* text, int length, const char* keyPath, char* outText, int outSize, int* outInt,
                  float* outFloat)
{
    if (outText && outSize > 0)
        outText[0] = '\0';
    if (outInt)
        *outInt = 0;
    if (outFloat)
        *outFloat = 0.0f;
    if (!text || !keyPath)
        return 0;

    json_search search;
    memset(&search, 0, sizeof search);
    search.currentIndex = -1;
    if (!splitPath(&search, keyPath))
        return 0;

    json_setKeyCallback(onKey);
    json_setObjectStartCallback(onObjectStart);
    json_setObjectEndCallback(onObjectEnd);
    json_setArrayStartCallback(onArrayStart);
    json_setArrayEndCallback(onArrayEnd);
    json_setStringCallback(onString);
    json_setBoolCallback(onBool);
    json_setIntCallback(onInt);
    json_setFloatCallback(onFloat);

    // A longer text is refused whole: a cut copy could end inside a string.
    char copy[JSON_TEXT_SIZE];
    size_t textLength = boundedLength(text, JSON_TEXT_SIZE);
    if (textLength >= JSON_TEXT_SIZE)
        return 0;
    memcpy(copy, text, textLength + 1);

    json_parser parser;
    json_parserInit(&parser, &search);
    json_parse(&parser, copy, length);

    if (outText && outSize > 0) {
        size_t n = strlen(search.valueText);
        if (n > (size_t)outSize - 1)
            n = (size_t)outSize - 1;
        memcpy(outText, search.valueText, n);
        outText[n] = '\0';
    }
    if (outInt)
        *outInt = search.intValue;
    if (outFloat)
        *outFloat = search.floatValue;
    return 0;
}
