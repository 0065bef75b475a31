// The device transport: one TCP exchange (connect, one request, the whole
// answer until the device closes, close).
#pragma once

#include "plat.h"

extern char responseText[4096]; // answer of the last exchange

// Waits up to timeout seconds for the event window (the event thread may
// still be making it right after loading), then creates the socket and
// binds its notifications to the window.
int sock_open(int timeout);
// Both are writable 256-byte buffers: a leading "http://" and a ":port"
// suffix of the address are moved out in place.
int sock_connect(char* address, char* port);
int sock_sendText(const char* text, int timeout);
int sock_sendBytes(const char* data, int length, int timeout);
// As sock_sendBytes for the pieces one behind the other (at most
// PLAT_MAX_PIECES), handed over without first copying them together.
int sock_sendPieces(const char* const* pieces, const int* lengths, int count, int timeout);
// 1 when the device closed the connection within the time-out and out holds
// its answer; 0 on time-out and when the connection ended in a reset or an
// error (out untouched either way).
int sock_waitResponse(char* out, int timeout);
// 1 when the connection has ended in a reset or an error: its answer, if one
// was under way, will never be complete.
int sock_endedInError(void);
int sock_close(void);
int sock_onEvent(int event, int error); // on the event thread
// Empties responseText, then open, connect, send, wait, close;
// 1 = all steps succeeded.
int sock_exchange(const char* request, char* address, char* port, int timeout);
