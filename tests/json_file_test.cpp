// Reading JSON texts from files from the first '{' on, and writing them back.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "json.h"

namespace {

const char kPath[] = "json_file_test.tmp";

void writeRaw(const std::string& bytes)
{
    FILE* f = fopen(kPath, "wb");
    ASSERT_NE(nullptr, f);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

std::string readRaw()
{
    std::string bytes;
    FILE* f = fopen(kPath, "rb");
    if (!f)
        return "<none>";
    int c;
    while ((c = fgetc(f)) != EOF)
        bytes += (char)c;
    fclose(f);
    return bytes;
}

TEST(JsonGetBuffer, StartsAtTheFirstBrace)
{
    struct {
        const char* name;
        std::string file;
        const char* want;
    } cases[] = {
        { "header before the brace", "module ormi\nversion: 2\n{\n\t\"a\": 1\n}\n", "{\n\t\"a\": 1\n}\n" },
        { "no brace at all", "no json here\n", "" },
        { "CRLF read as line feeds", "x\r\n{\"a\": 1}\r\n", "{\"a\": 1}\n" },
        { "stops at a zero byte", std::string("{\"a\":1}\0{junk", 13), "{\"a\":1}" },
        { "empty file", "", "" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeRaw(c.file);
        char out[64];
        memset(out, '#', sizeof out);
        EXPECT_EQ(0, json_getBuffer(kPath, out, sizeof out));
        EXPECT_STREQ(c.want, out);
    }
    remove(kPath);
}

TEST(JsonGetBuffer, StopsAtTheDestinationsCapacity)
{
    writeRaw("hdr{\"abcdef\":1}");
    char out[9];
    memset(out, '#', sizeof out);
    EXPECT_EQ(0, json_getBuffer(kPath, out, 6));
    EXPECT_STREQ("{\"abc", out);
    EXPECT_EQ('#', out[6]);
    remove(kPath);
}

TEST(JsonGetBuffer, YieldsTheEmptyTextForAMissingFile)
{
    remove(kPath);
    char out[8] = "old";
    EXPECT_EQ(0, json_getBuffer(kPath, out, sizeof out));
    EXPECT_STREQ("", out);
}

TEST(JsonSetBuffer, ReplacesTheFileAndReadsBack)
{
    writeRaw("a much longer old content that must disappear");
    json_setBuffer(kPath, "{\n\t\"a\": 1\n}\n");
#ifdef _WIN32
    EXPECT_EQ("{\r\n\t\"a\": 1\r\n}\r\n", readRaw());
#else
    EXPECT_EQ("{\n\t\"a\": 1\n}\n", readRaw());
#endif
    char out[64];
    json_getBuffer(kPath, out, sizeof out);
    EXPECT_STREQ("{\n\t\"a\": 1\n}\n", out);
    remove(kPath);
}

TEST(JsonSetBuffer, ReportsAFileThatCannotBeOpened)
{
    testing::internal::CaptureStderr();
    json_setBuffer("no_such_dir_for_json_test/x.json", "{}");
    std::string printed = testing::internal::GetCapturedStderr();
    const std::string prefix = "Fehler json_setBuffer(): File konnte nicht geschrieben werden: ";
    EXPECT_EQ(prefix, printed.substr(0, prefix.size()));
    EXPECT_GT(printed.size(), prefix.size() + 1) << "error text follows";
    EXPECT_EQ('\n', printed.back());
}

} // namespace
