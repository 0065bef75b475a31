// The simulated device: accepts one request per connection on its own
// threads, checks the login, keeps configuration, channels and uploads, runs
// the installation and reboot cycles, and can misbehave on purpose (faults).
// A group of devices shares one accept thread that waits on all their
// listening sockets at once, so that a few hundred devices in one process
// cost one thread and one socket each, plus a thread per open connection.
#include "sim_server.h"

#include "simhttp.h"
#include "simjson.h"
#include "simmd5.h"
#include "simnet.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>
#include <utility>

namespace {

typedef std::chrono::steady_clock sim_clock;

const std::size_t maxHeadBytes = 16384;
const long long maxBodyBytes = 12000000; // a 10 MB package and its multipart frame
const int idleTimeoutMs = 10000;         // a client that sends nothing more is dropped
const int extraBytesGraceMs = 30;        // wait for the two bytes our library sends beyond Content-Length
const std::size_t hugeAnswerBytes = 6000;
const std::size_t maxWorkers = 64; // connections served at once; more are told to come back

enum install_phase { installIdle, installRunning, installDone, installFailed };

struct sim_worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
};

} // namespace

struct sim_server {
    sim_options options;
    std::mutex lock; // guards everything below that is not atomic
    std::string fault;
    int faultsServed = 0; // connections so far, while the fault has a number of them
    int outputDelayMs = 0;
    std::map<std::string, std::string> configurations;
    std::vector<std::string> requests;
    std::size_t requestsLogged = 0;
    sim_upload lastUpload;
    sim_upload package; // the last upload with a valid password: what gets installed
    std::string lastTan;
    bool tanValid = false;
    std::map<std::string, std::string> io;
    std::vector<std::pair<std::string, std::string>> overrides;
    install_phase install = installIdle;
    int installPollsDone = 0;
    std::string installName;
    std::string installedVersion; // taken over at the next reboot; "" for none
    std::mt19937 random;

    std::atomic<std::size_t> connections{ 0 };
    std::atomic<bool> stopping{ false };
    std::atomic<bool> rebootRequested{ false };
    std::atomic<bool> rebootAcknowledged{ false };
    std::atomic<int> port{ 0 };
    // Touched by the accept thread only:
    simnet_handle listener = simnet_invalid;
    std::list<sim_worker> workers;
    bool rebooting = false;
    std::chrono::steady_clock::time_point listenAgainAt;
    sim_group* group = nullptr;
};

struct sim_group {
    std::vector<sim_server*> devices;
    std::atomic<bool> stopping{ false };
    std::thread acceptThread;
};

