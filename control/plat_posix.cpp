// POSIX platform layer: no event thread; the waits of the call in progress
// poll() the one socket and deliver its connect, read and close events in
// order on the caller's thread. Also an INI reader with the private-profile
// semantics, the system log as debug channel and the process-wide lock.
#include "plat.h"
#include "profile.h"
#include "sock.h"
#include <arpa/inet.h>
#include <atomic>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

// ---- lock, time, waits

static pthread_mutex_t callLock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

void plat_lock(void)
{
    pthread_mutex_lock(&callLock);
}
void plat_unlock(void)
{
    pthread_mutex_unlock(&callLock);
}

void plat_sleep(int ms)
{
    struct timespec t = { ms / 1000, (long)(ms % 1000) * 1000000L };
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {}
}

long long plat_milliseconds(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

// Nothing else runs in the library: the socket's events are taken by the
// wait below, on the thread of the call, so there is nobody to signal.
void plat_signal(void) {}

// ---- socket events

// What the event window stands for here: the exchange's wait itself.
struct plat_eventLoop {
    int unused;
};
static plat_eventLoop eventLoop = { 0 };
std::atomic<plat_window> eventWindow(nullptr);

// The bound socket and what is awaited of it. Only the thread of the call in
// progress touches them (the call lock orders the calls).
enum { WATCH_NONE, WATCH_BOUND, WATCH_CONNECTING, WATCH_CONNECTED };
static int watchSocket = -1;
static int watchState = WATCH_NONE;

static void plat_watch(int s, int state)
{
    if (state != WATCH_NONE || watchSocket == s) {
        watchSocket = state == WATCH_NONE ? -1 : s;
        watchState = state;
    }
}

// Delivers what poll() reported, in the order and with the codes of the
// Windows notifications.
static void plat_dispatch(short revents)
{
    int s = watchSocket;
    if (watchState == WATCH_CONNECTING) {
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            error = errno;
        watchState = error == 0 ? WATCH_CONNECTED : WATCH_BOUND;
        sock_onEvent(PLAT_EVENT_CONNECT, error & 0xffff);
        return;
    }
    // Read events while data is waiting, the close only once everything has
    // been read; all that is there goes in one go. A handler that closes the
    // socket ends it, and the bound returns to the caller's clock even while
    // a device floods the connection.
    for (int pieces = 0; pieces < 64 && watchState == WATCH_CONNECTED && s == watchSocket; ++pieces) {
        char c;
        ssize_t n = recv(s, &c, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) {
            sock_onEvent(PLAT_EVENT_READ, 0);
        } else if (n == 0) {
            watchState = WATCH_BOUND;
            sock_onEvent(PLAT_EVENT_CLOSE, 0);
        } else if (errno == EINTR) {
            continue; // counts as a piece: still bounded
        } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
            // A reset or another error of the connection: the close
            // carries it, as the Windows close notification does.
            watchState = WATCH_BOUND;
            sock_onEvent(PLAT_EVENT_CLOSE, errno & 0xffff);
        } else {
            if (revents & (POLLERR | POLLHUP)) {
                watchState = WATCH_BOUND;
                sock_onEvent(PLAT_EVENT_CLOSE, 0);
            }
            break;
        }
    }
}

void plat_waitSignal(int ms)
{
    if (watchSocket < 0 || (watchState != WATCH_CONNECTING && watchState != WATCH_CONNECTED)) {
        plat_sleep(ms);
        return;
    }
    struct pollfd p;
    p.fd = watchSocket;
    p.events = watchState == WATCH_CONNECTING ? POLLOUT : POLLIN;
    p.revents = 0;
    // Interrupted: the caller's clock decides whether to wait again.
    if (poll(&p, 1, ms) > 0)
        plat_dispatch(p.revents);
}

void plat_startEventThread(void)
{
    eventWindow.store(&eventLoop, std::memory_order_release);
}

// ---- sockets

int plat_socketsStart(int* major, int* minor)
{
    *major = 2;
    *minor = 0;
    return 0;
}

void plat_socketsCleanup(void) {}

// Non-blocking from the start, as binding its notifications makes it on
// Windows: the only use of a socket here is bound right after it is made.
plat_socket plat_socketCreate(void)
{
    return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
}

int plat_socketSelect(plat_socket s, plat_window window)
{
    if (!window || window != &eventLoop)
        return EINVAL;
    if (s < 0)
        return EBADF;
    plat_watch(s, WATCH_BOUND);
    return 0;
}

int plat_socketConnect(plat_socket s, uint32_t address, uint16_t port)
{
    struct sockaddr_in server;
    memset(&server, 0, sizeof server);
    server.sin_family = AF_INET;
    server.sin_port = port;
    server.sin_addr.s_addr = address;
    if (connect(s, (const struct sockaddr*)&server, sizeof server) != 0 && errno != EINPROGRESS)
        return errno;
    // Poll for the outcome only now: an unconnected socket polls as writable.
    plat_watch(s, WATCH_CONNECTING);
    return 0;
}

int plat_socketSend(plat_socket s, const char* const* pieces, const int* lengths, int count)
{
    struct iovec parts[PLAT_MAX_PIECES];
    if (count < 0 || count > PLAT_MAX_PIECES) {
        errno = EINVAL;
        return -1;
    }
    for (int i = 0; i < count; ++i) {
        parts[i].iov_base = (void*)pieces[i];
        parts[i].iov_len = (size_t)lengths[i];
    }
    struct msghdr message;
    memset(&message, 0, sizeof message);
    message.msg_iov = parts;
    message.msg_iovlen = (size_t)count;
    // No SIGPIPE for a device that has gone: the error is reported instead.
    return (int)sendmsg(s, &message, MSG_NOSIGNAL);
}

