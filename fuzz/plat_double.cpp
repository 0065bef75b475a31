// A scripted test double of the platform layer (control/plat.h) for the fuzz
// targets, not a platform of the library: no event thread, no network.
// The device's answer is delivered through sock_onEvent from within the
// platform calls themselves (connect on connect, reads and the close on the
// first send), and waits advance a virtual clock instead of sleeping.
#include "plat.h"
#include "plat_double.h"
#include "sock.h"

#include <arpa/inet.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

struct plat_eventLoop {
    int unused;
};
static plat_eventLoop fuzzLoop;
std::atomic<plat_window> eventWindow(&fuzzLoop);

static const unsigned char* answerData;
static size_t answerSize;
static unsigned answerSeed;
static int answerModes;

static long long virtualClock;
static int lastError;
static int connectCount;
static long long openSockets;
static int nextSocket = 3;
static int currentSocket = -1;
static int answered;               // the answer went out on currentSocket
static const unsigned char* piece; // what plat_socketRecv hands out next
static size_t pieceLeft;
static void (*debugHook)(const char* text);

enum { SETTINGS = 8, SETTING_SIZE = 512 };
static char settingKeys[SETTINGS][64];
static char settingValues[SETTINGS][SETTING_SIZE];

void plat_fuzzSetAnswer(const unsigned char* data, size_t size, unsigned pieceSeed, int modes)
{
    answerData = data;
    answerSize = size;
    answerSeed = pieceSeed;
    answerModes = modes;
}

void plat_fuzzSetSetting(const char* key, const char* value)
{
    int free = -1;
    for (int i = 0; i < SETTINGS; ++i) {
        if (settingKeys[i][0] && strcasecmp(settingKeys[i], key) == 0) {
            free = i;
            break;
        }
        if (free < 0 && !settingKeys[i][0])
            free = i;
    }
    if (free < 0)
        return;
    if (!value) {
        settingKeys[free][0] = 0;
        return;
    }
    snprintf(settingKeys[free], sizeof settingKeys[free], "%s", key);
    snprintf(settingValues[free], sizeof settingValues[free], "%s", value);
}

int plat_fuzzConnectCount(void)
{
    return connectCount;
}
long long plat_fuzzOpenSockets(void)
{
    return openSockets;
}
void plat_fuzzSetDebugHook(void (*hook)(const char* text))
{
    debugHook = hook;
}

static const char* plat_fuzzSetting(const char* key)
{
    for (int i = 0; i < SETTINGS; ++i)
        if (settingKeys[i][0] && strcasecmp(settingKeys[i], key) == 0)
            return settingValues[i];
    return nullptr;
}

void plat_startEventThread(void) {}
void plat_lock(void) {}
void plat_unlock(void) {}
void plat_sleep(int ms)
{
    virtualClock += ms > 0 ? ms : 0;
}
long long plat_milliseconds(void)
{
    return virtualClock;
}
void plat_waitSignal(int ms)
{
    plat_sleep(ms);
}
void plat_signal(void) {}

int plat_currentDirectory(char* out, int size)
{
    return snprintf(out, (size_t)size, "/nonexistent") < size;
}

int plat_profileString(const char*, const char*, const char* key, const char* defaultText, char* out, int size)
{
    if (size <= 0)
        return 0;
    const char* value = plat_fuzzSetting(key);
    snprintf(out, (size_t)size, "%s", value ? value : defaultText);
    return (int)strlen(out);
}

int plat_profileInt(const char*, const char*, const char* key, int defaultValue)
{
    const char* value = plat_fuzzSetting(key);
    if (!value)
        return defaultValue;
    int number = 0;
    int negative = *value == '-';
    if (*value == '-' || *value == '+')
        ++value;
    while (*value >= '0' && *value <= '9' && number < 100000)
        number = number * 10 + (*value++ - '0');
    return negative ? -number : number;
}

// No file here: the settings come from memory through the profile calls.
int plat_readFile(const char*, char*, int)
{
    return -1;
}

