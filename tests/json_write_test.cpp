// Text writer: exact separators, refused items leaving output, budget and
// stack untouched; and the bounded append buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "json.h"

namespace {

struct Output {
    char buffer[2048];
    char* out;
    int budget;
    json_writer writer;

    explicit Output(int budgetBytes = 2048) : out(buffer), budget(budgetBytes)
    {
        memset(buffer, '#', sizeof buffer);
        json_writerInit(&writer);
    }
    std::string text() const
    {
        return std::string(buffer, out - buffer);
    }
    // Applies one write; a refused write leaves out where it was.
    bool put(char* next)
    {
        if (!next)
            return false;
        out = next;
        return true;
    }
};

TEST(JsonWriter, WritesCompactTextWithTableSeparators)
{
    Output o;
    ASSERT_TRUE(o.put(json_writeObjectBegin(&o.writer, o.out, &o.budget)));
    ASSERT_TRUE(o.put(json_writeKey(&o.writer, o.out, "a", &o.budget)));
    ASSERT_TRUE(o.put(json_writeInt(&o.writer, o.out, 1, &o.budget)));
    ASSERT_TRUE(o.put(json_writeKey(&o.writer, o.out, "b", &o.budget)));
    ASSERT_TRUE(o.put(json_writeArrayBegin(&o.writer, o.out, &o.budget)));
    ASSERT_TRUE(o.put(json_writeBool(&o.writer, o.out, 1, &o.budget)));
    ASSERT_TRUE(o.put(json_writeString(&o.writer, o.out, "x", &o.budget)));
    ASSERT_TRUE(o.put(json_writeArrayEnd(&o.writer, o.out, &o.budget)));
    ASSERT_TRUE(o.put(json_writeObjectEnd(&o.writer, o.out, &o.budget)));
    const std::string want = "{\"a\":1,\"b\":[true,\"x\"]}";
    EXPECT_EQ(want, o.text());
    EXPECT_EQ(2048 - (int)want.size(), o.budget);
    EXPECT_EQ('#', *o.out) << "no zero byte is written";
    EXPECT_EQ(0, o.writer.depth);
}

TEST(JsonWriter, SeparatesContainersInsideContainers)
{
    Output o;
    o.put(json_writeArrayBegin(&o.writer, o.out, &o.budget));
    o.put(json_writeObjectBegin(&o.writer, o.out, &o.budget));
    o.put(json_writeKey(&o.writer, o.out, "o", &o.budget));
    o.put(json_writeObjectBegin(&o.writer, o.out, &o.budget));
    o.put(json_writeObjectEnd(&o.writer, o.out, &o.budget));
    o.put(json_writeKey(&o.writer, o.out, "f", &o.budget));
    o.put(json_writeBool(&o.writer, o.out, 0, &o.budget));
    o.put(json_writeObjectEnd(&o.writer, o.out, &o.budget));
    o.put(json_writeArrayBegin(&o.writer, o.out, &o.budget));
    o.put(json_writeInt(&o.writer, o.out, -7, &o.budget));
    o.put(json_writeInt(&o.writer, o.out, 8, &o.budget));
    o.put(json_writeArrayEnd(&o.writer, o.out, &o.budget));
    o.put(json_writeArrayEnd(&o.writer, o.out, &o.budget));
    EXPECT_EQ("[{\"o\":{},\"f\":false},[-7,8]]", o.text());
}

TEST(JsonWriter, RefusesItemsNotAllowedWhereTheyStand)
{
    Output o;
    EXPECT_EQ(nullptr, json_writeString(&o.writer, o.out, "top", &o.budget));
    EXPECT_EQ(nullptr, json_writeInt(&o.writer, o.out, 1, &o.budget));
    EXPECT_EQ(nullptr, json_writeBool(&o.writer, o.out, 1, &o.budget));
    EXPECT_EQ(nullptr, json_writeObjectEnd(&o.writer, o.out, &o.budget));
    o.put(json_writeObjectBegin(&o.writer, o.out, &o.budget));
    EXPECT_EQ(nullptr, json_writeInt(&o.writer, o.out, 1, &o.budget)) << "key due";
    o.put(json_writeKey(&o.writer, o.out, "a", &o.budget));
    o.put(json_writeInt(&o.writer, o.out, 1, &o.budget));
    EXPECT_EQ(nullptr, json_writeInt(&o.writer, o.out, 2, &o.budget)) << "next key due";
    EXPECT_EQ(nullptr, json_writeBool(&o.writer, o.out, 0, &o.budget)) << "next key due";
    EXPECT_EQ(nullptr, json_writeString(&o.writer, o.out, std::string(1021, 's').c_str(), &o.budget));
    EXPECT_EQ("{\"a\":1", o.text());
    EXPECT_EQ(2048 - 6, o.budget);
    // The refusals did not step the entry: a key is still due.
    o.put(json_writeKey(&o.writer, o.out, std::string(1020, 'k').c_str(), &o.budget));
    EXPECT_EQ("{\"a\":1,\"" + std::string(1020, 'k') + "\"", o.text());
}

TEST(JsonWriter, RefusesAnItemOverBudget)
{
    struct {
        const char* name;
        int budget;
        bool fits;
    } cases[] = { { "one byte short", 5, false }, { "exact", 6, true } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Output o(100);
        o.put(json_writeObjectBegin(&o.writer, o.out, &o.budget));
        o.put(json_writeKey(&o.writer, o.out, "a", &o.budget));
        o.budget = c.budget;
        json_writer before = o.writer;
        char* next = json_writeString(&o.writer, o.out, "bcd", &o.budget); // :"bcd" = 6 bytes
        EXPECT_EQ(c.fits, next != nullptr);
        if (c.fits) {
            EXPECT_EQ(0, o.budget);
            o.put(next);
            EXPECT_EQ("{\"a\":\"bcd\"", o.text());
        } else {
            EXPECT_EQ(c.budget, o.budget);
            EXPECT_EQ(0, memcmp(&before, &o.writer, sizeof before));
            EXPECT_EQ('#', *o.out);
        }
    }
    // An opener with its separator needs two bytes, a closer one.
    Output o(100);
    o.put(json_writeArrayBegin(&o.writer, o.out, &o.budget));
    o.put(json_writeInt(&o.writer, o.out, 1, &o.budget));
    o.budget = 1;
    EXPECT_EQ(nullptr, json_writeArrayBegin(&o.writer, o.out, &o.budget));
    EXPECT_EQ(1, o.writer.depth);
    EXPECT_TRUE(o.put(json_writeArrayEnd(&o.writer, o.out, &o.budget)));
    EXPECT_EQ(0, o.budget);
    EXPECT_EQ(nullptr, json_writeObjectBegin(&o.writer, o.out, &o.budget));
    EXPECT_EQ("[1]", o.text());
}

TEST(JsonWriter, LimitsNestingToThirtyOneContainers)
{
    Output o;
    for (int i = 0; i < 31; ++i)
        ASSERT_TRUE(o.put(json_writeArrayBegin(&o.writer, o.out, &o.budget)));
    EXPECT_EQ(nullptr, json_writeArrayBegin(&o.writer, o.out, &o.budget));
    for (int i = 0; i < 31; ++i)
        ASSERT_TRUE(o.put(json_writeArrayEnd(&o.writer, o.out, &o.budget)));
    EXPECT_EQ(nullptr, json_writeArrayEnd(&o.writer, o.out, &o.budget));
    EXPECT_EQ(std::string(31, '[') + std::string(31, ']'), o.text());
}

TEST(JsonAppend, AppendsFormattedPiecesUpToTheBufferEnd)
{
    json_appendClear();
    EXPECT_EQ(5, json_appendText("ab", "cd"));
    EXPECT_EQ(5, json_appendInt("n=", -3));
    EXPECT_STREQ("abcdn=-3", appendBuffer);

    // Each piece is cut to its 255-character scratch text.
    json_appendClear();
    std::string half(200, 'h');
    EXPECT_EQ(256, json_appendText(half.c_str(), half.c_str()));
    EXPECT_EQ(255u, strlen(appendBuffer));

    // The buffer fills to 4095 characters and no further.
    int last = 0;
    for (int i = 0; i < 25; ++i)
        last = json_appendText(half.c_str(), "");
    EXPECT_EQ(1, last);
    EXPECT_EQ((size_t)JSON_APPEND_SIZE - 1, strlen(appendBuffer));
    json_appendClear();
}

} // namespace
