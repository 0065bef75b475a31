// ormi: updates and device access from the command line, through the
// control library as any integrator's program would use it.
#include "cli.h"
#include "devicebase.h"
#include "json.h"
#include "package.h"
#include "profile.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

const char connectionHelp[] =
    "Connection:\n"
    "  --device HOST[:PORT]     the device (port 80 unless given)\n"
    "  --user NAME              user name (default admin)\n"
    "  --login-method 1|2       1: MD5 of the password, 2: with the device's TAN (default 1)\n"
    "  --timeout S              seconds for each wait of an exchange (default 2)\n"
    "  --password-file FILE     the password is the file's first line\n"
    "                           (otherwise ORMI_PASSWORD, otherwise a prompt without echo)\n"
    "  --settings FILE          use an existing ormi_control.ini as it is, instead of the above\n"
    "  --retries N              retries after a network failure (default 2)\n"
    "  --retry-pause S          pause before a retry (default 2)\n"
    "  --json                   one machine-readable result line on standard output\n"
    "  --help                   this text\n";

const char mainHelp[] =
    "usage: ormi COMMAND [ARGUMENTS] [OPTIONS]\n"
    "Drives ORMI and ORMI-M devices through the ormi_control library.\n"
    "Commands:\n"
    "  check                          check the connection and login, show the device type and version\n"
    "  get TYPE MODULE [KEY]          print a value (the whole module, or one key of it)\n"
    "  set TYPE MODULE KEY VALUE      set a value (KEY \"\" sends VALUE as the whole module; @FILE reads VALUE)\n"
    "  io get BASE CHANNEL            print an input or output channel\n"
    "  io set BASE CHANNEL VALUE      set an output channel\n"
    "  update PACKAGE                 check, upload, install, reboot and read the version again\n"
    "Run 'ormi COMMAND --help' for a command's options.\n"
    "Exit codes: 0 done, 1 refused by the device, 2 bad usage, 3 device unreachable,\n"
    "  4 login refused, 5 package does not fit the device, 6 upload failed, 7 installation failed,\n"
    "  8 device not back after reboot, 9 package corrupt, 10 not all devices succeeded,\n"
    "  11 the device came back with another version than --expect-version.\n";

const char updateHelp[] =
    "usage: ormi update PACKAGE [OPTIONS]\n"
    "Tests PACKAGE (*.bz2) as a bzip2 stream, checks its name against the device, uploads it,\n"
    "installs it showing the device's texts, reboots the device, waits for it and reads its\n"
    "package version again. A version that did not change is a warning (\"installed, but the\n"
    "device still reports X\"), never \"updated\"; the file name is not taken for the version.\n"
    "  --expect-version V       the device must report exactly V after the reboot, otherwise exit\n"
    "                           code 11; a device that reports V already is left alone (\"already at V\")\n"
    "  --force                  with --expect-version: update a device that reports V all the same\n"
    "  --dry-run                connect, log in, read type and version, check the package's name\n"
    "                           (and its bzip2 stream) and tell what would be done; nothing is\n"
    "                           written to the device; the exit code is the real run's up to there\n"
    "  --no-verify              do not test the bzip2 stream before sending\n"
    "  --reboot-wait S          how long to wait for the device after the reboot (default 180)\n"
    "  --install-wait S         how long the installation may take (default 900)\n"
    "  --upload-wait S          how long the device may take to answer the upload (default 600)\n"
    "  --poll-interval S        pause between installation polls (default 1.5)\n"
    "  --devices FILE           update every device of FILE (one HOST[:PORT] a line, # comments)\n"
    "  --parallel N             with --devices: devices at once, one process each (default 4)\n";

void usage(const char* text)
{
    std::fputs(text, stdout);
    std::fputs(connectionHelp, stdout);
}

int bad(const std::string& text)
{
    std::fprintf(stderr, "ormi: %s (see ormi --help)\n", text.c_str());
    return ORMI_EXIT_USAGE;
}

bool parseNumber(const std::string& text, double low, double high, double* out)
{
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || !(value >= low && value <= high))
        return false;
    *out = value;
    return true;
}

bool parseInt(const std::string& text, int low, int high, int* out)
{
    double value = 0;
    if (!parseNumber(text, low, high, &value) || value != (int)value)
        return false;
    *out = (int)value;
    return true;
}

