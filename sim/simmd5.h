// MD5 digest for the simulator's password checks and upload records.
#pragma once
#include <cstddef>
#include <string>

// 32 lower-case hexadecimal digits of the MD5 digest of data.
std::string simmd5_hex(const char* data, std::size_t length);
std::string simmd5_hex(const std::string& data);
