// Win32 platform layer: the event thread with its message-only window
// "ormiControl" that receives the socket notifications as message 1025
// (and the close markers that retire a closed socket's late ones),
// Windows Sockets, the private-profile functions, OutputDebugStringA, the
// process-wide lock and the signalled waits.
#include <winsock2.h>
#include <windows.h>
#include "plat.h"
#include "sock.h"
#include <atomic>

enum { WM_SOCKET_EVENT = WM_USER + 1, WM_SOCKET_CLOSED = WM_USER + 2 };

// ---- lock, time, waits

static INIT_ONCE initOnce = INIT_ONCE_STATIC_INIT;
static CRITICAL_SECTION callLock;
static HANDLE signalEvent; // auto-reset

static BOOL CALLBACK plat_init(PINIT_ONCE, PVOID, PVOID*)
{
    InitializeCriticalSection(&callLock);
    signalEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    return TRUE;
}

static void plat_ensureInit(void)
{
    InitOnceExecuteOnce(&initOnce, plat_init, NULL, NULL);
}

void plat_lock(void)
{
    plat_ensureInit();
    EnterCriticalSection(&callLock);
}

void plat_unlock(void)
{
    LeaveCriticalSection(&callLock);
}

void plat_sleep(int ms)
{
    Sleep((DWORD)ms);
}

long long plat_milliseconds(void)
{
    return (long long)GetTickCount64();
}

void plat_waitSignal(int ms)
{
    plat_ensureInit();
    if (signalEvent)
        WaitForSingleObject(signalEvent, (DWORD)ms);
    else
        Sleep((DWORD)ms);
}

void plat_signal(void)
{
    plat_ensureInit();
    if (signalEvent)
        SetEvent(signalEvent);
}

// ---- event thread

std::atomic<plat_window> eventWindow(nullptr);

// The socket whose notifications count; messages still queued for a socket
// that has been closed are dropped instead of being taken for the next one.
static volatile SOCKET currentSocket = INVALID_SOCKET;

// The next socket mostly gets the number of the one just closed, so the
// number alone cannot tell their notifications apart. Every close queues a
// marker behind whatever was posted for the closed socket; notifications
// count only once the event thread has taken every marker, and those of the
// next socket are all queued behind it.
static std::atomic<unsigned> closesPosted(0);
static unsigned closesTaken; // event thread only

// The notification's error. Windows gives a reset with the close; Wine
// posts that close without an error and lets recv end as if closed, and
// only a poll of the socket (POLLERR beside POLLHUP) tells it from the
// device's orderly close.
static int plat_eventError(SOCKET s, LPARAM lParam)
{
    int error = WSAGETSELECTERROR(lParam);
    if (WSAGETSELECTEVENT(lParam) == FD_CLOSE && error == 0) {
        WSAPOLLFD state = { s, POLLRDNORM, 0 };
        if (WSAPoll(&state, 1, 0) > 0 && (state.revents & POLLERR))
            error = WSAECONNRESET;
    }
    return error;
}

static LRESULT CALLBACK eventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return 0;
    case WM_CLOSE:
        return 0; // the window stays
    case WM_SOCKET_CLOSED:
        ++closesTaken;
        return 0;
    case WM_SOCKET_EVENT:
        if ((SOCKET)wParam == currentSocket && closesTaken == closesPosted.load(std::memory_order_acquire))
            sock_onEvent(WSAGETSELECTEVENT(lParam), plat_eventError((SOCKET)wParam, lParam));
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

static DWORD WINAPI eventThread(LPVOID)
{
    HINSTANCE instance = GetModuleHandleA(NULL);
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.lpfnWndProc = eventWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "ormiControl";
    if (!RegisterClassA(&windowClass))
        return 0;
    HWND window = CreateWindowExA(0, "ormiControl", "ormiControl", 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, HWND_MESSAGE, NULL, instance, NULL);
    if (!window)
        return 0;
    eventWindow.store(window, std::memory_order_release);
    plat_signal(); // a first call may be waiting for it
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (DWORD)message.wParam;
}

void plat_startEventThread(void)
{
    plat_ensureInit();
    CreateThread(NULL, 0, eventThread, NULL, 0, NULL);
}

// ---- sockets

int plat_socketsStart(int* major, int* minor)
{
    WSADATA data;
    int result = WSAStartup(MAKEWORD(2, 0), &data);
    if (result != 0)
        return result;
    *major = LOBYTE(data.wVersion);
    *minor = HIBYTE(data.wVersion);
    return 0;
}

void plat_socketsCleanup(void)
{
    WSACleanup();
}

plat_socket plat_socketCreate(void)
{
    return (plat_socket)socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
}

int plat_socketSelect(plat_socket s, plat_window window)
{
    if (!window)
        return WSAEINVAL;
    currentSocket = (SOCKET)s;
    if (WSAAsyncSelect((SOCKET)s, window, WM_SOCKET_EVENT, FD_READ | FD_CONNECT | FD_CLOSE) != 0) {
        currentSocket = INVALID_SOCKET;
        return WSAGetLastError();
    }
    return 0;
}