bool plainText(const std::string& text)
{
    if (text.size() > 254)
        return false;
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f)
            return false;
    return true;
}

// HOST[:PORT], with or without "http://".
bool parseDevice(const std::string& text, std::string* host, int* port)
{
    std::string rest = text.compare(0, 7, "http://") == 0 ? text.substr(7) : text;
    std::size_t colon = rest.rfind(':');
    *port = 80;
    if (colon != std::string::npos) {
        if (!parseInt(rest.substr(colon + 1), 1, 65535, port))
            return false;
        rest = rest.substr(0, colon);
    }
    *host = rest;
    return !rest.empty() && plainText(rest) && rest.find_first_of(" /?&") == std::string::npos;
}

bool readFile(const std::string& path, std::vector<char>* data)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    data->clear();
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        data->insert(data->end(), buffer, buffer + got);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

// A value of a settings text as the library reads it: its reader, and its
// buffer of size bytes (255 for texts, 256 for numbers); "" for none.
std::string settingsValue(const std::string& text, const char* section, const char* key, int size = 255)
{
    char value[256];
    if (!profile_findInText(text.data(), (int)text.size(), section, key, value, size))
        return "";
    return value;
}

// Where and how long the library will try to reach the device with these
// settings, taken by its rules: a leading "http://" dropped, a port behind
// the first colon of the address before "ip_port", the leading number after
// blanks (cut to 16 bits), a time-out below 1 taken as 1.
int readSettings(const std::string& text, cli_options* o, std::string* password)
{
    std::string address = settingsValue(text, "IP", "ip_address");
    std::string host = address.compare(0, 7, "http://") == 0 ? address.substr(7) : address;
    std::string port = settingsValue(text, "IP", "ip_port");
    std::size_t colon = host.find(':');
    if (colon != std::string::npos) {
        port = host.substr(colon + 1);
        host.erase(colon);
    }
    if (host.empty() || !plainText(host) || host.find_first_of(" /?&") != std::string::npos)
        return bad("the settings file has no usable ip_address");
    std::size_t digits = port.find_first_not_of(" \t");
    o->port = (unsigned short)profile_number(digits == std::string::npos ? "" : port.c_str() + digits, 0);
    // Port 0 is what the library makes of a missing or unreadable port; it never connects there.
    if (o->port == 0)
        return bad("the settings file has no usable port (ip_port, or ip_address HOST:PORT)");
    o->host = host;
    o->device = address;
    o->timeout = profile_number(settingsValue(text, "CONTROL", "timeout", 256).c_str(), 1);
    if (o->timeout < 1)
        o->timeout = 1;
    // The login the library makes, asked again after a failed call: a missing
    // text key is the text "no entry" to the library.
    char value[256];
    o->user = profile_findInText(text.data(), (int)text.size(), "LOGIN", "username", value, 255) ? value : "no entry";
    *password = profile_findInText(text.data(), (int)text.size(), "LOGIN", "password", value, 255) ? value : "no entry";
    o->loginMethod = 1;
    if (profile_findInText(text.data(), (int)text.size(), "LOGIN", "login_version", value, 256))
        o->loginMethod = profile_number(value, 1);
    if (o->loginMethod != 1 && o->loginMethod != 2)
        return bad("the settings file's login_version is 1 or 2");
    return ORMI_EXIT_OK;
}

