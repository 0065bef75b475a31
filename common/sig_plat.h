// The platform half of package signatures: SHA-256, a PEM block to DER, and
// ECDSA P-256 verification of r and s over a digest. One implementation per
// platform: sig_openssl.cpp (libcrypto) and sig_win32.cpp (CNG). Used by
// sig.cpp only.
#pragma once
#include <stddef.h>

// 1 when the platform can hash and verify ECDSA P-256 at all.
int sig_platReady(void);

// 1 and digest filled, or 0.
int sig_platSha256(const unsigned char* data, size_t size, unsigned char digest[32]);

// One PEM block (BEGIN to END line) of a public key to its DER
// SubjectPublicKeyInfo: 1 and *written, or 0 (not base64, does not fit).
int sig_platPemToDer(const char* block, size_t size, unsigned char* der, size_t derSize, size_t* written);

// 1 when der is a public key the platform can use for ECDSA P-256.
int sig_platKeyUsable(const unsigned char* der, size_t size);

// 1 valid, 0 not made by this key over digest, -1 the platform failed.
int sig_platVerify(const unsigned char* der, size_t size, const unsigned char digest[32], const unsigned char raw[64]);
