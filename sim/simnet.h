// Minimal TCP socket shim for the simulator: BSD sockets on Linux, Winsock on
// Windows, blocking sockets with bounded waits.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

typedef std::uintptr_t simnet_handle;
extern const simnet_handle simnet_invalid;

bool simnet_startup();
void simnet_cleanup();
// Listens on address:port (port 0: any free one); the bound port goes to *boundPort.
simnet_handle simnet_listen(const std::string& address, int port, int* boundPort);
// 1: a connection was accepted into *client, 0: none within timeoutMs, -1: error.
int simnet_accept(simnet_handle listener, int timeoutMs, simnet_handle* client);
// 1: readable (data or end), 0: time-out, -1: error.
int simnet_waitReadable(simnet_handle socket, int timeoutMs);
// Waits until one of count sockets is readable (a listener: has a connection
// waiting); ready[i] tells which. Sockets ready, 0 on time-out, -1 on error.
// With no sockets it just waits. At most simnet_maxWaitAny sockets.
extern const std::size_t simnet_maxWaitAny;
int simnet_waitAny(const simnet_handle* sockets, std::size_t count, int timeoutMs, unsigned char* ready);
// Bytes received, 0 when the peer has closed, -1 on error.
int simnet_recv(simnet_handle socket, char* buffer, int size);
// A blocking connect to address:port; simnet_invalid when refused.
simnet_handle simnet_connect(const std::string& address, int port);
bool simnet_sendAll(simnet_handle socket, const char* data, std::size_t length);
void simnet_noDelay(simnet_handle socket);
void simnet_shutdownSend(simnet_handle socket);
void simnet_close(simnet_handle socket);
// Closes with a TCP reset instead of an orderly end.
void simnet_reset(simnet_handle socket);
