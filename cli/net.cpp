// Asking the device directly, beside the library: whether its web server
// answers at all (net_probe), and the whole answer to one request
// (net_ask), with which a failed library call is told from a refusal.
#include "cli.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
typedef SOCKET net_socket;
#define NET_INVALID INVALID_SOCKET
#define net_closeSocket closesocket
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
typedef int net_socket;
#define NET_INVALID (-1)
#define net_closeSocket close
#endif

namespace {

bool startup()
{
#ifdef _WIN32
    static bool started = false;
    if (!started) {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    return started;
#else
    return true;
#endif
}

// 1 ready, 0 time out, -1 error.
int waitFor(net_socket s, bool writable, int ms)
{
#ifdef _WIN32
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    fd_set errors;
    FD_ZERO(&errors);
    FD_SET(s, &errors);
    timeval tv = { ms / 1000, (ms % 1000) * 1000 };
    int n = select(0, writable ? nullptr : &set, writable ? &set : nullptr, &errors, &tv);
    if (n < 0)
        return -1;
    if (n == 0)
        return 0;
    return FD_ISSET(s, &errors) ? -1 : 1;
#else
    pollfd p = { s, (short)(writable ? POLLOUT : POLLIN), 0 };
    int n = poll(&p, 1, ms);
    if (n < 0)
        return -1;
    if (n == 0)
        return 0;
    if (writable && (p.revents & (POLLERR | POLLHUP)))
        return -1;
    return 1;
#endif
}

void setBlocking(net_socket s, bool blocking)
{
#ifdef _WIN32
    u_long mode = blocking ? 0 : 1;
    ioctlsocket(s, FIONBIO, &mode);
#else
    int flags = fcntl(s, F_GETFL, 0);
    fcntl(s, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK));
#endif
}

int lastCut = -1;

// Whether a connection ended in a reset rather than the device's close: a
// recv error natively. Wine's recv ends a reset connection as if closed;
// only a poll of the socket tells, with POLLERR beside POLLHUP, and that
// before the recv that ends it, so erred is the poll taken then.
bool endedInReset(int received, bool erred)
{
#ifdef _WIN32
    if (received < 0) {
        int error = WSAGetLastError();
        return error == WSAECONNRESET || error == WSAECONNABORTED;
    }
    return erred;
#else
    (void)erred;
    return received < 0 && (errno == ECONNRESET || errno == ECONNABORTED);
#endif
}

// Windows: whether a poll of the socket reports an error now (see endedInReset).
bool pollErred(net_socket s)
{
#ifdef _WIN32
    WSAPOLLFD state = { s, POLLRDNORM, 0 };
    return WSAPoll(&state, 1, 0) > 0 && (state.revents & POLLERR);
#else
    (void)s;
    return false;
#endif
}

// A connected socket within the time-out, or NET_INVALID.
net_socket connectTo(const std::string& host, int port, int ms)
{
    if (!startup() || port <= 0 || port > 65535)
        return NET_INVALID;
    addrinfo hints{}, *found = nullptr;
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
        return NET_INVALID;
    net_socket s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == NET_INVALID) {
        freeaddrinfo(found);
        return NET_INVALID;
    }
    setBlocking(s, false);
    int rc = connect(s, found->ai_addr, (int)found->ai_addrlen);
    freeaddrinfo(found);
    bool connected = rc == 0;
    if (!connected && waitFor(s, true, ms) == 1) {
        int error = 0;
        socklen_t length = sizeof error;
        getsockopt(s, SOL_SOCKET, SO_ERROR, (char*)&error, &length);
        connected = error == 0;
    }
    if (!connected) {
        net_closeSocket(s);
        return NET_INVALID;
    }
    setBlocking(s, true);
    return s;
}

} // namespace

int net_lastCut()
{
    return lastCut;
}

double net_now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void net_sleep(double seconds)
{
    if (seconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds((long long)(seconds * 1000)));
}

// The device answers when it sends the start of an HTTP answer within the
// time-out; a refused, reset or silent connection counts as unreachable.
int net_probe(const std::string& host, int port, int timeoutSeconds)
{
    int ms = (timeoutSeconds < 1 ? 1 : timeoutSeconds) * 1000;
    net_socket s = connectTo(host, port, ms);
    if (s == NET_INVALID)
        return NET_UNREACHABLE;
    int verdict = NET_UNREACHABLE;
    std::string request = "GET / HTTP/1.1\nHost: " + host + "\n\n\n";
    if (send(s, request.data(), (int)request.size(), 0) == (int)request.size()) {
        char answer[64];
        int have = 0;
        double until = net_now() + ms / 1000.0;
        while (have < 5 && net_now() < until) {
            if (waitFor(s, false, 50) != 1)
                continue;
            int n = recv(s, answer + have, (int)sizeof answer - have, 0);
            if (n <= 0)
                break;
            have += n;
        }
        bool httpStart = have >= 5 && std::memcmp(answer, "HTTP/", 5) == 0;
        if (httpStart) {
            // A reset after the first bytes is a network fault too.
            verdict = NET_ANSWERS;
            char rest[4096];
            until = net_now() + ms / 1000.0;
            while (net_now() < until) {
                if (waitFor(s, false, 50) != 1)
                    continue;
                int n = recv(s, rest, sizeof rest, 0);
                if (n == 0)
                    break;
                if (n < 0) {
                    verdict = NET_UNREACHABLE;
                    break;
                }
            }
        }
    }
    net_closeSocket(s);
    return verdict;
}

// Like the library's exchange: the answer counts only once the device has
// closed the connection in order, within the time-out of each wait.
int net_ask(const std::string& host, int port, int timeoutSeconds, const std::string& request, std::string* answer)
{
    answer->clear();
    lastCut = -1;
    int ms = (timeoutSeconds < 1 ? 1 : timeoutSeconds) * 1000;
    net_socket s = connectTo(host, port, ms);
    if (s == NET_INVALID)
        return 0;
    bool complete = false;
    if (send(s, request.data(), (int)request.size(), 0) == (int)request.size()) {
        char piece[4096];
        double until = net_now() + ms / 1000.0;
        while (net_now() < until) {
            if (waitFor(s, false, 50) != 1)
                continue;
            bool erred = pollErred(s);
            int n = recv(s, piece, sizeof piece, 0);
            if (n <= 0 && endedInReset(n, erred)) {
                lastCut = (int)answer->size();
                break;
            }
            if (n < 0)
                break;
            if (n == 0) {
                complete = true;
                break;
            }
            answer->append(piece, (std::size_t)n);
            if (answer->size() > 65536)
                break;
        }
    }
    net_closeSocket(s);
    if (!complete || answer->compare(0, 5, "HTTP/") != 0)
        answer->clear();
    return !answer->empty();
}
