// Fuzz target over the device's configuration text: compacting is
// idempotent and never grows the text, re-indenting a compact text changes
// nothing but blanks outside strings (or leaves the text untouched when it
// does not fit), and the repair of an answer stays within its buffer.
// fuzz-sources: common/devicebase.cpp
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "devicebase.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 2 * JSON_FORMAT_SIZE)
        return 0;
    int room = 1 + data[0] * 32; // buffer sizes up to beyond JSON_FORMAT_SIZE
    std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    input = input.c_str(); // text: up to the first zero byte

    std::vector<char> compact(input.begin(), input.end());
    compact.push_back('\0');
    compactJsonText(compact.data());
    std::string once = compact.data();
    if (once.size() > input.size())
        abort();
    compactJsonText(compact.data());
    if (once != compact.data())
        abort();

    if (once.size() < (size_t)room) {
        std::vector<char> indented(room, 'x');
        memcpy(indented.data(), once.c_str(), once.size() + 1);
        int ok = indentJsonText(indented.data(), room);
        if (strnlen(indented.data(), room) >= (size_t)room)
            abort();
        if (!ok && once != indented.data())
            abort();
        if (ok) {
            std::vector<char> back(indented.begin(), indented.end());
            compactJsonText(back.data());
            if (once != back.data())
                abort();
        }
    }

    std::vector<char> out(room);
    int result = formatDeviceBase(input.c_str(), out.data(), room);
    if (strnlen(out.data(), room) >= (size_t)room)
        abort();
    if (result != DEVICEBASE_OK && out[0] != '\0')
        abort();
    return 0;
}
