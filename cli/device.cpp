// Library calls with retries: a call that fails is followed by the login
// question, asked of the device by this program itself; a device that
// refuses that login is not asked again, a network failure (or a failure
// on our side while the device takes the login) is retried --retries times
// after a pause.
#include "cli.h"
#include "md5.h"

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

// Behind the first blank line, or the whole text: where the library takes a body.
std::string bodyOf(const std::string& answer) {
    for (std::size_t i = 0; i + 2 <= answer.size(); ++i) {
        if (answer.compare(i, 2, "\n\n") == 0) return answer.substr(i + 2);
        if (answer.compare(i, 4, "\r\n\r\n") == 0) return answer.substr(i + 4);
    }
    return answer;
}

std::string loginRequest(const char* type, const char* hash) {
    return std::string("GET /cgi-bin/getParamFromServer.cgi?username=") + settings.user + "&password=" + hash +
           "&type=" + type + "&module=login HTTP/1.1\nHost: " + host + "\n\n\n";
}

// The library's login, hash and answer alike, with the device's answer
// seen here: only a complete answer counts, as it does for the library.
int askLogin() {
    char hash[33];
    md5_hexString(password.c_str(), hash);
    std::string answer;
    if (settings.loginMethod == 2) {
        if (!net_ask(host, port, timeout, loginRequest("single_id", hash), &answer)) return LOGIN_NO_ANSWER;
        std::string tan = bodyOf(answer);
        // The library has no hash to log in with then, and sends nothing more.
        if (tan.empty() || password.size() + tan.size() > 1023) return LOGIN_REFUSED;
        md5_hexString((password + tan).c_str(), hash);
    }
    if (!net_ask(host, port, timeout, loginRequest("login", hash), &answer)) return LOGIN_NO_ANSWER;
    return answer.find("LOGIN OK") != std::string::npos ? LOGIN_ACCEPTED : LOGIN_REFUSED;
}

// isLogin: the call is the login itself, which the device has just been
// asked again. For a get or set the library gives no answer text, so a
// device that takes the login and a call that failed at once are taken
// for a refusal of that request.
int guarded(const char* what, bool isLogin, const std::function<bool()>& call) {
    for (int attempt = 0;; ++attempt) {
        double started = net_now();
        if (call()) return DEVICE_DONE;
        // A call that used up its time-out had no answer, whatever happens afterwards.
        bool timedOut = net_now() - started >= 0.9 * timeout;
        lastLogin = askLogin();
        if (lastLogin == LOGIN_REFUSED) return DEVICE_REFUSED;
        if (lastLogin == LOGIN_ACCEPTED && !isLogin && !timedOut) return DEVICE_REFUSED;
        if (attempt >= settings.retries) return DEVICE_UNREACHABLE;
        char text[200];
        std::snprintf(text, sizeof text, "%s: %s, retry %d of %d in %.1f s", what,
                      lastLogin == LOGIN_ACCEPTED ? "failed although the device takes the login" : "no connection",
                      attempt + 1, settings.retries, settings.retryPause);
        report_info(settings, text);
        net_sleep(settings.retryPause);
    }
}

}  // namespace

void device_setup(const cli_options& options, const std::string& loginPassword, const std::string& probeHost,
                  int probePort, int probeTimeout) {
    settings = options;
    password = loginPassword;
    host = probeHost;
    port = probePort;
    timeout = probeTimeout;
}

const std::string& device_label() { return settings.device; }

int device_check(std::string* why) {
    int outcome = guarded("login", true, [] { return bind_checkConnection() == 1; });
    if (why) {
        if (outcome == DEVICE_REFUSED) *why = "the device refused the login (user, password or login method)";
        if (outcome == DEVICE_UNREACHABLE)
            *why = lastLogin == LOGIN_ACCEPTED
                       ? "the device takes the login, but the library's exchange with it failed"
                       : "the device cannot be reached at " + host + ":" + std::to_string(port);
    }
    return outcome;
}

int device_getValue(const char* type, const char* module, const char* key, std::string* out) {
    return guarded("read", false, [&] {
        const char* text = bind_getValue(type, module, key);
        if (!text) return false;
        *out = text;   // the library's buffer lasts only until its next call
        return true;
    });
}

int device_setValue(const char* type, const char* module, const char* key, const char* value) {
    return guarded("write", false, [&] { return bind_setValue(type, module, key, value) == 1; });
}
