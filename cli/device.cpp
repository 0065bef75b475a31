// Library calls with retries: a call that fails is followed by the login
// question (and a read by the read), asked of the device by this program
// itself; a device that refuses them is not asked again, a network failure
// (or a failure on our side while the device answers) is retried --retries
// times after a pause.
#include "cli.h"
#include "json.h"
#include "md5.h"
#include "protocol.h"

#include <cstdarg>
#include <cstdio>

#include <cstring>
#include <functional>
#include <string>

namespace {

cli_options settings;
std::string password;
std::string host;
int port = 0;
int timeout = 1;

enum { LOGIN_NO_ANSWER, LOGIN_ACCEPTED, LOGIN_REFUSED };
int lastLogin = LOGIN_NO_ANSWER;
// Bytes of the device's answer before a reset cut it, seen by the last
// question asked after a failed call; -1 when none was cut.
int lastCut = -1;

// A request of the device protocol, formatted whatever its length: the
// library's own buffers would refuse a longer one before the network, and
// the device is asked here what it answers to it all the same.
std::string request(const char* format, ...)
{
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? (std::size_t)length : 0, '\0');
    if (length > 0)
        std::vsnprintf(&text[0], text.size() + 1, format, again);
    va_end(again);
    return text;
}

// What the library keeps of an answer: a text of at most 4095 characters,
// ended by the first zero byte.
std::string keptText(const std::string& answer)
{
    return answer.substr(0, PROTOCOL_ANSWER_SIZE - 1).c_str();
}

std::string bodyOf(const std::string& text)
{
    return protocol_findBody(text.c_str());
}

// The hash the library would send now, in hash: under method 2 with a TAN
// of our own. LOGIN_REFUSED when the device answered the TAN request with
// nothing to log in with: the library sends nothing more then either.
int freshHash(char* hash)
{
    md5_hexString(password.c_str(), hash);
    if (settings.loginMethod != 2)
        return LOGIN_ACCEPTED;
    std::string answer;
    if (!net_ask(host, port, timeout, request(protocol_tanRequest, settings.user.c_str(), hash, host.c_str()), &answer))
        return LOGIN_NO_ANSWER;
    std::string tan = bodyOf(keptText(answer));
    if (tan.empty() || password.size() + tan.size() > PROTOCOL_SALTED_SIZE - 1)
        return LOGIN_REFUSED;
    md5_hexString((password + tan).c_str(), hash);
    return LOGIN_ACCEPTED;
}

// The library's login, hash and answer alike, with the device's answer
// seen here: only a complete answer counts, as it does for the library.
int askLogin()
{
    char hash[PROTOCOL_HASH_LENGTH + 1];
    int got = freshHash(hash);
    if (got != LOGIN_ACCEPTED)
        return got;
    std::string answer;
    if (!net_ask(host, port, timeout, request(protocol_loginRequest, settings.user.c_str(), hash, host.c_str()),
                 &answer))
        return LOGIN_NO_ANSWER;
    return keptText(answer).find(protocol_loginAccepted) != std::string::npos ? LOGIN_ACCEPTED : LOGIN_REFUSED;
}

// The library's channel read asked again: taken when the answer holds "OK"
// and a body, as the library wants it.
int askChannel(const char* base, const char* channel)
{
    char hash[PROTOCOL_HASH_LENGTH + 1];
    int got = freshHash(hash);
    if (got != LOGIN_ACCEPTED)
        return got;
    std::string module = std::string(base) + "/" + channel + protocol_channelEnding(channel);
    std::string answer;
    if (!net_ask(host, port, timeout,
                 request(protocol_getIORequest, settings.user.c_str(), hash, module.c_str(), host.c_str()), &answer))
        return LOGIN_NO_ANSWER;
    std::string text = keptText(answer);
    return text.find(protocol_confirmed) != std::string::npos && !bodyOf(text).empty() ? LOGIN_ACCEPTED : LOGIN_REFUSED;
}

// The library's read asked again: LOGIN_ACCEPTED when the device's answer is
// one the library takes (a body; with a key, a JSON object whose value fits
// 255 characters), LOGIN_REFUSED when it answered with anything else.
int askRead(const char* type, const char* module, const char* key)
{
    char hash[PROTOCOL_HASH_LENGTH + 1];
    int got = freshHash(hash);
    if (got != LOGIN_ACCEPTED)
        return got;
    std::string answer;
    if (!net_ask(host, port, timeout,
                 request(protocol_getValueRequest, settings.user.c_str(), hash, type, module, host.c_str()), &answer))
        return LOGIN_NO_ANSWER;
    std::string text = keptText(answer);
    if (!*key)
        return bodyOf(text).empty() ? LOGIN_REFUSED : LOGIN_ACCEPTED;
    std::size_t object = text.find('{');
    if (object == std::string::npos)
        return LOGIN_REFUSED;
    static char picked[JSON_VALUE_SIZE];
    int whole = 0;
    float decimal = 0;
    picked[0] = 0;
    json_getValue(text.c_str() + object, (int)(text.size() - object), key, picked, sizeof picked, &whole, &decimal);
    return std::strlen(picked) < PROTOCOL_VALUE_SIZE ? LOGIN_ACCEPTED : LOGIN_REFUSED;
}

