// The settings text that ormi leaves behind: every password the library
// would read emptied, found by the library's own reading rules, and every
// other byte as it was.
#include <gtest/gtest.h>

#include "cli.h"
#include "profile.h"

#include <string>

namespace {

TEST(CliSettings, EveryPasswordTheLibraryReadsIsEmptied)
{
    struct emptyCase {
        const char* name;
        std::string text;
        std::string emptied;
    } cases[] = {
        { "the file ormi writes", "[IP]\r\nip_address=h\r\nip_port=80\r\n[LOGIN]\r\nusername=u\r\npassword=secret\r\n",
          "[IP]\r\nip_address=h\r\nip_port=80\r\n[LOGIN]\r\nusername=u\r\npassword=\r\n" },
        { "names in any case, blanks and quotes", "[ login ]\n  Password = \"se cret\"\nlogin_version=2\n",
          "[ login ]\npassword=\nlogin_version=2\n" },
        { "a second section of the name, right behind the first", "[LOGIN]\npassword=a\n[Login]\npassword=b",
          "[LOGIN]\npassword=\n[Login]\npassword=" },
        { "a second section after another one",
          "[LOGIN]\npassword=a\npassword=b\n[IP]\npassword=ip\n[LOGIN]\npassword=c\n",
          "[LOGIN]\npassword=\npassword=\n[IP]\npassword=ip\n[LOGIN]\npassword=\n" },
        { "byte order mark before the first section", "\xef\xbb\xbf[LOGIN]\npassword=x\n",
          "\xef\xbb\xbf[LOGIN]\npassword=\n" },
        { "line feed and carriage return kept as they were", "[LOGIN]\npassword=x\r", "[LOGIN]\npassword=\r" },
        { "a line longer than the reader's buffer", "[LOGIN]\npassword=" + std::string(3000, 'p') + "\n",
          "[LOGIN]\npassword=\n" },
        { "not a password: comment, other key, other section, no section",
          "password=top\n[LOGIN]\n;password=c\npasswords=s\n[LOGINS]\npassword=o\n",
          "password=top\n[LOGIN]\n;password=c\npasswords=s\n[LOGINS]\npassword=o\n" },
        { "no password at all", "[IP]\nip_address=h", "[IP]\nip_address=h" },
        { "empty text", "", "" },
    };
    for (const emptyCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string emptied = work_withoutPassword(c.text);
        EXPECT_EQ(emptied, c.emptied);
        // What the library reads there now: nothing.
        char value[256] = "";
        profile_findInText(emptied.data(), (int)emptied.size(), "LOGIN", "password", value, sizeof value);
        EXPECT_STREQ(value, "");
    }
}

} // namespace
