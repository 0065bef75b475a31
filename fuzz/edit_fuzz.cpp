// Fuzz target over ormi's configuration member editor ("ormi set" of one
// member): a text it cannot set stays as it was; a set one differs from the
// original in one place only, where the new value now stands; and setting
// the same plain value again changes nothing.
// fuzz-sources: cli/edit.cpp common/json_parse.cpp common/json_search.cpp
//
// Input: the key, a zero byte, the new value, a zero byte, then the text.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "cli.h"

namespace {

bool takeText(const uint8_t*& data, size_t& size, std::string* out)
{
    const void* zero = memchr(data, 0, size);
    if (!zero)
        return false;
    size_t used = static_cast<const uint8_t*>(zero) - data;
    out->assign(reinterpret_cast<const char*>(data), used);
    data += used + 1;
    size -= used + 1;
    return true;
}

bool plainValue(const std::string& value)
{
    if (value.empty())
        return false;
    for (char c : value)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '.' || c == '-'))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 16384)
        return 0;
    std::string key, value;
    if (!takeText(data, size, &key) || !takeText(data, size, &value))
        return 0;
    const std::string original(reinterpret_cast<const char*>(data), size);
    std::string text = original;
    int done = edit_setMember(&text, key, value);
    if (done != 0 && done != 1)
        abort();
    if (!done) {
        if (text != original)
            abort();
        return 0;
    }
    // The value set is the value there was.
    if (text == original)
        return 0;
    // One window changed: what precedes and what follows it are the original's.
    size_t prefix = 0;
    while (prefix < text.size() && prefix < original.size() && text[prefix] == original[prefix])
        ++prefix;
    size_t suffix = 0;
    while (suffix < text.size() && suffix < original.size() &&
           text[text.size() - 1 - suffix] == original[original.size() - 1 - suffix])
        ++suffix;
    // The two may overlap where the value repeats what stood around it.
    if (prefix + suffix + value.size() < text.size())
        abort();
    size_t start = std::string::npos;
    size_t lowest = text.size() - suffix >= value.size() ? text.size() - suffix - value.size() : 0;
    for (size_t at = lowest; at <= prefix && at + value.size() <= text.size(); ++at)
        if (text.compare(at, value.size(), value) == 0) {
            start = at;
            break;
        }
    if (start == std::string::npos)
        abort();
    // A plain value that ends where the member does is found whole again;
    // one that runs into what followed the old value is a new, longer word.
    size_t behind = start + value.size();
    bool ends = behind == text.size() || (text[behind] != '\0' && strchr(",}] \t\r\n", text[behind]) != nullptr);
    if (plainValue(value) && ends) {
        std::string again = text;
        if (edit_setMember(&again, key, value) != 1 || again != text)
            abort();
    }
    // The reader of one member stays within the text.
    edit_member(text, key.c_str());
    return 0;
}
