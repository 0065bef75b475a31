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
    "  verify PACKAGE                 check the package's signature against trusted keys, no device\n"
    "Run 'ormi COMMAND --help' for a command's options, 'ormi --version' for the version.\n";

const char ioHelp[] =
    "usage: ormi io get BASE CHANNEL [OPTIONS]\n       ormi io set BASE CHANNEL VALUE [OPTIONS]\nReads or "
    "sets a channel (di1, do1, ai1, ao2, ...) of module BASE.\n";

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
    "  --trusted-key FILE       refuse a package not signed by a key of FILE (PEM public keys;\n"
    "                           repeatable); with trusted_keys.pem beside the program its keys\n"
    "                           alone decide, and always\n"
    "  --signature FILE         the package's signature (default PACKAGE.sig)\n"
    "  --reboot-wait S          how long to wait for the device after the reboot (default 180)\n"
    "  --install-wait S         how long the installation may take (default 900)\n"
    "  --upload-wait S          how long the device may take to answer the upload (default 600)\n"
    "  --poll-interval S        pause between installation polls (default 1.5)\n"
    "  --devices FILE           update every device of FILE (one HOST[:PORT] a line, # comments)\n"
    "  --parallel N             with --devices: devices at once, one process each (default 4)\n";

const char verifyHelp[] =
    "usage: ormi verify PACKAGE --trusted-key FILE [--signature FILE] [--json]\n"
    "Checks that PACKAGE.sig (or --signature FILE), an ECDSA P-256 signature over the SHA-256 of\n"
    "PACKAGE, is made by one of the trusted keys: those of trusted_keys.pem beside the program\n"
    "when it is there, otherwise those of every --trusted-key FILE. No device is asked.\n"
    "Exit code 0 when it is, 12 when not.\n";

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

// What parsing has seen beyond the options themselves.
struct parse_state {
    std::vector<std::string> words; // the command and its arguments
    bool deviceGiven = false;
    bool connectionGiven = false; // --user, --login-method, --timeout or --password-file
};

// An option and what it does: a flag, a value of seconds stored in
// `seconds`, or a value that apply checks and stores ("" when good, else
// the complaint).
struct option_rule {
    const char* name;
    bool cli_options::*flag;
    double cli_options::*seconds;
    std::string (*apply)(const std::string& value, cli_options* o, parse_state* p);
};

