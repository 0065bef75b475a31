// Package upload: the exports sendUpdateFile and sendUpdateFileResp, the
// request around the package and the state of an upload whose answer is
// still awaited on the open connection.
#include "ormi_control.h"

#include "debug.h"
#include "frame.h"
#include "http.h"
#include "ini.h"
#include "login.h"
#include "package.h"
#include "plat.h"
#include "protocol.h"
#include "sock.h"
#include "upload.h"

#include <cstdio>
#include <cstring>

// Set while the request is out and the device has not yet closed the
// connection: only then may sendUpdateFileResp wait on the socket. The lock
// that every export holds keeps it consistent between the two threads.
static int uploadPending = 0;

// Length of the request head for host and a Content-Length of contentLength.
static int upload_requestHeadLength(const char* host, int contentLength)
{
    return std::snprintf(nullptr, 0, protocol_uploadRequest, host, contentLength);
}

// 1 when head, file and tail fit uploadBody and the request head, body and
// terminating zero fit uploadRequest, for a host text of the given length.
static int upload_fits(const char* host, const char* fileName, int length)
{
    long long fileNameLength = static_cast<long long>(std::strlen(fileName));
    if (PROTOCOL_UPLOAD_HEAD_LENGTH + fileNameLength >= PACKAGE_FORM_HEAD_SIZE)
        return 0;
    long long body = PROTOCOL_UPLOAD_HEAD_LENGTH + fileNameLength + length + PROTOCOL_UPLOAD_TAIL_LENGTH;
    if (body > PACKAGE_UPLOAD_SIZE)
        return 0;
    long long head = upload_requestHeadLength(host, static_cast<int>(body + 1));
    return head >= 0 && head + body + 1 <= PACKAGE_UPLOAD_SIZE;
}

int upload_largestPackage(const char* host, const char* fileName)
{
    if (host == nullptr || fileName == nullptr)
        return 0;
    // The frame alone, with a Content-Length of as many digits as the upload
    // size: the longest it gets, so the first guess is at most a few bytes
    // short of the answer.
    long long frame = PROTOCOL_UPLOAD_HEAD_LENGTH + static_cast<long long>(std::strlen(fileName)) +
                      PROTOCOL_UPLOAD_TAIL_LENGTH + 1 + upload_requestHeadLength(host, PACKAGE_UPLOAD_SIZE);
    long long length = PACKAGE_UPLOAD_SIZE - frame;
    if (length < 0 || !upload_fits(host, fileName, 0))
        return 0;
    while (upload_fits(host, fileName, static_cast<int>(length + 1)))
        ++length;
    while (length > 0 && !upload_fits(host, fileName, static_cast<int>(length)))
        --length;
    return static_cast<int>(length);
}

static int upload_send(const char* fileName, const char* data, int length)
{
    if (fileName == nullptr || length < 0 || (data == nullptr && length > 0))
        return -1;

    // A stale upload connection is given up before a new one replaces it.
    if (uploadPending) {
        uploadPending = 0;
        sock_close();
    }

    ini_connection conn;
    ini_readConnection(&conn);
    const char* texts[] = { conn.host, conn.user, fileName };
    if (!http_areLineSafe(texts, 3))
        return -1;
    // Refused before the login, so that nothing at all goes out; the login
    // can only shorten the host text, so the check still holds afterwards.
    if (!upload_fits(conn.host, fileName, length)) {
        debug_print("sendUpdateFile: package too large\n");
        return -1;
    }
    const char* hash = login_passwordHash(conn.host, conn.port, conn.timeout, conn.user);
    // Nothing was sent: 0 would make the caller wait for an answer.
    if (hash == nullptr)
        return -1;
    debug_format(debugText, sizeof debugText, "tanStr = %s", login_shownHash());
    debug_format(debugText, sizeof debugText, "module = %s", fileName);

    char head[PACKAGE_FORM_HEAD_SIZE];
    int headLength = std::snprintf(head, sizeof head, protocol_uploadHead, hash, fileName);
    if (headLength < 0 || headLength >= PACKAGE_FORM_HEAD_SIZE)
        return -1;
    if (static_cast<long long>(headLength) + length + PROTOCOL_UPLOAD_TAIL_LENGTH > PACKAGE_UPLOAD_SIZE)
        return -1;
    int bodyLength = headLength + length + PROTOCOL_UPLOAD_TAIL_LENGTH;

    // The request goes out as request head, form head, package and tail in
    // one gathered send: the same bytes in the same call as one assembled
    // block, without copying up to 10 MB twice first.
    char requestHead[1024];
    int requestHeadLength =
        std::snprintf(requestHead, sizeof requestHead, protocol_uploadRequest, conn.host, bodyLength + 1);
    if (requestHeadLength < 0 || requestHeadLength >= static_cast<int>(sizeof requestHead) ||
        static_cast<long long>(requestHeadLength) + bodyLength + 1 > PACKAGE_UPLOAD_SIZE)
        return -1;
    int requestLength = requestHeadLength + bodyLength;
    const char* pieces[] = { requestHead, head, data, protocol_uploadTail };
    const int lengths[] = { requestHeadLength, headLength, length, PROTOCOL_UPLOAD_TAIL_LENGTH };

    debug_format(debugText, sizeof debugText, "sendUpdateFile: len = %d (%d %d %d %d %d)", requestLength,
                 requestHeadLength, bodyLength, length, headLength, PROTOCOL_UPLOAD_TAIL_LENGTH);

    responseText[0] = '\0';
    if (!sock_open(conn.timeout) || !sock_connect(conn.host, conn.port)) {
        debug_print("sendUpdateFile: Fehler beim Senden");
        return -1;
    }
    if (!sock_sendPieces(pieces, lengths, 4, conn.timeout)) {
        debug_print("sendUpdateFile: Fehler beim Senden");
        sock_close();
        return -1;
    }
    if (sock_waitResponse(responseText, conn.timeout)) {
        sock_close();
        return 1;
    }
    // Out, but its answer was cut: there is nothing left to collect.
    if (sock_endedInError()) {
        sock_close();
        return 0;
    }
    uploadPending = 1;
    return 0;
}

static int upload_awaitAnswer(void)
{
    // With no upload out there is no connection of ours to look at; the
    // caller still gets its one-second pause.
    if (!uploadPending) {
        plat_sleep(1000);
        return 0;
    }
    if (!sock_waitResponse(responseText, 1)) {
        if (sock_endedInError()) {
            uploadPending = 0;
            sock_close();
        }
        return 0;
    }
    uploadPending = 0;
    sock_close();
    return 1;
}

ORMI_API int ORMI_CALL sendUpdateFile(const char* type, const char* fileName, const char* data, int length)
{
    (void)type;
    frame_beginCall(FRAME_SETTINGS);
    int result = upload_send(fileName, data, length);
    frame_endCall(FRAME_SETTINGS);
    return result;
}

ORMI_API int ORMI_CALL sendUpdateFileResp(void)
{
    frame_beginCall(FRAME_NO_SETTINGS);
    int result = upload_awaitAnswer();
    frame_endCall(FRAME_NO_SETTINGS);
    return result;
}
