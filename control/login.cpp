// Login: the password hash of both login methods and checkConnection.
#include "login.h"

#include <stdio.h>
#include <string.h>

#include "debug.h"
#include "frame.h"
#include "http.h"
#include "ini.h"
#include "md5.h"
#include "ormi_control.h"
#include "plat.h"
#include "protocol.h"
#include "sock.h"

char passwordHash[256];

// Stands in for the clear password on the debug channel, which any process
// on the machine can read.
static const char login_passwordMask[] = "***";

// What login_shownHash gives: under method 1 enough of the hash to tell two
// passwords apart in a log, not enough to log in with.
static char shownHash[64];

const char* login_shownHash(void)
{
    return shownHash;
}

const char* login_passwordHash(char* address, char* port, int timeout, const char* user)
{
    char password[PROTOCOL_TEXT_SIZE];
    ini_readString(ini_fileName, "LOGIN", "password", password, 255);
    int method = 1;
    ini_readInt(ini_fileName, "LOGIN", "login_version", 1, &method);

    md5_hexString(password, passwordHash);
    shownHash[0] = 0;
    if (method == 1) {
        snprintf(shownHash, sizeof shownHash, "%.6s...", passwordHash);
        debug_format(debugText, sizeof debugText, "pw = %s     MD5 = %s", login_passwordMask, shownHash);
        return passwordHash;
    }
    if (method != 2)
        return nullptr;

    char request[PROTOCOL_REQUEST_SIZE];
    int length = snprintf(request, sizeof request, protocol_tanRequest, user, passwordHash, address);
    if (length < 0 || length >= (int)sizeof request)
        return nullptr;
    // Only the answer counts: responseText stays empty unless the device
    // closed the connection after answering.
    sock_exchange(request, address, port, timeout);
    const char* tan = http_findBody(responseText);
    if (tan[0] == '\0')
        return nullptr;

    // A cut TAN would give a hash the device can never accept.
    char passwordAndTan[PROTOCOL_SALTED_SIZE];
    length = snprintf(passwordAndTan, sizeof passwordAndTan, "%s%s", password, tan);
    if (length < 0 || length >= (int)sizeof passwordAndTan) {
        debug_format(debugText, sizeof debugText, "TAN too long (%d characters)\n", (int)strlen(tan));
        return nullptr;
    }
    md5_hexString(passwordAndTan, passwordHash);
    snprintf(shownHash, sizeof shownHash, "%.32s", passwordHash);
    debug_format(debugText, sizeof debugText, "TAN = %s%s     MD5 = %s", login_passwordMask, tan, passwordHash);
    return passwordHash;
}

// A login and the device's "LOGIN OK" to it.
static int login_check(void)
{
    ini_connection connection;
    ini_readConnection(&connection);
    const char* texts[] = { connection.host, connection.user };
    if (!http_areLineSafe(texts, 2))
        return 0;
    const char* hash = login_passwordHash(connection.host, connection.port, connection.timeout, connection.user);
    if (hash == nullptr)
        return 0;
    // Formatted after the TAN exchange, so that Host carries the address as
    // the transport left it.
    char request[PROTOCOL_REQUEST_SIZE];
    int length = snprintf(request, sizeof request, protocol_loginRequest, connection.user, hash, connection.host);
    return length >= 0 && length < (int)sizeof request &&
           sock_exchange(request, connection.host, connection.port, connection.timeout) == 1 &&
           strstr(responseText, protocol_loginAccepted) != nullptr;
}

ORMI_API int ORMI_CALL checkConnection(void)
{
    frame_beginCall(FRAME_SETTINGS);
    int result = login_check();
    frame_endCall(FRAME_SETTINGS);
    return result;
}
