// Fuzz target over the settings reader: the input is the settings file. A key
// is read into a buffer sized exactly, so that any write past the value's
// room is seen, both key by key from the file and from the snapshot that one
// exported call shares; the two readings must agree.
// fuzz-sources: control/ini.cpp common/profile.cpp control/plat_posix.cpp control/sock.cpp control/debug.cpp
//
// Input: a byte choosing the buffer size (1 to 256), a byte choosing the key,
// then the file. Each input costs four openings of the file and one write,
// which is what bounds the rate here; the file lies in memory (/dev/shm).
#include <stdint.h>
#include <fcntl.h>
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
        char shared[] = "/dev/shm/ormi-ini-fuzz-XXXXXX";
        char temporary[] = "/tmp/ormi-ini-fuzz-XXXXXX";
        const char* made = mkdtemp(shared);
        if (!made)
            made = mkdtemp(temporary);
        if (!made)
            abort();
        dir = made;
        ini_setDirectory(dir.c_str());
    }
    return dir;
}

const char* const keys[][2] = {
    { "IP", "ip_address" },   { "ip", "IP_PORT" }, { "LOGIN", "username" }, { "LOGIN", "password" },
    { "CONTROL", "timeout" }, { "", "" },          { "a b", "c" },
};
const int keyCount = sizeof keys / sizeof keys[0]; // 7: the eighth choice reads the connection

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size > 65536)
        return 0;
    int room = 1 + data[0];
    const char* section = keys[(data[1] & 7) % keyCount][0];
    const char* key = keys[(data[1] & 7) % keyCount][1];
    static std::string path = directory() + "/ormi_control.ini";
    int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (file < 0 || write(file, data + 2, size - 2) != (ssize_t)(size - 2))
        abort();
    close(file);

    std::vector<char> out(room), shared(room);
    int found = ini_readString("ormi_control.ini", section, key, out.data(), room);
    if (strnlen(out.data(), room) >= (size_t)room)
        abort();
    // "Found" means the value read is not the missing text.
    if (room > 8 && found != (strcmp(out.data(), "no entry") != 0))
        abort();
    int value = 12345, sharedValue = 54321;
    ini_readInt("ormi_control.ini", section, key, 77, &value);

    ini_beginCall();
    int sharedFound = ini_readString("ormi_control.ini", section, key, shared.data(), room);
    ini_readInt("ormi_control.ini", section, key, 77, &sharedValue);
    // The connection's four keys on every eighth key choice: each scans the
    // whole snapshot again.
    ini_connection conn = {};
    conn.timeout = 1;
    bool connection = (data[1] & 7) == 7;
    if (connection)
        ini_readConnection(&conn);
    ini_endCall();
    if (sharedFound != found || strnlen(shared.data(), room) >= (size_t)room || strcmp(shared.data(), out.data()) != 0)
        abort();
    if (sharedValue != value)
        abort();
    if (connection && conn.timeout < 1)
        abort();
    if (strnlen(conn.host, 256) > 254 || strnlen(conn.user, 256) > 254 || strnlen(conn.port, 256) > 254)
        abort();
    return 0;
}