namespace {

struct sim_answer {
    int status = 200;
    std::string contentType = "text/plain";
    std::string body;
    bool json = false;
    bool reboot = false; // the device goes away once this is answered
    int delayMs = 0;
};

sim_answer plain(int status, const std::string& body)
{
    sim_answer answer;
    answer.status = status;
    answer.body = body;
    return answer;
}

sim_answer jsonAnswer(const std::string& body)
{
    sim_answer answer;
    answer.contentType = "application/json";
    answer.body = body;
    answer.json = true;
    return answer;
}

std::string deviceType(const std::string& version)
{
    std::size_t at = version.size();
    while (at > 0 && (version[at - 1] < '0' || version[at - 1] > '9'))
        --at;
    std::string suffix = version.substr(at);
    return suffix.empty() || suffix[0] == '-' ? "ORMI" : "ORMI-M";
}

std::string defaultConfiguration(const sim_options& options)
{
    std::string text = "{\n";
    text += "    \"device_name\": \"ORMI I/O station\",\n";
    text += "    \"device_type\": " + simjson_quote(deviceType(options.packageVersion)) + ",\n";
    text += "    \"package_version\": " + simjson_quote(options.packageVersion) + ",\n";
    text += "    \"serial_number\": \"0412-3387\",\n";
    text += "    \"location\": \"Hall 3, Miller's line, rack \\\"B\\\"\",\n";
    text += "    \"install_component\": \"none\",\n";
    text += "    \"reboot\": false,\n";
    text += "    \"temperature_offset\": -2.5,\n";
    text += "    \"utc_offset_minutes\": -60,\n";
    text += "    \"network\": {\n";
    text += "        \"dhcp\": false,\n";
    text += "        \"ip_address\": \"192.168.1.50\",\n";
    text += "        \"netmask\": \"255.255.255.0\"\n";
    text += "    },\n";
    text += "    \"channels\": [\"di1\", \"di2\", \"do1\", \"do3\", \"ai1\", \"ao2\"]\n";
    text += "}\n";
    return text;
}

bool isFault(const std::string& fault, const char* name)
{
    return fault == name;
}

void pause(sim_server* server, int ms)
{
    auto until = sim_clock::now() + std::chrono::milliseconds(ms);
    while (!server->stopping && sim_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// The hash a request must carry; under method 2 the TAN is used up by the check.
bool passwordAccepted(sim_server* server, const std::string& hash)
{
    const sim_options& o = server->options;
    if (o.loginMethod == 2) {
        if (!server->tanValid)
            return false;
        server->tanValid = false;
        std::string salted = o.password + server->lastTan + (o.tanLineFeed ? "\n" : "");
        return hash == simmd5_hex(salted);
    }
    return hash == simmd5_hex(o.password);
}

std::string newTan(sim_server* server)
{
    std::uniform_int_distribution<int> digits(100000, 999999);
    server->lastTan = std::to_string(digits(server->random));
    server->tanValid = true;
    return server->lastTan;
}

// Channel modules look like base/kindN/output or base/kindN/input.
bool channelModule(const std::string& module, std::string* kind, int* number, bool* output)
{
    std::size_t last = module.rfind('/');
    if (last == std::string::npos || last == 0)
        return false;
    std::string direction = module.substr(last + 1);
    std::size_t middle = module.rfind('/', last - 1);
    if (middle == std::string::npos || middle == 0)
        return false;
    std::string channel = module.substr(middle + 1, last - middle - 1);
    if (channel.size() < 3 || channel.size() > 4)
        return false;
    std::string k = channel.substr(0, 2);
    std::string n = channel.substr(2);
    for (char c : n)
        if (c < '0' || c > '9')
            return false;
    bool isOutput = k == "do" || k == "ao";
    bool isInput = k == "di" || k == "ai";
    if (!isOutput && !isInput)
        return false;
    if ((isOutput && direction != "output") || (isInput && direction != "input"))
        return false;
    *kind = k;
    *number = std::atoi(n.c_str());
    *output = isOutput;
    return *number >= 1;
}

std::string inputValue(const std::string& kind, int number)
{
    if (kind == "di")
        return number % 2 ? "1" : "0";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", 20.0 + 3.7 * number);
    return text;
}

bool wholeNumber(const std::string& text)
{
    std::size_t at = text[0] == '-' ? 1 : 0;
    if (at >= text.size() || text.size() > 11)
        return false;
    for (; at < text.size(); ++at)
        if (text[at] < '0' || text[at] > '9')
            return false;
    return true;
}

std::string valuesText(sim_server* server)
{
    std::string state, content;
    switch (server->install) {
    case installIdle:
        state = "idle";
        content = "ready";
        break;
    case installRunning:
        if (server->installPollsDone < server->options.installPolls) {
            ++server->installPollsDone;
            state = "run";
            content = "installing " + server->installName + ": step " + std::to_string(server->installPollsDone) +
                      " of " + std::to_string(server->options.installPolls);
            break;
        }
        server->install = installDone;
        server->installedVersion = sim_packageVersion(
            server->installName, simjson_memberText(server->configurations["devicebase"], "package_version"));
        // The device forgets the request once the installation is over.
        simjson_replaceMember(server->configurations["devicebase"], "install_component", "\"none\"");
        // fall through
    case installDone:
        state = "finished";
        content = "installation of " + server->installName + " finished";
        break;
    case installFailed:
        state = "error";
        content = "installation failed: no package uploaded";
        simjson_replaceMember(server->configurations["devicebase"], "install_component", "\"none\"");
        break;
    }
    return "{\n    \"state\": " + simjson_quote(state) + ",\n    \"content\": " + simjson_quote(content) + "\n}\n";
}

sim_answer handleGet(sim_server* server, const simhttp_request& request)
{
    auto fields = simhttp_fields(request.query);
    std::string user = simhttp_field(fields, "username");
    std::string hash = simhttp_field(fields, "password");
    std::string type = simhttp_field(fields, "type");
    std::string module = simhttp_field(fields, "module");
    const sim_options& o = server->options;
    std::lock_guard<std::mutex> hold(server->lock);
    if (type == "single_id" && module == "login") {
        if (o.loginMethod != 2)
            return plain(400, "no TAN under login method 1\n");
        if (user != o.user || hash != simmd5_hex(o.password))
            return plain(403, "login refused\n");
        return plain(200, newTan(server) + (o.tanLineFeed ? "\n" : ""));
    }
    bool accepted = user == o.user;
    accepted = passwordAccepted(server, hash) && accepted;
    if (type == "login" && module == "login")
        return accepted ? plain(200, "LOGIN OK\n") : plain(403, "login refused\n");
    if (!accepted)
        return plain(403, "access denied\n");
    if (type == "singlevalue") {
        std::string kind;
        int number;
        bool output;
        if (!channelModule(module, &kind, &number, &output))
            return plain(404, "unknown channel\n");
        if (!output)
            return plain(200, inputValue(kind, number));
        auto stored = server->io.find(module);
        return plain(200, stored == server->io.end() ? "0" : stored->second);
    }
    if (type == "configuration") {
        auto stored = server->configurations.find(module);
        if (stored == server->configurations.end())
            return plain(404, "unknown module\n");
        return jsonAnswer(stored->second);
    }
    if (type == "values" && module == "devicebase")
        return jsonAnswer(valuesText(server));
    return plain(404, "unknown module\n");
}

sim_answer handleSet(sim_server* server, const std::string& body)
{
    auto fields = simhttp_fields(body);
    std::string type = simhttp_field(fields, "type");
    std::string module = simhttp_field(fields, "module");
    std::string data = simhttp_field(fields, "data");
    const sim_options& o = server->options;
    std::lock_guard<std::mutex> hold(server->lock);
    bool accepted = simhttp_field(fields, "username") == o.user;
    accepted = passwordAccepted(server, simhttp_field(fields, "password")) && accepted;
    if (!accepted)
        return plain(403, "access denied\n");
    bool hasData = false;
    for (const auto& field : fields)
        hasData = hasData || field.first == "data";
    if (!hasData)
        return plain(400, "no data field\n");
    if (type == "singlevalue") {
        std::string kind;
        int number;
        bool output;
        if (!channelModule(module, &kind, &number, &output))
            return plain(404, "unknown channel\n");
        if (!output)
            return plain(403, "an input cannot be set\n");
        if (data.empty() || !wholeNumber(data))
            return plain(400, "not a whole number\n");
        server->io[module] = data;
        return plain(200, "OK\n");
    }
    if (type == "configuration") {
        if (module.empty() || module.find_first_of("/\\&= ") != std::string::npos)
            return plain(404, "unknown module\n");
        // A broken or empty text would wipe the device's settings: keep the old one.
        if (!simjson_isObject(data))
            return plain(400, "configuration is not a JSON object\n");
        server->configurations[module] = data;
        sim_answer answer = plain(200, "OK\n");
        if (module != "devicebase")
            return answer;
        if (simjson_memberText(data, "install_component") == "package" && server->install != installRunning) {
            if (server->package.fileName.empty()) {
                server->install = installFailed;
            } else {
                server->install = installRunning;
                server->installPollsDone = 0;
                server->installName = server->package.fileName;
            }
        }
        answer.reboot = simjson_memberText(data, "reboot") == "true";
        return answer;
    }
    if (type == "values")
        return plain(403, "values are read-only\n");
    return plain(404, "unknown module\n");
}

std::string safeFileName(const std::string& name)
{
    std::size_t slash = name.find_last_of("/\\:");
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    if (base.empty() || base == "." || base == "..")
        return "package.bin";
    for (char& c : base)
        if ((unsigned char)c < 0x20 || std::string("<>\"|?*").find(c) != std::string::npos)
            c = '_';
    return base;
}

sim_answer handleUpload(sim_server* server, const std::string& body)
{
    std::vector<simhttp_part> parts;
    if (!simhttp_parseMultipart(body, &parts))
        return plain(400, "not a multipart upload\n");
    const simhttp_part* package = nullptr;
    std::string hash;
    for (const auto& part : parts) {
        if (part.name == "package" && part.hasFileName)
            package = &part;
        if (part.name == "password")
            hash = body.substr(part.start, part.length);
    }
    if (!package)
        return plain(400, "no package in upload\n");
    sim_upload upload;
    upload.fileName = package->fileName.empty() ? "package.bin" : package->fileName;
    upload.data.assign(body, package->start, package->length);
    upload.size = upload.data.size();
    upload.md5 = simmd5_hex(upload.data);
    std::lock_guard<std::mutex> hold(server->lock);
    upload.passwordOk = passwordAccepted(server, hash);
    server->lastUpload = upload;
    sim_answer answer;
    answer.delayMs = server->options.answerDelayMs;
    if (!upload.passwordOk) {
        answer.status = 403;
        answer.body = "upload refused: access denied\n";
        return answer;
    }
    if (!server->options.storeDir.empty()) {
        std::string path = server->options.storeDir + "/" + safeFileName(upload.fileName);
        std::FILE* file = std::fopen(path.c_str(), "wb");
        bool written = file && std::fwrite(upload.data.data(), 1, upload.data.size(), file) == upload.data.size();
        if (file && std::fclose(file) != 0)
            written = false;
        if (!written) {
            answer.status = 503;
            answer.body = "upload could not be stored\n";
            return answer;
        }
    }
    server->package = upload;
    answer.body = "upload OK\nfile: " + upload.fileName + "\nsize: " + std::to_string(upload.size) +
                  "\nmd5: " + upload.md5 + "\n";
    return answer;
}

sim_answer route(sim_server* server, const simhttp_request& request, const std::string& body)
{
    if (request.path == "/cgi-bin/getParamFromServer.cgi") {
        if (request.method != "GET")
            return plain(405, "use GET\n");
        return handleGet(server, request);
    }
    if (request.path == "/cgi-bin/setParamToServer.cgi") {
        if (request.method != "POST")
            return plain(405, "use POST\n");
        return handleSet(server, body);
    }
    if (request.path == "/cgi-bin/setUpdateFileToServer.cgi") {
        if (request.method != "POST")
            return plain(405, "use POST\n");
        return handleUpload(server, body);
    }
    return plain(404, "no such page\n");
}

// Body faults change what is sent; Content-Length follows for our own answers.
void applyBodyFaults(const std::string& fault, std::string& body, bool json)
{
    if (isFault(fault, "crlf-json") && json) {
        std::string converted;
        for (std::size_t i = 0; i < body.size(); ++i) {
            if (body[i] == '\n' && (i == 0 || body[i - 1] != '\r'))
                converted += '\r';
            converted += body[i];
        }
        body = converted;
    } else if (isFault(fault, "zero-byte")) {
        body.insert(body.size() / 2, 1, '\0');
    } else if (isFault(fault, "huge")) {
        body += "\n";
        static const char filler[] = "abcdefghijklmnopqrstuvwxyz0123456789\n";
        while (body.size() < hugeAnswerBytes)
            body += filler;
    }
}

std::string renderAnswer(const std::string& fault, sim_answer answer)
{
    applyBodyFaults(fault, answer.body, answer.json);
    std::string raw = simhttp_answer(answer.status, answer.contentType, answer.body);
    if (isFault(fault, "no-blank-line")) {
        std::size_t blank = raw.find("\r\n\r\n");
        raw.erase(blank, 2);
    }
    return raw;
}

std::string renderOverride(const std::string& fault, std::string raw)
{
    std::size_t bodyStart = simhttp_bodyStart(raw);
    std::size_t start = bodyStart == std::string::npos ? raw.size() : bodyStart;
    if (isFault(fault, "no-blank-line") && bodyStart != std::string::npos) {
        raw.erase(bodyStart - (raw[bodyStart - 2] == '\r' ? 2 : 1), raw[bodyStart - 2] == '\r' ? 2 : 1);
        return raw;
    }
    std::string body = raw.substr(start);
    applyBodyFaults(fault, body, true);
    return raw.substr(0, start) + body;
}

void logRequest(sim_server* server, const std::string& raw)
{
    std::lock_guard<std::mutex> hold(server->lock);
    server->requests.push_back(raw);
    ++server->requestsLogged;
    if (server->options.logDir.empty())
        return;
    char name[32];
    std::snprintf(name, sizeof name, "request-%06zu.http", server->requestsLogged);
    std::string path = server->options.logDir + "/" + name;
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(raw.data(), 1, raw.size(), file);
        std::fclose(file);
    }
}

// Waits until the peer has closed or stop; keeps the connection quiet meanwhile.
void holdOpen(sim_server* server, simnet_handle client)
{
    char scratch[4096];
    while (!server->stopping) {
        int ready = simnet_waitReadable(client, 50);
        if (ready < 0)
            return;
        if (ready > 0 && simnet_recv(client, scratch, sizeof scratch) <= 0)
            return;
    }
}

// An orderly end: our FIN first, then wait briefly for the peer's, so that
// unread bytes on our side do not turn the close into a reset.
void closeGently(sim_server* server, simnet_handle client)
{
    simnet_shutdownSend(client);
    char scratch[4096];
    auto until = sim_clock::now() + std::chrono::milliseconds(2000);
    while (!server->stopping && sim_clock::now() < until) {
        int ready = simnet_waitReadable(client, 20);
        if (ready < 0)
            break;
        if (ready > 0 && simnet_recv(client, scratch, sizeof scratch) <= 0)
            break;
    }
    simnet_close(client);
}

void sendAnswer(sim_server* server, simnet_handle client, const std::string& fault, const std::string& raw)
{
    if (isFault(fault, "slow")) {
        simnet_noDelay(client);
        for (std::size_t at = 0; at < raw.size() && !server->stopping; at += 32) {
            if (!simnet_sendAll(client, raw.data() + at, std::min<std::size_t>(32, raw.size() - at)))
                return;
            pause(server, 20);
        }
        return;
    }
    if (isFault(fault, "reset")) {
        simnet_noDelay(client);
        simnet_sendAll(client, raw.data(), raw.size() / 2);
        pause(server, 50);
        return;
    }
    simnet_sendAll(client, raw.data(), raw.size());
}

// Reads one request: the head, then Content-Length bytes of body, then up to
// two stray bytes. Returns 0 or a status to refuse with; *raw holds every byte read.
int readRequest(sim_server* server, simnet_handle client, std::string* raw, simhttp_request* request,
                std::size_t* bodyStart)
{
    std::vector<char> chunk(65536);
    std::size_t wanted = std::string::npos; // total bytes of head and body once known
    // Stray line feeds the library sends beyond the request: one behind a
    // GET, two behind a parameter POST, none behind an upload.
    std::size_t stray = 2;
    bool graceStarted = false;
    auto graceUntil = sim_clock::now();
    auto idleUntil = sim_clock::now() + std::chrono::milliseconds(idleTimeoutMs);
    for (;;) {
        if (wanted == std::string::npos) {
            *bodyStart = simhttp_bodyStart(*raw);
            if (*bodyStart == std::string::npos) {
                if (raw->size() > maxHeadBytes)
                    return 431;
            } else {
                int refused = simhttp_parseHead(raw->substr(0, *bodyStart), request);
                if (refused)
                    return refused;
                if (request->method == "POST" && request->contentLength < 0)
                    return 411;
                if (request->contentLength > maxBodyBytes)
                    return 413;
                long long length = request->contentLength < 0 ? 0 : request->contentLength;
                wanted = *bodyStart + (std::size_t)length;
                if (request->contentLength < 0)
                    stray = 1;
                if (request->path == "/cgi-bin/setUpdateFileToServer.cgi")
                    stray = 0;
                // Only our library's bare-line-feed requests carry stray bytes;
                // a CRLF client (curl) would otherwise wait out the grace time.
                if (raw->substr(0, *bodyStart).find("\r\n") != std::string::npos)
                    stray = 0;
                raw->reserve(wanted + stray);
            }
        }
        if (wanted != std::string::npos && raw->size() >= wanted) {
            if (raw->size() >= wanted + stray)
                return 0;
            if (!graceStarted) {
                graceStarted = true;
                graceUntil = sim_clock::now() + std::chrono::milliseconds(extraBytesGraceMs);
            }
        }
        int waitMs = 50;
        if (graceStarted) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(graceUntil - sim_clock::now()).count();
            if (left <= 0)
                return 0;
            waitMs = (int)std::min<long long>(left, 50);
        }
        if (server->stopping)
            return -1;
        int ready = simnet_waitReadable(client, waitMs);
        if (ready < 0)
            return -1;
        if (ready == 0) {
            if (!graceStarted && sim_clock::now() > idleUntil)
                return 408;
            continue;
        }
        std::size_t room = chunk.size();
        if (graceStarted)
            room = wanted + stray - raw->size();
        int n = simnet_recv(client, chunk.data(), (int)room);
        if (n <= 0)
            return graceStarted ? 0 : 400; // the peer ended before its request was complete
        raw->append(chunk.data(), (std::size_t)n);
        idleUntil = sim_clock::now() + std::chrono::milliseconds(idleTimeoutMs);
    }
}

void serveConnection(sim_server* server, simnet_handle client)
{
    std::string fault;
    int outputDelay;
    {
        std::lock_guard<std::mutex> hold(server->lock);
        fault = server->fault;
        outputDelay = server->outputDelayMs;
        if (server->options.faultConnections > 0) {
            int n = server->faultsServed++ - server->options.faultSkip;
            if (n < 0 || n >= server->options.faultConnections)
                fault.clear();
        }
    }
    if (isFault(fault, "refuse")) {
        simnet_close(client);
        return;
    }
    std::string raw;
    simhttp_request request;
    std::size_t bodyStart = 0;
    int refused = readRequest(server, client, &raw, &request, &bodyStart);
    if (refused < 0) {
        if (!raw.empty())
            logRequest(server, raw);
        simnet_close(client);
        return;
    }
    logRequest(server, raw);
    if (isFault(fault, "silent")) {
        holdOpen(server, client);
        simnet_close(client);
        return;
    }
    std::string answerText;
    bool reboot = false;
    int delayMs = 0;
    bool overridden = false;
    {
        std::lock_guard<std::mutex> hold(server->lock);
        for (const auto& o : server->overrides)
            if (raw.find(o.first) != std::string::npos) {
                answerText = renderOverride(fault, o.second);
                overridden = true;
                break;
            }
    }
    if (!overridden) {
        sim_answer answer;
        if (refused) {
            answer = plain(refused, std::string(simhttp_reason(refused)) + "\n");
        } else {
            long long length = request.contentLength < 0 ? 0 : request.contentLength;
            answer = route(server, request, raw.substr(bodyStart, (std::size_t)length));
        }
        reboot = answer.reboot;
        delayMs = answer.delayMs;
        answerText = renderAnswer(fault, answer);
    }
    pause(server, delayMs + outputDelay);
    if (reboot) {
        // Go away before the answer arrives, so that no request slips in
        // between the answer and the reboot.
        server->rebootAcknowledged = false;
        server->rebootRequested = true;
        for (int i = 0; i < 200 && !server->rebootAcknowledged && !server->stopping; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    sendAnswer(server, client, fault, answerText);
    if (isFault(fault, "reset")) {
        simnet_reset(client);
        return;
    }
    if (isFault(fault, "keep-open")) {
        holdOpen(server, client);
        simnet_close(client);
        return;
    }
    closeGently(server, client);
}

// Joins a worker that has finished serving. mingw's thread layer under Wine
// now and then no longer finds such a thread ("No such process"); it has
// returned all the same, so its std::thread is let go (a few bytes) rather
// than ending the whole process.
void joinWorker(sim_worker& worker)
{
    while (!*worker.done)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    try {
        worker.thread.join();
    } catch (const std::system_error&) {
        new std::thread(std::move(worker.thread));
    }
}

void reapWorkers(sim_server* server, bool all)
{
    for (auto it = server->workers.begin(); it != server->workers.end();) {
        if (all || *it->done) {
            joinWorker(*it);
            it = server->workers.erase(it);
        } else {
            ++it;
        }
    }
}

// Closes the listener when a reboot was asked for, opens it again once the
// reboot time is over, and then brings the device up as it restarts.
void runReboot(sim_server* server)
{
    if (server->rebootRequested) {
        server->rebootRequested = false;
        simnet_close(server->listener);
        server->listener = simnet_invalid;
        server->rebooting = true;
        server->listenAgainAt = sim_clock::now() + std::chrono::seconds(server->options.rebootSeconds);
        server->rebootAcknowledged = true;
    }
    if (!server->rebooting || sim_clock::now() < server->listenAgainAt)
        return;
    int bound = 0;
    server->listener = simnet_listen(server->options.bindAddress, server->port, &bound);
    if (server->listener == simnet_invalid) {
        server->listenAgainAt = sim_clock::now() + std::chrono::milliseconds(100);
        return;
    }
    server->rebooting = false;
    std::lock_guard<std::mutex> hold(server->lock);
    simjson_replaceMember(server->configurations["devicebase"], "reboot", "false");
    // A failed image leaves the device on its old one: keep-version.
    if (!server->installedVersion.empty() && !isFault(server->fault, "keep-version"))
        simjson_replaceMember(server->configurations["devicebase"], "package_version",
                              simjson_quote(server->installedVersion));
    server->installedVersion.clear();
    server->install = installIdle;
    server->tanValid = false;
}

void acceptOne(sim_server* server)
{
    simnet_handle client = simnet_invalid;
    if (simnet_accept(server->listener, 0, &client) <= 0)
        return;
    ++server->connections;
    if (server->workers.size() >= maxWorkers) {
        std::string busy = simhttp_answer(503, "text/plain", "busy\n");
        simnet_sendAll(client, busy.data(), busy.size());
        simnet_close(client);
        return;
    }
    sim_worker worker;
    worker.done = std::make_shared<std::atomic<bool>>(false);
    auto done = worker.done;
    worker.thread = std::thread([server, client, done] {
        serveConnection(server, client);
        *done = true;
    });
    server->workers.push_back(std::move(worker));
}

void acceptLoop(sim_group* group)
{
    std::vector<simnet_handle> listening;
    std::vector<sim_server*> owners;
    std::vector<unsigned char> ready;
    while (!group->stopping) {
        listening.clear();
        owners.clear();
        for (sim_server* server : group->devices) {
            runReboot(server);
            reapWorkers(server, false);
            if (server->listener == simnet_invalid)
                continue;
            listening.push_back(server->listener);
            owners.push_back(server);
        }
        // A short wait, so that a reboot request is taken up at once.
        ready.assign(listening.size(), 0);
        if (simnet_waitAny(listening.data(), listening.size(), 20, ready.data()) <= 0)
            continue;
        for (std::size_t i = 0; i < owners.size(); ++i)
            if (ready[i])
                acceptOne(owners[i]);
    }
    for (sim_server* server : group->devices) {
        reapWorkers(server, true);
        simnet_close(server->listener);
        server->listener = simnet_invalid;
    }
}

} // namespace

std::string sim_packageVersion(const std::string& fileName, const std::string& currentVersion)
{
    static const char extension[] = ".bz2";
    std::size_t n = fileName.size();
    if (n < 4)
        return "";
    for (std::size_t i = 0; i < 4; ++i) {
        char c = fileName[n - 4 + i];
        if ((c >= 'A' && c <= 'Z' ? (char)(c + 32) : c) != extension[i])
            return "";
    }
    std::string stem = fileName.substr(0, n - 4);
    std::size_t at = currentVersion.size();
    while (at > 0 && (currentVersion[at - 1] < '0' || currentVersion[at - 1] > '9'))
        --at;
    std::string suffix = currentVersion.substr(at);
    bool suffixed = !suffix.empty() && stem.size() > suffix.size() &&
                    stem.compare(stem.size() - suffix.size(), suffix.size(), suffix) == 0;
    if (suffixed)
        stem.erase(stem.size() - suffix.size());
    std::size_t end = stem.size();
    std::size_t start = end;
    while (start > 0 && ((stem[start - 1] >= '0' && stem[start - 1] <= '9') || stem[start - 1] == '.'))
        --start;
    while (start < end && stem[start] == '.')
        ++start;
    while (end > start && stem[end - 1] == '.')
        --end;
    if (start == end)
        return "";
    return stem.substr(start, end - start) + (suffixed ? suffix : "");
}

namespace {

sim_server* newDevice(const sim_options& options)
{
    if (options.loginMethod != 1 && options.loginMethod != 2)
        return nullptr;
    for (const std::string* dir : { &options.logDir, &options.storeDir }) {
        std::error_code error;
        if (!dir->empty() && !std::filesystem::is_directory(*dir, error) &&
            !std::filesystem::create_directories(*dir, error))
            return nullptr;
    }
    sim_server* server = new sim_server;
    server->options = options;
    if (server->options.installPolls < 0)
        server->options.installPolls = 0;
    if (server->options.rebootSeconds < 0)
        server->options.rebootSeconds = 0;
    server->fault = options.fault;
    server->configurations["devicebase"] = defaultConfiguration(options);
    server->random.seed(std::random_device{}());
    int bound = 0;
    server->listener = simnet_listen(options.bindAddress, options.port, &bound);
    if (server->listener == simnet_invalid) {
        delete server;
        return nullptr;
    }
    server->port = bound;
    return server;
}

void freeGroup(sim_group* group)
{
    for (sim_server* server : group->devices) {
        simnet_close(server->listener);
        delete server;
    }
    delete group;
    simnet_cleanup();
}

} // namespace

sim_group* sim_startGroup(const std::vector<sim_options>& devices, std::size_t* failed)
{
    if (failed)
        *failed = 0;
    if (devices.empty() || !simnet_startup())
        return nullptr;
    sim_group* group = new sim_group;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        sim_server* server = newDevice(devices[i]);
        if (!server) {
            if (failed)
                *failed = i;
            freeGroup(group);
            return nullptr;
        }
        server->group = group;
        group->devices.push_back(server);
    }
    group->acceptThread = std::thread(acceptLoop, group);
    return group;
}

std::size_t sim_groupSize(const sim_group* group)
{
    return group ? group->devices.size() : 0;
}

sim_server* sim_groupDevice(sim_group* group, std::size_t index)
{
    return group && index < group->devices.size() ? group->devices[index] : nullptr;
}

void sim_stopGroup(sim_group* group)
{
    if (!group)
        return;
    group->stopping = true;
    for (sim_server* server : group->devices)
        server->stopping = true;
    group->acceptThread.join();
    freeGroup(group);
}

sim_server* sim_start(const sim_options& options)
{
    sim_group* group = sim_startGroup({ options }, nullptr);
    return group ? group->devices[0] : nullptr;
}

int sim_port(const sim_server* server)
{
    return server ? server->port.load() : 0;
}

void sim_stop(sim_server* server)
{
    if (server)
        sim_stopGroup(server->group);
}

void sim_setFault(sim_server* server, const std::string& fault)
{
    std::lock_guard<std::mutex> hold(server->lock);
    server->fault = fault;
}

std::string sim_configuration(sim_server* server)
{
    std::lock_guard<std::mutex> hold(server->lock);
    return server->configurations["devicebase"];
}

std::vector<std::string> sim_requests(sim_server* server)
{
    std::lock_guard<std::mutex> hold(server->lock);
    return server->requests;
}

void sim_clearRequests(sim_server* server)
{
    std::lock_guard<std::mutex> hold(server->lock);
    server->requests.clear();
}

std::size_t sim_connectionCount(sim_server* server)
{
    return server->connections;
}

sim_upload sim_lastUpload(sim_server* server)
{
    std::lock_guard<std::mutex> hold(server->lock);
    return server->lastUpload;
}

std::string sim_lastTan(sim_server* server)
{
    std::lock_guard<std::mutex> hold(server->lock);
    return server->lastTan;
}

std::string sim_ioValue(sim_server* server, const std::string& module)
{
    std::lock_guard<std::mutex> hold(server->lock);
    auto stored = server->io.find(module);
    return stored == server->io.end() ? "" : stored->second;
}

void sim_setOverride(sim_server* server, const std::string& match, const std::string& rawAnswer)
{
    std::lock_guard<std::mutex> hold(server->lock);
    auto& list = server->overrides;
    auto found = std::find_if(list.begin(), list.end(),
                              [&](const std::pair<std::string, std::string>& o) { return o.first == match; });
    if (rawAnswer.empty()) {
        if (found != list.end())
            list.erase(found);
    } else if (found != list.end()) {
        found->second = rawAnswer; // keeps its place in the order of precedence
    } else {
        list.emplace_back(match, rawAnswer);
    }
}

void sim_setOutputDelay(sim_server* server, int ms)
{
    std::lock_guard<std::mutex> hold(server->lock);
    server->outputDelayMs = ms < 0 ? 0 : ms;
}
