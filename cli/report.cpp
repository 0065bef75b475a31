// Texts for people (info lines) and for scripts (one JSON object per device).
#include "cli.h"

#include <cstdio>
#include <string>

int finish(cli_result* result, int code, const std::string& message)
{
    result->code = code;
    result->message = message;
    return code;
}

// With --json, standard output carries nothing but the result objects.
void report_info(const cli_options& options, const std::string& text)
{
    std::string line = (options.device.empty() ? std::string() : options.device + ": ") + text + "\n";
    progress_print(options.json ? stderr : stdout, line);
}

std::string report_jsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

std::string report_size(long long bytes)
{
    char text[32];
    if (bytes < 10000)
        std::snprintf(text, sizeof text, "%lld B", bytes);
    else if (bytes < 10000000)
        std::snprintf(text, sizeof text, "%.1f kB", bytes / 1000.0);
    else
        std::snprintf(text, sizeof text, "%.1f MB", bytes / 1000000.0);
    return text;
}

std::string report_json(const cli_options& options, const char* command, const cli_result& r)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", r.seconds);
    std::string out =
        "{\"device\":" + report_jsonString(options.device) + ",\"command\":" + report_jsonString(command) +
        ",\"ok\":" + (r.code == ORMI_EXIT_OK ? "true" : "false") + ",\"exit_code\":" + std::to_string(r.code) +
        ",\"result\":" + report_jsonString(exit_name(r.code)) + ",\"message\":" + report_jsonString(r.message);
    if (!r.package.empty())
        out += ",\"package\":" + report_jsonString(r.package);
    if (r.bytes >= 0)
        out += ",\"bytes\":" + std::to_string(r.bytes);
    if (!r.versionBefore.empty())
        out += ",\"version_before\":" + report_jsonString(r.versionBefore);
    if (!r.versionAfter.empty())
        out += ",\"version_after\":" + report_jsonString(r.versionAfter);
    if (!r.expectedVersion.empty())
        out += ",\"expected_version\":" + report_jsonString(r.expectedVersion);
    if (r.changed >= 0)
        out += std::string(",\"changed\":") + (r.changed ? "true" : "false");
    if (r.versionChanged >= 0)
        out += std::string(",\"version_changed\":") + (r.versionChanged ? "true" : "false");
    if (r.dryRun)
        out += ",\"dry_run\":true";
    if (!r.signature.empty())
        out += ",\"signature\":" + report_jsonString(r.signature);
    if (!r.signatureKey.empty())
        out += ",\"signature_key\":" + report_jsonString(r.signatureKey);
    out += std::string(",\"seconds\":") + seconds + "}";
    return out;
}