// After a failed call the login is asked again: refused by the device, the
// call is not made again. Taken, the login call was a failure on the way or
// on our side; a read is asked again too and the device's answer to it
// decides. For a write the library gives no answer text, so a write that
// failed at once while the device takes the login is taken for a refusal.
enum { CALL_LOGIN, CALL_READ, CALL_WRITE };
int guarded(const char* what, int kind, const std::function<bool()>& call,
            const std::function<int()>& askAgain = nullptr)
{
    lastCut = -1;
    for (int attempt = 0;; ++attempt) {
        double started = net_now();
        if (call())
            return DEVICE_DONE;
        // A call that used up its time-out had no answer, whatever happens afterwards.
        bool timedOut = net_now() - started >= 0.9 * timeout;
        lastLogin = askLogin();
        lastCut = net_lastCut();
        if (lastLogin == LOGIN_REFUSED)
            return DEVICE_REFUSED;
        if (lastLogin == LOGIN_ACCEPTED && kind == CALL_READ) {
            int again = askAgain();
            lastCut = net_lastCut();
            if (again == LOGIN_REFUSED)
                return DEVICE_REFUSED;
        }
        if (lastLogin == LOGIN_ACCEPTED && kind == CALL_WRITE && !timedOut)
            return DEVICE_REFUSED;
        if (attempt >= settings.retries)
            return DEVICE_UNREACHABLE;
        char text[200];
        std::snprintf(text, sizeof text, "%s: %s, retry %d of %d in %.1f s", what,
                      lastCut >= 0                  ? "the device's answer was cut"
                      : lastLogin == LOGIN_ACCEPTED ? "failed although the device takes the login"
                                                    : "no connection",
                      attempt + 1, settings.retries, settings.retryPause);
        report_info(settings, text);
        net_sleep(settings.retryPause);
    }
}

} // namespace

void device_setup(const cli_options& options, const std::string& loginPassword, const std::string& probeHost,
                  int probePort, int probeTimeout)
{
    settings = options;
    password = loginPassword;
    host = probeHost;
    port = probePort;
    timeout = probeTimeout;
}

const std::string& device_label()
{
    return settings.device;
}

std::string device_cutReason()
{
    if (lastCut < 0)
        return "";
    return "the device's answer was cut: the connection was reset after " + std::to_string(lastCut) + " bytes";
}

int device_check(std::string* why)
{
    int outcome = guarded("login", CALL_LOGIN, [] { return bind_checkConnection() == 1; });
    if (why) {
        if (outcome == DEVICE_REFUSED)
            *why = "the device refused the login (user, password or login method)";
        if (outcome == DEVICE_UNREACHABLE && lastCut >= 0)
            *why = device_cutReason();
        else if (outcome == DEVICE_UNREACHABLE)
            *why = lastLogin == LOGIN_ACCEPTED ? "the device takes the login, but the library's exchange with it failed"
                                               : "the device cannot be reached at " + host + ":" + std::to_string(port);
    }
    return outcome;
}

int device_getValue(const char* type, const char* module, const char* key, std::string* out)
{
    return guarded(
        "read", CALL_READ,
        [&] {
            const char* text = bind_getValue(type, module, key);
            if (!text)
                return false;
            *out = text; // the library's buffer lasts only until its next call
            return true;
        },
        [&] { return askRead(type, module, key); });
}

int device_setValue(const char* type, const char* module, const char* key, const char* value)
{
    return guarded("write", CALL_WRITE, [&] { return bind_setValue(type, module, key, value) == 1; });
}

int device_getIO(const char* base, const char* channel, int* value)
{
    return guarded(
        "read", CALL_READ,
        [&] {
            // The library appends "/input" or "/output" to the channel text, in a copy.
            char text[256 + 16];
            std::snprintf(text, sizeof text, "%s", channel);
            *value = bind_getIO(base, text);
            return *value != -1;
        },
        [&] { return askChannel(base, channel); });
}

int device_setIO(const char* base, const char* channel, int value)
{
    return guarded("write", CALL_WRITE, [&] {
        char text[256 + 16];
        std::snprintf(text, sizeof text, "%s", channel);
        return bind_setIO(base, text, value) == 1;
    });
}
