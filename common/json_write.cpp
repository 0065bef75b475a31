// Compact JSON text writer: puts the separator each item needs in front of
// it, within the caller's byte budget. Writes no zero byte.
#include "json.h"

#include <stdio.h>
#include <string.h>

namespace {

const int SCRATCH_SIZE = 1024;
const int MAX_STRING = 1020;

// Separators by stack entry; null where the item is not allowed there.
const char* const OPENER_PREFIX[] = { "", "", ",", ":", "", "," };
const char* const STRING_PREFIX[] = { nullptr, "", ",", ":", "", "," };
const char* const VALUE_PREFIX[] = { nullptr, nullptr, nullptr, ":", "", "," };

bool usable(json_writer* writer, char* out, int* budget)
{
    return writer && out && budget && writer->depth >= 0 && writer->depth < JSON_STACK_SIZE &&
           writer->stack[writer->depth] >= JSON_WRITER_TOP && writer->stack[writer->depth] <= JSON_WRITER_ARRAY_ELEMENT;
}

char* emit(char* out, const char* piece, int length, int* budget)
{
    if (length < 0 || length > *budget)
        return nullptr;
    memcpy(out, piece, (size_t)length);
    *budget -= length;
    return out + length;
}

char* writeOpener(json_writer* writer, char* out, int* budget, char opener, int entry)
{
    if (!usable(writer, out, budget) || writer->depth + 1 >= JSON_STACK_SIZE)
        return nullptr;
    char piece[3];
    int length = snprintf(piece, sizeof piece, "%s%c", OPENER_PREFIX[writer->stack[writer->depth]], opener);
    char* next = emit(out, piece, length, budget);
    if (!next)
        return nullptr;
    writer->depth++;
    writer->stack[writer->depth] = entry;
    return next;
}

char* writeCloser(json_writer* writer, char* out, int* budget, char closer)
{
    if (!usable(writer, out, budget) || writer->depth <= 0)
        return nullptr;
    char* next = emit(out, &closer, 1, budget);
    if (!next)
        return nullptr;
    writer->depth--;
    json_writerNext(writer);
    return next;
}

} // namespace

json_writer* json_writerInit(json_writer* writer)
{
    if (!writer)
        return nullptr;
    memset(writer, 0, sizeof *writer);
    return writer;
}

void json_writerNext(json_writer* writer)
{
    if (!writer || writer->depth < 0 || writer->depth >= JSON_STACK_SIZE)
        return;
    int* entry = &writer->stack[writer->depth];
    switch (*entry) {
    case JSON_WRITER_OBJECT_EMPTY:
    case JSON_WRITER_OBJECT_MEMBER:
        *entry = JSON_WRITER_OBJECT_KEY;
        break;
    case JSON_WRITER_OBJECT_KEY:
        *entry = JSON_WRITER_OBJECT_MEMBER;
        break;
    case JSON_WRITER_ARRAY_EMPTY:
        *entry = JSON_WRITER_ARRAY_ELEMENT;
        break;
    default:
        break;
    }
}

char* json_writeObjectBegin(json_writer* writer, char* out, int* budget)
{
    return writeOpener(writer, out, budget, '{', JSON_WRITER_OBJECT_EMPTY);
}

char* json_writeArrayBegin(json_writer* writer, char* out, int* budget)
{
    return writeOpener(writer, out, budget, '[', JSON_WRITER_ARRAY_EMPTY);
}

char* json_writeObjectEnd(json_writer* writer, char* out, int* budget)
{
    return writeCloser(writer, out, budget, '}');
}

char* json_writeArrayEnd(json_writer* writer, char* out, int* budget)
{
    return writeCloser(writer, out, budget, ']');
}

char* json_writeString(json_writer* writer, char* out, const char* text, int* budget)
{
    if (!usable(writer, out, budget) || !text)
        return nullptr;
    const char* prefix = STRING_PREFIX[writer->stack[writer->depth]];
    // Longer strings are refused rather than written cut.
    if (!prefix || strlen(text) > (size_t)MAX_STRING)
        return nullptr;
    char scratch[SCRATCH_SIZE];
    int length = snprintf(scratch, sizeof scratch, "%s\"%s\"", prefix, text);
    char* next = emit(out, scratch, length, budget);
    if (next)
        json_writerNext(writer);
    return next;
}

char* json_writeKey(json_writer* writer, char* out, const char* text, int* budget)
{
    return json_writeString(writer, out, text, budget);
}

char* json_writeInt(json_writer* writer, char* out, int value, int* budget)
{
    if (!usable(writer, out, budget))
        return nullptr;
    const char* prefix = VALUE_PREFIX[writer->stack[writer->depth]];
    if (!prefix)
        return nullptr;
    char scratch[SCRATCH_SIZE];
    int length = snprintf(scratch, sizeof scratch, "%s%d", prefix, value);
    char* next = emit(out, scratch, length, budget);
    if (next)
        json_writerNext(writer);
    return next;
}

char* json_writeBool(json_writer* writer, char* out, int value, int* budget)
{
    if (!usable(writer, out, budget))
        return nullptr;
    const char* prefix = VALUE_PREFIX[writer->stack[writer->depth]];
    if (!prefix)
        return nullptr;
    char scratch[SCRATCH_SIZE];
    int length = snprintf(scratch, sizeof scratch, "%s%s", prefix, value ? "true" : "false");
    char* next = emit(out, scratch, length, budget);
    if (next)
        json_writerNext(writer);
    return next;
}
