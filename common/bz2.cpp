// bzip2 stream verifier: decodes every block with bounded memory (one
// block's worth of 32-bit words) and checks each block CRC and the combined
// stream CRC. Nothing decoded is kept; only the verdict matters, and a caller
// that wants the bytes (the fuzz target comparing them with libbz2's) is
// handed each block's bytes as they come out, before its CRC is compared.
#include "bz2.h"

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

enum { MAX_GROUPS = 6, MAX_ALPHA = 258, MAX_CODE_LEN = 20, MAX_SELECTORS = 18002, GROUP_SIZE = 50 };

uint32_t crcTable[256];

void makeCrcTable()
{
    if (crcTable[1])
        return;
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i << 24;
        for (int k = 0; k < 8; ++k)
            c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
        crcTable[i] = c;
    }
}

struct bitReader {
    const unsigned char* data;
    std::size_t size;
    std::size_t bit; // next bit, counted from the start
    bool ranOut;
};

uint32_t readBits(bitReader* r, int count)
{
    uint32_t value = 0;
    // Within the data a byte's worth at a time; at its end bit by bit.
    if (r->bit + (std::size_t)count <= r->size * 8) {
        while (count > 0) {
            int free = 8 - (int)(r->bit & 7);
            int take = count < free ? count : free;
            uint32_t byte = r->data[r->bit >> 3];
            value = (value << take) | ((byte >> (free - take)) & ((1u << take) - 1));
            r->bit += (std::size_t)take;
            count -= take;
        }
        return value;
    }
    for (int i = 0; i < count; ++i) {
        if (r->bit >= r->size * 8) {
            r->ranOut = true;
            return 0;
        }
        value = (value << 1) | ((r->data[r->bit >> 3] >> (7 - (r->bit & 7))) & 1u);
        ++r->bit;
    }
    return value;
}

struct huffTable {
    int minLen, maxLen;
    int count[MAX_CODE_LEN + 2];
    int firstCode[MAX_CODE_LEN + 2];
    int offset[MAX_CODE_LEN + 2];
    int symbols[MAX_ALPHA];
};

// Canonical codes in bzip2's order: by length, then by symbol.
void buildTable(huffTable* t, const unsigned char* lengths, int alphaSize)
{
    std::memset(t, 0, sizeof *t);
    t->minLen = MAX_CODE_LEN;
    t->maxLen = 0;
    for (int i = 0; i < alphaSize; ++i) {
        ++t->count[lengths[i]];
        if (lengths[i] < t->minLen)
            t->minLen = lengths[i];
        if (lengths[i] > t->maxLen)
            t->maxLen = lengths[i];
    }
    int code = 0, index = 0;
    for (int len = 1; len <= MAX_CODE_LEN; ++len) {
        t->firstCode[len] = code;
        t->offset[len] = index;
        index += t->count[len];
        code = (code + t->count[len]) << 1;
    }
    // One pass over the symbols, each into the next place of its length.
    int next[MAX_CODE_LEN + 2];
    std::memcpy(next, t->offset, sizeof next);
    for (int i = 0; i < alphaSize; ++i)
        t->symbols[next[lengths[i]]++] = i;
}

// -1 when no code matches within the longest length.
int decodeSymbol(bitReader* r, const huffTable* t)
{
    int code = (int)readBits(r, t->minLen);
    for (int len = t->minLen; len <= t->maxLen; ++len) {
        int at = code - t->firstCode[len];
        if (at >= 0 && at < t->count[len])
            return t->symbols[t->offset[len] + at];
        code = (code << 1) | (int)readBits(r, 1);
        if (r->ranOut)
            return -1;
    }
    return -1;
}

struct blockState {
    std::vector<uint32_t> tt;
    int blockSizeMax;
    bz2_sink sink;
    void* user;
    unsigned char out[4096];
    int outLength;
};

void emit(blockState* b, unsigned char byte)
{
    if (!b->sink)
        return;
    b->out[b->outLength++] = byte;
    if (b->outLength == (int)sizeof b->out) {
        b->sink(b->out, (std::size_t)b->outLength, b->user);
        b->outLength = 0;
    }
}

void emitRun(blockState* b, unsigned char byte, int count)
{
    while (b->sink && count > 0) {
        int n = std::min(count, (int)sizeof b->out - b->outLength);
        std::memset(b->out + b->outLength, byte, (std::size_t)n);
        b->outLength += n;
        count -= n;
        if (b->outLength == (int)sizeof b->out) {
            b->sink(b->out, (std::size_t)b->outLength, b->user);
            b->outLength = 0;
        }
    }
}

void flush(blockState* b)
{
    if (b->sink && b->outLength > 0)
        b->sink(b->out, (std::size_t)b->outLength, b->user);
    b->outLength = 0;
}

int fail(std::string* why, int verdict, const char* text)
{
    if (why)
        *why = text;
    return verdict;
}

