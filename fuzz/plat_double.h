// Controls of the scripted test double of the platform layer (plat_double.cpp),
// which stands in for the real one under the fuzz targets: settings held in
// memory, a device whose answer is handed in as bytes, and a clock that only
// moves when the library waits.
#pragma once

#include <stddef.h>

enum {
    PLAT_FUZZ_NO_CONNECT = 1, // the connect notification carries an error
    PLAT_FUZZ_NO_CLOSE = 2,   // the device never closes the connection
    PLAT_FUZZ_READ_ERROR = 4, // a read error in place of the answer's last piece
};

// Every later exchange is answered with these bytes (kept by reference), cut
// into pieces of 1 to 254 bytes drawn from pieceSeed.
void plat_fuzzSetAnswer(const unsigned char* data, size_t size, unsigned pieceSeed, int modes);
// A settings value by key name (keys are unique across sections); nullptr
// removes it.
void plat_fuzzSetSetting(const char* key, const char* value);
int plat_fuzzConnectCount(void);
long long plat_fuzzOpenSockets(void);
// Everything handed to the debug channel goes here too (nullptr: nowhere).
void plat_fuzzSetDebugHook(void (*hook)(const char* text));