int plat_socketConnect(plat_socket s, uint32_t address, uint16_t port)
{
    struct sockaddr_in server;
    ZeroMemory(&server, sizeof server);
    server.sin_family = AF_INET;
    server.sin_port = port;
    server.sin_addr.s_addr = address;
    if (connect((SOCKET)s, (const struct sockaddr*)&server, sizeof server) == 0)
        return 0;
    int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK ? 0 : error;
}

int plat_socketSend(plat_socket s, const char* const* pieces, const int* lengths, int count)
{
    WSABUF parts[PLAT_MAX_PIECES];
    if (count < 0 || count > PLAT_MAX_PIECES) {
        WSASetLastError(WSAEINVAL);
        return -1;
    }
    for (int i = 0; i < count; ++i) {
        parts[i].buf = (CHAR*)pieces[i];
        parts[i].len = (ULONG)lengths[i];
    }
    DWORD sent = 0;
    if (WSASend((SOCKET)s, parts, (DWORD)count, &sent, 0, NULL, NULL) != 0)
        return -1;
    return (int)sent;
}

int plat_socketRecv(plat_socket s, char* buffer, int size)
{
    return recv((SOCKET)s, buffer, size, 0);
}

int plat_socketClose(plat_socket s)
{
    if ((SOCKET)s == currentSocket)
        currentSocket = INVALID_SOCKET;
    int result = closesocket((SOCKET)s) == 0 ? 0 : -1;
    // After closesocket nothing more is posted for it: the marker goes last.
    HWND window = (HWND)eventWindow.load(std::memory_order_acquire);
    if (window) {
        closesPosted.fetch_add(1, std::memory_order_acq_rel);
        if (!PostMessageA(window, WM_SOCKET_CLOSED, 0, 0))
            closesPosted.fetch_sub(1, std::memory_order_acq_rel);
    }
    return result;
}

int plat_socketWaitWritable(plat_socket s, int ms)
{
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET((SOCKET)s, &writable);
    FD_SET((SOCKET)s, &failed);
    struct timeval limit = { ms / 1000, (ms % 1000) * 1000 };
    int n = select(0, NULL, &writable, &failed, &limit);
    if (n == SOCKET_ERROR || FD_ISSET((SOCKET)s, &failed))
        return -1;
    return n > 0 ? 1 : 0;
}

int plat_lastError(void)
{
    return WSAGetLastError();
}

int plat_wouldBlock(int error)
{
    return error == WSAEWOULDBLOCK;
}

uint32_t plat_parseAddress(const char* text)
{
    return (uint32_t)inet_addr(text);
}

int plat_resolveHost(const char* name, uint32_t* address)
{
    struct hostent* found = gethostbyname(name);
    if (!found)
        return WSAGetLastError();
    if (found->h_addrtype != AF_INET || found->h_length != 4 || !found->h_addr_list[0])
        return WSANO_DATA;
    memcpy(address, found->h_addr_list[0], 4);
    return 0;
}

// ---- settings file

int plat_currentDirectory(char* out, int size)
{
    if (size <= 0)
        return 0;
    DWORD n = GetCurrentDirectoryA((DWORD)size, out);
    if (n == 0 || n >= (DWORD)size) {
        out[0] = 0;
        return 0;
    }
    return 1;
}

int plat_profileString(const char* path, const char* section, const char* key, const char* defaultText, char* out,
                       int size)
{
    return (int)GetPrivateProfileStringA(section, key, defaultText, out, (DWORD)size, path);
}

int plat_profileInt(const char* path, const char* section, const char* key, int defaultValue)
{
    return (int)GetPrivateProfileIntA(section, key, defaultValue, path);
}

int plat_readFile(const char* path, char* out, int size)
{
    // Shared like the profile functions open it: a writer may hold the file.
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    int length = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, out + length, (DWORD)(size - length), &got, NULL)) {
            length = -1;
            break;
        }
        if (got == 0)
            break;
        length += (int)got;
        if (length == size) {
            length = -1; // may go on beyond the buffer
            break;
        }
    }
    CloseHandle(file);
    return length;
}

// ---- debug channel

// With no one listening, OutputDebugStringA still raises its exception and
// looks for a debug monitor on every line, which under some hosts costs
// more than the exchange it reports. So a monitor (its named event) is
// looked for at most once a second; an attached debugger always gets the line.
static std::atomic<int> monitorPresent(-1);
static std::atomic<long long> monitorCheckedAt(0);

static int plat_monitorPresent(void)
{
    long long now = plat_milliseconds();
    int known = monitorPresent.load(std::memory_order_relaxed);
    if (known < 0 || now - monitorCheckedAt.load(std::memory_order_relaxed) >= 1000) {
        known = 0;
        const char* names[] = { "DBWIN_BUFFER_READY", "Global\\DBWIN_BUFFER_READY" };
        for (const char* name : names) {
            HANDLE ready = OpenEventA(SYNCHRONIZE, FALSE, name);
            if (ready) {
                CloseHandle(ready);
                known = 1;
                break;
            }
        }
        monitorPresent.store(known, std::memory_order_relaxed);
        monitorCheckedAt.store(now, std::memory_order_relaxed);
    }
    return known;
}

void plat_debugOutput(const char* text)
{
    if (IsDebuggerPresent() || plat_monitorPresent())
        OutputDebugStringA(text);
}
