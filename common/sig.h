// Package signatures: a detached ECDSA P-256 signature over the SHA-256 of
// the package (DER, as openssl dgst -sha256 -sign writes it), checked
// against trusted PEM public keys before a byte goes to a device. The
// portable half (PEM blocks, DER, fingerprints) lives in sig.cpp; hashing
// and the curve arithmetic come from the platform (sig_plat.h). All
// buffers are the caller's; no heap, no exceptions.
#pragma once
#include <stddef.h>

enum {
    SIG_KEY_COUNT = 16, // keys one keyring holds (rotation needs two or three)
    // A P-256 public key as DER SubjectPublicKeyInfo with an uncompressed point.
    SIG_KEY_DER_SIZE = 91,
    SIG_FINGERPRINT_SIZE = 17, // 16 hex digits and the zero
    SIG_DIGEST_SIZE = 32,
    SIG_RAW_SIZE = 64, // r and s, 32 bytes each, big-endian
    // A DER P-256 signature has at most 72 bytes; anything longer is no signature.
    SIG_FILE_SIZE = 80,
    // A key file larger than this is not a list of public keys.
    SIG_KEYFILE_SIZE = 65536,
    // sig_keyList: every fingerprint, ", " between them.
    SIG_LIST_SIZE = SIG_KEY_COUNT * (SIG_FINGERPRINT_SIZE + 1),
};

struct sig_key {
    unsigned char der[SIG_KEY_DER_SIZE];
    char fingerprint[SIG_FINGERPRINT_SIZE];
};

struct sig_keyring {
    sig_key keys[SIG_KEY_COUNT];
    int count;
};

// What sig_addKeys makes of a key file.
enum {
    SIG_KEYS_OK = 0,
    SIG_KEYS_NONE = 1,      // no PEM public key in the text
    SIG_KEYS_BAD = 2,       // a PEM block that is not a P-256 public key (a private key, RSA, damaged)
    SIG_KEYS_TOO_MANY = 3,  // the ring would hold more than SIG_KEY_COUNT keys
    SIG_KEYS_NO_CRYPTO = 4, // the platform's ECDSA is not available
};

// The verdict on a package and its signature.
enum {
    SIG_VALID = 0,
    SIG_NO_MATCH = 1,     // a well-formed signature, but by none of the keys or over other bytes
    SIG_MALFORMED = 2,    // not a DER ECDSA P-256 signature (cut, empty, another format)
    SIG_NO_KEYS = 3,      // the ring is empty
    SIG_CHECK_FAILED = 4, // the platform's hashing or verification failed
};

void sig_clear(sig_keyring* ring);

// Adds every "PUBLIC KEY" block of text (size bytes, need not end in zero).
// Text outside the blocks is ignored; any other PEM block refuses the whole
// text. On anything but SIG_KEYS_OK the ring is left as it was. A key that
// is already in the ring is not added twice.
int sig_addKeys(sig_keyring* ring, const char* text, size_t size);

// SIG_VALID and *matched the index of the key that made signature, or
// another verdict and *matched -1.
int sig_verify(const sig_keyring* ring, const unsigned char* data, size_t size, const unsigned char* signature,
               size_t signatureSize, int* matched);

// A DER signature as r and s of 32 bytes each: 1, or 0 when der is not
// exactly one minimal DER SEQUENCE of two positive INTEGERs that fit.
int sig_derToRaw(const unsigned char* der, size_t size, unsigned char raw[SIG_RAW_SIZE]);

// The fingerprints of the ring, ", " between them (cut to size).
void sig_keyList(const sig_keyring* ring, char* out, int size);
