// MD5 digest: known digests, padding boundaries, piecewise feeding, hex text.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "md5.h"

namespace {

std::string hexOf(const unsigned char digest[16])
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (int i = 0; i < 16; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 15];
    }
    return hex;
}

std::string digestInPieces(const std::vector<unsigned char>& message, size_t piece)
{
    md5_context context;
    md5_init(&context);
    for (size_t at = 0; at < message.size(); at += piece) {
        size_t length = message.size() - at < piece ? message.size() - at : piece;
        md5_update(&context, message.data() + at, (int)length);
    }
    unsigned char digest[16];
    md5_final(&context, digest);
    return hexOf(digest);
}

std::vector<unsigned char> sampleMessage(size_t length)
{
    std::vector<unsigned char> message(length);
    unsigned value = 12345;
    for (auto& byte : message) {
        value = value * 1103515245u + 12345u;
        byte = (unsigned char)(value >> 16);
    }
    return message;
}

struct KnownDigest {
    const char* text;
    const char* hex;
};

const KnownDigest knownDigests[] = {
    { "", "d41d8cd98f00b204e9800998ecf8427e" },
    { "a", "0cc175b9c0f1b6a831c399e269772661" },
    { "abc", "900150983cd24fb0d6963f7d28e17f72" },
    { "message digest", "f96b697d7cb7938d525a2f31aaf161d0" },
    { "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b" },
    { "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f" },
    { "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
      "57edf4a22be3c955ac49da2e2107b67a" },
    // Padding boundaries: 55 bytes fit padding and length in one block, 56 do not.
    { "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "ef1772b6dff9a122358552954ad0df65" },
    { "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "3b0c8ac703f828b04c6c197006d17218" },
    { "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "014842d480b571495a4a0363793f7367" },
};

TEST(Md5HexString, GivesKnownLowerCaseDigests)
{
    for (const auto& known : knownDigests) {
        char out[33];
        md5_hexString(known.text, out);
        EXPECT_STREQ(known.hex, out) << "text of " << strlen(known.text) << " bytes";
    }
}

TEST(Md5HexString, WritesExactlyThirtyThreeBytes)
{
    char out[48];
    memset(out, 0x5a, sizeof out);
    md5_hexString("abc", out);
    EXPECT_EQ(0, memcmp(out, "900150983cd24fb0d6963f7d28e17f72", 33));
    for (size_t i = 33; i < sizeof out; ++i)
        EXPECT_EQ(0x5a, (unsigned char)out[i]) << "byte " << i;
}

TEST(Md5HexString, HashesBytesAboveAscii)
{
    // Windows-1252 umlauts and a 0xff byte must be hashed as unsigned bytes.
    char out[33];
    md5_hexString("\xe4\xf6\xfc\xff", out);
    md5_context context;
    md5_init(&context);
    const unsigned char raw[] = { 0xe4, 0xf6, 0xfc, 0xff };
    md5_update(&context, raw, 4);
    unsigned char digest[16];
    md5_final(&context, digest);
    EXPECT_EQ(hexOf(digest), out);
}

TEST(Md5Final, PadsToWholeBlocksAtTheBoundary)
{
    // The context is not reset, so the bit count after final shows how much
    // padding was fed: 55 bytes need one block, 56 bytes need two.
    const struct {
        int length;
        uint32_t bitsAfterFinal;
    } cases[] = { { 0, 512 }, { 55, 512 }, { 56, 1024 }, { 63, 1024 }, { 64, 1024 }, { 119, 1024 }, { 120, 1536 } };
    for (const auto& c : cases) {
        std::vector<unsigned char> message(c.length, 'a');
        md5_context context;
        md5_init(&context);
        md5_update(&context, message.data(), c.length);
        unsigned char digest[16];
        md5_final(&context, digest);
        EXPECT_EQ(c.bitsAfterFinal, context.count[0]) << c.length << " bytes";
        EXPECT_EQ(0u, context.count[1]) << c.length << " bytes";
    }
}

TEST(Md5Update, PiecesGiveTheOneShotDigest)
{
    for (size_t length : { 0u, 1u, 63u, 64u, 65u, 127u, 128u, 1000u }) {
        auto message = sampleMessage(length);
        std::string oneShot = digestInPieces(message, length ? length : 1);
        for (size_t piece : { 1u, 63u, 64u, 65u })
            EXPECT_EQ(oneShot, digestInPieces(message, piece)) << length << " bytes in pieces of " << piece;
    }
}

TEST(Md5Update, OneShotMatchesKnownDigestOfLongMessage)
{
    // One million 'a' bytes, fed at once and in uneven pieces.
    std::vector<unsigned char> message(1000000, 'a');
    EXPECT_EQ("7707d6ae4e027c70eea2a935c2296f21", digestInPieces(message, message.size()));
    EXPECT_EQ("7707d6ae4e027c70eea2a935c2296f21", digestInPieces(message, 65));
}

TEST(Md5Update, ReadsUnalignedData)
{
    auto message = sampleMessage(200);
    std::vector<unsigned char> shifted(message.size() + 3);
    memcpy(shifted.data() + 3, message.data(), message.size());

    md5_context context;
    md5_init(&context);
    md5_update(&context, shifted.data() + 3, (int)message.size());
    unsigned char digest[16];
    md5_final(&context, digest);
    EXPECT_EQ(digestInPieces(message, 1), hexOf(digest));
}

TEST(Md5Update, ZeroOrNegativeLengthChangesNothing)
{
    auto message = sampleMessage(100);
    md5_context context;
    md5_init(&context);
    md5_update(&context, message.data(), 70); // leaves a partial block
    md5_context before;
    memcpy(&before, &context, sizeof context);
    for (int length : { 0, -1, -64, -2147483647 - 1 }) {
        md5_update(&context, message.data() + 70, length);
        EXPECT_EQ(0, memcmp(&before, &context, sizeof context)) << "length " << length;
    }
}

TEST(Md5Update, CarriesBitCountIntoHighWord)
{
    md5_context context;
    md5_init(&context);
    context.count[0] = 0xfffffc00u; // 1024 bits short of wrapping, block-aligned
    auto message = sampleMessage(200);
    md5_update(&context, message.data(), 200);
    EXPECT_EQ(1u, context.count[1]);
    EXPECT_EQ(200u * 8 - 1024, context.count[0]);
}

TEST(Md5Init, SetsInitialWords)
{
    md5_context context;
    memset(&context, 0xee, sizeof context);
    md5_init(&context);
    EXPECT_EQ(0u, context.count[0]);
    EXPECT_EQ(0u, context.count[1]);
    EXPECT_EQ(0x67452301u, context.state[0]);
    EXPECT_EQ(0xefcdab89u, context.state[1]);
    EXPECT_EQ(0x98badcfeu, context.state[2]);
    EXPECT_EQ(0x10325476u, context.state[3]);
}

} // namespace
