// The platform layer under the control library: the socket events (an event
// thread with its event window on Windows, the caller's own waits natively),
// sockets, settings file access, debug output, the process-wide lock
// and the waits. plat_win32.cpp and plat_posix.cpp implement it; everything
// above it is one source for both. (The fuzz targets put a scripted double
// of it under the library: fuzz/plat_double.cpp.)
#pragma once

#include <stdint.h>
#include <atomic>
#ifndef _WIN32
#include <errno.h>
#endif

#ifdef _WIN32
// The socket notifications arrive on a thread of their own, so a wait that
// is about to see one spins briefly before it sleeps.
#define PLAT_EVENT_THREAD 1
struct HWND__;
typedef HWND__* plat_window;   // HWND
typedef uintptr_t plat_socket; // SOCKET
#define PLAT_INVALID_SOCKET (~(plat_socket)0)
#else
// The waits of the call take the socket's events themselves.
#define PLAT_EVENT_THREAD 0
struct plat_eventLoop;
typedef plat_eventLoop* plat_window; // stands for the event window
typedef int plat_socket;
#define PLAT_INVALID_SOCKET (-1)
#endif

// Socket notification codes delivered to sock_onEvent.
enum { PLAT_EVENT_READ = 1, PLAT_EVENT_CONNECT = 16, PLAT_EVENT_CLOSE = 32 };

// Null until the event thread has made it. The thread starts at load and
// may not be that far when the first call comes, so it publishes the window
// once (release, then plat_signal) and every reader loads it with acquire.
// Natively it is there as soon as the library is loaded.
extern std::atomic<plat_window> eventWindow;

#ifdef _WIN32
#define PLAT_PATH_SEPARATOR "\\"
#else
#define PLAT_PATH_SEPARATOR "/"
#endif

// Load time: starts the event thread, which then publishes eventWindow
// (natively: publishes it at once).
void plat_startEventThread(void);

// The process-wide lock that serialises exported calls (recursive).
void plat_lock(void);
void plat_unlock(void);

void plat_sleep(int ms);
long long plat_milliseconds(void); // monotonic clock
// Pauses up to ms, ending early when the event thread calls plat_signal;
// natively it polls the socket meanwhile and delivers its events itself.
void plat_waitSignal(int ms);
void plat_signal(void);

// Copies the current directory (at most size - 1 characters); 0 if it does
// not fit or cannot be read.
int plat_currentDirectory(char* out, int size);

// Private-profile reads of the file at path (see ini.h for the semantics).
int plat_profileString(const char* path, const char* section, const char* key, const char* defaultText, char* out,
                       int size);
int plat_profileInt(const char* path, const char* section, const char* key, int defaultValue);
// The whole file at path into out: its length, or -1 when it cannot be read
// or does not fit in fewer than size bytes.
int plat_readFile(const char* path, char* out, int size);

void plat_debugOutput(const char* text);

// Sockets. Errors are the platform's codes (WSA values, errno values).
int plat_socketsStart(int* major, int* minor); // 0 or the start-up's error
void plat_socketsCleanup(void);
plat_socket plat_socketCreate(void); // TCP over IPv4
// Non-blocking, notifications (connect, read, close) to window.
int plat_socketSelect(plat_socket s, plat_window window); // 0 or error
// address and port in network byte order; 0 = attempt under way, else error.
int plat_socketConnect(plat_socket s, uint32_t address, uint16_t port);
// The pieces in order (at most PLAT_MAX_PIECES), gathered into one send
// call: bytes accepted or -1.
enum { PLAT_MAX_PIECES = 4 };
int plat_socketSend(plat_socket s, const char* const* pieces, const int* lengths, int count);
int plat_socketRecv(plat_socket s, char* buffer, int size); // bytes, 0 or -1
int plat_socketClose(plat_socket s);                        // 0 or -1
// 1 = the socket can take more data, 0 = not within ms, -1 = error.
int plat_socketWaitWritable(plat_socket s, int ms);
int plat_lastError(void);
// The codes with which a connection ends in a reset instead of a close.
#ifdef _WIN32
enum { PLAT_ERROR_RESET = 10054, PLAT_ERROR_ABORTED = 10053 }; // WSAECONNRESET, WSAECONNABORTED
#else
enum { PLAT_ERROR_RESET = ECONNRESET, PLAT_ERROR_ABORTED = ECONNABORTED };
#endif
int plat_wouldBlock(int error); // the error means "try again"
// Dotted IPv4 text in network byte order; 0xffffffff where there is none.
uint32_t plat_parseAddress(const char* text);
// Blocking name look-up of the first address (network byte order);
// 0 = found, else the platform's error.
int plat_resolveHost(const char* name, uint32_t* address);
