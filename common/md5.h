// MD5 message digest (RFC 1321) with a small caller-owned-context interface.
#pragma once

#include <stdint.h>

struct md5_context {
    uint32_t count[2];        // message bits fed so far, low word first
    uint32_t state[4];        // A, B, C, D
    unsigned char buffer[64]; // partial block not yet compressed
};

void md5_init(md5_context* context);
// A length of zero or less changes nothing.
void md5_update(md5_context* context, const unsigned char* data, int length);
// Does not reset the context; start again with md5_init.
void md5_final(md5_context* context, unsigned char digest[16]);
void md5_transform(md5_context* context, const unsigned char block[64]);
// Writes 32 lower-case hex digits and a terminating zero: out needs 33 bytes.
void md5_hexString(const char* text, char* out);
