// The update's text routines without a window, shared by the updater and
// ormi: package version split, device type label and package name check,
// compaction, re-indentation and the repair of a fetched device
// configuration.
#include "devicebase.h"
#include "package.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(SplitPackageVersion, TagAndSuffixFollowTheLastDigit)
{
    struct Case {
        const char *version, *tag, *suffix;
    } cases[] = {
        { "2.1.0", "_ormi_", "" },     { "2.1.0-rc", "_ormi_", "-rc" },
        { "2.1.0m", "_ormim_", "m" },  { "beta", "_ormim_", "beta" },
        { "", "_ormi_", "" },          { "3.0.1-rc2", "_ormi_", "" },
        { "2.1.0-m", "_ormi_", "-m" }, { "2.1.0m-1x", "_ormim_", "x" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        char tag[PACKAGE_TAG_SIZE] = "stale", suffix[PACKAGE_TAG_SIZE] = "stale";
        package_splitVersion(c.version, tag, sizeof tag, suffix, sizeof suffix);
        EXPECT_STREQ(tag, c.tag);
        EXPECT_STREQ(suffix, c.suffix);
    }
}

TEST(SplitPackageVersion, SuffixIsCutToItsBuffer)
{
    char tag[PACKAGE_TAG_SIZE], suffix[4] = "xyz";
    package_splitVersion("1.0beta", tag, sizeof tag, suffix, sizeof suffix);
    EXPECT_STREQ(suffix, "bet");
    EXPECT_STREQ(tag, "_ormim_");
}

TEST(PackageDeviceType, LabelFollowsTheTag)
{
    EXPECT_STREQ(package_deviceType("_ormi_"), "ORMI");
    EXPECT_STREQ(package_deviceType("_ormim_"), "ORMI-M");
}

TEST(PackageCheckName, NameMustHoldTagAndSuffix)
{
    struct Case {
        const char *version, *fileName;
        int fits;
        const char* message;
    } cases[] = {
        { "2.1.0", "update_ormi_2.1.0.bz2", 1, "" },
        { "2.1.0m", "update_ormim_2.1.0m.bz2", 1, "" },
        { "2.1.0-rc", "pkg_ormi_-rc.bz2", 1, "" },
        { "2.1.0", "update_ormim_2.1.0.bz2", 0, "Das Gerät ist vom Typ ORMI. Das Package muss dazu passen." },
        { "2.1.0m", "update_ormi_2.1.0.bz2", 0, "Das Gerät ist vom Typ ORMI-M. Das Package muss dazu passen." },
        { "2.1.0m", "update_ormim_2.1.0.bz2", 1, "" }, // the tag holds the suffix "m"
        { "2.1.0x", "update_ormim_2.1.0.bz2", 0, "Der ORMI/ORMI-M hat die Version x. Das Package muss dazu passen." },
        { "2.1.0-rc", "update_ormi_2.1.0.bz2", 0,
          "Der ORMI/ORMI-M hat die Version -rc. Das Package muss dazu passen." },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.version) + " / " + c.fileName);
        char tag[PACKAGE_TAG_SIZE], suffix[PACKAGE_TAG_SIZE];
        package_splitVersion(c.version, tag, sizeof tag, suffix, sizeof suffix);
        char message[PACKAGE_MESSAGE_SIZE] = "";
        EXPECT_EQ(package_checkName(tag, suffix, c.fileName, message, sizeof message), c.fits);
        EXPECT_STREQ(message, c.message);
    }
}

TEST(PackageCheckName, LongestSuffixFitsTheMessage)
{
    std::string version = "1.0" + std::string(PACKAGE_TAG_SIZE - 1, 'b');
    char tag[PACKAGE_TAG_SIZE], suffix[PACKAGE_TAG_SIZE];
    package_splitVersion(version.c_str(), tag, sizeof tag, suffix, sizeof suffix);
    char message[PACKAGE_MESSAGE_SIZE];
    ASSERT_EQ(package_checkName(tag, suffix, "p_ormim_.bz2", message, sizeof message), 0);
    EXPECT_EQ(std::string(message), "Der ORMI/ORMI-M hat die Version " + std::string(PACKAGE_TAG_SIZE - 1, 'b') +
                                        ". Das Package muss dazu passen.");
}

