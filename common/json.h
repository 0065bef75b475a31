// JSON text access without a tree: an event parser with a shared callback
// table, lookup by dotted key path, in-place value edits, file read/write,
// an append buffer and a compact text writer. No heap; every write bounded.
#pragma once

#define JSON_STACK_SIZE 32    // container stack entries (31 nested containers)
#define JSON_MAX_SEGMENTS 10  // key path segments json_getValue keeps
#define JSON_SEGMENT_SIZE 255 // per segment: 254 characters and a zero
#define JSON_VALUE_SIZE 4096  // string value: 4095 characters and a zero
#define JSON_TEXT_SIZE 16384  // json_getValue text: 16383 characters and a zero
#define JSON_APPEND_SIZE 4096 // appendBuffer: 4095 characters and a zero

// Token kinds returned by json_tokenType.
enum json_token {
    JSON_TOKEN_END = 0,
    JSON_TOKEN_STRING,
    JSON_TOKEN_COMMA,
    JSON_TOKEN_COLON,
    JSON_TOKEN_MINUS,  // '-' not followed by a digit
    JSON_TOKEN_NUMBER, // digit, or '-' followed by a digit
    JSON_TOKEN_OBJECT_START,
    JSON_TOKEN_OBJECT_END,
    JSON_TOKEN_ARRAY_START,
    JSON_TOKEN_ARRAY_END,
    JSON_TOKEN_TRUE,
    JSON_TOKEN_FALSE,
    JSON_TOKEN_NULL,
    JSON_TOKEN_INVALID
};

// Parser container stack entry values.
#define JSON_ENTRY_OBJECT_NEW 0 // object (or top level) that has had no key
#define JSON_ENTRY_OBJECT 1     // object that has had a key
#define JSON_ENTRY_ARRAY 2

struct json_parser {
    int stack[JSON_STACK_SIZE]; // entry 0: top level; entry d: container at depth d
    int depth;
    int afterComma;
    void* user;    // handed to every callback
    char* cursor;  // next character; null before the first json_parse
    int remaining; // token characters still to read
};

// Every callback returns non-zero to go on, 0 to stop the parse.
// Texts are zero-terminated in place (the closing quote is overwritten).
typedef int (*json_boolCallback)(void* user, int value);
typedef int (*json_intCallback)(void* user, int value);
typedef int (*json_floatCallback)(void* user, float value);
typedef int (*json_textCallback)(void* user, const char* text, int length);
typedef int (*json_eventCallback)(void* user);

struct json_search {
    char segments[JSON_MAX_SEGMENTS][JSON_SEGMENT_SIZE];
    int segmentCount;
    char valueText[JSON_VALUE_SIZE];
    int intValue;
    float floatValue;
    int matched;      // leading path segments matched so far
    int elementCount; // objects of an indexed array passed over
    int currentIndex; // n of the last compared segment name[n], else -1
    int valueCount;   // scalars passed over waiting for the indexed one
    int inArray;      // 1 while elements of an indexed array are skipped
    int found;        // 1 once the whole path has matched
    int objectDepth;  // object nesting outside skipped elements
    int arrayDepth;
    int innerDepth; // object nesting inside a skipped element
};

// Writer stack entry values.
#define JSON_WRITER_TOP 0
#define JSON_WRITER_OBJECT_EMPTY 1
#define JSON_WRITER_OBJECT_MEMBER 2 // after a complete member
#define JSON_WRITER_OBJECT_KEY 3    // after a key, value due
#define JSON_WRITER_ARRAY_EMPTY 4
#define JSON_WRITER_ARRAY_ELEMENT 5

struct json_writer {
    int stack[JSON_STACK_SIZE];
    int depth;
};

// --- Public operations --------------------------------------------------

// Looks up keyPath ("a.b[2].c") in text. outText gets at most outSize - 1
// characters and a zero; exactly one output carries the value, the others
// stay "" / 0 / 0.0; nothing found (or a limit exceeded) leaves all three
// empty. Null outputs are skipped. Always returns 0.
int json_getValue(const char* text, int length, const char* keyPath, char* outText, int outSize, int* outInt,
                  float* outFloat);

// Replaces in place the value of the first "key": in text (a buffer of
// textSize bytes) with newValue as it stands. Returns 0, or -1 with the
// text unchanged when the key is missing, the text is broken or the result
// would not fit textSize.
int json_setValue(char* text, int textSize, const char* key, const char* newValue);

// Reads the file from its first '{' into outText (at most outSize - 1
// characters and a zero). Returns 0 when the file cannot be opened (outText
// becomes ""), otherwise the result of closing it.
int json_getBuffer(const char* path, char* outText, int outSize);

// Writes text to the file, replacing its contents.
void json_setBuffer(const char* path, const char* text);

// Append a and b (or a and n in decimal) to appendBuffer, truncated to what
// fits. Return the number of characters appended plus one.
extern char appendBuffer[JSON_APPEND_SIZE];
int json_appendText(const char* a, const char* b);
int json_appendInt(const char* a, int n);
void json_appendClear();

// --- Event parser ---------------------------------------------------------

json_parser* json_parserInit(json_parser* parser, void* user);

// A null pointer empties the slot. The null slot has no setter.
void json_setBoolCallback(json_boolCallback callback);
void json_setIntCallback(json_intCallback callback);
void json_setFloatCallback(json_floatCallback callback);
void json_setStringCallback(json_textCallback callback);
void json_setKeyCallback(json_textCallback callback);
void json_setObjectStartCallback(json_eventCallback callback);
void json_setObjectEndCallback(json_eventCallback callback);
void json_setArrayStartCallback(json_eventCallback callback);
void json_setArrayEndCallback(json_eventCallback callback);

int json_tokenType(int remaining, const char* cursor);

// 1 when the remaining count ran out (or length was 0 or less), 0 when the
// parse stopped early. Writes into text.
int json_parse(json_parser* parser, char* text, int length);

// --- Text writer ------------------------------------------------------------
// Each write returns the output position after what it wrote, or null when it
// wrote nothing (item not allowed here, over budget, nesting limit). No zero
// byte is written.

json_writer* json_writerInit(json_writer* writer);
char* json_writeObjectBegin(json_writer* writer, char* out, int* budget);
char* json_writeArrayBegin(json_writer* writer, char* out, int* budget);
char* json_writeObjectEnd(json_writer* writer, char* out, int* budget);
char* json_writeArrayEnd(json_writer* writer, char* out, int* budget);
char* json_writeString(json_writer* writer, char* out, const char* text, int* budget);
char* json_writeKey(json_writer* writer, char* out, const char* text, int* budget);
char* json_writeInt(json_writer* writer, char* out, int value, int* budget);
char* json_writeBool(json_writer* writer, char* out, int value, int* budget);
void json_writerNext(json_writer* writer);
