// ormi: shared declarations of the command-line program (options, exit
// codes, and the families of the other cli/ files).
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// Exit codes: scripts tell the outcome by these alone. Their names and texts
// are in exit.cpp's table.
enum {
    ORMI_EXIT_OK = 0,
    ORMI_EXIT_FAILED = 1,
    ORMI_EXIT_USAGE = 2,
    ORMI_EXIT_UNREACHABLE = 3,
    ORMI_EXIT_LOGIN = 4,
    ORMI_EXIT_NOFIT = 5,
    ORMI_EXIT_UPLOAD = 6,
    ORMI_EXIT_INSTALL = 7,
    ORMI_EXIT_REBOOT = 8,
    ORMI_EXIT_CORRUPT = 9,
    ORMI_EXIT_SOME_FAILED = 10,
    ORMI_EXIT_VERSION = 11,
    ORMI_EXIT_SIGNATURE = 12,
};

// --- exit.cpp: the exit codes' table ---
struct exit_code {
    int number;
    const char* name; // the "result" of --json
    const char* text; // the short meaning --help gives
};
const exit_code* exit_table(std::size_t* count); // in order of number
const char* exit_name(int code);                 // "failed" for a number not in the table
std::string exit_helpText();                     // the "Exit codes:" lines of --help

struct cli_options {
    std::string command;           // check, get, set, io-get, io-set, update
    std::vector<std::string> args; // the command's positional words
    std::string device;            // HOST[:PORT] as given
    std::string host;
    int port = 80;
    std::string user = "admin";
    int loginMethod = 1;
    int timeout = 2;
    std::string passwordFile;
    std::string settings;
    std::string devicesFile;
    int parallel = 4;
    int retries = 2;
    double retryPause = 2.0;
    double rebootWait = 180.0;
    double installWait = 900.0;
    double uploadWait = 600.0;
    double pollInterval = 1.5;
    bool json = false;
    bool noVerify = false;
    std::vector<std::string> trustedKeys; // update, verify: key files besides trusted_keys.pem
    std::string signature;                // update, verify: the signature file (default PACKAGE.sig)
    std::string expectVersion;            // update: the version the device must report afterwards
    bool force = false;                   // update: even when the device already reports expectVersion
    bool dryRun = false;                  // update: everything up to the first write, nothing written
    bool help = false;
};

// The outcome of one command on one device, for the terminal and --json.
struct cli_result {
    int code = ORMI_EXIT_OK;
    std::string message;
    std::string package;
    long long bytes = -1;
    std::string versionBefore;
    std::string versionAfter;
    std::string expectedVersion;
    int changed = -1;        // update: 1 when anything was written to the device; -1 not told
    int versionChanged = -1; // update: after a completed update, 1 when after != before
    bool dryRun = false;
    std::string signature;    // "valid" or why not; empty when no key applies
    std::string signatureKey; // with "valid": the fingerprint of the key that made it
    double seconds = 0;
};
// Records code and message in result and gives back code (report.cpp).
int finish(cli_result* result, int code, const std::string& message);

// --- work.cpp: the private working folder and its settings file ---
// Creates the folder, enters it and writes ormi_control.ini there (a copy of
// settingsText). Returns 0 with a message on failure.
int work_open(const std::string& settingsText, std::string* error);
// Empties the password in the settings file, leaves and removes the folder.
void work_close();
void work_installSignalHandlers();
std::string work_settingsText(const cli_options& options, const std::string& password);
// settingsText with the value of every password line emptied, by the library's
// reading rules: what the file holds once the program ends.
std::string work_withoutPassword(const std::string& settingsText);

// --- bind.cpp: the control library, loaded at run time ---
int bind_load(std::string* error);
int bind_checkConnection();
const char* bind_getValue(const char* type, const char* module, const char* key);
int bind_setValue(const char* type, const char* module, const char* key, const char* value);
int bind_getIO(const char* base, char* channel);
int bind_setIO(const char* base, char* channel, int value);
int bind_sendUpdateFile(const char* type, const char* fileName, const char* data, int length);
int bind_sendUpdateFileResp();