int plat_socketRecv(plat_socket s, char* buffer, int size)
{
    return (int)recv(s, buffer, (size_t)size, MSG_DONTWAIT);
}

int plat_socketClose(plat_socket s)
{
    if (s < 0) {
        errno = EBADF;
        return -1;
    }
    plat_watch(s, WATCH_NONE);
    return close(s) == 0 ? 0 : -1;
}

int plat_socketWaitWritable(plat_socket s, int ms)
{
    struct pollfd p = { s, POLLOUT, 0 };
    int n = poll(&p, 1, ms);
    if (n < 0)
        return errno == EINTR ? 0 : -1;
    if (n == 0)
        return 0;
    return (p.revents & (POLLERR | POLLHUP | POLLNVAL)) ? -1 : 1;
}

int plat_lastError(void)
{
    return errno;
}

int plat_wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

uint32_t plat_parseAddress(const char* text)
{
    return (uint32_t)inet_addr(text);
}

int plat_resolveHost(const char* name, uint32_t* address)
{
    struct hostent entry;
    struct hostent* found = nullptr;
    char work[2048];
    int error = 0;
    if (gethostbyname_r(name, &entry, work, sizeof work, &found, &error) != 0 || !found)
        return error ? error : HOST_NOT_FOUND;
    if (found->h_addrtype != AF_INET || found->h_length != 4 || !found->h_addr_list[0])
        return NO_ADDRESS;
    memcpy(address, found->h_addr_list[0], 4);
    return 0;
}

// ---- settings file

int plat_currentDirectory(char* out, int size)
{
    if (size <= 0)
        return 0;
    if (!getcwd(out, (size_t)size)) {
        out[0] = 0;
        return 0;
    }
    return 1;
}

// Line by line over read(): no stdio buffers, nothing on the heap. A line
// longer than the line buffer is cut; its rest is skipped.
struct plat_lineReader {
    int fd;
    char data[4096];
    int position;
    int length;
};

static int plat_readLine(plat_lineReader* r, char* line, int size)
{
    int n = 0;
    int any = 0;
    for (;;) {
        if (r->position == r->length) {
            ssize_t got = read(r->fd, r->data, sizeof r->data);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            r->position = 0;
            r->length = (int)got;
        }
        char c = r->data[r->position++];
        any = 1;
        if (c == '\n')
            break;
        if (n < size - 1)
            line[n++] = c;
    }
    line[n] = 0;
    return any;
}

static int plat_copy(char* out, int size, const char* text)
{
    int n = (int)strlen(text);
    if (n > size - 1)
        n = size - 1;
    memcpy(out, text, (size_t)n);
    out[n] = 0;
    return n;
}

// 1 and the value in out (cut to size - 1) if the key exists.
static int plat_profileFind(const char* path, const char* section, const char* key, char* out, int size)
{
    plat_lineReader reader;
    reader.fd = open(path, O_RDONLY | O_CLOEXEC);
    if (reader.fd < 0)
        return 0;
    reader.position = reader.length = 0;
    char line[PROFILE_LINE_SIZE];
    profile_scan scan = { 0, 0 };
    int found = 0;
    while (!found && plat_readLine(&reader, line, sizeof line))
        found = profile_line(&scan, line, section, key, out, size);
    close(reader.fd);
    return found;
}

int plat_readFile(const char* path, char* out, int size)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    int length = 0;
    for (;;) {
        ssize_t got = read(fd, out + length, (size_t)(size - length));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got < 0)
                length = -1;
            break;
        }
        length += (int)got;
        if (length == size) {
            length = -1; // may go on beyond the buffer
            break;
        }
    }
    close(fd);
    return length;
}

int plat_profileString(const char* path, const char* section, const char* key, const char* defaultText, char* out,
                       int size)
{
    if (size <= 0)
        return 0;
    if (plat_profileFind(path, section, key, out, size))
        return (int)strlen(out);
    return plat_copy(out, size, defaultText ? defaultText : "");
}

int plat_profileInt(const char* path, const char* section, const char* key, int defaultValue)
{
    char value[256];
    if (!plat_profileFind(path, section, key, value, sizeof value))
        return defaultValue;
    return profile_number(value, defaultValue);
}

// ---- debug channel

static pthread_once_t logOnce = PTHREAD_ONCE_INIT;

static void plat_openLog(void)
{
    openlog("ormi_control", LOG_PID, LOG_USER);
}

// Without a log daemon every syslog() call tries to connect to /dev/log
// again, which costs more than the exchange it reports; so the socket's
// presence is looked at no more than once a second.
static std::atomic<int> logAvailable(-1);
static std::atomic<long long> logCheckedAt(0);

static int plat_logAvailable(void)
{
    long long now = plat_milliseconds();
    int known = logAvailable.load(std::memory_order_relaxed);
    if (known < 0 || now - logCheckedAt.load(std::memory_order_relaxed) >= 1000) {
        known = access("/dev/log", W_OK) == 0 ? 1 : 0;
        logAvailable.store(known, std::memory_order_relaxed);
        logCheckedAt.store(now, std::memory_order_relaxed);
    }
    return known;
}

void plat_debugOutput(const char* text)
{
    if (!plat_logAvailable())
        return;
    pthread_once(&logOnce, plat_openLog);
    syslog(LOG_DEBUG, "%s", text);
}
