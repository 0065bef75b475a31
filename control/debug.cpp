// The debug channel: every diagnostic line of the library passes here.
#include "debug.h"
#include "plat.h"
#include <atomic>
#include <stdarg.h>
#include <stdio.h>

char debugText[4096];

struct debug_capture {
    debug_hook hook;
    void* user;
};
static debug_capture captures[2];
// Index of the capture in force; the other slot is filled before switching,
// so a line written by the event thread meanwhile never sees a torn pair.
static std::atomic<int> captureIndex(0);

void debug_print(const char* text)
{
    if (!text)
        return;
    plat_debugOutput(text);
    const debug_capture& c = captures[captureIndex.load(std::memory_order_acquire)];
    if (c.hook)
        c.hook(text, c.user);
}

void debug_format(char* buffer, int size, const char* format, ...)
{
    if (!buffer || size <= 0)
        return;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, (size_t)size, format, args);
    va_end(args);
    if (n < 0)
        buffer[0] = 0;
    debug_print(buffer);
}

void debug_setCapture(debug_hook hook, void* user)
{
    int next = 1 - captureIndex.load(std::memory_order_relaxed);
    captures[next].hook = hook;
    captures[next].user = user;
    captureIndex.store(next, std::memory_order_release);
}
