// The device's configuration text (module "devicebase") as the updater and
// ormi edit it: compacted, re-indented one member per line, and the repair
// of a fetched configuration into that form. No window, no heap.
#pragma once

enum {
    JSON_FORMAT_SIZE = 4096, // configuration texts: 4095 characters and a zero
};

// Drops blanks, tabs, carriage returns and line feeds outside strings, in
// place. An escaped quote does not end a string.
void compactJsonText(char* text);

// Re-indents compact text in place, one member per line, tabs for depth; the
// inside of strings is copied untouched. text is a buffer of size bytes.
// Returns 1, or 0 with text unchanged when the result would not fit size or
// JSON_FORMAT_SIZE bytes.
int indentJsonText(char* text, int size);

enum deviceBaseResult {
    DEVICEBASE_OK = 0,
    DEVICEBASE_NO_OBJECT, // the answer holds no '{'
    DEVICEBASE_TOO_LONG,  // answer or re-indented text does not fit out
    DEVICEBASE_CUT,       // a string or bracket is left open: the answer was cut
};

// The repair of a fetched configuration: everything before the first '{'
// dropped, compacted, checked for an open string or bracket, re-indented. out holds size bytes (at most
// JSON_FORMAT_SIZE are used); on failure out is "".
int formatDeviceBase(const char* answer, char* out, int size);
