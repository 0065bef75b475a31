// Differential fuzz target of ormi's own bzip2 decoder (the one the Windows
// program checks packages with) against libbz2: for every input both must
// agree on whether it is an intact stream; of an intact one both must hand
// out the same bytes, of a broken one what the one gave out must begin what
// the other gave out (libbz2 holds back a pending run, ormi's decoder hands
// out a block before it compares its CRC). A randomised block, which the own
// decoder refuses as unsupported, is not compared.
// fuzz-sources: common/bz2.cpp
// fuzz-libraries: bz2
#include <bzlib.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bz2.h"

namespace {

// libbz2 decodes up to this much; an input that unpacks to more is skipped
// (a block may expand some fifty times).
const size_t outputLimit = 64u << 10;

// libbz2's memory (its state and a block of up to 3.6 MB per stream) from
// one arena kept for the whole run, instead of fresh pages per input.
std::vector<char> arena(8u << 20);
size_t arenaUsed;

void* lendMemory(void*, int items, int size)
{
    size_t need = ((size_t)items * (size_t)size + 63) & ~(size_t)63;
    if (need > arena.size() - arenaUsed)
        return nullptr;
    void* block = arena.data() + arenaUsed;
    arenaUsed += need;
    return block;
}
void returnMemory(void*, void*) {}

// 1: intact (every stream to its end, nothing behind), 0: not; -1: skipped.
int libDecode(const uint8_t* data, size_t size, std::string* out)
{
    static char scratch[1 << 16];
    if (size == 0)
        return 0;
    size_t used = 0;
    while (used < size) {
        bz_stream s = {};
        arenaUsed = 0; // the stream before has ended
        s.bzalloc = lendMemory;
        s.bzfree = returnMemory;
        if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK)
            abort();
        s.next_in = (char*)(data + used);
        s.avail_in = (unsigned)(size - used);
        int ret;
        do {
            s.next_out = scratch;
            s.avail_out = sizeof scratch;
            ret = BZ2_bzDecompress(&s);
            out->append(scratch, sizeof scratch - s.avail_out);
        } while (ret == BZ_OK && out->size() <= outputLimit && (s.avail_in > 0 || s.avail_out == 0));
        used = size - s.avail_in;
        BZ2_bzDecompressEnd(&s);
        if (out->size() > outputLimit)
            return -1;
        if (ret != BZ_STREAM_END)
            return 0;
    }
    return 1;
}

struct ownOutput {
    const std::string* expected;
    size_t at;     // bytes handed out so far
    size_t agreed; // of them, equal to libbz2's
};

void compare(const unsigned char* bytes, size_t count, void* user)
{
    ownOutput* own = static_cast<ownOutput*>(user);
    // Counted while the two have agreed all along.
    if (own->agreed == own->at && own->at < own->expected->size()) {
        size_t n = std::min(count, own->expected->size() - own->at);
        const char* theirs = own->expected->data() + own->at;
        if (memcmp(theirs, bytes, n) == 0) {
            own->agreed += n;
        } else {
            size_t same = 0;
            while (theirs[same] == (char)bytes[same])
                ++same;
            own->agreed += same;
        }
    }
    own->at += count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Kept with its room from input to input.
    static std::string expected;
    expected.clear();
    int lib = libDecode(data, size, &expected);
    if (lib < 0)
        return 0;
    ownOutput own = { &expected, 0, 0 };
    std::string why;
    int verdict = bz2_decode(data, size, &why, compare, &own);
    if (verdict == BZ2_CHECK_UNSUPPORTED)
        return 0;
    if ((verdict == BZ2_CHECK_OK) != (lib == 1))
        abort();
    if (verdict == BZ2_CHECK_OK && (own.at != expected.size() || own.agreed != own.at))
        abort();
    if (own.agreed != std::min(own.at, expected.size()))
        abort();
    if ((verdict == BZ2_CHECK_OK) != why.empty())
        abort();
    return 0;
}
