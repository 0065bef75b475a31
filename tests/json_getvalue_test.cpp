// Key path lookup: what json_getValue reports for device-style texts, and
// that over-long inputs are refused without writing past any buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "json.h"

namespace {

struct Found {
    std::string text;
    int intValue;
    float floatValue;
};

Found lookup(const std::string& text, const char* path, int outSize = 256)
{
    std::string out(outSize + 1, '#'); // one guard byte behind the buffer
    int intValue = -99;
    float floatValue = -99.0f;
    EXPECT_EQ(0, json_getValue(text.c_str(), (int)text.size(), path, &out[0], outSize, &intValue, &floatValue));
    EXPECT_EQ('#', out[outSize]) << "wrote past outSize";
    return Found{ std::string(out.c_str()), intValue, floatValue };
}

struct LookupCase {
    const char* name;
    const char* text;
    const char* path;
    const char* wantText;
    int wantInt;
    float wantFloat;
};

void expectCases(const LookupCase* cases, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const LookupCase& c = cases[i];
        SCOPED_TRACE(std::string(c.name) + ": " + c.path);
        Found f = lookup(c.text, c.path);
        EXPECT_EQ(c.wantText, f.text);
        EXPECT_EQ(c.wantInt, f.intValue);
        EXPECT_FLOAT_EQ(c.wantFloat, f.floatValue);
    }
}

TEST(JsonGetValue, ReportsScalarsInTheirOwnOutput)
{
    const LookupCase cases[] = {
        { "string", "{\"name\":\"ormi\",\"n\":1}", "name", "ormi", 0, 0 },
        { "true", "{\"on\":true}", "on", "true", 0, 0 },
        { "false", "{\"on\":false,\"n\":1}", "on", "false", 0, 0 },
        { "integer", "{\"n\":42}", "n", "", 42, 0 },
        { "decimal", "{\"f\":1.5}", "f", "", 0, 1.5f },
        { "negative integer", "{\"n\":-17}", "n", "", -17, 0 },
        { "negative decimal", "{\"f\":-2.25}", "f", "", 0, -2.25f },
        { "zero", "{\"n\":0,\"m\":5}", "n", "", 0, 0 },
        { "int saturates", "{\"n\":99999999999}", "n", "", 2147483647, 0 },
        { "escape kept as it stands", "{\"s\":\"x\\\"y\",\"n\":1}", "s", "x\\\"y", 0, 0 },
        { "single-quoted string", "{'s':'say \"hi\"'}", "s", "say \"hi\"", 0, 0 },
        { "first scalar inside an object value", "{\"o\":{\"x\":5}}", "o", "", 5, 0 },
        { "comment skipped", "{ // device answer\n \"n\": 3 }", "n", "", 3, 0 },
        { "null reports the next scalar", "{\"a\":null,\"b\":7}", "a", "", 7, 0 },
        { "path that does not occur", "{\"a\":1,\"b\":\"x\"}", "c", "", 0, 0 },
        { "empty path", "{\"a\":1}", "", "", 0, 0 },
    };
    expectCases(cases, sizeof cases / sizeof cases[0]);
}

TEST(JsonGetValue, MatchesPathsLevelByLevel)
{
    const LookupCase cases[] = {
        { "nested path", "{\"a\":{\"b\":{\"c\":\"deep\"}}}", "a.b.c", "deep", 0, 0 },
        { "key nested too deep is not taken", "{\"x\":{\"b\":1},\"b\":2}", "b", "", 2, 0 },
        { "only a deep key", "{\"x\":{\"b\":1}}", "b", "", 0, 0 },
        { "key too shallow for the path", "{\"b\":1}", "x.b", "", 0, 0 },
        { "second member after a closed object", "{\"a\":{\"x\":1},\"b\":{\"x\":2}}", "b.x", "", 2, 0 },
        { "plain segment against a longer key", "{\"stateX\":1,\"state\":2}", "state", "", 2, 0 },
        { "plain segment against a shorter key", "{\"stat\":1,\"state\":2}", "state", "", 2, 0 },
        { "indexed segment against a longer key", "{\"listing\":[7,8]}", "list[1]", "", 8, 0 },
        { "index on the last segment", "{\"a\":[10,20,30]}", "a[2]", "", 30, 0 },
        { "index 0", "{\"a\":[\"x\",\"y\"]}", "a[0]", "x", 0, 0 },
        { "string element", "{\"a\":[\"x\",\"y\"]}", "a[1]", "y", 0, 0 },
        { "index on an inner segment", "{\"m\":[{\"id\":1,\"v\":\"p\"},{\"id\":2,\"v\":\"q\"}]}", "m[1].v", "q", 0, 0 },
        { "inner index 0", "{\"m\":[{\"id\":1,\"v\":\"p\"},{\"id\":2,\"v\":\"q\"}]}", "m[0].v", "p", 0, 0 },
        { "inner index, other key", "{\"m\":[{\"id\":1,\"v\":\"p\"},{\"id\":2,\"v\":\"q\"}]}", "m[1].id", "", 2, 0 },
        { "passed-over element keys not compared", "{\"m\":[{\"v\":\"p\"},{\"w\":0,\"v\":\"q\"}]}", "m[1].v", "q", 0,
          0 },
        { "index beyond an array counts on", "{\"a\":[1,2],\"b\":3,\"c\":4}", "a[3]", "", 4, 0 },
        { "index beyond everything", "{\"a\":[1,2],\"b\":3}", "a[9]", "", 0, 0 },
    };
    expectCases(cases, sizeof cases / sizeof cases[0]);
}

