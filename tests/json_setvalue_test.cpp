// Line edits: which region json_setValue replaces, and that every failure
// leaves the caller's text as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json.h"

namespace {

struct EditCase {
    const char* name;
    const char* text;
    const char* key;
    const char* newValue;
    int wantResult;
    const char* wantText; // null: unchanged
};

// Runs the edit in a buffer of textSize bytes (0: roomy) with guard bytes.
std::string edit(const EditCase& c, int textSize, int* result, std::string* printed)
{
    std::string text = c.text;
    if (textSize == 0)
        textSize = (int)text.size() + 256;
    std::vector<char> buffer(textSize + 16, '#');
    memcpy(buffer.data(), text.c_str(), text.size() + 1);
    testing::internal::CaptureStdout();
    *result = json_setValue(buffer.data(), textSize, c.key, c.newValue);
    *printed = testing::internal::GetCapturedStdout();
    for (int i = textSize; i < textSize + 16; ++i)
        EXPECT_EQ('#', buffer[i]) << "wrote past textSize";
    return std::string(buffer.data());
}

void expectEdits(const EditCase* cases, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const EditCase& c = cases[i];
        SCOPED_TRACE(c.name);
        int result;
        std::string printed;
        std::string text = edit(c, 0, &result, &printed);
        EXPECT_EQ(c.wantResult, result);
        EXPECT_EQ(c.wantText ? c.wantText : c.text, text);
        if (result == 0) {
            EXPECT_EQ("", printed);
        }
    }
}

TEST(JsonSetValue, ReplacesTheValueOnTheKeysLine)
{
    const EditCase cases[] = {
        { "quoted value", "{\n\t\"a\": \"old\",\n\t\"b\": 1\n}\n", "a", "new", 0,
          "{\n\t\"a\": \"new\",\n\t\"b\": 1\n}\n" },
        { "quoted value emptied", "{\n\t\"a\": \"old\",\n\t\"b\": 1\n}\n", "a", "", 0,
          "{\n\t\"a\": \"\",\n\t\"b\": 1\n}\n" },
        { "empty quoted value filled", "\t\"install_component\": \"\",\n", "install_component", "package", 0,
          "\t\"install_component\": \"package\",\n" },
        { "escaped quote ends the region", "\"a\": \"x\\\"y\",\n", "a", "z", 0, "\"a\": \"z\"y\",\n" },
        { "bare number", "\t\"n\": 12,\n", "n", "99", 0, "\t\"n\": 99,\n" },
        { "negative number keeps its minus", "\t\"n\": -12,\n", "n", "5", 0, "\t\"n\": -5,\n" },
        { "true", "\t\"reboot\": false,\n\t\"x\": 1\n", "reboot", "true", 0, "\t\"reboot\": true,\n\t\"x\": 1\n" },
        { "decimal replaced whole", "\t\"f\": 1.25,\n", "f", "3", 0, "\t\"f\": 3,\n" },
        { "last member without comma", "{\n\t\"n\": 7\n}\n", "n", "8", 0, "{\n\t\"n\": 8\n}\n" },
        { "first of two keys at different depths", "{\n\t\"o\": {\n\t\t\"k\": 1\n\t},\n\t\"k\": 2\n}\n", "k", "9", 0,
          "{\n\t\"o\": {\n\t\t\"k\": 9\n\t},\n\t\"k\": 2\n}\n" },
        { "nothing but a line feed after the colon", "\"a\":\n\t5\n", "a", "X", 0, "\"a\":X\n\t5\n" },
        { "no line feed at all", "{\"a\": 5}", "a", "X", 0, "{\"a\":X 5}" },
        { "apostrophe-quoted value stays on its line", "\"a\": 'x',\n\"b\": \"y\"\n", "a", "z", 0,
          "\"a\": 'z',\n\"b\": \"y\"\n" },
        { "key inside a value is no member", "\"s\": \"\\\"k\\\": 1\",\n\"k\": 2\n", "k", "3", 0,
          "\"s\": \"\\\"k\\\": 1\",\n\"k\": 3\n" },
    };
    expectEdits(cases, sizeof cases / sizeof cases[0]);
}

TEST(JsonSetValue, FailsWithoutChangingTheText)
{
    const char* missing = "Fehler json_setValue(): key nicht enthalten\n";
    const char* broken = "Fehler json_setValue():  JSON-String defekt\n";
    struct {
        EditCase edit;
        const char* printed;
    } cases[] = {
        { { "key missing", "{\n\t\"a\": 1\n}\n", "b", "2", -1, nullptr }, missing },
        { { "blank before the colon", "{\n\t\"a\" : 1\n}\n", "a", "2", -1, nullptr }, missing },
        { { "key only as a prefix", "{\n\t\"ab\": 1\n}\n", "a", "2", -1, nullptr }, missing },
        { { "empty text", "", "a", "2", -1, nullptr }, missing },
        { { "no closing double quote", "{\n\t\"a\": \"open\n}\n", "a", "2", -1, nullptr }, broken },
        { { "no closing apostrophe on the line", "\"a\": 'open\n'\n", "a", "2", -1, nullptr }, broken },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.edit.name);
        int result;
        std::string printed;
        EXPECT_EQ(c.edit.text, edit(c.edit, 0, &result, &printed));
        EXPECT_EQ(-1, result);
        EXPECT_EQ(c.printed, printed);
    }
}

TEST(JsonSetValue, RefusesAResultThatWouldNotFit)
{
    const EditCase grow = { "grow", "\t\"a\": \"old\",\n", "a", "older", 0, "\t\"a\": \"older\",\n" };
    const int exact = (int)strlen(grow.wantText) + 1;
    int result;
    std::string printed;

    EXPECT_EQ(grow.wantText, edit(grow, exact, &result, &printed));
    EXPECT_EQ(0, result);

    EXPECT_EQ(grow.text, edit(grow, exact - 1, &result, &printed));
    EXPECT_EQ(-1, result);
    EXPECT_NE("", printed);

    // A text without its zero byte inside textSize is not walked at all.
    char text[] = "\"a\": 1\n";
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, json_setValue(text, (int)strlen(text), "a", "2"));
    EXPECT_EQ("Fehler json_setValue():  JSON-String defekt\n", testing::internal::GetCapturedStdout());
    EXPECT_EQ(-1, json_setValue(nullptr, 10, "a", "2"));
    EXPECT_EQ(-1, json_setValue(text, 0, "a", "2"));
    EXPECT_EQ(-1, json_setValue(text, sizeof text, nullptr, "2"));
    EXPECT_EQ(-1, json_setValue(text, sizeof text, "a", nullptr));
    EXPECT_STREQ("\"a\": 1\n", text);
}

} // namespace
