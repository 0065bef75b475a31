// Event parser: token kinds, the event sequence the callbacks see, where a
// parse stops, and continuing a stopped parse.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "json.h"

namespace {

// Records every event as a short word; stopAt ends the parse at that event.
struct Recorder {
    std::string log;
    int events = 0;
    int stopAt = -1;
};

int note(void* user, const std::string& word)
{
    Recorder* r = static_cast<Recorder*>(user);
    r->log += r->log.empty() ? word : " " + word;
    return r->events++ != r->stopAt;
}

void registerRecorder()
{
    json_setBoolCallback([](void* u, int v) { return note(u, v ? "true" : "false"); });
    json_setIntCallback([](void* u, int v) { return note(u, "I" + std::to_string(v)); });
    json_setFloatCallback([](void* u, float v) {
        char buf[32];
        snprintf(buf, sizeof buf, "F%g", v);
        return note(u, buf);
    });
    json_setStringCallback([](void* u, const char* t, int n) {
        EXPECT_EQ((int)strlen(t), n);
        return note(u, "S:" + std::string(t));
    });
    json_setKeyCallback([](void* u, const char* t, int n) {
        EXPECT_EQ((int)strlen(t), n);
        return note(u, "K:" + std::string(t));
    });
    json_setObjectStartCallback([](void* u) { return note(u, "{"); });
    json_setObjectEndCallback([](void* u) { return note(u, "}"); });
    json_setArrayStartCallback([](void* u) { return note(u, "["); });
    json_setArrayEndCallback([](void* u) { return note(u, "]"); });
}

struct Parsed {
    int result;
    std::string log;
};

Parsed parse(const std::string& text, int length = -1)
{
    registerRecorder();
    std::string buffer = text;
    Recorder recorder;
    json_parser parser;
    json_parserInit(&parser, &recorder);
    int result = json_parse(&parser, &buffer[0], length < 0 ? (int)text.size() : length);
    return Parsed{ result, recorder.log };
}

TEST(JsonTokenType, ClassifiesByTheCharacterAtTheCursor)
{
    struct {
        const char* cursor;
        int remaining;
        int kind;
    } cases[] = {
        { "", 9, JSON_TOKEN_END },           { "\"a\"", 9, JSON_TOKEN_STRING },  { "'a'", 9, JSON_TOKEN_STRING },
        { ",", 9, JSON_TOKEN_COMMA },        { ":", 9, JSON_TOKEN_COLON },       { "-", 9, JSON_TOKEN_MINUS },
        { "-x", 9, JSON_TOKEN_MINUS },       { "-7", 9, JSON_TOKEN_NUMBER },     { "7", 9, JSON_TOKEN_NUMBER },
        { "{", 9, JSON_TOKEN_OBJECT_START }, { "}", 9, JSON_TOKEN_OBJECT_END },  { "[", 9, JSON_TOKEN_ARRAY_START },
        { "]", 9, JSON_TOKEN_ARRAY_END },    { "true", 4, JSON_TOKEN_TRUE },     { "true", 3, JSON_TOKEN_INVALID },
        { "false", 5, JSON_TOKEN_FALSE },    { "false", 4, JSON_TOKEN_INVALID }, { "null", 4, JSON_TOKEN_NULL },
        { "nul", 9, JSON_TOKEN_INVALID },    { "trueish", 9, JSON_TOKEN_TRUE },  { ".5", 9, JSON_TOKEN_INVALID },
        { "x", 9, JSON_TOKEN_INVALID },      { "\xe4", 9, JSON_TOKEN_INVALID },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cursor);
        EXPECT_EQ(c.kind, json_tokenType(c.remaining, c.cursor));
    }
}

