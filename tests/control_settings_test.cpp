// The settings file: defaults, the time-out rule, the private-profile
// semantics of the readers, that every read goes to the file afresh, and
// that the reads of one call share one reading of the file.
#include "control_capture.h"
#include "ini.h"

#include <gtest/gtest.h>
#include <string.h>

namespace {

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        dir = control_settingsDirectory("settings");
    }
    void TearDown() override
    {
        std::filesystem::remove_all(dir);
    }
    std::filesystem::path dir;
};

struct connection_case {
    const char* name;
    const char* file; // nullptr: no settings file at all
    const char* host;
    const char* port;
    const char* user;
    int timeout;
};

TEST_F(SettingsTest, ConnectionSettingsFollowDefaultsAndTimeoutRule)
{
    const connection_case cases[] = {
        { "missing file", nullptr, "no entry", "no entry", "no entry", 1 },
        { "empty file", "", "no entry", "no entry", "no entry", 1 },
        { "all set", "[IP]\nip_address=10.0.0.7\nip_port=8080\n[LOGIN]\nusername=admin\n[CONTROL]\ntimeout=5\n",
          "10.0.0.7", "8080", "admin", 5 },
        { "timeout 0", "[CONTROL]\ntimeout=0\n", "no entry", "no entry", "no entry", 1 },
        { "timeout negative", "[CONTROL]\ntimeout=-3\n", "no entry", "no entry", "no entry", 1 },
        { "timeout not a number", "[CONTROL]\ntimeout=abc\n", "no entry", "no entry", "no entry", 1 },
        { "timeout leading number", "[CONTROL]\ntimeout=7s\n", "no entry", "no entry", "no entry", 7 },
        { "timeout empty", "[CONTROL]\ntimeout=\n", "no entry", "no entry", "no entry", 1 },
        { "names in other case, blanks, CRLF",
          "[ip]\r\nIP_Address = myhost:81\r\n[Login]\r\nUserName= op \r\n[control]\r\nTIMEOUT=2\r\n", "myhost:81",
          "no entry", "op", 2 },
        { "key in another section only", "[LOGIN]\nip_address=1.2.3.4\n", "no entry", "no entry", "no entry", 1 },
        { "literal no entry", "[IP]\nip_address=no entry\n", "no entry", "no entry", "no entry", 1 },
    };
    for (const connection_case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir / "ormi_control.ini");
        if (c.file)
            control_writeSettings(dir, c.file);
        ini_connection conn;
        memset(&conn, 'x', sizeof conn);
        ini_readConnection(&conn);
        EXPECT_STREQ(conn.host, c.host);
        EXPECT_STREQ(conn.port, c.port);
        EXPECT_STREQ(conn.user, c.user);
        EXPECT_EQ(conn.timeout, c.timeout);
    }
}

TEST_F(SettingsTest, ReadStringReportsMissingAlsoForTheLiteralDefault)
{
    control_writeSettings(dir, "[IP]\nip_address=no entry\nip_port=no entry!\n");
    char out[256];
    EXPECT_EQ(ini_readString("ormi_control.ini", "IP", "ip_address", out, 255), 0);
    EXPECT_STREQ(out, "no entry");
    EXPECT_EQ(ini_readString("ormi_control.ini", "IP", "ip_port", out, 255), 1);
    EXPECT_STREQ(out, "no entry!");
    EXPECT_EQ(ini_readString("ormi_control.ini", "LOGIN", "password", out, 255), 0);
    EXPECT_STREQ(out, "no entry");
}

TEST_F(SettingsTest, ReadStringCutsAtBufferSize)
{
    std::string value(300, 'v');
    value[253] = 'E';
    control_writeSettings(dir, "[LOGIN]\npassword=" + value + "\n");
    char out[256];
    memset(out, '#', sizeof out);
    EXPECT_EQ(ini_readString("ormi_control.ini", "LOGIN", "password", out, 255), 1);
    EXPECT_EQ(strlen(out), 254u);
    EXPECT_EQ(out[253], 'E');
    EXPECT_EQ(out[255], '#'); // nothing written beyond the given size

    char tiny[4];
    ini_readString("ormi_control.ini", "LOGIN", "password", tiny, 4);
    EXPECT_STREQ(tiny, "vvv");
    ini_readString("ormi_control.ini", "LOGIN", "username", tiny, 4);
    EXPECT_STREQ(tiny, "no ");
}

