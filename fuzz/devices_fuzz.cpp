// Fuzz target over the reader of ormi's --devices list: the input is the
// file. What it gives must be what the list's rules give, read here the
// plain way: one name a line, "#" to the end of the line a comment, blanks
// and tabs (and a carriage return) around a name dropped, blank lines
// skipped; a line with more than one word or a control character, or a
// list without a name, is refused.
// fuzz-sources: cli/devices.cpp
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "cli.h"

namespace {

bool expectedList(std::string text, std::vector<std::string>* names)
{
    if (text.compare(0, 3, "\xef\xbb\xbf") == 0)
        text.erase(0, 3);
    std::vector<std::string> lines(1);
    for (char c : text) {
        if (c == '\n')
            lines.emplace_back();
        else
            lines.back() += c;
    }
    for (std::string line : lines) {
        line = line.substr(0, line.find('#'));
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
            line.pop_back();
        size_t first = 0;
        while (first < line.size() && (line[first] == ' ' || line[first] == '\t' || line[first] == '\r'))
            ++first;
        line.erase(0, first);
        if (line.empty())
            continue;
        for (char c : line)
            if ((unsigned char)c <= ' ' || c == 0x7f)
                return false;
        names->push_back(line);
    }
    return !names->empty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> devices, expected;
    std::string error;
    int ok = devices_parse(text, "list.txt", &devices, &error);
    bool fits = expectedList(text, &expected);
    if (ok != (fits ? 1 : 0))
        abort();
    if (ok && (devices != expected || !error.empty()))
        abort();
    if (!ok && (error.empty() || error.find("list.txt") == std::string::npos || !devices.empty()))
        abort();
    // The message is shown on a terminal: no control character of the file.
    for (char c : error)
        if ((unsigned char)c < ' ')
            abort();
    return 0;
}