// --- net.cpp: telling a device that answers from one that cannot be reached ---
enum { NET_ANSWERS = 1, NET_UNREACHABLE = 0 };
int net_probe(const std::string& host, int port, int timeoutSeconds);
// Sends request and collects the answer until the device closes the
// connection; 1 with a complete answer that starts "HTTP/", else 0 and "".
int net_ask(const std::string& host, int port, int timeoutSeconds, const std::string& request, std::string* answer);
// After net_ask: the bytes that had come when the connection was reset
// (the answer was cut), or -1.
int net_lastCut();
void net_sleep(double seconds);
double net_now(); // monotonic seconds

// --- term.cpp: terminal ---
bool term_isTerminal(int fd); // 1 stdout, 2 stderr, 0 stdin
int term_readPassword(const char* prompt, std::string* password);
void term_prepareConsole();
void term_restoreConsole();
std::string term_executablePath();

// --- progress.cpp: one live line on a terminal, nothing elsewhere ---
void progress_begin(const std::string& text, long long bytes);
void progress_text(const std::string& text);
void progress_end();
void progress_print(std::FILE* to, const std::string& line);

// --- report.cpp: texts for people and for scripts ---
void report_info(const cli_options& options, const std::string& text);
std::string report_json(const cli_options& options, const char* command, const cli_result& result);
std::string report_jsonString(const std::string& text);
std::string report_size(long long bytes);

// --- device.cpp: library calls with retries of network failures ---
// Outcome of one guarded call: done, refused by the device, or unreachable.
enum { DEVICE_DONE = 0, DEVICE_REFUSED = 1, DEVICE_UNREACHABLE = 2 };
// password, options.user and options.loginMethod: the login the library makes
// (as it reads them from the settings file), asked again after a failed call.
void device_setup(const cli_options& options, const std::string& password, const std::string& host, int port,
                  int timeout);
int device_check(std::string* why);
int device_getValue(const char* type, const char* module, const char* key, std::string* out);
int device_setValue(const char* type, const char* module, const char* key, const char* value);
int device_getIO(const char* base, const char* channel, int* value);
int device_setIO(const char* base, const char* channel, int value);
const std::string& device_label();
// After an unreachable outcome: why, when the device's answer was cut by a
// reset ("" otherwise).
std::string device_cutReason();

// --- edit.cpp ---
// Sets the first member named key (at any depth) to value, a JSON value as
// it stands. 0 when there is no such member with a plain value.
int edit_setMember(std::string* text, const std::string& key, const std::string& value);
// The text value of key (a dotted path) as json_getValue reads it; "" for
// none or for a number.
std::string edit_member(const std::string& text, const char* key);

// --- update.cpp ---
int update_run(const cli_options& options, const std::vector<char>& package, const std::string& packageName,
               cli_result* result);

// --- signature.cpp: packages signed by a trusted key ---
// trusted_keys.pem beside the program.
std::string signature_policyFile();
// 1 when any key applies (given, or the policy file is there).
int signature_keysApply(const cli_options& options);
// ORMI_EXIT_OK when no key applies or the package is signed by one of the
// keys (result->signature "valid"), else ORMI_EXIT_SIGNATURE with the reason
// in result.
int signature_check(const cli_options& options, const std::string& packagePath, const std::vector<char>& package,
                    cli_result* result);

// --- multi.cpp: several devices, one child process each ---
int multi_run(const cli_options& options, const std::string& package);

// --- devices.cpp: the list of --devices ---
// One HOST[:PORT] a line, "#" starts a comment, blank lines and blanks around
// a name are ignored, a leading UTF-8 byte order mark too. 0 with *error
// (naming path) for a line that holds more than one word or a control
// character, or for a list that names no device.
int devices_parse(const std::string& text, const std::string& path, std::vector<std::string>* devices,
                  std::string* error);
int devices_readFile(const std::string& path, std::vector<std::string>* devices, std::string* error);

// --- proc.cpp: child processes with their output in a pipe ---
struct proc_child;
proc_child* proc_start(const std::string& program, const std::vector<std::string>& args);
int proc_readLine(proc_child* child, std::string* line); // 1 a line, 0 end of output
int proc_wait(proc_child* child);                        // exit code; frees child
void proc_terminateAll();
