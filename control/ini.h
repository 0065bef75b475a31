// Settings file reader: ormi_control.ini in the directory captured at load.
#pragma once

// The settings file's name; reads under this name share the call's snapshot.
extern const char ini_fileName[];

// 1 if the value read differs from "no entry"; out then holds at most
// size - 1 characters, in the missing case the text "no entry".
int ini_readString(const char* fileName, const char* section, const char* key, char* out, int size);
// Stores the leading decimal number of the value (0 if none), defaultValue if
// the key or file is missing; 1 if the stored value differs from the default.
int ini_readInt(const char* fileName, const char* section, const char* key, int defaultValue, int* out);

struct ini_connection {
    char host[256];
    char port[256];
    char user[256];
    int timeout;
};
// "ip_address", "ip_port", "username" (size 255 each) and "timeout" (default
// 1, below 1 -> 1), read afresh on every call.
void ini_readConnection(ini_connection* conn);

// Frame one exported call: the file is read once at the beginning, and every
// read of "ormi_control.ini" until the end sees that text (calls may nest).
// Outside a call every read goes to the file.
void ini_beginCall(void);
void ini_endCall(void);

// Replaces the directory captured at load time (also a test seam).
void ini_setDirectory(const char* dir);
