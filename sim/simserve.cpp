// Serving one connection: reading a request within its limits and time-outs,
// logging it, routing it to a page or an override, and ending the connection
// the way the device's fault says.
#include "simserve.h"

#include "simcgi.h"
#include "simfault.h"
#include "simhttp.h"
#include "simlog.h"
#include "simstate.h"

#include <algorithm>
#include <vector>

namespace {

const std::size_t maxHeadBytes = 16384;
const long long maxBodyBytes = 12000000; // a 10 MB package and its multipart frame
const int idleTimeoutMs = 10000;         // a client that sends nothing more is dropped
const int extraBytesGraceMs = 30;        // wait for the two bytes our library sends beyond Content-Length

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

} // namespace

void simserve_connection(sim_server* server, simnet_handle client)
{
    simfault_kind fault;
    int outputDelay;
    {
        std::lock_guard<std::mutex> hold(server->lock);
        fault = server->fault;
        outputDelay = server->outputDelayMs;
        if (server->options.faultConnections > 0) {
            int n = server->faultsServed++ - server->options.faultSkip;
            if (n < 0 || n >= server->options.faultConnections)
                fault = simfault_none;
        }
    }
    if (fault == simfault_refuse) {
        simnet_close(client);
        return;
    }
    std::string raw;
    simhttp_request request;
    std::size_t bodyStart = 0;
    int refused = readRequest(server, client, &raw, &request, &bodyStart);
    if (refused < 0) {
        if (!raw.empty())
            simlog_add(server, raw);
        simnet_close(client);
        return;
    }
    simlog_add(server, raw);
    if (refused == 0)
        fault = simfault_forRequest(fault, request.query);
    if (fault == simfault_silent) {
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
                answerText = simfault_renderOverride(fault, o.second);
                overridden = true;
                break;
            }
    }
    if (!overridden) {
        sim_answer answer;
        if (refused) {
            answer = simcgi_plain(refused, std::string(simhttp_reason(refused)) + "\n");
        } else {
            long long length = request.contentLength < 0 ? 0 : request.contentLength;
            answer = simcgi_route(server, request, raw.substr(bodyStart, (std::size_t)length));
        }
        reboot = answer.reboot;
        delayMs = answer.delayMs;
        answerText = simfault_renderAnswer(fault, answer);
    }
    simstate_pause(server, delayMs + outputDelay);
    if (reboot) {
        // Go away before the answer arrives, so that no request slips in
        // between the answer and the reboot.
        server->rebootAcknowledged = false;
        server->rebootRequested = true;
        for (int i = 0; i < 200 && !server->rebootAcknowledged && !server->stopping; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    simfault_send(server, client, fault, answerText);
    if (simfault_resets(fault)) {
        simnet_reset(client);
        return;
    }
    if (fault == simfault_keepOpen) {
        holdOpen(server, client);
        simnet_close(client);
        return;
    }
    closeGently(server, client);
}