TEST(JsonParse, RaisesOneEventPerToken)
{
    struct {
        const char* text;
        int result;
        const char* log;
    } cases[] = {
        { "{\"a\":[1,-2.5,true,false,null,\"s\"],'b':'x'}", 1, "{ K:a [ I1 F-2.5 true false S:s ] K:b S:x }" },
        // Keys after commas, also in objects inside arrays.
        { "[{\"a\":\"x\"},{\"b\":\"y\",\"c\":\"z\"}]", 1, "[ { K:a S:x } { K:b S:y K:c S:z } ]" },
        { "{\"n\":-12,\"m\":0.25}", 1, "{ K:n I-12 K:m F0.25 }" },
        // Blanks are not counted, so a spaced text ends at its zero byte.
        { "{ \"a\" : 1 }\r\n", 0, "{ K:a I1 }" },
        { "{\"a\":1}// trailing comment without line feed", 0, "{ K:a I1 }" },
        { "{'it\"s':\"it's\"}", 1, "{ K:it\"s S:it's }" },
        { "{\"e\":\"a\\\"b\\\\\"}", 1, "{ K:e S:a\\\"b\\\\ }" },
        // Only the literal's letters are taken.
        { "[truex]", 0, "[ true" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Parsed p = parse(c.text);
        EXPECT_EQ(c.result, p.result);
        EXPECT_EQ(c.log, p.log);
    }
}

TEST(JsonParse, StopsAtBrokenTokens)
{
    struct {
        const char* text;
        const char* log;
    } cases[] = {
        { "[1,-]", "[ I1" },  { "[1.2.3]", "[" }, { "[1e5]", "[ I1" },
        { "[0x10]", "[ I0" }, { "[\"open", "[" }, { "[\"ends in a backslash\\", "[" },
        { "[/ x]", "[" },     { "]", "" },        { "{}}", "{ }" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Parsed p = parse(c.text, 1000);
        EXPECT_EQ(0, p.result);
        EXPECT_EQ(c.log, p.log);
    }
}

TEST(JsonParse, ConvertsOutOfRangeNumbersWithoutOverflow)
{
    EXPECT_EQ("[ I2147483647 I-2147483648 ]", parse("[99999999999,-99999999999]").log);
    // Beyond the float range the decimal becomes an infinity of its sign.
    static float seen[2];
    static int count;
    registerRecorder();
    json_setFloatCallback([](void*, float v) {
        seen[count++ % 2] = v;
        return 1;
    });
    std::string huge = "[1" + std::string(40, '0') + ".0,-1" + std::string(40, '0') + ".0]";
    count = 0;
    Recorder recorder;
    json_parser parser;
    json_parserInit(&parser, &recorder);
    EXPECT_EQ(1, json_parse(&parser, &huge[0], (int)huge.size()));
    EXPECT_EQ(2, count);
    EXPECT_TRUE(std::isinf(seen[0]) && seen[0] > 0) << seen[0];
    EXPECT_TRUE(std::isinf(seen[1]) && seen[1] < 0) << seen[1];
    // A run longer than any number a device sends is refused.
    EXPECT_EQ("[", parse("[" + std::string(200, '1') + "]").log);
}

TEST(JsonParse, LimitsNestingToThirtyOneContainers)
{
    Parsed fits = parse(std::string(31, '[') + std::string(31, ']'));
    EXPECT_EQ(1, fits.result);
    Parsed deep = parse(std::string(32, '[') + std::string(32, ']'));
    EXPECT_EQ(0, deep.result);
    std::string opened = "[";
    for (int i = 1; i < 31; ++i)
        opened += " [";
    EXPECT_EQ(opened, deep.log);
}

TEST(JsonParse, EndsWithOneWhenTheCountRunsOut)
{
    // Seven token characters run out just after the comma.
    Parsed p = parse("{\"a\":1,\"b\":2}", 7);
    EXPECT_EQ(1, p.result);
    EXPECT_EQ("{ K:a I1", p.log);
    EXPECT_EQ(1, parse("{\"a\":1}", 0).result);
    EXPECT_EQ("", parse("{\"a\":1}", 0).log);
}

TEST(JsonParse, ContinuesAfterTheTokenThatStoppedIt)
{
    struct {
        const char* name;
        int stopAt;
        const char* first;
    } cases[] = {
        { "stopped at a key", 1, "{ K:a" },
        { "stopped at an integer", 2, "{ K:a I1" },
        { "stopped at a string value", 4, "{ K:a I1 K:b S:x" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        registerRecorder();
        std::string text = "{\"a\":1,\"b\":\"x\",\"c\":2}";
        Recorder recorder;
        recorder.stopAt = c.stopAt;
        json_parser parser;
        json_parserInit(&parser, &recorder);
        EXPECT_EQ(0, json_parse(&parser, &text[0], (int)text.size()));
        EXPECT_EQ(c.first, recorder.log);
        recorder.stopAt = -1;
        EXPECT_EQ(1, json_parse(&parser, nullptr, 0));
        EXPECT_EQ("{ K:a I1 K:b S:x K:c I2 }", recorder.log);
    }
}

TEST(JsonParse, EmptySlotsPassEventsOver)
{
    registerRecorder();
    json_setIntCallback(nullptr);
    json_setKeyCallback(nullptr);
    std::string text = "{\"a\":1,\"b\":\"x\"}";
    Recorder recorder;
    json_parser parser;
    json_parserInit(&parser, &recorder);
    EXPECT_EQ(1, json_parse(&parser, &text[0], (int)text.size()));
    EXPECT_EQ("{ S:x }", recorder.log);
}

} // namespace
