// Package signatures in-process: packages and keys made by openssl, judged
// by this platform's half (libcrypto natively, CNG under Wine), and the
// portable half's DER and PEM rules on exact bytes.
#include <gtest/gtest.h>

#include "sig.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::string fixtures = "../sig-fixtures/";

std::string readFixture(const std::string& name)
{
    std::ifstream in(fixtures + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string fingerprintOf(const std::string& name)
{
    std::string text = readFixture(name);
    return text.substr(0, text.find('\n'));
}

int addKeys(sig_keyring* ring, const std::string& text)
{
    return sig_addKeys(ring, text.data(), text.size());
}

class SigTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_GT(readFixture("signed.bz2").size(), 100u) << "made by tests/sig_fixtures.sh (CTest fixture)";
        sig_clear(&ring);
    }
    sig_keyring ring;
};

TEST_F(SigTest, VerdictsOnPackagesSignedByOpenssl)
{
    struct {
        const char* keys;
        const char* package;
        const char* signature;
        int verdict;
        const char* signedBy; // fingerprint file of the matching key
    } cases[] = {
        { "vendor.pub.pem", "signed.bz2", "signed.bz2.sig", SIG_VALID, "vendor.fp" },
        // Rotation: the file holds the new key before the old one.
        { "both.pub.pem", "signed.bz2", "signed.bz2.sig", SIG_VALID, "vendor.fp" },
        { "both.pub.pem", "signed.bz2", "other.sig", SIG_VALID, "other.fp" },
        { "vendor.pub.pem", "changed.bz2", "signed.bz2.sig", SIG_NO_MATCH, nullptr },
        { "vendor.pub.pem", "signed.bz2", "other.sig", SIG_NO_MATCH, nullptr },
        { "other.pub.pem", "signed.bz2", "signed.bz2.sig", SIG_NO_MATCH, nullptr },
        { "vendor.pub.pem", "signed.bz2", "cut.sig", SIG_MALFORMED, nullptr },
        { "vendor.pub.pem", "signed.bz2", "notakey.pem", SIG_MALFORMED, nullptr },
        { "vendor.pub.pem", "signed.bz2", "no such file", SIG_MALFORMED, nullptr },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.keys) + " " + c.package + " " + c.signature);
        sig_clear(&ring);
        ASSERT_EQ(addKeys(&ring, readFixture(c.keys)), SIG_KEYS_OK);
        std::string package = readFixture(c.package), signature = readFixture(c.signature);
        int matched = 99;
        EXPECT_EQ(sig_verify(&ring, (const unsigned char*)package.data(), package.size(),
                             (const unsigned char*)signature.data(), signature.size(), &matched),
                  c.verdict);
        if (c.signedBy) {
            ASSERT_GE(matched, 0);
            EXPECT_EQ(ring.keys[matched].fingerprint, fingerprintOf(c.signedBy));
        } else {
            EXPECT_EQ(matched, -1);
        }
    }
}

TEST_F(SigTest, OneChangedByteOfThePackageOrSignatureIsNoMatch)
{
    ASSERT_EQ(addKeys(&ring, readFixture("vendor.pub.pem")), SIG_KEYS_OK);
    std::string package = readFixture("signed.bz2"), signature = readFixture("signed.bz2.sig");
    int matched = 0;
    std::string changed = package;
    changed[changed.size() / 2] ^= 1;
    EXPECT_EQ(sig_verify(&ring, (const unsigned char*)changed.data(), changed.size(),
                         (const unsigned char*)signature.data(), signature.size(), &matched),
              SIG_NO_MATCH);
    // The last byte of s.
    std::string other = signature;
    other.back() ^= 1;
    EXPECT_EQ(sig_verify(&ring, (const unsigned char*)package.data(), package.size(),
                         (const unsigned char*)other.data(), other.size(), &matched),
              SIG_NO_MATCH);
    // r and s of zero are well-formed DER but never a signature.
    const unsigned char zero[] = { 0x30, 0x06, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00 };
    EXPECT_EQ(sig_verify(&ring, (const unsigned char*)package.data(), package.size(), zero, sizeof zero, &matched),
              SIG_NO_MATCH);
    sig_keyring empty;
    sig_clear(&empty);
    EXPECT_EQ(sig_verify(&empty, (const unsigned char*)package.data(), package.size(),
                         (const unsigned char*)signature.data(), signature.size(), &matched),
              SIG_NO_KEYS);
}

