// Small JSON scanner of the simulator: validates configuration texts and
// finds or replaces top-level members without re-formatting the text.
#include "simjson.h"

#include <cstring>

namespace {

struct scan {
    const std::string& text;
    std::size_t at;
    int depth;
};

void skipBlanks(scan& s)
{
    while (s.at < s.text.size() && std::strchr(" \t\r\n", s.text[s.at]) && s.text[s.at] != '\0')
        ++s.at;
}

bool scanValue(scan& s);

bool scanString(scan& s)
{
    if (s.at >= s.text.size() || s.text[s.at] != '"')
        return false;
    ++s.at;
    while (s.at < s.text.size()) {
        char c = s.text[s.at++];
        if (c == '"')
            return true;
        if (c == '\\') {
            if (s.at >= s.text.size())
                return false;
            char e = s.text[s.at++];
            if (e == 'u') {
                for (int i = 0; i < 4; ++i, ++s.at)
                    if (s.at >= s.text.size() || !std::strchr("0123456789abcdefABCDEF", s.text[s.at]) ||
                        s.text[s.at] == '\0')
                        return false;
            } else if (!std::strchr("\"\\/bfnrt", e) || e == '\0') {
                return false;
            }
        } else if (c == '\0') {
            return false;
        }
    }
    return false;
}

bool scanNumber(scan& s)
{
    std::size_t begin = s.at;
    if (s.at < s.text.size() && s.text[s.at] == '-')
        ++s.at;
    std::size_t digits = s.at;
    while (s.at < s.text.size() && s.text[s.at] >= '0' && s.text[s.at] <= '9')
        ++s.at;
    if (s.at == digits)
        return false;
    if (s.at < s.text.size() && s.text[s.at] == '.') {
        std::size_t fraction = ++s.at;
        while (s.at < s.text.size() && s.text[s.at] >= '0' && s.text[s.at] <= '9')
            ++s.at;
        if (s.at == fraction)
            return false;
    }
    if (s.at < s.text.size() && (s.text[s.at] == 'e' || s.text[s.at] == 'E')) {
        ++s.at;
        if (s.at < s.text.size() && (s.text[s.at] == '+' || s.text[s.at] == '-'))
            ++s.at;
        std::size_t exponent = s.at;
        while (s.at < s.text.size() && s.text[s.at] >= '0' && s.text[s.at] <= '9')
            ++s.at;
        if (s.at == exponent)
            return false;
    }
    return s.at > begin;
}

bool scanContainer(scan& s, char open, char close)
{
    if (++s.depth > 64)
        return false; // bounded recursion
    ++s.at;
    skipBlanks(s);
    if (s.at < s.text.size() && s.text[s.at] == close) {
        ++s.at;
        --s.depth;
        return true;
    }
    for (;;) {
        if (open == '{') {
            if (!scanString(s))
                return false;
            skipBlanks(s);
            if (s.at >= s.text.size() || s.text[s.at] != ':')
                return false;
            ++s.at;
            skipBlanks(s);
        }
        if (!scanValue(s))
            return false;
        skipBlanks(s);
        if (s.at >= s.text.size())
            return false;
        if (s.text[s.at] == ',') {
            ++s.at;
            skipBlanks(s);
            continue;
        }
        if (s.text[s.at] != close)
            return false;
        ++s.at;
        --s.depth;
        return true;
    }
}

bool scanValue(scan& s)
{
    if (s.at >= s.text.size())
        return false;
    char c = s.text[s.at];
    if (c == '{')
        return scanContainer(s, '{', '}');
    if (c == '[')
        return scanContainer(s, '[', ']');
    if (c == '"')
        return scanString(s);
    for (const char* literal : { "true", "false", "null" }) {
        std::size_t n = std::strlen(literal);
        if (s.text.compare(s.at, n, literal) == 0) {
            s.at += n;
            return true;
        }
    }
    return scanNumber(s);
}

std::string unescape(const std::string& token)
{
    std::string out;
    for (std::size_t i = 1; i + 1 < token.size(); ++i) {
        char c = token[i];
        if (c != '\\' || i + 2 >= token.size()) {
            out += c;
            continue;
        }
        char e = token[++i];
        switch (e) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'u':
            out += '?';
            i += 4;
            break; // not needed for our members
        default:
            out += e;
            break;
        }
    }
    return out;
}

} // namespace

bool simjson_isObject(const std::string& text)
{
    scan s{ text, 0, 0 };
    skipBlanks(s);
    if (s.at >= text.size() || text[s.at] != '{')
        return false;
    if (!scanValue(s))
        return false;
    skipBlanks(s);
    return s.at == text.size();
}

bool simjson_findMember(const std::string& text, const std::string& key, std::size_t* start, std::size_t* end)
{
    scan s{ text, 0, 0 };
    skipBlanks(s);
    if (s.at >= text.size() || text[s.at] != '{')
        return false;
    ++s.at;
    for (;;) {
        skipBlanks(s);
        std::size_t keyStart = s.at;
        if (!scanString(s))
            return false;
        std::string name = unescape(text.substr(keyStart, s.at - keyStart));
        skipBlanks(s);
        if (s.at >= text.size() || text[s.at] != ':')
            return false;
        ++s.at;
        skipBlanks(s);
        std::size_t valueStart = s.at;
        if (!scanValue(s))
            return false;
        if (name == key) {
            *start = valueStart;
            *end = s.at;
            return true;
        }
        skipBlanks(s);
        if (s.at >= text.size() || text[s.at] != ',')
            return false;
        ++s.at;
    }
}

std::string simjson_memberText(const std::string& text, const std::string& key)
{
    std::size_t start, end;
    if (!simjson_findMember(text, key, &start, &end))
        return "";
    std::string token = text.substr(start, end - start);
    if (!token.empty() && token[0] == '"')
        return unescape(token);
    return token;
}

bool simjson_replaceMember(std::string& text, const std::string& key, const std::string& valueToken)
{
    std::size_t start, end;
    if (!simjson_findMember(text, key, &start, &end))
        return false;
    text.replace(start, end - start, valueToken);
    return true;
}

std::string simjson_quote(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if ((unsigned char)c < 0x20) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out + "\"";
}