std::string baseName(const std::string& path)
{
    std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string absolutePath(const std::string& path)
{
#ifdef _WIN32
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return n > 0 && n < sizeof full ? std::string(full) : path;
#else
    char full[PATH_MAX];
    return realpath(path.c_str(), full) ? std::string(full) : path;
#endif
}

int parse(int argc, char** argv, cli_options* o)
{
    static const char* const valued[] = { "--device",        "--user",          "--login-method",  "--timeout",
                                          "--password-file", "--settings",      "--devices",       "--parallel",
                                          "--retries",       "--retry-pause",   "--reboot-wait",   "--install-wait",
                                          "--upload-wait",   "--poll-interval", "--expect-version" };
    std::vector<std::string> words;
    bool deviceGiven = false, connectionGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            for (++i; i < argc; ++i)
                words.push_back(argv[i]);
            break;
        }
        if (arg == "--help" || arg == "-h") {
            o->help = true;
            continue;
        }
        if (arg == "--json") {
            o->json = true;
            continue;
        }
        if (arg == "--no-verify") {
            o->noVerify = true;
            continue;
        }
        if (arg == "--force" || arg == "--dry-run") {
            (arg == "--force" ? o->force : o->dryRun) = true;
            continue;
        }
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            words.push_back(arg);
            continue;
        }
        std::string name = arg, value;
        bool inlineValue = false;
        std::size_t eq = arg.find('=');
        if (eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        bool known = false;
        for (const char* v : valued)
            known = known || name == v;
        if (!known)
            return bad("unknown option " + name);
        if (!inlineValue) {
            if (i + 1 >= argc)
                return bad(name + " needs a value");
            value = argv[++i];
        }
        double seconds = 0;
        if (name == "--device") {
            if (!parseDevice(value, &o->host, &o->port))
                return bad("--device takes HOST[:PORT], not " + value);
            o->device = value;
            deviceGiven = true;
        } else if (name == "--user") {
            if (!plainText(value))
                return bad("--user: at most 254 printable characters");
            o->user = value;
            connectionGiven = true;
        } else if (name == "--login-method") {
            if (!parseInt(value, 1, 2, &o->loginMethod))
                return bad("--login-method is 1 or 2");
            connectionGiven = true;
        } else if (name == "--timeout") {
            if (!parseInt(value, 1, 3600, &o->timeout))
                return bad("--timeout takes whole seconds from 1");
            connectionGiven = true;
        } else if (name == "--password-file") {
            o->passwordFile = value;
            connectionGiven = true;
        } else if (name == "--settings") {
            o->settings = value;
        } else if (name == "--expect-version") {
            if (value.empty() || !plainText(value))
                return bad("--expect-version takes a version, e.g. 2.2.0");
            o->expectVersion = value;
        } else if (name == "--devices") {
            o->devicesFile = value;
        } else if (name == "--parallel") {
            if (!parseInt(value, 1, 64, &o->parallel))
                return bad("--parallel takes 1 to 64");
        } else if (name == "--retries") {
            if (!parseInt(value, 0, 100, &o->retries))
                return bad("--retries takes 0 to 100");
        } else if (!parseNumber(value, 0, 86400, &seconds)) {
            return bad(name + " takes seconds, not " + value);
        } else if (name == "--retry-pause") {
            o->retryPause = seconds;
        } else if (name == "--reboot-wait") {
            o->rebootWait = seconds;
        } else if (name == "--install-wait") {
            o->installWait = seconds;
        } else if (name == "--upload-wait") {
            o->uploadWait = seconds;
        } else if (name == "--poll-interval") {
            o->pollInterval = seconds;
        }
    }
    if (words.empty()) {
        if (o->help)
            return -1;
        return bad("no command");
    }
    std::string command = words[0];
    words.erase(words.begin());
    if (command == "io") {
        if (words.empty() && o->help) {
            o->command = "io-get";
            return -1;
        }
        if (words.empty() || (words[0] != "get" && words[0] != "set"))
            return bad("io get or io set");
        command += "-" + words[0];
        words.erase(words.begin());
    }
    o->command = command;
    o->args = words;
    if (o->help)
        return -1;
    struct arity {
        const char* name;
        std::size_t low, high;
    } table[] = { { "check", 0, 0 },  { "get", 2, 3 },    { "set", 4, 4 },
                  { "io-get", 2, 2 }, { "io-set", 3, 3 }, { "update", 1, 1 } };
    bool found = false;
    for (const arity& a : table) {
        if (command != a.name)
            continue;
        found = true;
        if (words.size() < a.low || words.size() > a.high)
            return bad("wrong number of arguments for " + command);
    }
    if (!found)
        return bad("unknown command " + command);
    if (!o->devicesFile.empty() && command != "update")
        return bad("--devices is for update");
    if ((!o->expectVersion.empty() || o->force || o->dryRun) && command != "update")
        return bad("--expect-version, --force and --dry-run are for update");
    if (!o->settings.empty() && (deviceGiven || connectionGiven || !o->devicesFile.empty()))
        return bad(
            "--settings is used as it is: no --device, --devices, --user, --login-method, --timeout or --password-file with it");
    if (o->settings.empty() && o->devicesFile.empty() && !deviceGiven)
        return bad("--device or --settings is needed");
    if (deviceGiven && !o->devicesFile.empty())
        return bad("--device or --devices, not both");
    return ORMI_EXIT_OK;
}