TEST_F(SigTest, KeyFiles)
{
    std::string vendor = readFixture("vendor.pub.pem"), other = readFixture("other.pub.pem");
    std::string cut = vendor;
    cut.erase(cut.find('\n') + 10, 20);
    struct {
        const char* what;
        std::string text;
        int result;
        int count;
    } cases[] = {
        { "a public key", vendor, SIG_KEYS_OK, 1 },
        { "two keys with notes around them", "new key, from 2027:\n" + other + "\nold key:\r\n" + vendor, SIG_KEYS_OK,
          2 },
        { "the same key twice", vendor + vendor, SIG_KEYS_OK, 1 },
        { "no key", readFixture("notakey.pem"), SIG_KEYS_NONE, 0 },
        { "an empty file", "", SIG_KEYS_NONE, 0 },
        { "a private key", readFixture("vendor.pem"), SIG_KEYS_BAD, 0 },
        { "a public key and a private key", vendor + readFixture("other.pem"), SIG_KEYS_BAD, 0 },
        { "a key with base64 cut out", cut, SIG_KEYS_BAD, 0 },
        { "a key without its end line", vendor.substr(0, vendor.find("-----END")), SIG_KEYS_BAD, 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sig_clear(&ring);
        EXPECT_EQ(addKeys(&ring, c.text), c.result);
        EXPECT_EQ(ring.count, c.count);
    }
    // A refused file leaves the keys read before.
    sig_clear(&ring);
    ASSERT_EQ(addKeys(&ring, vendor), SIG_KEYS_OK);
    EXPECT_EQ(addKeys(&ring, other + readFixture("vendor.pem")), SIG_KEYS_BAD);
    ASSERT_EQ(ring.count, 1);
    EXPECT_EQ(ring.keys[0].fingerprint, fingerprintOf("vendor.fp"));
    ASSERT_EQ(addKeys(&ring, other), SIG_KEYS_OK);
    char list[SIG_LIST_SIZE];
    sig_keyList(&ring, list, sizeof list);
    EXPECT_EQ(std::string(list), fingerprintOf("vendor.fp") + ", " + fingerprintOf("other.fp"));
    sig_keyList(&ring, list, 20);
    EXPECT_EQ(std::string(list), fingerprintOf("vendor.fp") + ", ");
}

TEST(SigDer, SignatureBytes)
{
    std::vector<unsigned char> high(33, 0x11);
    high[0] = 0x00;
    high[1] = 0x80;
    struct {
        const char* what;
        std::vector<unsigned char> der;
        int ok;
        unsigned char r0, r31, s31; // first and last byte of r, last of s
    } cases[] = {
        { "short integers, left-padded", { 0x30, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x02 }, 1, 0x00, 0x01, 0x02 },
        { "negative r", { 0x30, 0x06, 0x02, 0x01, 0x80, 0x02, 0x01, 0x02 }, 0, 0, 0, 0 },
        { "r not minimal", { 0x30, 0x07, 0x02, 0x02, 0x00, 0x01, 0x02, 0x01, 0x02 }, 0, 0, 0, 0 },
        { "empty r", { 0x30, 0x05, 0x02, 0x00, 0x02, 0x01, 0x02 }, 0, 0, 0, 0 },
        { "a byte behind s", { 0x30, 0x07, 0x02, 0x01, 0x01, 0x02, 0x01, 0x02, 0x00 }, 0, 0, 0, 0 },
        { "a byte behind the sequence", { 0x30, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x02, 0x00 }, 0, 0, 0, 0 },
        { "sequence length too long", { 0x30, 0x07, 0x02, 0x01, 0x01, 0x02, 0x01, 0x02 }, 0, 0, 0, 0 },
        { "no s", { 0x30, 0x03, 0x02, 0x01, 0x01 }, 0, 0, 0, 0 },
        { "long-form length", { 0x30, 0x81, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x02 }, 0, 0, 0, 0 },
        { "a set, not a sequence", { 0x31, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x02 }, 0, 0, 0, 0 },
        { "an octet string for s", { 0x30, 0x06, 0x02, 0x01, 0x01, 0x04, 0x01, 0x02 }, 0, 0, 0, 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        unsigned char raw[SIG_RAW_SIZE];
        memset(raw, 0xee, sizeof raw);
        ASSERT_EQ(sig_derToRaw(c.der.data(), c.der.size(), raw), c.ok);
        if (c.ok) {
            EXPECT_EQ(raw[0], c.r0);
            EXPECT_EQ(raw[31], c.r31);
            EXPECT_EQ(raw[63], c.s31);
            for (int i = 1; i < 31; ++i)
                EXPECT_EQ(raw[i], 0) << i;
        }
    }
    // r of 32 bytes with its high bit set: 33 in DER, a leading zero dropped;
    // 33 bytes of value are too many.
    std::vector<unsigned char> der = { 0x30, 0x26, 0x02, 0x21 };
    for (unsigned char byte : high)
        der.push_back(byte);
    for (unsigned char byte : { 0x02, 0x01, 0x05 })
        der.push_back(byte);
    unsigned char raw[SIG_RAW_SIZE];
    ASSERT_EQ(sig_derToRaw(der.data(), der.size(), raw), 1);
    EXPECT_EQ(raw[0], 0x80);
    EXPECT_EQ(raw[31], 0x11);
    EXPECT_EQ(raw[63], 0x05);
    der[4] = 0x01;
    EXPECT_EQ(sig_derToRaw(der.data(), der.size(), raw), 0);
}

} // namespace