TEST_F(SettingsTest, ReadIntTakesLeadingNumberAndReportsChange)
{
    struct int_case {
        const char* value;
        int defaultValue;
        int expected;
        int changed;
    };
    const int_case cases[] = {
        { nullptr, 1, 1, 0 }, // login_version missing: method 1
        { "2", 1, 2, 1 },     { "1", 1, 1, 0 }, { "12abc", 1, 12, 1 }, { "abc", 1, 0, 1 }, { "-3", 1, -3, 1 },
    };
    for (const int_case& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(missing)");
        control_writeSettings(dir, c.value ? std::string("[LOGIN]\nlogin_version=") + c.value + "\n" : "[LOGIN]\n");
        int out = 12345;
        EXPECT_EQ(ini_readInt("ormi_control.ini", "LOGIN", "login_version", c.defaultValue, &out), c.changed);
        EXPECT_EQ(out, c.expected);
    }
}

TEST_F(SettingsTest, EveryReadSeesTheFileAsItIsNow)
{
    control_writeSettings(dir, "[IP]\nip_address=first\n");
    ini_connection conn;
    ini_readConnection(&conn);
    EXPECT_STREQ(conn.host, "first");
    control_writeSettings(dir, "[IP]\nip_address=second\n");
    ini_readConnection(&conn);
    EXPECT_STREQ(conn.host, "second");
    std::filesystem::remove(dir / "ormi_control.ini");
    ini_readConnection(&conn);
    EXPECT_STREQ(conn.host, "no entry");
}

TEST_F(SettingsTest, DirectoryThatDoesNotFitCountsAsMissing)
{
    control_writeSettings(dir, "[IP]\nip_address=here\n");
    // 255 characters do not fit the 254 of the captured directory.
    ini_setDirectory((dir.string() + std::string(255, 'd')).c_str());
    char out[256];
    EXPECT_EQ(ini_readString("ormi_control.ini", "IP", "ip_address", out, 255), 0);
    EXPECT_STREQ(out, "no entry");
    ini_setDirectory(dir.string().c_str());
    EXPECT_EQ(ini_readString("ormi_control.ini", "IP", "ip_address", out, 255), 1);
    EXPECT_STREQ(out, "here");
}

// What one call reads from its single reading of the file must be what the
// platform's reader finds in the file (on Windows the profile functions).
TEST_F(SettingsTest, ReadsWithinACallAgreeWithThePlatformReader)
{
    const char* files[] = {
        "[IP]\nip_address=10.0.0.7\nip_port=8080\n[LOGIN]\nusername=admin\npassword=pw\nlogin_version=2\n"
        "[CONTROL]\ntimeout=5\n",
        "[ip]\r\n  IP_Address = myhost:81  \r\n[Login]\r\nUserName=\top\t\r\n[control]\r\nTIMEOUT= 7s\r\n",
        "[LOGIN]\npassword=\"quoted pw\"\nusername='single'\n[IP]\nip_address=\"half\nip_port=\"\"\n",
        "[LOGIN]\npassword=a=b=c\nusername=\nlogin_version=-2\n[CONTROL]\ntimeout=abc\n",
        "[LOGIN]\nusername=first\nusername=second\n[IP]\nip_address=one\n[IP]\nip_address=two\nip_port=9\n",
        "; comment\n[LOGIN]\n;username=commented\npassword\nusername=real\n[CONTROL]\ntimeout=3",
        "[IP]\nip_address=no entry\n[LOGIN]\nlogin_version=\n[CONTROL]\ntimeout=+4\n",
        "ip_address=outside\n[IP]\nip_port=81\n[OTHER]\nip_address=elsewhere\n",
        "",
    };
    struct key_ref {
        const char* section;
        const char* key;
    };
    const key_ref texts[] = { { "IP", "ip_address" },  { "IP", "ip_port" },    { "LOGIN", "username" },
                              { "LOGIN", "password" }, { "LOGIN", "missing" }, { "NOSECTION", "ip_address" } };
    const key_ref numbers[] = { { "LOGIN", "login_version" }, { "CONTROL", "timeout" }, { "IP", "ip_port" } };
    for (const char* file : files) {
        SCOPED_TRACE(file);
        control_writeSettings(dir, file);
        for (const key_ref& k : texts) {
            SCOPED_TRACE(k.key);
            char direct[256], shared[256];
            int directFound = ini_readString("ormi_control.ini", k.section, k.key, direct, 255);
            ini_beginCall();
            int sharedFound = ini_readString("ormi_control.ini", k.section, k.key, shared, 255);
            ini_endCall();
            EXPECT_EQ(sharedFound, directFound);
            EXPECT_STREQ(shared, direct);
        }
        for (const key_ref& k : numbers) {
            SCOPED_TRACE(k.key);
            int direct = 0, shared = 0;
            int directChanged = ini_readInt("ormi_control.ini", k.section, k.key, 1, &direct);
            ini_beginCall();
            int sharedChanged = ini_readInt("ormi_control.ini", k.section, k.key, 1, &shared);
            ini_endCall();
            EXPECT_EQ(sharedChanged, directChanged);
            EXPECT_EQ(shared, direct);
        }
    }
}

