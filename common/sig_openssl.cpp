// Package signatures on POSIX: SHA-256 and ECDSA P-256 from OpenSSL's
// libcrypto. The signature is rebuilt as DER from r and s, so that libcrypto
// only ever sees the form the portable half has already checked.
#include "sig_plat.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <limits.h>

namespace {

EVP_PKEY* decodeKey(const unsigned char* der, size_t size)
{
    if (size > LONG_MAX)
        return nullptr;
    const unsigned char* at = der;
    EVP_PKEY* key = d2i_PUBKEY(nullptr, &at, (long)size);
    if (key && (EVP_PKEY_get_base_id(key) != EVP_PKEY_EC || at != der + size)) {
        EVP_PKEY_free(key);
        return nullptr;
    }
    return key;
}

} // namespace

int sig_platReady(void)
{
    return 1;
}

int sig_platSha256(const unsigned char* data, size_t size, unsigned char digest[32])
{
    unsigned int length = 0;
    return EVP_Digest(data, size, digest, &length, EVP_sha256(), nullptr) == 1 && length == 32;
}

int sig_platPemToDer(const char* block, size_t size, unsigned char* der, size_t derSize, size_t* written)
{
    *written = 0;
    if (size > INT_MAX)
        return 0;
    BIO* in = BIO_new_mem_buf(block, (int)size);
    if (!in)
        return 0;
    EVP_PKEY* key = PEM_read_bio_PUBKEY(in, nullptr, nullptr, nullptr);
    BIO_free(in);
    if (!key)
        return 0;
    int length = i2d_PUBKEY(key, nullptr);
    int ok = length > 0 && (size_t)length <= derSize;
    if (ok) {
        unsigned char* at = der;
        ok = i2d_PUBKEY(key, &at) == length;
        *written = ok ? (size_t)length : 0;
    }
    EVP_PKEY_free(key);
    return ok;
}

int sig_platKeyUsable(const unsigned char* der, size_t size)
{
    EVP_PKEY* key = decodeKey(der, size);
    EVP_PKEY_free(key);
    return key != nullptr;
}

int sig_platVerify(const unsigned char* der, size_t size, const unsigned char digest[32], const unsigned char raw[64])
{
    EVP_PKEY* key = decodeKey(der, size);
    if (!key)
        return -1;
    int verdict = -1;
    ECDSA_SIG* signature = ECDSA_SIG_new();
    BIGNUM* r = BN_bin2bn(raw, 32, nullptr);
    BIGNUM* s = BN_bin2bn(raw + 32, 32, nullptr);
    if (signature && r && s && ECDSA_SIG_set0(signature, r, s) == 1) {
        r = s = nullptr; // owned by signature now
        unsigned char encoded[80];
        unsigned char* at = encoded;
        int length = i2d_ECDSA_SIG(signature, nullptr);
        EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key, nullptr);
        if (length > 0 && length <= (int)sizeof encoded && i2d_ECDSA_SIG(signature, &at) == length && context &&
            EVP_PKEY_verify_init(context) == 1) {
            int result = EVP_PKEY_verify(context, encoded, (size_t)length, digest, 32);
            verdict = result == 1 ? 1 : result == 0 ? 0 : -1;
        }
        EVP_PKEY_CTX_free(context);
    }
    BN_free(r);
    BN_free(s);
    ECDSA_SIG_free(signature);
    EVP_PKEY_free(key);
    return verdict;
}
