// Login hash of both login methods and the connection check.
#pragma once

// The last computed hash: 32 lower-case hex digits; valid until the next call.
extern char passwordHash[256];

// Reads "password" and "login_version" afresh. Method 2 first fetches a TAN
// over address/port, which may come back rewritten by the transport.
// Returns passwordHash, or nullptr when no hash can be given (unknown
// method, no TAN, a TAN too long to join with the password).
const char* login_passwordHash(char* address, char* port, int timeout, const char* user);

// The last hash as the debug channel may show it, valid until the next
// login: method 2's one-time hash in full; method 1's, which is the same at
// every login and all a device asks for, only by its first characters.
const char* login_shownHash(void);