const option_rule optionRules[] = {
    { "--help", &cli_options::help, nullptr, nullptr },
    { "-h", &cli_options::help, nullptr, nullptr },
    { "--json", &cli_options::json, nullptr, nullptr },
    { "--no-verify", &cli_options::noVerify, nullptr, nullptr },
    { "--force", &cli_options::force, nullptr, nullptr },
    { "--dry-run", &cli_options::dryRun, nullptr, nullptr },
    { "--device", nullptr, nullptr,
      [](const std::string& v, cli_options* o, parse_state* p) -> std::string {
          if (!parseDevice(v, &o->host, &o->port))
              return "--device takes HOST[:PORT], not " + v;
          o->device = v;
          p->deviceGiven = true;
          return "";
      } },
    { "--user", nullptr, nullptr,
      [](const std::string& v, cli_options* o, parse_state* p) -> std::string {
          if (!plainText(v))
              return "--user: at most 254 printable characters";
          o->user = v;
          p->connectionGiven = true;
          return "";
      } },
    { "--login-method", nullptr, nullptr,
      [](const std::string& v, cli_options* o, parse_state* p) -> std::string {
          p->connectionGiven = true;
          return parseInt(v, 1, 2, &o->loginMethod) ? "" : "--login-method is 1 or 2";
      } },
    { "--timeout", nullptr, nullptr,
      [](const std::string& v, cli_options* o, parse_state* p) -> std::string {
          p->connectionGiven = true;
          return parseInt(v, 1, 3600, &o->timeout) ? "" : "--timeout takes whole seconds from 1";
      } },
    { "--password-file", nullptr, nullptr,
      [](const std::string& v, cli_options* o, parse_state* p) -> std::string {
          o->passwordFile = v;
          p->connectionGiven = true;
          return "";
      } },
    { "--settings", nullptr, nullptr,
      [](const std::string& v, cli_options* o, parse_state*) -> std::string {
          o->settings = v;
          return "";
      } },
    { "--devices", nullptr, nullptr,
      [](const std::string& v, cli_options* o, parse_state*) -> std::string {
          o->devicesFile = v;
          return "";
      } },
    { "--parallel", nullptr, nullptr,
      [](const std::string& v, cli_options* o, parse_state*) -> std::string {
          return parseInt(v, 1, 64, &o->parallel) ? "" : "--parallel takes 1 to 64";
      } },
    { "--retries", nullptr, nullptr,
      [](const std::string& v, cli_options* o, parse_state*) -> std::string {
          return parseInt(v, 0, 100, &o->retries) ? "" : "--retries takes 0 to 100";
      } },
    { "--retry-pause", nullptr, &cli_options::retryPause, nullptr },
    { "--reboot-wait", nullptr, &cli_options::rebootWait, nullptr },
    { "--install-wait", nullptr, &cli_options::installWait, nullptr },
    { "--upload-wait", nullptr, &cli_options::uploadWait, nullptr },
    { "--poll-interval", nullptr, &cli_options::pollInterval, nullptr },
    { "--trusted-key", nullptr, nullptr,
      [](const std::string& v, cli_options* o, parse_state*) -> std::string {
          if (v.empty())
              return "--trusted-key takes a key file";
          o->trustedKeys.push_back(v);
          return "";
      } },
    { "--signature", nullptr, nullptr,
      [](const std::string& v, cli_options* o, parse_state*) -> std::string {
          if (v.empty())
              return "--signature takes a signature file";
          o->signature = v;
          return "";
      } },
    { "--expect-version", nullptr, nullptr,
      [](const std::string& v, cli_options* o, parse_state*) -> std::string {
          if (v.empty() || !plainText(v))
              return "--expect-version takes a version, e.g. 2.2.0";
          o->expectVersion = v;
          return "";
      } },
};

const option_rule* findOption(const std::string& name)
{
    for (const option_rule& rule : optionRules)
        if (name == rule.name)
            return &rule;
    return nullptr;
}

// A command, the number of words it takes, and its --help text.
struct command_rule {
    const char* name;
    std::size_t low, high;
    const char* help;
};

const command_rule commandRules[] = {
    { "check", 0, 0,
      "usage: ormi check [OPTIONS]\nChecks the connection and login and shows the device type and package version.\n" },
    { "get", 2, 3,
      "usage: ormi get TYPE MODULE [KEY] [OPTIONS]\nPrints module MODULE of kind TYPE (e.g. configuration devicebase), or "
      "the value of KEY\n(a dotted path) in it.\n" },
    { "set", 4, 4,
      "usage: ormi set TYPE MODULE KEY VALUE [OPTIONS]\nReads the module, sets KEY to VALUE (a JSON value as it "
      "stands, e.g. '\"text\"' or 5) and\nwrites the module back. KEY \"\" sends VALUE as the whole module. VALUE "
      "@FILE reads FILE.\n" },
    { "io-get", 2, 2, ioHelp },
    { "io-set", 3, 3, ioHelp },
    { "update", 1, 1, updateHelp },
    { "verify", 1, 1, verifyHelp },
};

const command_rule* findCommand(const std::string& name)
{
    for (const command_rule& rule : commandRules)
        if (name == rule.name)
            return &rule;
    return nullptr;
}