struct TextCase {
    const char *name, *input, *expected;
};

TEST(CompactJsonText, DropsWhiteSpaceOnlyOutsideStrings)
{
    const TextCase cases[] = {
        { "blanks, tabs and line ends", " { \"a\" :\t1 ,\r\n \"b\" : [ 1 , 2 ] }\r\n", "{\"a\":1,\"b\":[1,2]}" },
        { "key with a blank", "{ \"my key\" : \"x  y\" }", "{\"my key\":\"x  y\"}" },
        { "tab and line feed inside a string", "{\"t\": \"a\tb\nc\"}", "{\"t\":\"a\tb\nc\"}" },
        { "escaped quote stays inside the string", "{ \"n\" : \"say \\\"hi, there\\\" ok\" , \"m\" : 1 }",
          "{\"n\":\"say \\\"hi, there\\\" ok\",\"m\":1}" },
        { "escaped backslash before the closing quote", "{\"p\": \"C:\\\\\" , \"q\" : 1}",
          "{\"p\":\"C:\\\\\",\"q\":1}" },
        { "empty text", "", "" },
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        char text[JSON_FORMAT_SIZE];
        snprintf(text, sizeof text, "%s", c.input);
        compactJsonText(text);
        EXPECT_STREQ(text, c.expected);
    }
}

TEST(IndentJsonText, OneMemberPerLineWithStringsUntouched)
{
    const TextCase cases[] = {
        { "nested object and array", "{\"a\":1,\"b\":{\"k\":[1,2]}}",
          "{\n\t\"a\":1,\n\t\"b\":\n\t{\n\t\t\"k\":\n\t\t[\n\t\t\t1,\n\t\t\t2\n\t\t]\n\t}\n}" },
        { "key with a blank", "{\"my key\":5}", "{\n\t\"my key\":5\n}" },
        { "comma and brackets inside a string", "{\"n\":\"a, b [c] {d}\",\"m\":1}",
          "{\n\t\"n\":\"a, b [c] {d}\",\n\t\"m\":1\n}" },
        { "escaped quote before a comma", "{\"n\":\"x\\\",y\",\"m\":1}", "{\n\t\"n\":\"x\\\",y\",\n\t\"m\":1\n}" },
        { "empty object", "{}", "{\n\t\n}" },
        { "array at the start still gets its line feed", "[1,2]", "\n[\n\t1,\n\t2\n]" },
        { "closing bracket at depth 0 gets no tabs", "}", "\n}" },
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        char text[JSON_FORMAT_SIZE];
        snprintf(text, sizeof text, "%s", c.input);
        EXPECT_EQ(indentJsonText(text, sizeof text), 1);
        EXPECT_STREQ(text, c.expected);
    }
}

TEST(IndentJsonText, TheElevenLineExampleHasItsTabs)
{
    char text[JSON_FORMAT_SIZE] = "{\"a\":1,\"b\":{\"k\":[1,2]}}";
    ASSERT_EQ(indentJsonText(text, sizeof text), 1);
    const char* lines[][2] = {
        { "0", "{" },  { "1", "\"a\":1," }, { "1", "\"b\":" }, { "1", "{" }, { "2", "\"k\":" }, { "2", "[" },
        { "3", "1," }, { "3", "2" },        { "2", "]" },      { "1", "}" }, { "0", "}" },
    };
    std::string expected;
    for (auto& line : lines) {
        if (!expected.empty())
            expected += '\n';
        expected += std::string((size_t)(line[0][0] - '0'), '\t') + line[1];
    }
    EXPECT_EQ(std::string(text), expected);
}