// Texts that used to hide "state" from the installation poll.
TEST(JsonGetValue, ReadsPastNegativesCarriageReturnsAndOtherQuotes)
{
    const LookupCase cases[] = {
        { "negative number before the key", "{\"progress\":-1,\"state\":\"done\"}", "state", "done", 0, 0 },
        { "negative decimal before the key", "{\"t\":-0.5,\"state\":\"done\"}", "state", "done", 0, 0 },
        { "CRLF line ends", "{\r\n\t\"content\": \"x\",\r\n\t\"state\": \"done\"\r\n}\r\n", "state", "done", 0, 0 },
        { "apostrophe inside a double-quoted string", "{\"content\":\"it's 50%\",\"state\":\"run\"}", "content",
          "it's 50%", 0, 0 },
        { "apostrophe before the key", "{\"content\":\"it's 50%\",\"state\":\"run\"}", "state", "run", 0, 0 },
        { "lone minus still ends the search", "{\"a\":-,\"state\":\"done\"}", "state", "", 0, 0 },
    };
    expectCases(cases, sizeof cases / sizeof cases[0]);
}

TEST(JsonGetValue, RefusesInputsBeyondItsLimits)
{
    // Text: 16383 characters are read, 16384 are refused whole.
    std::string text = "{\"a\":\"v\",\"pad\":\"";
    std::string tail = "\"}";
    std::string fits = text + std::string(JSON_TEXT_SIZE - 1 - text.size() - tail.size(), 'p') + tail;
    ASSERT_EQ(JSON_TEXT_SIZE - 1, (int)fits.size());
    EXPECT_EQ("v", lookup(fits, "a").text);
    std::string tooLong = fits;
    tooLong.insert(tooLong.size() - 2, "p");
    EXPECT_EQ("", lookup(tooLong, "a").text);

    // String value: 4095 characters are reported, 4096 are refused.
    std::string value(JSON_VALUE_SIZE - 1, 'v');
    EXPECT_EQ(value, lookup("{\"a\":\"" + value + "\"}", "a", JSON_VALUE_SIZE).text);
    EXPECT_EQ("", lookup("{\"a\":\"" + value + "v\",\"b\":\"x\"}", "a", JSON_VALUE_SIZE).text);

    // Segment: 254 characters are matched, 255 are refused.
    std::string key(JSON_SEGMENT_SIZE - 1, 'k');
    EXPECT_EQ(7, lookup("{\"" + key + "\":7}", key.c_str()).intValue);
    std::string longKey = key + "k";
    EXPECT_EQ(0, lookup("{\"" + longKey + "\":7}", longKey.c_str()).intValue);

    // Segments: ten are matched, eleven are refused.
    std::string nested, path, closers;
    for (int i = 0; i < JSON_MAX_SEGMENTS + 1; ++i) {
        nested += "{\"k\":";
        closers += "}";
        path += i ? ".k" : "k";
        if (i == JSON_MAX_SEGMENTS - 1) {
            EXPECT_EQ(5, lookup(nested + "5" + closers, path.c_str()).intValue);
        }
    }
    EXPECT_EQ(0, lookup(nested + "5" + closers, path.c_str()).intValue);
}

TEST(JsonGetValue, StopsAtNestingBeyondThirtyOneContainers)
{
    // Object plus 30 arrays is 31 containers; one more array is refused.
    for (int arrays : { 30, 31 }) {
        SCOPED_TRACE(arrays);
        std::string text = "{\"deep\":" + std::string(arrays, '[') + std::string(arrays, ']') + ",\"a\":1}";
        EXPECT_EQ(arrays == 30 ? 1 : 0, lookup(text, "a").intValue);
    }
}

TEST(JsonGetValue, CutsTextToOutSizeAndSkipsNullOutputs)
{
    EXPECT_EQ("abc", lookup("{\"s\":\"abcdef\"}", "s", 4).text);
    EXPECT_EQ("", lookup("{\"s\":\"abcdef\"}", "s", 1).text);

    const char text[] = "{\"s\":\"abc\",\"n\":3}";
    int n = 0;
    EXPECT_EQ(0, json_getValue(text, sizeof text - 1, "n", nullptr, 0, &n, nullptr));
    EXPECT_EQ(3, n);
    char out[8] = "old";
    EXPECT_EQ(0, json_getValue(nullptr, 0, "s", out, sizeof out, nullptr, nullptr));
    EXPECT_STREQ("", out);
}

TEST(JsonGetValue, LeavesTheCallersTextUntouched)
{
    const char original[] = "{\"a\":\"x\",\"b\":\"y\"}";
    char text[sizeof original];
    memcpy(text, original, sizeof original);
    char out[16];
    int n;
    float f;
    json_getValue(text, sizeof text - 1, "b", out, sizeof out, &n, &f);
    EXPECT_STREQ("y", out);
    EXPECT_EQ(0, memcmp(original, text, sizeof original));
}

} // namespace
