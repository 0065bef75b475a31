// Library calls with retries: a call that fails is followed by a probe of
// the device; a network failure is retried --retries times after a pause,
// an answer from the device (a refusal) is not.
#include "cli.h"

#include <functional>
#include <string>

namespace {

cli_options settings;
std::string host;
int port = 0;
int timeout = 1;

int guarded(const char* what, const std::function<bool()>& call) {
    for (int attempt = 0;; ++attempt) {
        double started = net_now();
        if (call()) return DEVICE_DONE;
        // A call that used up its time-out had no answer, whatever the probe finds
        // afterwards; a refusal comes back at once.
        bool timedOut = net_now() - started >= 0.9 * timeout;
        if (!timedOut && net_probe(host, port, timeout) == NET_ANSWERS) return DEVICE_REFUSED;
        if (attempt >= settings.retries) return DEVICE_UNREACHABLE;
        char text[200];
        std::snprintf(text, sizeof text, "%s: no connection, retry %d of %d in %.1f s", what, attempt + 1,
                      settings.retries, settings.retryPause);
        report_info(settings, text);
        net_sleep(settings.retryPause);
    }
}

}  // namespace

void device_setup(const cli_options& options, const std::string& probeHost, int probePort, int probeTimeout) {
    settings = options;
    host = probeHost;
    port = probePort;
    timeout = probeTimeout;
}

const std::string& device_label() { return settings.device; }

int device_check(std::string* why) {
    int outcome = guarded("login", [] { return bind_checkConnection() == 1; });
    if (why) {
        if (outcome == DEVICE_REFUSED) *why = "the device refused the login (user, password or login method)";
        if (outcome == DEVICE_UNREACHABLE) *why = "the device cannot be reached at " + host + ":" + std::to_string(port);
    }
    return outcome;
}

int device_getValue(const char* type, const char* module, const char* key, std::string* out) {
    return guarded("read", [&] {
        const char* text = bind_getValue(type, module, key);
        if (!text) return false;
        *out = text;   // the library's buffer lasts only until its next call
        return true;
    });
}

int device_setValue(const char* type, const char* module, const char* key, const char* value) {
    return guarded("write", [&] { return bind_setValue(type, module, key, value) == 1; });
}
