// ormi update: the updater's four steps without a window. Check and read
// the device, refuse a package whose name does not fit, upload, install
// while showing the device's texts, reboot, wait until the device answers
// again and read its package version afresh. The update counts by the
// version the device comes back with: a device that falls back to its old
// image after the reboot looks like a finished installation otherwise.
#include "cli.h"
#include "devicebase.h"
#include "package.h"

#include <cstdio>
#include <string>

namespace {

// A device that answers throughout this long after the reboot request is
// taken to have rebooted too quickly to be seen away.
const double REBOOT_UNSEEN_SECONDS = 10.0;

bool looksFailed(const std::string& state)
{
    std::string lower;
    for (char c : state)
        lower += (c >= 'A' && c <= 'Z') ? (char)(c + 32) : c;
    return lower.find("error") != std::string::npos || lower.find("fail") != std::string::npos;
}

// The configuration fetched, in one-member-per-line form, with `key` set.
int editedConfiguration(const char* key, const char* value, std::string* out, std::string* why)
{
    std::string answer;
    int outcome = device_getValue("configuration", "devicebase", "", &answer);
    if (outcome != DEVICE_DONE) {
        *why = outcome != DEVICE_UNREACHABLE ? "the device gave no configuration"
               : device_cutReason().empty()  ? "the device cannot be reached"
                                             : device_cutReason();
        return 0;
    }
    static char text[JSON_FORMAT_SIZE];
    if (formatDeviceBase(answer.c_str(), text, sizeof text) != DEVICEBASE_OK) {
        *why = "the device's configuration is not a complete JSON object that fits 4095 characters";
        return 0;
    }
    *out = text;
    if (!edit_setMember(out, key, value)) {
        *why = std::string("the device's configuration has no member \"") + key + "\"";
        return 0;
    }
    return 1;
}

int upload(const cli_options& options, const std::vector<char>& package, const std::string& name, cli_result* result)
{
    double started = net_now();
    progress_begin("uploading " + name, (long long)package.size());
    int sent = -1;
    for (int attempt = 0;; ++attempt) {
        sent = bind_sendUpdateFile("update", name.c_str(), package.data(), (int)package.size());
        if (sent != -1)
            break;
        // The installation has not started: a lost connection may be retried.
        if (net_probe(options.host, options.port, options.timeout) == NET_ANSWERS) {
            progress_end();
            return finish(result, ORMI_EXIT_UPLOAD, "the device did not take the upload");
        }
        if (attempt >= options.retries) {
            progress_end();
            return finish(result, ORMI_EXIT_UPLOAD, "the upload could not be sent: no connection to the device");
        }
        char text[160];
        std::snprintf(text, sizeof text, "upload: no connection, retry %d of %d in %.1f s", attempt + 1,
                      options.retries, options.retryPause);
        report_info(options, text);
        net_sleep(options.retryPause);
    }
    while (sent == 0) {
        if (net_now() - started > options.uploadWait) {
            progress_end();
            char text[160];
            std::snprintf(text, sizeof text, "the device did not answer the upload within %.0f s", options.uploadWait);
            return finish(result, ORMI_EXIT_UPLOAD, text);
        }
        sent = bind_sendUpdateFileResp(); // waits up to a second itself
    }
    progress_end();
    char text[200];
    std::snprintf(text, sizeof text, "upload: %s, %s, done in %.1f s", name.c_str(),
                  report_size((long long)package.size()).c_str(), net_now() - started);
    report_info(options, text);
    return ORMI_EXIT_OK;
}

int install(const cli_options& options, cli_result* result)
{
    std::string text, why;
    if (!editedConfiguration("install_component", "\"package\"", &text, &why))
        return finish(result, ORMI_EXIT_INSTALL, "the installation could not be started: " + why);
    // Sent once: a request lost on the way may still have started the installation.
    if (bind_setValue("configuration", "devicebase", "", text.c_str()) != 1)
        return finish(result, ORMI_EXIT_INSTALL,
                      net_probe(options.host, options.port, options.timeout) == NET_ANSWERS
                          ? "the device did not take the installation request"
                          : "the connection failed during the installation request; the installation may have started");
    report_info(options, "install: installation started");
    double started = net_now();
    progress_begin("installing", -1);
    std::string lastContent, state;
    for (;;) {
        net_sleep(options.pollInterval);
        if (net_now() - started > options.installWait) {
            progress_end();
            char message[160];
            std::snprintf(message, sizeof message, "the installation did not end within %.0f s", options.installWait);
            return finish(result, ORMI_EXIT_INSTALL, message);
        }
        const char* answer = bind_getValue("values", "devicebase", "");
        if (!answer)
            continue; // a missed poll; the next one may answer
        std::string values = answer;
        std::string content = edit_member(values, "content");
        state = edit_member(values, "state");
        if (content != lastContent && !content.empty()) {
            report_info(options, "install: " + content);
            progress_text(content);
        }
        lastContent = content;
        if (state != "run")
            break;
    }
    progress_end();
    if (looksFailed(state))
        return finish(result, ORMI_EXIT_INSTALL,
                      "the installation failed: " + (lastContent.empty() ? "state " + state : lastContent));
    return ORMI_EXIT_OK;
}

int reboot(const cli_options& options, const std::string& copy, cli_result* result)
{
    std::string text, why;
    if (!editedConfiguration("reboot", "true", &text, &why)) {
        // The configuration read before the installation still serves.
        text = copy;
        if (copy.empty() || !edit_setMember(&text, "reboot", "true"))
            return finish(result, ORMI_EXIT_REBOOT, "the reboot could not be requested: " + why);
    }
    double requested = net_now();
    if (bind_setValue("configuration", "devicebase", "", text.c_str()) != 1 &&
        net_probe(options.host, options.port, options.timeout) == NET_ANSWERS && bind_checkConnection() == 1 &&
        bind_setValue("configuration", "devicebase", "", text.c_str()) != 1)
        return finish(result, ORMI_EXIT_REBOOT, "the device refused the reboot request");
    char line[160];
    std::snprintf(line, sizeof line, "reboot: requested, waiting up to %.0f s for the device", options.rebootWait);
    report_info(options, line);
    progress_begin("waiting for the device to come back", -1);
    bool seenAway = false;
    for (;;) {
        double elapsed = net_now() - requested;
        if (elapsed > options.rebootWait) {
            progress_end();
            std::snprintf(line, sizeof line, "the device did not answer again within %.0f s after the reboot",
                          options.rebootWait);
            return finish(result, ORMI_EXIT_REBOOT, line);
        }
        double tried = net_now();
        if (bind_checkConnection() == 1) {
            if (seenAway || elapsed >= REBOOT_UNSEEN_SECONDS)
                break;
        } else {
            seenAway = true;
        }
        net_sleep(1.0 - (net_now() - tried));
    }
    progress_end();
    std::snprintf(line, sizeof line, "reboot: the device answers again after %.1f s", net_now() - requested);
    report_info(options, line);
    return ORMI_EXIT_OK;
}

// The verdict on the version read after the reboot. Without an expected
// version nothing is guessed from the file name, but an unchanged version
// is never called an update.
int verdict(const cli_options& options, cli_result* result)
{
    const std::string& after = result->versionAfter;
    if (!options.expectVersion.empty() && after != options.expectVersion)
        return finish(result, ORMI_EXIT_VERSION,
                      "device came back with version " + after + ", expected " + options.expectVersion);
    if (options.expectVersion.empty() && !result->versionChanged)
        return finish(result, ORMI_EXIT_OK, "installed, but the device still reports " + after);
    return finish(result, ORMI_EXIT_OK, "updated: package version " + result->versionBefore + " -> " + after);
}

} // namespace

