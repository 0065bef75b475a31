// Package signatures on Windows: the system's CNG (bcrypt) for SHA-256 and
// ECDSA P-256, crypt32 for PEM and the SubjectPublicKeyInfo; no DLL of our
// own. BCryptHash exists only from Windows 10 on, so the digest is made
// with a hash object. BCryptVerifySignature takes r and s side by side.
#include "sig_plat.h"

#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

#ifndef STATUS_INVALID_SIGNATURE
#define STATUS_INVALID_SIGNATURE ((NTSTATUS)0xC000A000L)
#endif

namespace {

const NTSTATUS statusSuccess = 0;

// The decoded key info with the point it points into.
union keyInfoBuffer {
    CERT_PUBLIC_KEY_INFO info;
    unsigned char bytes[512];
};

BCRYPT_KEY_HANDLE importKey(const unsigned char* der, size_t size)
{
    keyInfoBuffer buffer;
    DWORD length = sizeof buffer;
    if (size > 0xffff ||
        !CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der, (DWORD)size, 0, nullptr, &buffer, &length))
        return nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, &buffer.info, 0, nullptr, &key))
        return nullptr;
    return key;
}

} // namespace

int sig_platReady(void)
{
    BCRYPT_ALG_HANDLE hash = nullptr, ecdsa = nullptr;
    int ready = BCryptOpenAlgorithmProvider(&hash, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == statusSuccess &&
                BCryptOpenAlgorithmProvider(&ecdsa, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) == statusSuccess;
    if (hash)
        BCryptCloseAlgorithmProvider(hash, 0);
    if (ecdsa)
        BCryptCloseAlgorithmProvider(ecdsa, 0);
    return ready;
}

int sig_platSha256(const unsigned char* data, size_t size, unsigned char digest[32])
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != statusSuccess)
        return 0;
    BCRYPT_HASH_HANDLE hash = nullptr;
    int ok = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == statusSuccess;
    // BCryptHashData takes a ULONG count.
    const size_t chunk = 1u << 20;
    for (size_t done = 0; ok && done < size; done += chunk) {
        ULONG length = (ULONG)(size - done < chunk ? size - done : chunk);
        ok = BCryptHashData(hash, (PUCHAR)(data + done), length, 0) == statusSuccess;
    }
    ok = ok && BCryptFinishHash(hash, digest, 32, 0) == statusSuccess;
    if (hash)
        BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return ok;
}

int sig_platPemToDer(const char* block, size_t size, unsigned char* der, size_t derSize, size_t* written)
{
    *written = 0;
    DWORD length = (DWORD)derSize;
    if (size > 0xffffff || derSize > 0xffff ||
        !CryptStringToBinaryA(block, (DWORD)size, CRYPT_STRING_BASE64HEADER, der, &length, nullptr, nullptr))
        return 0;
    *written = length;
    return 1;
}

int sig_platKeyUsable(const unsigned char* der, size_t size)
{
    BCRYPT_KEY_HANDLE key = importKey(der, size);
    if (!key)
        return 0;
    BCryptDestroyKey(key);
    return 1;
}

int sig_platVerify(const unsigned char* der, size_t size, const unsigned char digest[32], const unsigned char raw[64])
{
    BCRYPT_KEY_HANDLE key = importKey(der, size);
    if (!key)
        return -1;
    NTSTATUS status = BCryptVerifySignature(key, nullptr, (PUCHAR)digest, 32, (PUCHAR)raw, 64, 0);
    BCryptDestroyKey(key);
    if (status == statusSuccess)
        return 1;
    return status == STATUS_INVALID_SIGNATURE ? 0 : -1;
}