// The options into o, everything else into p->words. Flags are taken only as
// they stand; a valued option as --name VALUE or --name=VALUE.
int readOptions(int argc, char** argv, cli_options* o, parse_state* p)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            for (++i; i < argc; ++i)
                p->words.push_back(argv[i]);
            break;
        }
        const option_rule* rule = findOption(arg);
        if (rule && rule->flag) {
            o->*(rule->flag) = true;
            continue;
        }
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            p->words.push_back(arg);
            continue;
        }
        std::string name = arg, value;
        std::size_t eq = arg.find('=');
        if (eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        rule = findOption(name);
        if (!rule || rule->flag)
            return bad("unknown option " + name);
        if (eq == std::string::npos) {
            if (i + 1 >= argc)
                return bad(name + " needs a value");
            value = argv[++i];
        }
        if (rule->seconds) {
            if (!parseNumber(value, 0, 86400, &(o->*(rule->seconds))))
                return bad(name + " takes seconds, not " + value);
            continue;
        }
        std::string complaint = rule->apply(value, o, p);
        if (!complaint.empty())
            return bad(complaint);
    }
    return ORMI_EXIT_OK;
}

// The command and its arguments from the words; "io get" and "io set" are
// the commands io-get and io-set. -1: help is asked for.
int takeCommand(std::vector<std::string> words, cli_options* o)
{
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
    const command_rule* rule = findCommand(command);
    if (!rule)
        return bad("unknown command " + command);
    if (words.size() < rule->low || words.size() > rule->high)
        return bad("wrong number of arguments for " + command);
    return ORMI_EXIT_OK;
}

// The options that go with one command only, or not with each other.
int checkCombinations(const cli_options* o, const parse_state& p)
{
    if ((!o->trustedKeys.empty() || !o->signature.empty()) && o->command != "update" && o->command != "verify")
        return bad("--trusted-key and --signature are for update and verify");
    if (o->command == "verify") {
        if (p.deviceGiven || p.connectionGiven || !o->settings.empty() || !o->devicesFile.empty() || o->dryRun ||
            o->force || !o->expectVersion.empty())
            return bad("verify asks no device: no device or update options with it");
        if (!signature_keysApply(*o))
            return bad("verify needs --trusted-key FILE (or trusted_keys.pem beside the program)");
        return ORMI_EXIT_OK;
    }
    if (!o->devicesFile.empty() && o->command != "update")
        return bad("--devices is for update");
    if ((!o->expectVersion.empty() || o->force || o->dryRun) && o->command != "update")
        return bad("--expect-version, --force and --dry-run are for update");
    if (!o->settings.empty() && (p.deviceGiven || p.connectionGiven || !o->devicesFile.empty()))
        return bad(
            "--settings is used as it is: no --device, --devices, --user, --login-method, --timeout or --password-file with it");
    if (o->settings.empty() && o->devicesFile.empty() && !p.deviceGiven)
        return bad("--device or --settings is needed");
    if (p.deviceGiven && !o->devicesFile.empty())
        return bad("--device or --devices, not both");
    return ORMI_EXIT_OK;
}

// ORMI_EXIT_OK, -1 when help is asked for, or the usage error (said).
int parse(int argc, char** argv, cli_options* o)
{
    parse_state p;
    int read = readOptions(argc, argv, o, &p);
    if (read != ORMI_EXIT_OK)
        return read;
    int taken = takeCommand(p.words, o);
    if (taken != ORMI_EXIT_OK)
        return taken;
    return checkCombinations(o, p);
}

void showHelp(const cli_options& o)
{
    const command_rule* rule = findCommand(o.command);
    if (rule && o.command == "verify") {
        std::fputs(rule->help, stdout);
        return;
    }
    if (rule) {
        usage(rule->help);
        return;
    }
    std::fputs(mainHelp, stdout);
    std::fputs(exit_helpText().c_str(), stdout);
    std::fputs(connectionHelp, stdout);
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
    if (outcome == DEVICE_UNREACHABLE && !device_cutReason().empty())
        return finish(r, ORMI_EXIT_UNREACHABLE, device_cutReason());
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
    int read = device_getValue("configuration", "devicebase", "package_version", &version);
    // A cut answer is no statement of the device's about its version.
    if (read == DEVICE_UNREACHABLE && !device_cutReason().empty())
        return finish(r, ORMI_EXIT_UNREACHABLE, device_cutReason());
    if (read != DEVICE_DONE)
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
        return connectionFailure(outcome, r);
    if (o.command == "io-get")
        *value = std::to_string(got);
    return finish(r, ORMI_EXIT_OK, o.command == "io-set" ? "set" : "");
}

