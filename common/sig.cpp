// Package signatures, the portable half: PEM blocks of a key file, the DER
// form of a signature, fingerprints, and the one loop over the trusted keys.
// Every platform decides on the same bytes: the key must be a P-256 key in
// the one DER form openssl writes, the signature minimal DER.
#include "sig.h"
#include "sig_plat.h"

#include <string.h>

namespace {

// DER SubjectPublicKeyInfo of an id-ecPublicKey on prime256v1, up to the
// uncompressed point's leading 04.
const unsigned char p256Prefix[] = { 0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01, 0x06,
                                     0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04 };

const char pemBegin[] = "-----BEGIN ";
const char pemEnd[] = "-----END ";
const char publicKeyLabel[] = "PUBLIC KEY-----";

// The first occurrence of needle in [from, end), or end.
const char* findText(const char* from, const char* end, const char* needle)
{
    size_t length = strlen(needle);
    for (const char* at = from; (size_t)(end - at) >= length; ++at)
        if (memcmp(at, needle, length) == 0)
            return at;
    return end;
}

int startsWith(const char* at, const char* end, const char* text)
{
    size_t length = strlen(text);
    return (size_t)(end - at) >= length && memcmp(at, text, length) == 0;
}

// One INTEGER of a signature into 32 bytes, right-aligned; 1, or 0.
int readInteger(const unsigned char** at, const unsigned char* end, unsigned char out[32])
{
    const unsigned char* p = *at;
    if (end - p < 2 || p[0] != 0x02)
        return 0;
    size_t length = p[1];
    p += 2;
    if (length == 0 || length > 33 || (size_t)(end - p) < length)
        return 0;
    if (p[0] & 0x80)
        return 0; // negative
    if (length > 1 && p[0] == 0 && !(p[1] & 0x80))
        return 0; // not minimal
    if (length == 33) {
        if (p[0] != 0)
            return 0;
        ++p;
        --length;
    }
    memset(out, 0, 32);
    memcpy(out + 32 - length, p, length);
    *at = p + length;
    return 1;
}

void hexFingerprint(const unsigned char* der, size_t size, char out[SIG_FINGERPRINT_SIZE])
{
    static const char digits[] = "0123456789abcdef";
    unsigned char digest[SIG_DIGEST_SIZE];
    if (!sig_platSha256(der, size, digest))
        memset(digest, 0, sizeof digest);
    for (int i = 0; i < 8; ++i) {
        out[2 * i] = digits[digest[i] >> 4];
        out[2 * i + 1] = digits[digest[i] & 15];
    }
    out[16] = '\0';
}

} // namespace

void sig_clear(sig_keyring* ring)
{
    memset(ring, 0, sizeof *ring);
}

int sig_derToRaw(const unsigned char* der, size_t size, unsigned char raw[SIG_RAW_SIZE])
{
    // Short-form length only: a P-256 signature never needs more.
    if (size < 8 || der[0] != 0x30 || der[1] > 0x7f || (size_t)der[1] + 2 != size)
        return 0;
    const unsigned char* at = der + 2;
    const unsigned char* end = der + size;
    return readInteger(&at, end, raw) && readInteger(&at, end, raw + 32) && at == end;
}

int sig_addKeys(sig_keyring* ring, const char* text, size_t size)
{
    if (!sig_platReady())
        return SIG_KEYS_NO_CRYPTO;
    sig_keyring added = *ring;
    const char* end = text + size;
    int found = 0;
    for (const char* at = findText(text, end, pemBegin); at < end; at = findText(at, end, pemBegin)) {
        const char* label = at + strlen(pemBegin);
        if (!startsWith(label, end, publicKeyLabel))
            return SIG_KEYS_BAD;
        const char* close = findText(label, end, pemEnd);
        if (close == end || !startsWith(close + strlen(pemEnd), end, publicKeyLabel))
            return SIG_KEYS_BAD;
        const char* blockEnd = close + strlen(pemEnd) + strlen(publicKeyLabel);
        unsigned char der[SIG_KEY_DER_SIZE + 64];
        size_t length = 0;
        if (!sig_platPemToDer(at, (size_t)(blockEnd - at), der, sizeof der, &length) || length != SIG_KEY_DER_SIZE ||
            memcmp(der, p256Prefix, sizeof p256Prefix) != 0 || !sig_platKeyUsable(der, length))
            return SIG_KEYS_BAD;
        ++found;
        at = blockEnd;
        int known = 0;
        for (int i = 0; i < added.count; ++i)
            known = known || memcmp(added.keys[i].der, der, SIG_KEY_DER_SIZE) == 0;
        if (known)
            continue;
        if (added.count >= SIG_KEY_COUNT)
            return SIG_KEYS_TOO_MANY;
        sig_key* key = &added.keys[added.count++];
        memcpy(key->der, der, SIG_KEY_DER_SIZE);
        hexFingerprint(der, SIG_KEY_DER_SIZE, key->fingerprint);
    }
    if (!found)
        return SIG_KEYS_NONE;
    *ring = added;
    return SIG_KEYS_OK;
}

int sig_verify(const sig_keyring* ring, const unsigned char* data, size_t size, const unsigned char* signature,
               size_t signatureSize, int* matched)
{
    *matched = -1;
    if (ring->count < 1)
        return SIG_NO_KEYS;
    unsigned char raw[SIG_RAW_SIZE];
    if (!sig_derToRaw(signature, signatureSize, raw))
        return SIG_MALFORMED;
    unsigned char digest[SIG_DIGEST_SIZE];
    if (!sig_platSha256(data, size, digest))
        return SIG_CHECK_FAILED;
    int failed = 0;
    for (int i = 0; i < ring->count; ++i) {
        int verdict = sig_platVerify(ring->keys[i].der, SIG_KEY_DER_SIZE, digest, raw);
        if (verdict == 1) {
            *matched = i;
            return SIG_VALID;
        }
        failed = failed || verdict < 0;
    }
    return failed ? SIG_CHECK_FAILED : SIG_NO_MATCH;
}

void sig_keyList(const sig_keyring* ring, char* out, int size)
{
    if (size < 1)
        return;
    out[0] = '\0';
    size_t used = 0;
    for (int i = 0; i < ring->count; ++i) {
        const char* parts[2] = { i > 0 ? ", " : "", ring->keys[i].fingerprint };
        for (const char* part : parts) {
            size_t length = strlen(part);
            if (used + length >= (size_t)size)
                return;
            memcpy(out + used, part, length);
            used += length;
            out[used] = '\0';
        }
    }
}
