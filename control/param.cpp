// Parameter and channel access: the exports getIO, setIO, getValue, setValue.
// Each call reads the settings afresh, logs in, runs one exchange and
// evaluates the answer in responseText; nothing else survives a call except
// valueText, the value getValue picked by key.
#include "ormi_control.h"

#include "debug.h"
#include "frame.h"
#include "http.h"
#include "ini.h"
#include "json.h"
#include "login.h"
#include "plat.h"
#include "protocol.h"
#include "sock.h"

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

char valueText[PROTOCOL_VALUE_SIZE];
static_assert(sizeof responseText == PROTOCOL_ANSWER_SIZE, "responseText holds what the protocol keeps of an answer");

// Bounded formatting: 1 when the whole text fits, 0 when it would have been
// cut (the caller then refuses the call rather than send a truncated text).
static int param_format(char* buffer, int size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, static_cast<size_t>(size), format, args);
    va_end(args);
    return n >= 0 && n < size;
}

// The module path of a channel is built in the caller's buffer of the call,
// never in the caller's channel text: that text may have no room to grow, and
// extending it would make a second call address ".../output/output".
static int param_modulePath(char* path, int size, const char* base, const char* channel)
{
    if (base == nullptr || channel == nullptr)
        return 0;
    return param_format(path, size, "%s/%s%s", base, channel, protocol_channelEnding(channel));
}

