// The module's append buffer: formatted pieces added at its end, never past it.
#include "json.h"

#include <stdio.h>
#include <string.h>

char appendBuffer[JSON_APPEND_SIZE];

namespace {

const int SCRATCH_SIZE = 256;

int appendScratch(const char* scratch)
{
    size_t used = strlen(appendBuffer);
    size_t room = JSON_APPEND_SIZE - 1 - used;
    size_t n = strlen(scratch);
    if (n > room)
        n = room;
    memcpy(appendBuffer + used, scratch, n);
    appendBuffer[used + n] = '\0';
    return (int)n + 1;
}

} // namespace

int json_appendText(const char* a, const char* b)
{
    char scratch[SCRATCH_SIZE];
    snprintf(scratch, sizeof scratch, "%s%s", a ? a : "", b ? b : "");
    return appendScratch(scratch);
}

int json_appendInt(const char* a, int n)
{
    char scratch[SCRATCH_SIZE];
    snprintf(scratch, sizeof scratch, "%s%d", a ? a : "", n);
    return appendScratch(scratch);
}

void json_appendClear()
{
    appendBuffer[0] = '\0';
}