TEST(IndentJsonText, ResultThatDoesNotFitLeavesTheTextUnchanged)
{
    // "{\n\t\"a\":1\n}" is 10 characters; with the zero it needs 11 bytes.
    struct Case {
        int size, result;
        const char* text;
    } cases[] = {
        { 11, 1, "{\n\t\"a\":1\n}" },
        { 10, 0, "{\"a\":1}" },
        { 0, 0, "{\"a\":1}" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        char text[16] = "{\"a\":1}";
        EXPECT_EQ(indentJsonText(text, c.size), c.result);
        EXPECT_STREQ(text, c.text);
    }
}

// A compact configuration of roughly the given length whose indented form
// adds two characters per member.
std::string manyMembers(size_t length)
{
    std::string text = "{";
    while (text.size() < length)
        text += "\"k\":1,";
    text += "\"k\":1}";
    return text;
}

TEST(FormatDeviceBase, RepairsOrRefusesTheFetchedText)
{
    struct Case {
        const char* name;
        std::string answer;
        int result;
        std::string expected;
    } cases[] = {
        { "leading junk is dropped", "HTTP junk\n{ \"a\" : 1 }\n", DEVICEBASE_OK, "{\n\t\"a\":1\n}" },
        { "key with a blank, blanks around colon and braces", "{ \"the key\" : 7 }", DEVICEBASE_OK,
          "{\n\t\"the key\":7\n}" },
        { "no opening brace", "no object here", DEVICEBASE_NO_OBJECT, "" },
        { "empty answer", "", DEVICEBASE_NO_OBJECT, "" },
        { "answer of 4096 characters from its brace", "x{" + std::string(4095, ' '), DEVICEBASE_TOO_LONG, "" },
        { "junk before a brace does not count", std::string(100, 'x') + "{" + std::string(4000, ' ') + "}",
          DEVICEBASE_OK, "{\n\t\n}" },
        { "fits compact, not once indented", manyMembers(3500), DEVICEBASE_TOO_LONG, "" },
        { "cut inside a string", "{\"a\":1,\"name\":\"Hall 3, li", DEVICEBASE_CUT, "" },
        { "cut after an escaped quote", "{\"a\":\"x\\\"}", DEVICEBASE_CUT, "" },
        { "cut inside a nested object", "{\"n\":{\"a\":[1,2]}", DEVICEBASE_CUT, "" },
        { "more closing than opening", "{\"a\":1}}{", DEVICEBASE_CUT, "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char out[JSON_FORMAT_SIZE] = "stale";
        EXPECT_EQ(formatDeviceBase(c.answer.c_str(), out, sizeof out), c.result);
        EXPECT_EQ(std::string(out), c.expected);
    }
}

TEST(FormatDeviceBase, DeviceConfigurationKeepsEveryStringValue)
{
    const char answer[] = "{\r\n"
                          "    \"device_name\": \"ORMI I/O station\",\r\n"
                          "    \"location\": \"Hall 3, Miller's line, rack \\\"B\\\"\",\r\n"
                          "    \"reboot\": false,\r\n"
                          "    \"network\": {\r\n"
                          "        \"dhcp\": false\r\n"
                          "    },\r\n"
                          "    \"channels\": [\"di1\", \"do1\"]\r\n"
                          "}\r\n";
    const char expected[] = "{\n"
                            "\t\"device_name\":\"ORMI I/O station\",\n"
                            "\t\"location\":\"Hall 3, Miller's line, rack \\\"B\\\"\",\n"
                            "\t\"reboot\":false,\n"
                            "\t\"network\":\n"
                            "\t{\n"
                            "\t\t\"dhcp\":false\n"
                            "\t},\n"
                            "\t\"channels\":\n"
                            "\t[\n"
                            "\t\t\"di1\",\n"
                            "\t\t\"do1\"\n"
                            "\t]\n"
                            "}";
    char out[JSON_FORMAT_SIZE];
    ASSERT_EQ(formatDeviceBase(answer, out, sizeof out), DEVICEBASE_OK);
    EXPECT_STREQ(out, expected);
    // A second repair of the repaired text changes nothing.
    char again[JSON_FORMAT_SIZE];
    ASSERT_EQ(formatDeviceBase(out, again, sizeof again), DEVICEBASE_OK);
    EXPECT_STREQ(again, expected);
}

} // namespace
