// The device list of --devices: names, comments, blanks and line ends as
// lists are written by hand (also by Notepad), and the lines refused.
#include <gtest/gtest.h>

#include "cli.h"

#include <string>
#include <vector>

namespace {

TEST(CliDevices, ListIsReadLineByLine)
{
    const std::string longName(1500, 'a');
    struct listCase {
        const char* label;
        std::string text;
        std::vector<std::string> devices; // empty: refused
        const char* message;              // part of the refusal
    } cases[] = {
        { "names, ports, comments, blank lines",
          "# hall 3\n10.0.0.1\n  10.0.0.2:8080  # rack B\n\n\tdev-3\n",
          { "10.0.0.1", "10.0.0.2:8080", "dev-3" },
          "" },
        { "CRLF and no line end at the end", "a:80\r\nb\r\nc", { "a:80", "b", "c" }, "" },
        { "byte order mark of Notepad",
          "\xef\xbb\xbf"
          "dev-1\r\ndev-2\r\n",
          { "dev-1", "dev-2" },
          "" },
        // A line longer than any buffer is one name, never two devices.
        { "very long line", longName + "\nb\n", { longName, "b" }, "" },
        { "two words on a line", "a b\n", {}, "one device per line (HOST[:PORT]) in list.txt: a b" },
        { "control character in a name",
          std::string("a\0b\n", 4),
          {},
          "one device per line (HOST[:PORT]) in list.txt: a?b" },
        { "only comments", "# none\n\n   \n", {}, "the device list list.txt names no device" },
        { "empty file", "", {}, "the device list list.txt names no device" },
    };
    for (const listCase& c : cases) {
        std::vector<std::string> devices = { "left over" };
        std::string error;
        int ok = devices_parse(c.text, "list.txt", &devices, &error);
        EXPECT_EQ(ok, c.devices.empty() ? 0 : 1) << c.label;
        EXPECT_EQ(devices, c.devices) << c.label;
        EXPECT_EQ(error, c.message) << c.label;
    }
}

TEST(CliDevices, MissingListIsNamed)
{
    std::vector<std::string> devices;
    std::string error;
    EXPECT_EQ(devices_readFile("no-such-dir/devices.txt", &devices, &error), 0);
    EXPECT_EQ(error, "cannot read the device list no-such-dir/devices.txt");
}

} // namespace
