// Request and answer texts: the refusal of caller and settings texts that
// would break out of the request line or a header, and where an answer's
// body begins.
#include "http.h"
#include "debug.h"

#include <string.h>

int http_isLineSafe(const char* text)
{
    return text != nullptr && strpbrk(text, "\r\n") == nullptr;
}

int http_areLineSafe(const char* const* texts, int count)
{
    for (int i = 0; i < count; ++i)
        if (!http_isLineSafe(texts[i])) {
            debug_print("request refused: line break in a request text\n");
            return 0;
        }
    return 1;
}

const char* http_findBody(const char* text)
{
    if (!text)
        return text;
    size_t n = strlen(text);
    // Positions up to n - 2 so that a blank line at the very end is found too.
    for (size_t i = 0; i + 2 <= n; ++i) {
        if (text[i] == '\n' && text[i + 1] == '\n')
            return text + i + 2;
        if (i + 4 <= n && text[i] == '\r' && text[i + 1] == '\n' && text[i + 2] == '\r' && text[i + 3] == '\n')
            return text + i + 4;
    }
    return text;
}
