// Fuzz target over the whole answer path: the input plays the device. Its
// bytes arrive in arbitrary pieces through sock_onEvent, and every export
// then evaluates the answer. A broken connection must fail every export,
// nothing may stay open, and no wait may outlast its bound.
// fuzz-sources: fuzz/plat_double.cpp control/frame.cpp control/sock.cpp control/debug.cpp control/ini.cpp common/profile.cpp control/http.cpp control/login.cpp control/param.cpp control/upload.cpp common/md5.cpp common/json_parse.cpp common/json_search.cpp common/json_edit.cpp common/json_file.cpp common/protocol.cpp
//
// Input: a mode byte (bit 0: login method 2, bits 1-3: no connect, no close,
// read error, bits 4-7: which exports run), a byte seeding the piece sizes,
// then the answer bytes.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "ormi_control.h"
#include "plat.h"
#include "plat_double.h"
#include "sock.h"

namespace {

const char kPassword[] = "Clear-Fuzz-Pw";
bool answerHasPassword;

void checkDebugLine(const char* text)
{
    if (!answerHasPassword && strstr(text, kPassword))
        abort();
}

// Bound of one export: two waits per exchange, half a second of slack.
// The text the library sees is the answer with the rest of a piece dropped
// behind a zero byte: a subsequence of the answer's bytes. Only if the
// password is one can a line that echoes the answer carry it.
bool isSubsequence(const char* text, const uint8_t* data, size_t size)
{
    for (size_t i = 0; i < size && *text; ++i)
        if (data[i] == (uint8_t)*text)
            ++text;
    return *text == '\0';
}

void checkTime(long long start, int exchanges)
{
    if (plat_milliseconds() - start > exchanges * 2000LL + 500)
        abort();
}

void checkText(const char* text)
{
    if (!text)
        return;
    // Returned texts lie in the library's buffers and must end there.
    if (strnlen(text, sizeof responseText) >= sizeof responseText)
        abort();
}

enum { EXPORTS = 8 };

// One export (the upload with the collection of its answer) on the scripted
// answer, with what it must keep to.
void runExport(int which, int method, bool broken)
{
    char channel[32];
    static const char* const keys[] = { "", "package_version", "a.b.c" };
    long long start = plat_milliseconds();
    switch (which) {
    case 0: {
        int upload = sendUpdateFile("update", "p_ormi_.bz2", "pkg\0bytes", 9);
        checkTime(start, method);
        if (upload < -1 || upload > 1 || (broken && upload == 1))
            abort();
        start = plat_milliseconds();
        int collected = sendUpdateFileResp();
        checkTime(start, 1);
        if (collected != 0 && collected != 1)
            abort();
        // Only an upload whose answer is still due may stay open.
        if (plat_fuzzOpenSockets() > 1)
            abort();
        return;
    }
    case 1: {
        int login = checkConnection();
        checkTime(start, method);
        if (broken && login != 0)
            abort();
        break;
    }
    case 2: {
        strcpy(channel, "ai1");
        int value = getIO("x", channel);
        checkTime(start, method);
        if (broken && value != -1)
            abort();
        break;
    }
    case 3: {
        strcpy(channel, "do1");
        int set = setIO("x", channel, 7);
        checkTime(start, method);
        if (broken && set != 0)
            abort();
        break;
    }
    case 4:
    case 5:
    case 6: {
        const char* text = getValue("configuration", "devicebase", keys[which - 4]);
        checkTime(start, method);
        checkText(text);
        if (broken && text)
            abort();
        break;
    }
    default: {
        int stored = setValue("configuration", "devicebase", "", "{\n\t\"a\":\t1\n}");
        checkTime(start, method);
        if (broken && stored != 0)
            abort();
        break;
    }
    }
    // Every other exchange ends closed, also one that finds an upload open.
    if (plat_fuzzOpenSockets() != 0)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size > 16384)
        return 0;
    int modes = data[0];
    int method = (modes & 1) ? 2 : 1;
    const uint8_t* answer = data + 2;
    size_t answerSize = size - 2;
    answerHasPassword = isSubsequence(kPassword, answer, answerSize);
    plat_fuzzSetAnswer(answer, answerSize, data[1], (modes >> 1) & 7);
    static bool settingsMade;
    if (!settingsMade) {
        plat_fuzzSetDebugHook(checkDebugLine);
        plat_fuzzSetSetting("ip_address", "127.0.0.1");
        plat_fuzzSetSetting("ip_port", "80");
        plat_fuzzSetSetting("username", "admin");
        plat_fuzzSetSetting("password", kPassword);
        plat_fuzzSetSetting("timeout", "1");
        settingsMade = true;
    }
    plat_fuzzSetSetting("login_version", method == 2 ? "2" : "1");
    bool broken = (modes >> 1) & (PLAT_FUZZ_NO_CONNECT | PLAT_FUZZ_NO_CLOSE | PLAT_FUZZ_READ_ERROR);

    // Exports in the order of a session; the selector runs all of them, one,
    // or one and the next (an upload left open meets the call behind it).
    // The seeds run one each: an input that runs all costs eight.
    int selector = modes >> 4;
    int first = 0, last = EXPORTS - 1;
    if (selector >= 1 && selector <= EXPORTS)
        first = last = selector - 1;
    else if (selector > EXPORTS)
        last = (first = selector - EXPORTS - 1) + 1;
    for (int e = first; e <= last; ++e)
        runExport(e, method, broken);
    return 0;
}
