// End-to-end test of a bzip2 stream: every block decoded with bounded memory
// and its CRC checked, and the stream's combined CRC. The package check's
// content test (package_check.cpp).
#pragma once
#include <cstddef>
#include <string>

enum { BZ2_CHECK_OK = 0, BZ2_CHECK_BAD = 1, BZ2_CHECK_TRUNCATED = 2, BZ2_CHECK_UNSUPPORTED = 3 };
int bz2_check(const unsigned char* data, std::size_t size, std::string* why);
// bz2_check that also hands every decoded byte to sink, a block's bytes as
// they come out (before its CRC is compared).
typedef void (*bz2_sink)(const unsigned char* bytes, std::size_t count, void* user);
int bz2_decode(const unsigned char* data, std::size_t size, std::string* why, bz2_sink sink, void* user);
int bz2_libCheck(const unsigned char* data, std::size_t size, std::string* why); // libbz2; native only
int bz2_verify(const unsigned char* data, std::size_t size, std::string* why);   // the one the package check uses
