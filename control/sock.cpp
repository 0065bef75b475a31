// The device transport: the one socket of the process, its notifications
// (on the event thread, or natively in the waits), the polling waits of the
// calling thread, one exchange.
#include "sock.h"
#include "debug.h"
#include "profile.h"
#include <atomic>
#include <thread>
#include <string.h>

char responseText[4096];

static plat_socket socketHandle = PLAT_INVALID_SOCKET;
// Written by the event thread; rxBuffer is complete once closedByPeer is
// seen set (release on store, acquire on load).
static std::atomic<int> connected(0);
static std::atomic<int> closedByPeer(0);
static char rxBuffer[4096];
static int rxLength;   // event thread only
static int rxReceived; // bytes received on the connection, kept or not
// The error the connection ended with (0: the device closed it); written
// before closedByPeer is published.
static int closeError;
static uint32_t serverAddress; // network byte order
static uint16_t serverPort;    // network byte order

static char debugLine[256]; // lines of the calling thread
static char eventLine[256]; // lines of the event thread

// Tests value until it is set (non-zero, non-null) or timeout seconds have
// passed; a pause ends early when the event thread signals a change.
template <typename T> static int sock_waitSet(const std::atomic<T>& value, int timeout)
{
    long long limit = timeout > 0 ? (long long)timeout * 1000 : 0;
    long long start = plat_milliseconds();
#if PLAT_EVENT_THREAD
    // The event thread's notification mostly comes within microseconds, and
    // a caller that has gone to sleep takes longer to wake than that: so a
    // short spin, giving way to other threads, before the first pause.
    for (int i = 0; i < 200 && !value.load(std::memory_order_acquire); ++i)
        std::this_thread::yield();
#endif
    while (!value.load(std::memory_order_acquire)) {
        long long left = limit - (plat_milliseconds() - start);
        if (left <= 0)
            return value.load(std::memory_order_acquire) ? 1 : 0;
        plat_waitSignal(left < 10 ? (int)left : 10);
    }
    return 1;
}

int sock_open(int timeout)
{
    // A connection still open here is an upload whose answer never came:
    // replaced unclosed, it would leak, and its late notifications would be
    // taken for the new connection's.
    if (socketHandle != PLAT_INVALID_SOCKET)
        sock_close();
    // A call right after loading may come before the event thread has its
    // window; without one the binding below fails as it always has.
    sock_waitSet(eventWindow, timeout);
    plat_window window = eventWindow.load(std::memory_order_acquire);
    int major = 0, minor = 0;
    int result = plat_socketsStart(&major, &minor);
    if (result != 0) {
        debug_format(debugLine, sizeof debugLine, "WSAstartup error #%i\n", result);
        return 0;
    }
    debug_format(debugLine, sizeof debugLine, "winsock v%d.%d started\n", major, minor);

    socketHandle = plat_socketCreate();
    if (socketHandle == PLAT_INVALID_SOCKET) {
        debug_format(debugLine, sizeof debugLine, "Error during create socket #%i.\n", plat_lastError());
        plat_socketsCleanup();
        return 0;
    }
    int error = plat_socketSelect(socketHandle, window);
    if (error != 0) {
        debug_format(debugLine, sizeof debugLine, "WSASyncSelect error #%i\n", error);
        sock_close();
        return 0;
    }
    debug_print("socket created\n");
    return 1;
}

// A settings number after optional blanks, taken to 16 bits.
static uint16_t sock_portNumber(const char* text)
{
    while (*text == ' ' || *text == '\t')
        ++text;
    return (uint16_t)profile_number(text, 0);
}

int sock_connect(char* address, char* port)
{
    if (!address || !port) {
        sock_close();
        return 0;
    }
    // Only a prefix is a scheme; "http://" elsewhere belongs to the text.
    if (strncmp(address, "http://", 7) == 0)
        memmove(address, address + 7, strlen(address + 7) + 1);
    char* colon = strchr(address, ':');
    if (colon) {
        size_t n = strlen(colon + 1);
        if (n > 255)
            n = 255;
        memmove(port, colon + 1, n);
        port[n] = 0;
        *colon = 0;
    }
    debug_format(debugLine, sizeof debugLine, "address: %s, port: %s\n", address, port);

    uint16_t number = sock_portNumber(port);
    unsigned char networkOrder[2] = { (unsigned char)(number >> 8), (unsigned char)(number & 0xffu) };
    memcpy(&serverPort, networkOrder, sizeof serverPort);
    serverAddress = plat_parseAddress(address);
    if (serverAddress == 0xffffffffu) {
        // Also the dotted all-ones address: the parser cannot tell it apart.
        int error = plat_resolveHost(address, &serverAddress);
        if (error != 0) {
            debug_format(debugLine, sizeof debugLine, "address error: %d\n", error);
            sock_close();
            return 0;
        }
    }
    int error = plat_socketConnect(socketHandle, serverAddress, serverPort);
    if (error != 0) {
        debug_format(debugLine, sizeof debugLine, "connect error #%i\n", error);
        sock_close();
        return 0;
    }
    debug_format(debugLine, sizeof debugLine, "connecting %s ... \n", address);
    return 1;
}