// atoi semantics with the result clamped to int, since an out-of-range number
// is undefined for atoi and long is 64 bits on Linux.
static int param_readInt(const char* text)
{
    long long value = std::strtoll(text, nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

// The device writes a '.' whatever locale the host process has set, so the
// number is read here rather than with the locale-dependent strtod.
static double param_readDecimal(const char* text)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    double sign = 1.0;
    if (*text == '+' || *text == '-')
        sign = *text++ == '-' ? -1.0 : 1.0;
    double mantissa = 0.0;
    int exponent = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        mantissa = mantissa * 10.0 + (*text - '0');
    if (*text == '.')
        for (++text; *text >= '0' && *text <= '9'; ++text) {
            mantissa = mantissa * 10.0 + (*text - '0');
            --exponent;
        }
    if (*text == 'e' || *text == 'E') {
        const char* digits = text + 1;
        int exponentSign = 1;
        if (*digits == '+' || *digits == '-')
            exponentSign = *digits++ == '-' ? -1 : 1;
        int written = 0;
        for (; *digits >= '0' && *digits <= '9'; ++digits)
            if (written < 1000)
                written = written * 10 + (*digits - '0');
        exponent += exponentSign * written;
    }
    return sign * mantissa * std::pow(10.0, exponent);
}

// Stands in for the password hash (always 32 characters) when the texts of
// a call are formatted once before the login: whatever does not fit is then
// refused before anything, the login's own request included, goes out. The
// login can only shorten the host text, so the texts still fit afterwards.
static const char hashPlaceholder[PROTOCOL_HASH_LENGTH + 1] = "00000000000000000000000000000000";

// The form text of a POST and its request; requestSize is what the export
// allows for the request (at most 4096).
static int param_postTexts(char* form, int formSize, char* request, int requestSize, const ini_connection* conn,
                           const char* formFormat, const char* hash, const char* typeOrModule, const char* moduleText,
                           const char* data, int value)
{
    int fits = moduleText != nullptr
                   ? param_format(form, formSize, formFormat, conn->user, hash, typeOrModule, moduleText, data)
                   : param_format(form, formSize, formFormat, conn->user, hash, typeOrModule, value);
    return fits && param_format(request, requestSize, protocol_postRequest, conn->host,
                                static_cast<int>(std::strlen(form)), form);
}

static int param_confirmed(const char* request, ini_connection* conn)
{
    int ok = sock_exchange(request, conn->host, conn->port, conn->timeout);
    return ok && std::strstr(responseText, protocol_confirmed) != nullptr;
}

static int param_setIO(const char* base, const char* channel, int value)
{
    ini_connection conn;
    ini_readConnection(&conn);
    const char* texts[] = { conn.host, conn.user, base, channel };
    if (!http_areLineSafe(texts, 4))
        return 0;
    char module[PROTOCOL_TEXT_SIZE];
    char form[PROTOCOL_REQUEST_SIZE];
    char request[PROTOCOL_REQUEST_SIZE];
    if (!param_modulePath(module, sizeof module, base, channel) ||
        !param_postTexts(form, sizeof form, request, sizeof request, &conn, protocol_setIOForm, hashPlaceholder, module,
                         nullptr, nullptr, value))
        return 0;
    const char* hash = login_passwordHash(conn.host, conn.port, conn.timeout, conn.user);
    if (hash == nullptr)
        return 0;
    debug_format(debugText, sizeof debugText, "pData setIO() = %d", value);
    if (!param_postTexts(form, sizeof form, request, sizeof request, &conn, protocol_setIOForm, hash, module, nullptr,
                         nullptr, value))
        return 0;
    return param_confirmed(request, &conn);
}

static int param_getIO(const char* base, const char* channel)
{
    ini_connection conn;
    ini_readConnection(&conn);
    const char* texts[] = { conn.host, conn.user, base, channel };
    if (!http_areLineSafe(texts, 4))
        return -1;
    char module[PROTOCOL_TEXT_SIZE];
    char request[PROTOCOL_REQUEST_SIZE];
    if (!param_modulePath(module, sizeof module, base, channel) ||
        !param_format(request, sizeof request, protocol_getIORequest, conn.user, hashPlaceholder, module, conn.host))
        return -1;
    const char* hash = login_passwordHash(conn.host, conn.port, conn.timeout, conn.user);
    // 0 is a valid channel value, so a failed login must not look like one.
    if (hash == nullptr)
        return -1;
    if (!param_format(request, sizeof request, protocol_getIORequest, conn.user, hash, module, conn.host))
        return -1;
    int ok = sock_exchange(request, conn.host, conn.port, conn.timeout);
    debug_format(debugText, sizeof debugText, "pData getIO() = %s", responseText);
    if (!ok || std::strstr(responseText, protocol_confirmed) == nullptr)
        return -1;

    char* body = const_cast<char*>(http_findBody(responseText));
    if (*body == '\0')
        return -1;
    if (std::strchr(body, '.') != nullptr) {
        double number = param_readDecimal(body);
        int room = static_cast<int>(sizeof responseText - static_cast<size_t>(body - responseText));
        if (!param_format(body, room, "%.0f", number))
            return -1;
        debug_print(body);
    }
    return param_readInt(body);
}

static const char* param_getValue(const char* type, const char* module, const char* key)
{
    if (type == nullptr || module == nullptr || key == nullptr)
        return nullptr;
    ini_connection conn;
    ini_readConnection(&conn);
    const char* texts[] = { conn.host, conn.user, type, module, key };
    if (!http_areLineSafe(texts, 5))
        return nullptr;
    char request[PROTOCOL_REQUEST_SIZE];
    if (!param_format(request, sizeof request, protocol_getValueRequest, conn.user, hashPlaceholder, type, module,
                      conn.host))
        return nullptr;
    const char* hash = login_passwordHash(conn.host, conn.port, conn.timeout, conn.user);
    if (hash == nullptr)
        return nullptr;
    if (!param_format(request, sizeof request, protocol_getValueRequest, conn.user, hash, type, module, conn.host))
        return nullptr;
    if (!sock_exchange(request, conn.host, conn.port, conn.timeout))
        return nullptr;
    debug_format(debugText, sizeof debugText, "pData getValue() = %s", responseText);

    if (*key == '\0') {
        const char* body = http_findBody(responseText);
        if (*body == '\0')
            return nullptr;
        std::memmove(responseText, body, std::strlen(body) + 1);
        return responseText;
    }
    const char* object = std::strchr(responseText, '{');
    if (object == nullptr)
        return nullptr;
    // Picked into a buffer as large as any value the search can give, so that
    // a value too long for valueText is refused instead of cut.
    char picked[JSON_VALUE_SIZE];
    int whole = 0;
    float decimal = 0.0f;
    picked[0] = '\0';
    json_getValue(object, static_cast<int>(std::strlen(object)), key, picked, sizeof picked, &whole, &decimal);
    size_t length = std::strlen(picked);
    if (length >= sizeof valueText)
        return nullptr;
    std::memcpy(valueText, picked, length + 1);
    return valueText;
}

// The data of setValue: value itself, or with a key the module's stored
// configuration with that key set to value. Read and changed in a buffer
// larger than the data may be, so that a file or a change too long for it is
// refused rather than sent cut off.
static int param_valueData(char* data, int size, const char* module, const char* key, const char* value)
{
    size_t length = std::strlen(value);
    if (*key == '\0') {
        if (length >= static_cast<size_t>(size))
            return 0;
        std::memcpy(data, value, length + 1);
        return 1;
    }
    if (length >= static_cast<size_t>(size))
        return 0;
    char path[PROTOCOL_TEXT_SIZE];
    if (!param_format(path, sizeof path, "configbase/%s.json", module))
        return 0;
    char stored[JSON_TEXT_SIZE];
    json_getBuffer(path, stored, sizeof stored); // a missing file gives ""
    if (std::strlen(stored) >= static_cast<size_t>(size))
        return 0;
    // A missing key or a broken text leaves the text as it was read, and that
    // is sent.
    json_setValue(stored, sizeof stored, key, value);
    length = std::strlen(stored);
    if (length >= static_cast<size_t>(size))
        return 0;
    std::memcpy(data, stored, length + 1);
    return 1;
}

static int param_setValue(const char* type, const char* module, const char* key, const char* value)
{
    if (type == nullptr || module == nullptr || key == nullptr || value == nullptr)
        return 0;
    ini_connection conn;
    ini_readConnection(&conn);
    // The value is form data and may span lines; the texts around it may not.
    const char* texts[] = { conn.host, conn.user, type, module, key };
    if (!http_areLineSafe(texts, 5))
        return 0;
    // Prepared outside responseText, which a login with a TAN overwrites.
    char data[PROTOCOL_LONG_REQUEST_SIZE];
    char form[PROTOCOL_LONG_REQUEST_SIZE];
    char request[PROTOCOL_LONG_REQUEST_SIZE];
    if (!param_valueData(data, sizeof data, module, key, value) ||
        !param_postTexts(form, sizeof form, request, sizeof request, &conn, protocol_setValueForm, hashPlaceholder,
                         type, module, data, 0))
        return 0;
    const char* hash = login_passwordHash(conn.host, conn.port, conn.timeout, conn.user);
    if (hash == nullptr)
        return 0;
    debug_format(debugText, sizeof debugText, "pData setValue() = %s", data);
    if (!param_postTexts(form, sizeof form, request, sizeof request, &conn, protocol_setValueForm, hash, type, module,
                         data, 0))
        return 0;
    return param_confirmed(request, &conn);
}

ORMI_API int ORMI_CALL setIO(const char* base, char* channel, int value)
{
    frame_beginCall(FRAME_SETTINGS);
    int result = param_setIO(base, channel, value);
    frame_endCall(FRAME_SETTINGS);
    return result;
}

ORMI_API int ORMI_CALL getIO(const char* base, char* channel)
{
    frame_beginCall(FRAME_SETTINGS);
    int result = param_getIO(base, channel);
    frame_endCall(FRAME_SETTINGS);
    return result;
}

ORMI_API const char* ORMI_CALL getValue(const char* type, const char* module, const char* key)
{
    frame_beginCall(FRAME_SETTINGS);
    const char* result = param_getValue(type, module, key);
    frame_endCall(FRAME_SETTINGS);
    return result;
}

ORMI_API int ORMI_CALL setValue(const char* type, const char* module, const char* key, const char* value)
{
    frame_beginCall(FRAME_SETTINGS);
    int result = param_setValue(type, module, key, value);
    frame_endCall(FRAME_SETTINGS);
    return result;
}