// One block after its magic: decode, undo the transforms, compare the CRC.
int checkBlock(bitReader* r, blockState* b, uint32_t* blockCrcOut, std::string* why)
{
    uint32_t storedCrc = readBits(r, 32);
    if (readBits(r, 1))
        return fail(why, BZ2_CHECK_UNSUPPORTED, "randomised block (not made by any current bzip2)");
    uint32_t origPtr = readBits(r, 24);

    unsigned char seqToUnseq[256];
    int inUse = 0;
    uint32_t ranges = readBits(r, 16);
    for (int i = 0; i < 16; ++i) {
        if (!(ranges & (0x8000u >> i)))
            continue;
        uint32_t bits = readBits(r, 16);
        for (int j = 0; j < 16; ++j)
            if (bits & (0x8000u >> j))
                seqToUnseq[inUse++] = (unsigned char)(i * 16 + j);
    }
    if (r->ranOut)
        return fail(why, BZ2_CHECK_TRUNCATED, "stream ends inside a block header");
    if (inUse == 0)
        return fail(why, BZ2_CHECK_BAD, "block uses no byte values");
    int alphaSize = inUse + 2;

    int groups = (int)readBits(r, 3);
    int selectorCount = (int)readBits(r, 15);
    if (groups < 2 || groups > MAX_GROUPS || selectorCount < 1)
        return fail(why, r->ranOut ? BZ2_CHECK_TRUNCATED : BZ2_CHECK_BAD, "bad table counts in a block");
    static unsigned char selectors[MAX_SELECTORS];
    unsigned char mtfGroups[MAX_GROUPS];
    for (int i = 0; i < groups; ++i)
        mtfGroups[i] = (unsigned char)i;
    for (int i = 0; i < selectorCount; ++i) {
        int j = 0;
        while (readBits(r, 1)) {
            if (++j >= groups || r->ranOut)
                return fail(why, r->ranOut ? BZ2_CHECK_TRUNCATED : BZ2_CHECK_BAD, "bad selector in a block");
        }
        if (r->ranOut)
            return fail(why, BZ2_CHECK_TRUNCATED, "stream ends inside a block");
        // Selectors beyond the maximum are read and dropped, as libbz2 does.
        if (i < MAX_SELECTORS) {
            unsigned char group = mtfGroups[j];
            std::memmove(mtfGroups + 1, mtfGroups, (std::size_t)j);
            mtfGroups[0] = group;
            selectors[i] = group;
        }
    }
    if (selectorCount > MAX_SELECTORS)
        selectorCount = MAX_SELECTORS;

    static huffTable tables[MAX_GROUPS];
    for (int t = 0; t < groups; ++t) {
        unsigned char lengths[MAX_ALPHA];
        int len = (int)readBits(r, 5);
        for (int i = 0; i < alphaSize; ++i) {
            for (;;) {
                if (len < 1 || len > MAX_CODE_LEN || r->ranOut)
                    return fail(why, r->ranOut ? BZ2_CHECK_TRUNCATED : BZ2_CHECK_BAD, "bad code lengths in a block");
                if (!readBits(r, 1))
                    break;
                len += readBits(r, 1) ? -1 : 1;
            }
            lengths[i] = (unsigned char)len;
        }
        buildTable(&tables[t], lengths, alphaSize);
    }

    // Huffman symbols -> move-to-front indices with zero runs -> bytes.
    int counts[256] = { 0 };
    unsigned char mtf[256];
    for (int i = 0; i < 256; ++i)
        mtf[i] = (unsigned char)i;
    int endOfBlock = inUse + 1;
    int nblock = 0, group = -1, left = 0;
    uint32_t run = 0, runWeight = 1;
    bool inRun = false;
    // Grown with the block, not zeroed to its size level at each stream.
    b->tt.clear();
    for (;;) {
        if (left == 0) {
            if (++group >= selectorCount)
                return fail(why, BZ2_CHECK_BAD, "block runs past its selectors");
            left = GROUP_SIZE;
        }
        --left;
        int symbol = decodeSymbol(r, &tables[selectors[group]]);
        if (symbol < 0)
            return fail(why, r->ranOut ? BZ2_CHECK_TRUNCATED : BZ2_CHECK_BAD,
                        r->ranOut ? "stream ends inside a block" : "bad code in a block");
        if (symbol <= 1) { // RUNA, RUNB: a bijective base-2 count of the front byte
            if (!inRun) {
                inRun = true;
                run = 0;
                runWeight = 1;
            }
            if (runWeight > (1u << 21))
                return fail(why, BZ2_CHECK_BAD, "run too long in a block");
            run += runWeight << symbol;
            runWeight <<= 1;
            continue;
        }
        if (inRun) {
            inRun = false;
            if (run > (uint32_t)(b->blockSizeMax - nblock))
                return fail(why, BZ2_CHECK_BAD, "block longer than its size level");
            unsigned char byte = seqToUnseq[mtf[0]];
            counts[byte] += (int)run;
            b->tt.insert(b->tt.end(), run, byte);
            nblock += (int)run;
        }
        if (symbol == endOfBlock)
            break;
        int index = symbol - 1;
        if (nblock >= b->blockSizeMax)
            return fail(why, BZ2_CHECK_BAD, "block longer than its size level");
        unsigned char value = mtf[index];
        std::memmove(mtf + 1, mtf, (std::size_t)index);
        mtf[0] = value;
        unsigned char byte = seqToUnseq[value];
        ++counts[byte];
        b->tt.push_back(byte);
        ++nblock;
    }
    uint32_t* tt = b->tt.data();
    if (origPtr >= (uint32_t)nblock)
        return fail(why, BZ2_CHECK_BAD, "bad origin pointer in a block");

    // Inverse Burrows-Wheeler: each word holds its byte and, above it, the next index.
    int start[256];
    for (int i = 0, sum = 0; i < 256; ++i) {
        start[i] = sum;
        sum += counts[i];
    }
    for (int i = 0; i < nblock; ++i) {
        unsigned char byte = (unsigned char)(tt[i] & 0xff);
        tt[start[byte]++] |= (uint32_t)i << 8;
    }

    // Undo the initial run-length step (four equal bytes, then a count) under the CRC.
    uint32_t crc = 0xFFFFFFFFu;
    uint32_t pos = tt[origPtr] >> 8;
    int last = -1, same = 0;
    for (int k = 0; k < nblock; ++k) {
        uint32_t word = tt[pos];
        unsigned char byte = (unsigned char)(word & 0xff);
        pos = word >> 8;
        if (same == 4) {
            for (int n = 0; n < byte; ++n)
                crc = (crc << 8) ^ crcTable[(crc >> 24) ^ (uint32_t)last];
            emitRun(b, (unsigned char)last, byte);
            same = 0;
            last = -1;
            continue;
        }
        crc = (crc << 8) ^ crcTable[(crc >> 24) ^ byte];
        emit(b, byte);
        if (byte == last) {
            ++same;
        } else {
            last = byte;
            same = 1;
        }
    }
    crc = ~crc;
    flush(b);
    // Four equal bytes are always followed by their count; a block that
    // stops behind them is cut, as libbz2 has it.
    if (same == 4)
        return fail(why, BZ2_CHECK_BAD, "block ends inside a run: the data is corrupted");
    if (crc != storedCrc)
        return fail(why, BZ2_CHECK_BAD, "block CRC mismatch: the data is corrupted");
    *blockCrcOut = crc;
    return BZ2_CHECK_OK;
}

} // namespace