int sock_sendPieces(const char* const* pieces, const int* lengths, int count, int timeout)
{
    if (!sock_waitSet(connected, timeout))
        return 0;
    long long length = 0;
    int ok = count >= 0 && count <= PLAT_MAX_PIECES && (count == 0 || (pieces && lengths));
    for (int i = 0; ok && i < count; ++i) {
        ok = lengths[i] >= 0 && (pieces[i] || lengths[i] == 0);
        length += ok ? lengths[i] : 0;
    }
    ok = ok && length <= 0x7fffffff;
    // The socket is non-blocking: hand over the rest for as long as it keeps
    // accepting within the time-out, so that nothing is silently dropped.
    int sent = 0;
    long long limit = (long long)(timeout > 0 ? timeout : 1) * 1000;
    long long progress = plat_milliseconds();
    while (ok && sent < length) {
        // What is left: the pieces not yet sent whole, the first one from
        // where the last send stopped.
        const char* rest[PLAT_MAX_PIECES];
        int restLengths[PLAT_MAX_PIECES];
        int restCount = 0;
        int skip = sent;
        for (int i = 0; i < count; ++i) {
            if (skip >= lengths[i]) {
                skip -= lengths[i];
                continue;
            }
            rest[restCount] = pieces[i] + skip;
            restLengths[restCount++] = lengths[i] - skip;
            skip = 0;
        }
        int n = plat_socketSend(socketHandle, rest, restLengths, restCount);
        if (n > 0) {
            sent += n;
            progress = plat_milliseconds();
            continue;
        }
        if (n < 0 && plat_wouldBlock(plat_lastError()) && plat_milliseconds() - progress < limit &&
            plat_socketWaitWritable(socketHandle, 10) >= 0)
            continue;
        ok = 0;
        break;
    }
    debug_format(debugLine, sizeof debugLine, "sended %d bytes", sent);
    return ok;
}

int sock_sendBytes(const char* data, int length, int timeout)
{
    return sock_sendPieces(&data, &length, 1, timeout);
}

int sock_sendText(const char* text, int timeout)
{
    return sock_sendBytes(text, text ? (int)strlen(text) : 0, timeout);
}

int sock_waitResponse(char* out, int timeout)
{
    // A connection that ended in a reset or an error carries no answer, only
    // whatever part of one had come: the exchange has failed.
    if (!out || !sock_waitSet(closedByPeer, timeout) || closeError != 0)
        return 0;
    size_t n = strnlen(rxBuffer, sizeof rxBuffer - 1);
    memcpy(out, rxBuffer, n);
    out[n] = 0;
    debug_format(debugLine, sizeof debugLine, "RX (len = %d):", (int)n);
    debug_print(out);
    return 1;
}

int sock_close(void)
{
    // Runs on either thread, so it formats into a buffer of its own.
    char line[64];
    if (plat_socketClose(socketHandle) != 0) {
        debug_format(line, sizeof line, "Error during close socket #%i.\n", plat_lastError());
        return 0;
    }
    // Never close the same handle twice: the number may belong to another
    // socket by then.
    socketHandle = PLAT_INVALID_SOCKET;
    plat_socketsCleanup();
    connected.store(0, std::memory_order_release);
    closedByPeer.store(0, std::memory_order_release);
    closeError = 0;
    debug_print("socket closed\n");
    return 1;
}

int sock_onEvent(int event, int error)
{
    switch (event) {
    case PLAT_EVENT_CONNECT:
        if (error == 0) {
            rxLength = 0;
            rxReceived = 0;
            rxBuffer[0] = 0;
            connected.store(1, std::memory_order_release);
            debug_print("connected\n");
            plat_signal();
        } else {
            debug_format(eventLine, sizeof eventLine, "connect error #%i\n", error);
        }
        break;
    case PLAT_EVENT_READ:
        if (error == 0) {
            char piece[256];
            int n = plat_socketRecv(socketHandle, piece, 254);
            if (n > 0) {
                rxReceived += n;
                piece[n] = 0;
                // Text: a zero byte ends what this piece contributes; what does
                // not fit the buffer is dropped.
                int add = (int)strlen(piece);
                int room = (int)sizeof rxBuffer - 1 - rxLength;
                if (add > room)
                    add = room;
                memcpy(rxBuffer + rxLength, piece, (size_t)add);
                rxLength += add;
                rxBuffer[rxLength] = 0;
            }
        } else {
            debug_format(eventLine, sizeof eventLine, "connect error #%i\n", error);
            sock_close();
        }
        break;
    case PLAT_EVENT_CLOSE:
        // Only the device's orderly close ends an answer.
        closeError = error;
        if (error == 0)
            debug_print("disconnected from server\n");
        else if (error == PLAT_ERROR_RESET || error == PLAT_ERROR_ABORTED)
            debug_format(eventLine, sizeof eventLine, "connection reset after %d bytes\n", rxReceived);
        else
            debug_format(eventLine, sizeof eventLine, "connection error #%i after %d bytes\n", error, rxReceived);
        connected.store(0, std::memory_order_release);
        closedByPeer.store(1, std::memory_order_release);
        plat_signal();
        break;
    default:
        break;
    }
    return 1;
}

int sock_endedInError(void)
{
    return closedByPeer.load(std::memory_order_acquire) && closeError != 0;
}

int sock_exchange(const char* request, char* address, char* port, int timeout)
{
    responseText[0] = 0;
    int ok = sock_open(timeout) && sock_connect(address, port);
    if (ok)
        ok = sock_sendText(request, timeout);
    if (ok)
        ok = sock_waitResponse(responseText, timeout);
    if (!sock_close())
        ok = 0;
    return ok;
}