void showHelp(const cli_options& o)
{
    const std::string& c = o.command;
    if (c == "check")
        usage(
            "usage: ormi check [OPTIONS]\nChecks the connection and login and shows the device type and package version.\n");
    else if (c == "get")
        usage(
            "usage: ormi get TYPE MODULE [KEY] [OPTIONS]\nPrints module MODULE of kind TYPE (e.g. configuration devicebase), or the value of KEY\n(a dotted path) in it.\n");
    else if (c == "set")
        usage(
            "usage: ormi set TYPE MODULE KEY VALUE [OPTIONS]\nReads the module, sets KEY to VALUE (a JSON value as it stands, e.g. '\"text\"' or 5) and\nwrites the module back. KEY \"\" sends VALUE as the whole module. VALUE @FILE reads FILE.\n");
    else if (c == "io-get" || c == "io-set")
        usage(
            "usage: ormi io get BASE CHANNEL [OPTIONS]\n       ormi io set BASE CHANNEL VALUE [OPTIONS]\nReads or sets a channel (di1, do1, ai1, ao2, ...) of module BASE.\n");
    else if (c == "update")
        usage(updateHelp);
    else
        usage(mainHelp);
}

int obtainPassword(const cli_options& o, std::string* password)
{
    if (!o.passwordFile.empty()) {
        std::vector<char> data;
        if (!readFile(o.passwordFile, &data)) {
            std::fprintf(stderr, "ormi: cannot read the password file %s\n", o.passwordFile.c_str());
            return ORMI_EXIT_USAGE;
        }
        std::string text(data.begin(), data.end());
        *password = text.substr(0, text.find_first_of("\r\n"));
    } else if (const char* env = std::getenv("ORMI_PASSWORD")) {
        *password = env;
    } else if (!term_readPassword("password: ", password)) {
        std::fprintf(stderr, "ormi: no password: use --password-file, ORMI_PASSWORD or a terminal\n");
        return ORMI_EXIT_USAGE;
    }
    if (!plainText(*password)) {
        std::fprintf(stderr, "ormi: the password must be at most 254 characters without line breaks\n");
        return ORMI_EXIT_USAGE;
    }
    return ORMI_EXIT_OK;
}

int connectionFailure(int outcome, cli_result* r)
{
    return finish(r, outcome == DEVICE_UNREACHABLE ? ORMI_EXIT_UNREACHABLE : ORMI_EXIT_FAILED,
                  outcome == DEVICE_UNREACHABLE ? "the device cannot be reached" : "the device refused the request");
}

int runCheck(const cli_options& o, cli_result* r)
{
    std::string why, version;
    int outcome = device_check(&why);
    if (outcome != DEVICE_DONE)
        return finish(r, outcome == DEVICE_REFUSED ? ORMI_EXIT_LOGIN : ORMI_EXIT_UNREACHABLE, why);
    report_info(o, "login OK");
    if (device_getValue("configuration", "devicebase", "package_version", &version) != DEVICE_DONE)
        return finish(r, ORMI_EXIT_OK, "login OK; the device gives no package version");
    char tag[PACKAGE_TAG_SIZE], suffix[PACKAGE_TAG_SIZE];
    package_splitVersion(version.c_str(), tag, sizeof tag, suffix, sizeof suffix);
    r->versionBefore = version;
    std::string text = std::string(package_deviceType(tag)) + ", Version " + version;
    report_info(o, text);
    return finish(r, ORMI_EXIT_OK, text);
}

