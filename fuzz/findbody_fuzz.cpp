// Fuzz target over the header/body split of an answer: the body starts just
// behind the first blank line (bare or with carriage returns), or the whole
// text is the body.
// fuzz-sources: control/http.cpp control/debug.cpp common/protocol.cpp
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "http.h"
#include "plat.h"

// No platform under this target: the debug channel goes nowhere.
void plat_debugOutput(const char*) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Sized exactly, so that a read past the terminator is seen.
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    size_t n = strlen(text.data());
    const char* body = http_findBody(text.data());
    if (body < text.data() || body > text.data() + n)
        abort();
    size_t expected = 0;
    for (size_t i = 0; i + 1 < n; ++i) {
        if (text[i] == '\n' && text[i + 1] == '\n') {
            expected = i + 2;
            break;
        }
        if (i + 3 < n && memcmp(&text[i], "\r\n\r\n", 4) == 0) {
            expected = i + 4;
            break;
        }
    }
    if ((size_t)(body - text.data()) != expected)
        abort();
    return 0;
}