void plat_debugOutput(const char* text)
{
    if (debugHook)
        debugHook(text);
}

int plat_socketsStart(int* major, int* minor)
{
    *major = 2;
    *minor = 0;
    return 0;
}

void plat_socketsCleanup(void) {}

plat_socket plat_socketCreate(void)
{
    ++openSockets;
    currentSocket = nextSocket++;
    answered = 0;
    return currentSocket;
}

int plat_socketSelect(plat_socket, plat_window window)
{
    return window == eventWindow.load(std::memory_order_acquire) ? 0 : 22;
}

int plat_socketConnect(plat_socket s, uint32_t, uint16_t)
{
    ++connectCount;
    if (s == currentSocket)
        sock_onEvent(PLAT_EVENT_CONNECT, (answerModes & PLAT_FUZZ_NO_CONNECT) ? 10061 : 0);
    return 0;
}

static unsigned plat_fuzzNextPiece(unsigned* state)
{
    *state = *state * 1103515245u + 12345u;
    return 1 + (*state >> 16) % 254;
}

// The device's answer, as the notifications of a real socket would bring it.
static void plat_fuzzDeliver(int s)
{
    unsigned state = answerSeed;
    size_t at = 0;
    if ((answerModes & PLAT_FUZZ_READ_ERROR) && answerSize == 0) {
        sock_onEvent(PLAT_EVENT_READ, 10054);
        return;
    }
    while (at < answerSize && s == currentSocket) {
        size_t n = plat_fuzzNextPiece(&state);
        if (n > answerSize - at)
            n = answerSize - at;
        // The error takes the last piece's place, so the answer is never whole.
        if ((answerModes & PLAT_FUZZ_READ_ERROR) && at + n >= answerSize) {
            sock_onEvent(PLAT_EVENT_READ, 10054);
            return; // the library closed the socket
        }
        piece = answerData + at;
        pieceLeft = n;
        // A piece larger than one receive raises further read notifications.
        while (pieceLeft > 0 && s == currentSocket)
            sock_onEvent(PLAT_EVENT_READ, 0);
        at += n;
    }
    if (s == currentSocket && !(answerModes & PLAT_FUZZ_NO_CLOSE))
        sock_onEvent(PLAT_EVENT_CLOSE, 0);
}

int plat_socketSend(plat_socket s, const char* const*, const int* lengths, int count)
{
    int length = 0;
    for (int i = 0; i < count; ++i)
        length += lengths[i];
    if (s != currentSocket) {
        lastError = 9;
        return -1;
    }
    if (!answered && !(answerModes & PLAT_FUZZ_NO_CONNECT)) {
        answered = 1;
        plat_fuzzDeliver(s);
    }
    return length;
}

int plat_socketRecv(plat_socket s, char* buffer, int size)
{
    if (s != currentSocket || size <= 0)
        return -1;
    size_t n = pieceLeft < (size_t)size ? pieceLeft : (size_t)size;
    memcpy(buffer, piece, n);
    piece += n;
    pieceLeft -= n;
    return (int)n;
}

int plat_socketClose(plat_socket s)
{
    if (s < 0 || s != currentSocket) {
        lastError = 9;
        return -1;
    }
    --openSockets;
    currentSocket = -1;
    pieceLeft = 0;
    return 0;
}

int plat_socketWaitWritable(plat_socket, int)
{
    return 1;
}
int plat_lastError(void)
{
    return lastError;
}
int plat_wouldBlock(int error)
{
    return error == 11;
}
uint32_t plat_parseAddress(const char* text)
{
    return (uint32_t)inet_addr(text);
}

int plat_resolveHost(const char*, uint32_t*)
{
    return 1; // no name service while fuzzing
}

// No other thread runs under the double, so the library's spin before a
// pause would only hand the core to other processes: a system call each
// time, the most of what an input cost.
extern "C" int sched_yield(void)
{
    return 0;
}