TEST_F(SettingsTest, ACallReadsTheFileOnceAndTheNextCallAfresh)
{
    control_writeSettings(dir, "[IP]\nip_address=first\n[LOGIN]\npassword=one\n");
    ini_beginCall();
    ini_beginCall(); // nested: the outer call's reading stays
    control_writeSettings(dir, "[IP]\nip_address=second\n[LOGIN]\npassword=two\n");
    ini_connection conn;
    ini_readConnection(&conn);
    char password[256];
    ini_readString("ormi_control.ini", "LOGIN", "password", password, 255);
    EXPECT_STREQ(conn.host, "first");
    EXPECT_STREQ(password, "one");
    ini_endCall();
    ini_readConnection(&conn);
    EXPECT_STREQ(conn.host, "first");
    ini_endCall();
    ini_readConnection(&conn);
    EXPECT_STREQ(conn.host, "second");
    ini_beginCall();
    ini_readConnection(&conn);
    EXPECT_STREQ(conn.host, "second");
    ini_endCall();
    std::filesystem::remove(dir / "ormi_control.ini");
    ini_beginCall();
    ini_readConnection(&conn);
    EXPECT_STREQ(conn.host, "no entry");
    EXPECT_EQ(conn.timeout, 1);
    ini_endCall();
}

// Files that one reading cannot hold, or whose text the platform converts,
// are read key by key as outside a call.
TEST_F(SettingsTest, LargeFilesAndMarkedEncodingsAreStillRead)
{
    struct file_case {
        const char* name;
        std::string text;
        const char* host;
    };
    const file_case cases[] = {
        { "key behind 40,000 bytes", "[PAD]\n" + std::string(40000, ';') + "\n[IP]\nip_address=far\n", "far" },
        { "UTF-8 byte order mark", "\xef\xbb\xbf[IP]\nip_address=marked\n", "marked" },
    };
    for (const file_case& c : cases) {
        SCOPED_TRACE(c.name);
        control_writeSettings(dir, c.text);
        ini_beginCall();
        ini_connection conn;
        ini_readConnection(&conn);
        ini_endCall();
        EXPECT_STREQ(conn.host, c.host);
    }
}

#ifndef _WIN32
TEST_F(SettingsTest, PathBeyondThePlatformLimitCountsAsMissing)
{
    // A directory of 254 characters fits, but with the file name the path
    // exceeds 259 characters: no other file may be read in its place.
    std::string longDir = dir.string() + "/";
    longDir += std::string(254 - longDir.size(), 'p');
    std::filesystem::create_directories(longDir);
    control_writeSettings(longDir, "[IP]\nip_address=far\n");
    ini_setDirectory(longDir.c_str());
    char out[256];
    EXPECT_EQ(ini_readString("ormi_control.ini", "IP", "ip_address", out, 255), 0);
    EXPECT_STREQ(out, "no entry");
    int value = 0;
    EXPECT_EQ(ini_readInt("ormi_control.ini", "IP", "ip_address", 9, &value), 0);
    EXPECT_EQ(value, 9);
    ini_setDirectory(dir.string().c_str());
}
#endif

} // namespace
