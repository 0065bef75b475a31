// Replacing one member's value in a JSON text, with strings (escapes
// included) recognised, so that a value with quotes or commas inside is
// replaced whole. The new value is a JSON value as it stands. Also reading
// one member's text value.
//
// It differs from json_setValue, which the updater uses, on purpose: ormi's
// "set" takes any JSON value as the operator types it ('"text"', 5, true),
// so the whole value, quotes included, is replaced and its type may change,
// in a text of any layout; a key-like text inside a string is no member. The
// updater's json_setValue keeps the device's own form: it writes inside the
// value's quotes (or over its word) on the member's line, in a text written
// one member per line, within a fixed buffer.
#include "cli.h"
#include "json.h"

#include <string>

namespace {

// End of the string that starts at text[at] == '"', or npos.
std::size_t stringEnd(const std::string& text, std::size_t at)
{
    for (std::size_t i = at + 1; i < text.size(); ++i) {
        if (text[i] == '\\')
            ++i;
        else if (text[i] == '"')
            return i + 1;
    }
    return std::string::npos;
}

bool space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

int edit_setMember(std::string* text, const std::string& key, const std::string& value)
{
    const std::string& t = *text;
    int depth = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        char c = t[i];
        if (c == '{' || c == '[')
            ++depth;
        if (c == '}' || c == ']')
            --depth;
        if (c != '"')
            continue;
        std::size_t end = stringEnd(t, i);
        if (end == std::string::npos)
            return 0;
        std::size_t colon = end;
        while (colon < t.size() && space(t[colon]))
            ++colon;
        bool isKey = colon < t.size() && t[colon] == ':' && depth > 0;
        if (isKey && t.compare(i + 1, end - i - 2, key) == 0 && end - i - 2 == key.size()) {
            std::size_t start = colon + 1;
            while (start < t.size() && space(t[start]))
                ++start;
            if (start >= t.size() || t[start] == '{' || t[start] == '[')
                return 0;
            std::size_t stop = start;
            if (t[start] == '"') {
                stop = stringEnd(t, start);
                if (stop == std::string::npos)
                    return 0;
            } else {
                while (stop < t.size() && t[stop] != ',' && t[stop] != '}' && t[stop] != ']' && !space(t[stop]))
                    ++stop;
            }
            text->replace(start, stop - start, value);
            return 1;
        }
        i = end - 1;
    }
    return 0;
}

std::string edit_member(const std::string& text, const char* key)
{
    char value[JSON_VALUE_SIZE];
    int intValue = 0;
    float floatValue = 0;
    json_getValue(text.c_str(), (int)text.size(), key, value, sizeof value, &intValue, &floatValue);
    return value;
}
