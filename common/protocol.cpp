// Where an answer's body begins and which channels are outputs: the two rules
// of the device protocol that are more than a text.
#include "protocol.h"

#include <string.h>

const char* protocol_findBody(const char* text)
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

const char* protocol_channelEnding(const char* channel)
{
    return strstr(channel, "do") != nullptr || strstr(channel, "ao") != nullptr ? "/output" : "/input";
}