// The package's signature, when trusted keys apply; the verdict goes into
// result, which the update's result then carries. Also for --no-verify.
int checkSignature(const cli_options& o, const std::vector<char>& package, cli_result* result)
{
    if (signature_check(o, o.args[0], package, result) == ORMI_EXIT_OK)
        return ORMI_EXIT_OK;
    std::fprintf(stderr, "ormi: %s: %s; nothing was sent.\n", o.args[0].c_str(), result->message.c_str());
    if (o.json && o.devicesFile.empty()) {
        result->package = baseName(o.args[0]);
        result->bytes = (long long)package.size();
        result->changed = 0;
        result->expectedVersion = o.expectVersion;
        result->dryRun = o.dryRun;
        std::printf("%s\n", report_json(o, "update", *result).c_str());
    }
    return ORMI_EXIT_SIGNATURE;
}

// The package, read and checked before anything else happens (a device of
// --devices again in its own process). One that fails its content check, or
// is not signed by a trusted key, ends the run here: nothing is sent.
int readPackage(const cli_options& o, std::vector<char>* package, cli_result* result)
{
    if (!readFile(o.args[0], package)) {
        std::fprintf(stderr, "ormi: cannot read the package %s\n", o.args[0].c_str());
        return ORMI_EXIT_USAGE;
    }
    if (o.noVerify)
        return checkSignature(o, *package, result);
    std::string name = baseName(o.args[0]);
    package_subject subject = { name.c_str(), (const unsigned char*)package->data(), package->size(), nullptr,
                                nullptr };
    package_verdict verdict;
    if (package_check(&subject, PACKAGE_CHECK_CONTENT, &verdict))
        return checkSignature(o, *package, result);
    std::fprintf(stderr,
                 "ormi: %s is not an intact bzip2 package (%s); nothing was sent. "
                 "Download it again, or use --no-verify to send it all the same.\n",
                 o.args[0].c_str(), verdict.detail);
    if (o.json && o.devicesFile.empty()) {
        finish(result, verdict.exitCode, verdict.message);
        result->package = name;
        result->bytes = (long long)package->size();
        result->changed = 0;
        result->expectedVersion = o.expectVersion;
        result->dryRun = o.dryRun;
        std::printf("%s\n", report_json(o, "update", *result).c_str());
    }
    return verdict.exitCode;
}

// set's VALUE, or the text of the file @FILE names.
int readSetValue(const cli_options& o, std::string* value)
{
    *value = o.args[3];
    if (value->empty() || (*value)[0] != '@')
        return ORMI_EXIT_OK;
    std::vector<char> data;
    if (!readFile(value->substr(1), &data)) {
        std::fprintf(stderr, "ormi: cannot read %s\n", value->substr(1).c_str());
        return ORMI_EXIT_USAGE;
    }
    value->assign(data.begin(), data.end());
    return ORMI_EXIT_OK;
}

// The settings text the library will read: the --settings file as it is (and
// from it where the device is, for telling network failures from refusals),
// or one made from the options and the password.
int readConnection(cli_options* o, std::string* settingsText, std::string* password)
{
    if (o->settings.empty()) {
        int got = obtainPassword(*o, password);
        if (got == ORMI_EXIT_OK)
            *settingsText = work_settingsText(*o, *password);
        return got;
    }
    std::vector<char> data;
    if (!readFile(o->settings, &data)) {
        std::fprintf(stderr, "ormi: cannot read the settings file %s\n", o->settings.c_str());
        return ORMI_EXIT_USAGE;
    }
    settingsText->assign(data.begin(), data.end());
    return readSettings(*settingsText, o, password);
}