int runGet(const cli_options& o, cli_result* r, std::string* value)
{
    int outcome = device_getValue(o.args[0].c_str(), o.args[1].c_str(), "", value);
    if (outcome != DEVICE_DONE)
        return connectionFailure(outcome, r);
    if (o.args.size() == 3) {
        // Looked up here rather than by the library, so that numbers are shown too.
        char text[JSON_VALUE_SIZE];
        int intValue = 0;
        float floatValue = 0;
        json_getValue(value->c_str(), (int)value->size(), o.args[2].c_str(), text, sizeof text, &intValue, &floatValue);
        char number[64];
        std::string last =
            o.args[2].substr(o.args[2].find_last_of('.') == std::string::npos ? 0 : o.args[2].find_last_of('.') + 1);
        if (text[0]) {
            *value = text;
        } else if (intValue) {
            *value = std::to_string(intValue);
        } else if (floatValue != 0) {
            std::snprintf(number, sizeof number, "%g", floatValue);
            *value = number;
        } else if (std::size_t at = value->find("\"" + last + "\""); at != std::string::npos) {
            // Present but zero, or an empty string.
            std::size_t next = value->find_first_not_of(" \t\r\n:", at + last.size() + 2);
            *value = next != std::string::npos && (*value)[next] == '"' ? "" : "0";
        } else {
            return finish(r, ORMI_EXIT_FAILED, "no key " + o.args[2] + " in " + o.args[1]);
        }
    }
    return finish(r, ORMI_EXIT_OK, "");
}

int runSet(const cli_options& o, const std::string& value, cli_result* r)
{
    const std::string& type = o.args[0];
    const std::string& module = o.args[1];
    const std::string& key = o.args[2];
    std::string data = value;
    if (!key.empty()) {
        // Edits the device's own module: the library's stored-file form would send a local file instead.
        std::string answer;
        int outcome = device_getValue(type.c_str(), module.c_str(), "", &answer);
        if (outcome != DEVICE_DONE)
            return connectionFailure(outcome, r);
        static char text[JSON_FORMAT_SIZE];
        int formatted = formatDeviceBase(answer.c_str(), text, sizeof text);
        if (formatted != DEVICEBASE_OK)
            return finish(r, ORMI_EXIT_FAILED, module + " is not a complete JSON object of at most 4095 characters");
        data = text;
        if (!edit_setMember(&data, key, value))
            return finish(r, ORMI_EXIT_FAILED, "no key " + key + " with a plain value in " + module);
    }
    if (data.size() > 4095)
        return finish(r, ORMI_EXIT_USAGE, "the value is longer than 4095 characters");
    int outcome = device_setValue(type.c_str(), module.c_str(), "", data.c_str());
    if (outcome != DEVICE_DONE)
        return connectionFailure(outcome, r);
    return finish(r, ORMI_EXIT_OK, "set");
}

int runIo(const cli_options& o, cli_result* r, std::string* value)
{
    if (o.args[1].size() > 255)
        return finish(r, ORMI_EXIT_USAGE, "channel name too long");
    int setTo = 0;
    if (o.command == "io-set" && !parseInt(o.args[2], INT_MIN, INT_MAX, &setTo))
        return finish(r, ORMI_EXIT_USAGE, "the value is a whole number");
    int got = 0;
    int outcome = o.command == "io-get" ? device_getIO(o.args[0].c_str(), o.args[1].c_str(), &got)
                                        : device_setIO(o.args[0].c_str(), o.args[1].c_str(), setTo);
    if (outcome == DEVICE_REFUSED)
        return finish(r, ORMI_EXIT_FAILED, "the device refused the channel or gave no usable answer");
    if (outcome == DEVICE_UNREACHABLE)
        return finish(r, ORMI_EXIT_UNREACHABLE, "the device cannot be reached");
    if (o.command == "io-get")
        *value = std::to_string(got);
    return finish(r, ORMI_EXIT_OK, o.command == "io-set" ? "set" : "");
}

} // namespace

