// Socket shim of the simulator: hides the differences between BSD sockets
// and Winsock behind a handful of blocking calls with bounded waits.
#include "simnet.h"

#ifdef _WIN32
// A Winsock fd_set is a counted array of sockets: this many in one wait.
#define FD_SETSIZE 1024
#include <winsock2.h>
#include <ws2tcpip.h>
typedef int simnet_len;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
typedef socklen_t simnet_len;
#endif

#include <cstring>
#include <vector>

#ifdef _WIN32
const simnet_handle simnet_invalid = (simnet_handle)INVALID_SOCKET;
#define SIMNET_SOCK(h) ((SOCKET)(h))
#else
const simnet_handle simnet_invalid = (simnet_handle)-1;
#define SIMNET_SOCK(h) ((int)(h))
#endif

bool simnet_startup()
{
#ifdef _WIN32
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
#else
    return true;
#endif
}

void simnet_cleanup()
{
#ifdef _WIN32
    WSACleanup();
#endif
}

simnet_handle simnet_listen(const std::string& address, int port, int* boundPort)
{
    sockaddr_in where;
    std::memset(&where, 0, sizeof where);
    where.sin_family = AF_INET;
    where.sin_port = htons((unsigned short)port);
    if (inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1)
        return simnet_invalid;
#ifdef _WIN32
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return simnet_invalid;
#else
    int s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s < 0)
        return simnet_invalid;
#endif
    // The port must be bindable again right after a simulated reboot, while
    // connections closed by us still linger in TIME_WAIT.
    int yes = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, (const char*)&yes, sizeof yes);
    if (bind(s, (sockaddr*)&where, sizeof where) != 0 || listen(s, 16) != 0) {
        simnet_close((simnet_handle)s);
        return simnet_invalid;
    }
    simnet_len length = sizeof where;
    if (getsockname(s, (sockaddr*)&where, &length) != 0) {
        simnet_close((simnet_handle)s);
        return simnet_invalid;
    }
    if (boundPort)
        *boundPort = ntohs(where.sin_port);
    return (simnet_handle)s;
}

#ifdef _WIN32

const std::size_t simnet_maxWaitAny = FD_SETSIZE;

int simnet_waitAny(const simnet_handle* sockets, std::size_t count, int timeoutMs, unsigned char* ready)
{
    if (count > FD_SETSIZE)
        return -1;
    if (count == 0) {
        Sleep((DWORD)timeoutMs);
        return 0;
    }
    fd_set set;
    FD_ZERO(&set);
    for (std::size_t i = 0; i < count; ++i)
        FD_SET(SIMNET_SOCK(sockets[i]), &set);
    timeval wait;
    wait.tv_sec = timeoutMs / 1000;
    wait.tv_usec = (timeoutMs % 1000) * 1000;
    int n = select(0, &set, nullptr, nullptr, &wait);
    if (n <= 0)
        return n < 0 ? -1 : 0;
    for (std::size_t i = 0; i < count; ++i)
        ready[i] = FD_ISSET(SIMNET_SOCK(sockets[i]), &set) ? 1 : 0;
    return n;
}

#else

// poll rather than select: descriptors past FD_SETSIZE (a process that
// serves many devices) would overrun an fd_set.
const std::size_t simnet_maxWaitAny = 65536;

int simnet_waitAny(const simnet_handle* sockets, std::size_t count, int timeoutMs, unsigned char* ready)
{
    if (count > simnet_maxWaitAny)
        return -1;
    pollfd fixed[64];
    std::vector<pollfd> many;
    pollfd* wanted = fixed;
    if (count > 64) {
        many.resize(count);
        wanted = many.data();
    }
    for (std::size_t i = 0; i < count; ++i) {
        wanted[i].fd = SIMNET_SOCK(sockets[i]);
        wanted[i].events = POLLIN;
        wanted[i].revents = 0;
    }
    int n = poll(wanted, (nfds_t)count, timeoutMs);
    if (n < 0)
        return errno == EINTR ? 0 : -1;
    for (std::size_t i = 0; i < count; ++i)
        ready[i] = wanted[i].revents ? 1 : 0;
    return n;
}

#endif

int simnet_waitReadable(simnet_handle socket, int timeoutMs)
{
    unsigned char ready = 0;
    int n = simnet_waitAny(&socket, 1, timeoutMs, &ready);
    if (n < 0)
        return -1;
    return n > 0 ? 1 : 0;
}

int simnet_accept(simnet_handle listener, int timeoutMs, simnet_handle* client)
{
    int ready = simnet_waitReadable(listener, timeoutMs);
    if (ready <= 0)
        return ready;
#ifdef _WIN32
    SOCKET s = accept(SIMNET_SOCK(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET)
        return 0;
#else
    int s = accept(SIMNET_SOCK(listener), nullptr, nullptr);
    if (s < 0)
        return 0;
#endif
    *client = (simnet_handle)s;
    return 1;
}

simnet_handle simnet_connect(const std::string& address, int port)
{
    sockaddr_in where;
    std::memset(&where, 0, sizeof where);
    where.sin_family = AF_INET;
    where.sin_port = htons((unsigned short)port);
    if (inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1)
        return simnet_invalid;
    simnet_handle s = (simnet_handle)socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == simnet_invalid)
        return simnet_invalid;
    if (connect(SIMNET_SOCK(s), (sockaddr*)&where, sizeof where) != 0) {
        simnet_close(s);
        return simnet_invalid;
    }
    return s;
}

int simnet_recv(simnet_handle socket, char* buffer, int size)
{
    int n = (int)recv(SIMNET_SOCK(socket), buffer, size, 0);
    return n < 0 ? -1 : n;
}

bool simnet_sendAll(simnet_handle socket, const char* data, std::size_t length)
{
    while (length > 0) {
        int piece = length > 65536 ? 65536 : (int)length;
#ifdef _WIN32
        int n = send(SIMNET_SOCK(socket), data, piece, 0);
#else
        int n = (int)send(SIMNET_SOCK(socket), data, piece, MSG_NOSIGNAL);
#endif
        if (n <= 0)
            return false;
        data += n;
        length -= (std::size_t)n;
    }
    return true;
}

void simnet_noDelay(simnet_handle socket)
{
    int yes = 1;
    setsockopt(SIMNET_SOCK(socket), IPPROTO_TCP, TCP_NODELAY, (const char*)&yes, sizeof yes);
}

void simnet_shutdownSend(simnet_handle socket)
{
#ifdef _WIN32
    shutdown(SIMNET_SOCK(socket), SD_SEND);
#else
    shutdown(SIMNET_SOCK(socket), SHUT_WR);
#endif
}

void simnet_close(simnet_handle socket)
{
    if (socket == simnet_invalid)
        return;
#ifdef _WIN32
    closesocket(SIMNET_SOCK(socket));
#else
    close(SIMNET_SOCK(socket));
#endif
}

void simnet_reset(simnet_handle socket)
{
    linger hard;
    hard.l_onoff = 1;
    hard.l_linger = 0;
    setsockopt(SIMNET_SOCK(socket), SOL_SOCKET, SO_LINGER, (const char*)&hard, sizeof hard);
    simnet_close(socket);
}