// Several devices: a child process each, which takes the password from its
// environment, never from the command line.
int runDevices(const cli_options& o, const std::string& password)
{
#ifdef _WIN32
    SetEnvironmentVariableA("ORMI_PASSWORD", password.c_str());
    _putenv_s("ORMI_PASSWORD", password.c_str());
#else
    setenv("ORMI_PASSWORD", password.c_str(), 1);
#endif
    work_installSignalHandlers();
    cli_options absolute = o;
    for (std::string& key : absolute.trustedKeys)
        key = absolutePath(key);
    if (!absolute.signature.empty())
        absolute.signature = absolutePath(absolute.signature);
    return multi_run(absolute, absolutePath(o.args[0]));
}

// verify: the signature check alone, without a device.
int runVerify(const cli_options& o)
{
    std::vector<char> package;
    if (!readFile(o.args[0], &package)) {
        std::fprintf(stderr, "ormi: cannot read the package %s\n", o.args[0].c_str());
        return ORMI_EXIT_USAGE;
    }
    cli_result result;
    result.package = baseName(o.args[0]);
    result.bytes = (long long)package.size();
    if (signature_check(o, o.args[0], package, &result) == ORMI_EXIT_OK)
        finish(&result, ORMI_EXIT_OK, "signed by trusted key " + result.signatureKey);
    if (o.json)
        std::printf("%s\n", report_json(o, "verify", result).c_str());
    else if (result.code == ORMI_EXIT_OK)
        std::printf("%s: %s\n", o.args[0].c_str(), result.message.c_str());
    else
        std::fprintf(stderr, "ormi: %s: %s\n", o.args[0].c_str(), result.message.c_str());
    std::fflush(stdout);
    return result.code;
}

// The command on the device, in the working folder; the library's login is
// checked first, but for check and update, which tell more of a failed one.
void runCommand(const cli_options& o, const std::vector<char>& package, const std::string& setValue, cli_result* result,
                std::string* value)
{
    if (o.command == "check") {
        runCheck(o, result);
        return;
    }
    if (o.command == "update") {
        update_run(o, package, baseName(o.args[0]), result);
        return;
    }
    std::string why;
    int outcome = device_check(&why);
    if (outcome != DEVICE_DONE)
        finish(result, outcome == DEVICE_REFUSED ? ORMI_EXIT_LOGIN : ORMI_EXIT_UNREACHABLE, why);
    else if (o.command == "get")
        runGet(o, result, value);
    else if (o.command == "set")
        runSet(o, setValue, result);
    else
        runIo(o, result, value);
}

void printResult(const cli_options& o, const cli_result& result, std::string value)
{
    bool printsValue = result.code == ORMI_EXIT_OK && (o.command == "get" || o.command == "io-get");
    if (o.json) {
        cli_result shown = result;
        if (printsValue)
            shown.message = value;
        std::printf("%s\n", report_json(o, o.command.c_str(), shown).c_str());
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
}

} // namespace

int main(int argc, char** argv)
{
    term_prepareConsole();
    // --version stands for itself wherever it is given (not after "--").
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("ormi %s\n", ORMI_VERSION);
            return ORMI_EXIT_OK;
        }
    }
    cli_options o;
    int parsed = parse(argc, argv, &o);
    if (parsed == -1) {
        showHelp(o);
        return ORMI_EXIT_OK;
    }
    if (parsed != ORMI_EXIT_OK)
        return parsed;

    if (o.command == "verify")
        return runVerify(o);

    // Everything read from files is read before the working folder is entered.
    std::vector<char> package;
    std::string setValue, settingsText, password;
    cli_result result;
    int read = ORMI_EXIT_OK;
    if (o.command == "update")
        read = readPackage(o, &package, &result);
    else if (o.command == "set")
        read = readSetValue(o, &setValue);
    if (read == ORMI_EXIT_OK)
        read = readConnection(&o, &settingsText, &password);
    if (read != ORMI_EXIT_OK)
        return read;
    if (!o.devicesFile.empty())
        return runDevices(o, password);

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
    std::string value;
    double started = net_now();
    runCommand(o, package, setValue, &result, &value);
    result.seconds = net_now() - started;
    work_close();
    printResult(o, result, value);
    return result.code;
}
