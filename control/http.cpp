// Request and answer texts: the refusal of caller and settings texts that
// would break out of the request line or a header, and where an answer's
// body begins (by the protocol's rule).
#include "http.h"
#include "debug.h"
#include "protocol.h"

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
    return protocol_findBody(text);
}