int bz2_check(const unsigned char* data, std::size_t size, std::string* why)
{
    return bz2_decode(data, size, why, nullptr, nullptr);
}

int bz2_decode(const unsigned char* data, std::size_t size, std::string* why, bz2_sink sink, void* user)
{
    makeCrcTable();
    if (why)
        why->clear();
    if (size == 0)
        return fail(why, BZ2_CHECK_TRUNCATED, "the file is empty");
    bitReader r = { data, size, 0, false };
    // Kept from call to call: a fresh block of up to 3.6 MB each time costs
    // the pages it touches again (the fuzz target checks millions of inputs).
    static blockState b;
    b.sink = sink;
    b.user = user;
    b.outLength = 0;
    int streams = 0;
    while (r.bit / 8 < size) {
        // Concatenated streams are one file to bzip2; each is checked in turn.
        uint32_t b0 = readBits(&r, 8), b1 = readBits(&r, 8), b2 = readBits(&r, 8), level = readBits(&r, 8);
        if (r.ranOut)
            return fail(why, BZ2_CHECK_TRUNCATED, "the file ends inside a stream header");
        if (b0 != 'B' || b1 != 'Z' || b2 != 'h' || level < '1' || level > '9')
            return fail(why, BZ2_CHECK_BAD, streams ? "data after the end of the stream" : "not a bzip2 file");
        ++streams;
        b.blockSizeMax = (int)(level - '0') * 100000;
        uint32_t combined = 0;
        for (;;) {
            uint32_t high = readBits(&r, 24), low = readBits(&r, 24);
            if (r.ranOut)
                return fail(why, BZ2_CHECK_TRUNCATED, "the file is truncated");
            if (high == 0x314159 && low == 0x265359) {
                uint32_t blockCrc = 0;
                int verdict = checkBlock(&r, &b, &blockCrc, why);
                // Past the end every bit reads as zero, which may look like any other fault.
                if (r.ranOut)
                    return fail(why, BZ2_CHECK_TRUNCATED, "the file is truncated");
                if (verdict != BZ2_CHECK_OK)
                    return verdict;
                combined = ((combined << 1) | (combined >> 31)) ^ blockCrc;
            } else if (high == 0x177245 && low == 0x385090) {
                uint32_t stored = readBits(&r, 32);
                if (r.ranOut)
                    return fail(why, BZ2_CHECK_TRUNCATED, "the file is truncated");
                if (stored != combined)
                    return fail(why, BZ2_CHECK_BAD, "stream CRC mismatch: the data is corrupted");
                r.bit = (r.bit + 7) / 8 * 8;
                break;
            } else {
                return fail(why, BZ2_CHECK_BAD, "bad block header: the data is corrupted");
            }
        }
    }
    return BZ2_CHECK_OK;
}
