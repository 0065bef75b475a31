// Fuzz target over key path lookup and line edits.
// fuzz-sources: common/json_parse.cpp common/json_search.cpp common/json_edit.cpp
//
// Input: one selector byte, then the key path, a zero byte, the new value, a
// zero byte, and the text. Buffers are sized exactly so that AddressSanitizer
// sees any write past them; broken promises abort.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "json.h"

namespace {

const char* takeText(const uint8_t*& data, size_t& size)
{
    const void* zero = memchr(data, 0, size);
    if (!zero)
        return nullptr;
    const char* text = reinterpret_cast<const char*>(data);
    size_t used = static_cast<const uint8_t*>(zero) - data + 1;
    data += used;
    size -= used;
    return text;
}

void lookup(const char* text, const char* path, int outSize)
{
    std::vector<char> out(outSize);
    int n = 0;
    float f = 0;
    json_getValue(text, (int)strlen(text), path, out.data(), outSize, &n, &f);
    if (strnlen(out.data(), outSize) >= (size_t)outSize)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 3 * JSON_TEXT_SIZE)
        return 0;
    uint8_t selector = data[0];
    ++data;
    --size;
    const char* path = takeText(data, size);
    if (!path)
        return 0;
    const char* newValue = takeText(data, size);
    if (!newValue)
        return 0;

    std::vector<char> original(reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + size);
    original.push_back('\0');
    const char* text = original.data(); // up to its first zero byte

    lookup(text, path, 1 + selector % 300);

    size_t length = strlen(text);
    int textSize = (int)(length + 1 + selector % 64);
    std::vector<char> edited(textSize);
    memcpy(edited.data(), text, length + 1);
    int result = json_setValue(edited.data(), textSize, path, newValue);
    if (result == -1 && memcmp(edited.data(), text, length + 1) != 0)
        abort();
    if (result == 0) {
        if (strnlen(edited.data(), textSize) >= (size_t)textSize)
            abort();
        lookup(edited.data(), path, 1 + selector % 300);
    }
    if (result != 0 && result != -1)
        abort();
    return 0;
}
