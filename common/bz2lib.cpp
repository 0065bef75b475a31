// bzip2 stream test through libbz2, where the platform has it: the library
// checks every block CRC and the stream CRC; a stream that stops without its
// end marker is truncated.
#include "bz2.h"

#ifdef ORMI_HAVE_LIBBZ2
#include <bzlib.h>
#include <climits>

int bz2_libCheck(const unsigned char* data, std::size_t size, std::string* why)
{
    if (why)
        why->clear();
    static char scratch[1 << 16];
    std::size_t used = 0;
    for (;;) {
        bz_stream s = {};
        if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) {
            if (why)
                *why = "libbz2 could not start";
            return BZ2_CHECK_BAD;
        }
        s.next_in = (char*)(data + used);
        s.avail_in = (unsigned)(size - used);
        int ret;
        do {
            s.next_out = scratch;
            s.avail_out = sizeof scratch;
            ret = BZ2_bzDecompress(&s);
        } while (ret == BZ_OK && (s.avail_in > 0 || s.avail_out == 0));
        used = size - s.avail_in;
        BZ2_bzDecompressEnd(&s);
        if (ret == BZ_OK) {
            if (why)
                *why = size ? "the file is truncated" : "the file is empty";
            return BZ2_CHECK_TRUNCATED;
        }
        if (ret != BZ_STREAM_END) {
            if (why)
                *why = ret == BZ_DATA_ERROR_MAGIC ? "not a bzip2 stream" : "the data is corrupted";
            return BZ2_CHECK_BAD;
        }
        if (used >= size)
            return BZ2_CHECK_OK;
    }
}

int bz2_verify(const unsigned char* data, std::size_t size, std::string* why)
{
    return bz2_libCheck(data, size, why);
}
#else
int bz2_libCheck(const unsigned char*, std::size_t, std::string* why)
{
    if (why)
        *why = "built without libbz2";
    return BZ2_CHECK_UNSUPPORTED;
}

int bz2_verify(const unsigned char* data, std::size_t size, std::string* why)
{
    return bz2_check(data, size, why);
}
#endif
