// The library's debug channel: OutputDebugStringA on Windows, the system log
// at debug level elsewhere, plus an in-process capture hook for tests.
#pragma once

extern char debugText[4096]; // formatting buffer of login and exports

void debug_print(const char* text);
// Bounded vsnprintf into buffer (cut at size - 1), then debug_print.
void debug_format(char* buffer, int size, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

typedef void (*debug_hook)(const char* text, void* user);
// Every later debug line also goes to hook (nullptr: none); test seam.
void debug_setCapture(debug_hook hook, void* user);
