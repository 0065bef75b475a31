// Fuzz target over the settings reader: the input is the settings file. Every
// key is read into buffers of several sizes, which are sized exactly, so that
// any write past the value's room is seen; the reading shared by one call
// must give what the file read key by key gives.
// fuzz-sources: control/ini.cpp common/profile.cpp control/plat_posix.cpp control/sock.cpp control/debug.cpp
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ini.h"
#include "plat.h"

namespace {

std::string& directory()
{
    static std::string dir;
    if (dir.empty()) {
        char name[] = "/tmp/ormi-ini-fuzz-XXXXXX";
        if (!mkdtemp(name))
            abort();
        dir = name;
        ini_setDirectory(dir.c_str());
    }
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 65536)
        return 0;
    std::string path = directory() + "/ormi_control.ini";
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        abort();
    fwrite(data, 1, size, file);
    fclose(file);

    static const char* const keys[][2] = {
        { "IP", "ip_address" },   { "ip", "IP_PORT" }, { "LOGIN", "username" }, { "LOGIN", "password" },
        { "CONTROL", "timeout" }, { "", "" },          { "a b", "c" },
    };
    static const int sizes[] = { 1, 2, 9, 255 };
    for (const auto& k : keys) {
        for (int s : sizes) {
            std::vector<char> out(s), shared(s);
            int found = ini_readString("ormi_control.ini", k[0], k[1], out.data(), s);
            size_t n = strnlen(out.data(), s);
            if (n >= (size_t)s)
                abort();
            // "Found" means the value read is not the missing text.
            if (s > 8 && found != (strcmp(out.data(), "no entry") != 0))
                abort();
            ini_beginCall();
            int sharedFound = ini_readString("ormi_control.ini", k[0], k[1], shared.data(), s);
            ini_endCall();
            if (sharedFound != found || strnlen(shared.data(), s) >= (size_t)s ||
                strcmp(shared.data(), out.data()) != 0)
                abort();
        }
        int value = 12345, sharedValue = 54321;
        ini_readInt("ormi_control.ini", k[0], k[1], 77, &value);
        ini_beginCall();
        ini_readInt("ormi_control.ini", k[0], k[1], 77, &sharedValue);
        ini_endCall();
        if (sharedValue != value)
            abort();
    }
    ini_connection conn;
    ini_readConnection(&conn);
    if (conn.timeout < 1)
        abort();
    if (strnlen(conn.host, 256) > 254 || strnlen(conn.user, 256) > 254 || strnlen(conn.port, 256) > 254)
        abort();
    return 0;
}
