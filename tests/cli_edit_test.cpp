// Replacing one member's value in a JSON text: strings with escapes and
// commas, negative numbers, nested members, and members that cannot be set.
#include <gtest/gtest.h>

#include "cli.h"

#include <string>

namespace {

TEST(CliEdit, MemberValueIsReplacedWhole)
{
    struct editCase {
        const char* text;
        const char* key;
        const char* value;
        int done;
        const char* result;
    } cases[] = {
        { "{\n\t\"a\":\"x, \\\"y\\\"\",\n\t\"b\":1\n}", "a", "\"z\"", 1, "{\n\t\"a\":\"z\",\n\t\"b\":1\n}" },
        { "{\"t\": -2.5, \"u\": 3}", "t", "4", 1, "{\"t\": 4, \"u\": 3}" },
        { "{\"n\":{\"k\":false},\"k\":1}", "k", "true", 1, "{\"n\":{\"k\":true},\"k\":1}" },
        // A key text inside a string value is not a member.
        { "{\"s\":\"\\\"k\\\":1\",\"k\":2}", "k", "5", 1, "{\"s\":\"\\\"k\\\":1\",\"k\":5}" },
        { "{\"ab\":1,\"b\":2}", "b", "7", 1, "{\"ab\":1,\"b\":7}" },
        { "{\"o\":{\"x\":1}}", "o", "2", 0, "{\"o\":{\"x\":1}}" },
        { "{\"a\":1}", "missing", "2", 0, "{\"a\":1}" },
        { "{\"a\":\"open", "a", "2", 0, "{\"a\":\"open" },
    };
    for (const editCase& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(edit_setMember(&text, c.key, c.value), c.done) << c.text;
        EXPECT_EQ(text, c.result) << c.text;
    }
}

} // namespace
