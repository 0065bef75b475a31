// The device list of --devices: read whole, then taken apart line by line.
#include "cli.h"

#include <cstdio>
#include <string>
#include <vector>

int devices_parse(const std::string& text, const std::string& path, std::vector<std::string>* devices,
                  std::string* error)
{
    devices->clear();
    // A list saved by Notepad starts with a UTF-8 byte order mark.
    std::size_t start = text.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0;
    // Line by line, however long a line is: a long one is one wrong name,
    // never two devices.
    for (std::size_t at = start; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        std::size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos)
            continue;
        std::size_t last = line.find_last_not_of(" \t\r");
        line = line.substr(first, last - first + 1);
        bool plain = true;
        for (char c : line)
            plain = plain && (unsigned char)c > ' ' && c != 0x7f;
        if (!plain) {
            std::string shown;
            for (char c : line.substr(0, 200))
                shown += ((unsigned char)c < ' ' || c == 0x7f) ? '?' : c;
            *error = "one device per line (HOST[:PORT]) in " + path + ": " + shown;
            devices->clear();
            return 0;
        }
        devices->push_back(line);
    }
    if (devices->empty()) {
        *error = "the device list " + path + " names no device";
        return 0;
    }
    return 1;
}

int devices_readFile(const std::string& path, std::vector<std::string>* devices, std::string* error)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        *error = "cannot read the device list " + path;
        return 0;
    }
    std::string text;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        *error = "cannot read the device list " + path;
        return 0;
    }
    return devices_parse(text, path, devices, error);
}
