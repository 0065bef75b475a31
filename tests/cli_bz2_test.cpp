// The bzip2 verifier over streams made by the bzip2 command, intact and
// damaged; natively every verdict is also compared with libbz2's.
#include <gtest/gtest.h>

#include "bz2.h"
#include "cli.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> fixture(const char* name)
{
    std::vector<unsigned char> data;
    std::FILE* file = std::fopen((std::string("cli-fixtures/") + name).c_str(), "rb");
    if (!file)
        return data;
    int c;
    while ((c = std::fgetc(file)) != EOF)
        data.push_back((unsigned char)c);
    std::fclose(file);
    return data;
}

struct streamCase {
    const char* name;
    std::vector<unsigned char> data;
    int verdict;
};

std::vector<unsigned char> flipped(std::vector<unsigned char> data, std::size_t byte, int bit)
{
    data.at(byte) ^= (unsigned char)(1u << bit);
    return data;
}

std::vector<unsigned char> cut(std::vector<unsigned char> data, std::size_t size)
{
    data.resize(size);
    return data;
}

std::vector<unsigned char> joined(std::vector<unsigned char> a, const std::vector<unsigned char>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void expectVerdict(const std::vector<unsigned char>& data, int expected, const std::string& label)
{
    std::string why;
    EXPECT_EQ(bz2_check(data.data(), data.size(), &why), expected) << label << ": " << why;
    if (expected != BZ2_CHECK_OK) {
        EXPECT_FALSE(why.empty()) << label;
    }
#ifdef ORMI_HAVE_LIBBZ2
    EXPECT_EQ(bz2_libCheck(data.data(), data.size(), &why), expected) << label << " (libbz2): " << why;
#endif
}

class Bz2Streams : public ::testing::Test {
  protected:
    void SetUp() override
    {
        small = fixture("small.bz2");
        multi = fixture("multi.bz2");
        runs = fixture("runs.bz2");
        empty = fixture("empty.bz2");
        ASSERT_FALSE(small.empty()) << "fixtures are made with the bzip2 command at configure time";
        ASSERT_GT(fixture("multi").size(), 300000u);
        ASSERT_GT(multi.size(), 1000u);
        ASSERT_EQ(empty.size(), 14u);
    }
    std::vector<unsigned char> small, multi, runs, empty;
};

TEST_F(Bz2Streams, IntactAndDamagedStreamsGetTheirVerdict)
{
    std::vector<unsigned char> nothing;
    std::vector<unsigned char> notBzip2 = { 'h', 'e', 'l', 'l', 'o', '\n' };
    // One block of four equal bytes without the count that must follow
    // them, its block and stream CRCs right: libbz2 refuses it.
    std::vector<unsigned char> uncountedRun = {
        0x42, 0x5a, 0x68, 0x31, 0x31, 0x41, 0x59, 0x26, 0x53, 0x59, 0x23, 0x7a, 0xa8, 0xfb, 0x00, 0x00, 0x01,
        0xd1, 0x80, 0x00, 0x10, 0x40, 0x00, 0x02, 0x66, 0x90, 0x00, 0x20, 0x00, 0x31, 0x06, 0x4c, 0x41, 0x00,
        0xd3, 0xd2, 0xf5, 0xbd, 0x88, 0xbb, 0x92, 0x29, 0xc2, 0x84, 0x81, 0x1b, 0xd5, 0x47, 0xd8,
    };
    const streamCase cases[] = {
        { "small", small, BZ2_CHECK_OK },
        { "several blocks at -1", multi, BZ2_CHECK_OK },
        { "runs around the run step", runs, BZ2_CHECK_OK },
        { "empty input compressed", empty, BZ2_CHECK_OK },
        { "two streams one after the other", joined(small, multi), BZ2_CHECK_OK },
        { "zero-byte file", nothing, BZ2_CHECK_TRUNCATED },
        { "not bzip2 at all", notBzip2, BZ2_CHECK_BAD },
        { "header only", cut(small, 4), BZ2_CHECK_TRUNCATED },
        { "cut in the first block", cut(multi, multi.size() / 5), BZ2_CHECK_TRUNCATED },
        { "cut in the last block", cut(multi, multi.size() - 200), BZ2_CHECK_TRUNCATED },
        { "last byte missing", cut(multi, multi.size() - 1), BZ2_CHECK_TRUNCATED },
        { "bit flipped in a middle block", flipped(multi, multi.size() / 2, 3), BZ2_CHECK_BAD },
        { "bit flipped in the block CRC", flipped(small, 10, 0), BZ2_CHECK_BAD },
        { "wrong stream CRC", flipped(multi, multi.size() - 3, 5), BZ2_CHECK_BAD },
        { "wrong stream CRC of an empty stream", flipped(empty, empty.size() - 3, 1), BZ2_CHECK_BAD },
        { "bad block size level", flipped(small, 3, 6), BZ2_CHECK_BAD },
        { "garbage after the stream", joined(small, notBzip2), BZ2_CHECK_BAD },
        { "block ending in a run of four without its count", uncountedRun, BZ2_CHECK_BAD },
    };
    for (const streamCase& c : cases)
        expectVerdict(c.data, c.verdict, c.name);
}

// Any single flipped bit inside the blocks must be caught, by structure or CRC.
TEST_F(Bz2Streams, EveryFlippedBitAcrossSeveralBlocksIsCaught)
{
    // The last bytes hold the stream CRC and zero padding, which decoders ignore.
    for (std::size_t byte = 4; byte + 6 < multi.size(); byte += multi.size() / 97) {
        for (int bit : { 0, 7 }) {
            std::vector<unsigned char> damaged = flipped(multi, byte, bit);
            std::string why;
            int own = bz2_check(damaged.data(), damaged.size(), &why);
            EXPECT_NE(own, BZ2_CHECK_OK) << "byte " << byte << " bit " << bit;
#ifdef ORMI_HAVE_LIBBZ2
            EXPECT_NE(bz2_libCheck(damaged.data(), damaged.size(), &why), BZ2_CHECK_OK) << "byte " << byte;
#endif
        }
    }
}

TEST_F(Bz2Streams, EveryCutOfASmallStreamIsTruncated)
{
    for (std::size_t size = 1; size < small.size(); ++size)
        expectVerdict(cut(small, size), BZ2_CHECK_TRUNCATED, "cut at " + std::to_string(size));
}

} // namespace