int main(int argc, char** argv)
{
    term_prepareConsole();
    cli_options o;
    int parsed = parse(argc, argv, &o);
    if (parsed == -1) {
        showHelp(o);
        return ORMI_EXIT_OK;
    }
    if (parsed != ORMI_EXIT_OK)
        return parsed;

    // Everything read from files is read before the working folder is entered.
    std::vector<char> package;
    std::string setValueText;
    if (o.command == "update") {
        if (!readFile(o.args[0], &package)) {
            std::fprintf(stderr, "ormi: cannot read the package %s\n", o.args[0].c_str());
            return ORMI_EXIT_USAGE;
        }
        if (!o.noVerify) {
            std::string why;
            int verdict = bz2_verify((const unsigned char*)package.data(), package.size(), &why);
            if (verdict != BZ2_CHECK_OK) {
                std::fprintf(stderr,
                             "ormi: %s is not an intact bzip2 package (%s); nothing was sent. "
                             "Download it again, or use --no-verify to send it all the same.\n",
                             o.args[0].c_str(), why.c_str());
                if (o.json && o.devicesFile.empty()) {
                    cli_result result;
                    finish(&result, ORMI_EXIT_CORRUPT, "the package is not an intact bzip2 stream: " + why);
                    result.package = baseName(o.args[0]);
                    result.bytes = (long long)package.size();
                    result.changed = 0;
                    result.expectedVersion = o.expectVersion;
                    result.dryRun = o.dryRun;
                    std::printf("%s\n", report_json(o, "update", result).c_str());
                }
                return ORMI_EXIT_CORRUPT;
            }
        }
    }
    if (o.command == "set") {
        setValueText = o.args[3];
        if (!setValueText.empty() && setValueText[0] == '@') {
            std::vector<char> data;
            if (!readFile(setValueText.substr(1), &data)) {
                std::fprintf(stderr, "ormi: cannot read %s\n", setValueText.substr(1).c_str());
                return ORMI_EXIT_USAGE;
            }
            setValueText.assign(data.begin(), data.end());
        }
    }

    std::string settingsText, password;
    if (!o.settings.empty()) {
        std::vector<char> data;
        if (!readFile(o.settings, &data)) {
            std::fprintf(stderr, "ormi: cannot read the settings file %s\n", o.settings.c_str());
            return ORMI_EXIT_USAGE;
        }
        settingsText.assign(data.begin(), data.end());
        // What the library will use, for telling network failures from refusals.
        int read = readSettings(settingsText, &o, &password);
        if (read != ORMI_EXIT_OK)
            return read;
    } else {
        int got = obtainPassword(o, &password);
        if (got != ORMI_EXIT_OK)
            return got;
        if (!o.devicesFile.empty()) {
            // The children take it from their environment, never from the command line.
#ifdef _WIN32
            SetEnvironmentVariableA("ORMI_PASSWORD", password.c_str());
            _putenv_s("ORMI_PASSWORD", password.c_str());
#else
            setenv("ORMI_PASSWORD", password.c_str(), 1);
#endif
            work_installSignalHandlers();
            return multi_run(o, absolutePath(o.args[0]));
        }
        settingsText = work_settingsText(o, password);
    }

    work_installSignalHandlers();
    std::string error;
    if (!work_open(settingsText, &error)) {
        std::fprintf(stderr, "ormi: %s\n", error.c_str());
        return ORMI_EXIT_FAILED;
    }
    if (!bind_load(&error)) {
        work_close();
        std::fprintf(stderr, "ormi: %s\n", error.c_str());
        return ORMI_EXIT_FAILED;
    }
    device_setup(o, password, o.host, o.port, o.timeout);

    cli_result result;
    double started = net_now();
    std::string value;
    const char* commandName = o.command.c_str();
    if (o.command == "check")
        runCheck(o, &result);
    else if (o.command == "update")
        update_run(o, package, baseName(o.args[0]), &result);
    else {
        std::string why;
        int outcome = device_check(&why);
        if (outcome != DEVICE_DONE)
            finish(&result, outcome == DEVICE_REFUSED ? ORMI_EXIT_LOGIN : ORMI_EXIT_UNREACHABLE, why);
        else if (o.command == "get")
            runGet(o, &result, &value);
        else if (o.command == "set")
            runSet(o, setValueText, &result);
        else
            runIo(o, &result, &value);
    }
    result.seconds = net_now() - started;
    work_close();

    bool printsValue = result.code == ORMI_EXIT_OK && (o.command == "get" || o.command == "io-get");
    if (o.json) {
        if (printsValue)
            result.message = value;
        std::printf("%s\n", report_json(o, commandName, result).c_str());
    } else if (printsValue) {
        std::fputs(value.c_str(), stdout);
        if (value.empty() || value.back() != '\n')
            std::fputs("\n", stdout);
    } else if (result.code != ORMI_EXIT_OK) {
        std::fprintf(stderr, "ormi: %s: %s\n", o.device.c_str(), result.message.c_str());
    } else if (o.command == "update" && result.versionChanged == 0 && o.expectVersion.empty()) {
        std::fprintf(stderr, "ormi: %s: warning: %s\n", o.device.c_str(), result.message.c_str());
    } else if (o.command == "update") {
        std::printf("%s: %s\n", o.device.c_str(), result.message.c_str());
    }
    std::fflush(stdout);
    return result.code;
}