int update_run(const cli_options& options, const std::vector<char>& package, const std::string& packageName,
               cli_result* result)
{
    result->package = packageName;
    result->bytes = (long long)package.size();
    result->changed = 0;
    result->expectedVersion = options.expectVersion;
    result->dryRun = options.dryRun;
    if (package.size() > (std::size_t)(PACKAGE_UPLOAD_SIZE - PACKAGE_FORM_HEAD_SIZE) || packageName.size() > 255)
        return finish(result, ORMI_EXIT_UPLOAD, "the package (or its name) is too large for the device's upload");

    std::string why;
    int outcome = device_check(&why);
    if (outcome == DEVICE_REFUSED)
        return finish(result, ORMI_EXIT_LOGIN, why);
    if (outcome == DEVICE_UNREACHABLE)
        return finish(result, ORMI_EXIT_UNREACHABLE, why);

    std::string version;
    outcome = device_getValue("configuration", "devicebase", "package_version", &version);
    if (outcome == DEVICE_UNREACHABLE)
        return finish(result, ORMI_EXIT_UNREACHABLE,
                      device_cutReason().empty() ? "the device cannot be reached" : device_cutReason());
    char tag[PACKAGE_TAG_SIZE], suffix[PACKAGE_TAG_SIZE];
    if (outcome == DEVICE_DONE) {
        result->versionBefore = version;
        package_splitVersion(version.c_str(), tag, sizeof tag, suffix, sizeof suffix);
        report_info(options, std::string(package_deviceType(tag)) + ", Version " + version);
    }
    package_subject subject = { packageName.c_str(), (const unsigned char*)package.data(), package.size(),
                                outcome == DEVICE_DONE ? tag : nullptr, suffix };
    package_verdict fit;
    if (!package_check(&subject, PACKAGE_CHECK_FIT, &fit))
        return finish(result, fit.exitCode, fit.message);
    if (!options.expectVersion.empty() && version == options.expectVersion && !options.force)
        return finish(result, ORMI_EXIT_OK, "already at " + version);
    if (options.dryRun)
        return finish(result, ORMI_EXIT_OK,
                      "would upload " + packageName + " (" + std::to_string(package.size()) +
                          " bytes), install and reboot");

    // Kept for the reboot request should the device not give it again later.
    std::string copy, answer;
    if (device_getValue("configuration", "devicebase", "", &answer) == DEVICE_DONE) {
        static char text[JSON_FORMAT_SIZE];
        if (formatDeviceBase(answer.c_str(), text, sizeof text) == DEVICEBASE_OK)
            copy = text;
    }

    result->changed = 1; // from the first byte sent on, the device may have been changed
    int code = upload(options, package, packageName, result);
    if (code != ORMI_EXIT_OK)
        return code;
    code = install(options, result);
    if (code != ORMI_EXIT_OK)
        return code;
    code = reboot(options, copy, result);
    if (code != ORMI_EXIT_OK)
        return code;

    outcome = device_getValue("configuration", "devicebase", "package_version", &version);
    if (outcome != DEVICE_DONE)
        return finish(result, ORMI_EXIT_REBOOT, "the device answers again but gives no package version");
    result->versionAfter = version;
    result->versionChanged = version != result->versionBefore;
    return verdict(options, result);
}
