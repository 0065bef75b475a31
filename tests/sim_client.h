// Test helpers for the simulator tests: a raw loopback client and the exact
// request texts the control library sends.
#pragma once
#include "simmd5.h"
#include "simnet.h"
#include "sim_server.h"

#include <chrono>
#include <string>
#include <thread>

struct sim_reply {
    bool connected = false;
    bool closedByPeer = false; // orderly end or reset seen within the wait
    bool reset = false;        // the connection ended with an error
    std::string bytes;
    int pieces = 0; // receive calls that returned data
};

// Sends raw bytes on a fresh connection and collects everything until the
// simulator closes it or waitMs passes.
inline sim_reply sim_exchange(int port, const std::string& request, int waitMs = 3000)
{
    sim_reply reply;
    simnet_handle s = simnet_connect("127.0.0.1", port);
    if (s == simnet_invalid)
        return reply;
    reply.connected = true;
    if (!request.empty())
        simnet_sendAll(s, request.data(), request.size());
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    char buffer[4096];
    while (std::chrono::steady_clock::now() < until) {
        int ready = simnet_waitReadable(s, 20);
        if (ready < 0) {
            reply.reset = reply.closedByPeer = true;
            break;
        }
        if (ready == 0)
            continue;
        int n = simnet_recv(s, buffer, sizeof buffer);
        if (n < 0)
            reply.reset = true;
        if (n <= 0) {
            reply.closedByPeer = true;
            break;
        }
        reply.bytes.append(buffer, (std::size_t)n);
        ++reply.pieces;
    }
    simnet_close(s);
    return reply;
}

// A simulated device for one test, stopped at the end of its scope; send()
// is one raw exchange with it.
struct sim_testDevice {
    sim_server* server = nullptr;
    explicit sim_testDevice(const sim_options& options = sim_options())
    {
        server = sim_start(options);
    }
    ~sim_testDevice()
    {
        sim_stop(server);
    }
    sim_testDevice(const sim_testDevice&) = delete;
    sim_testDevice& operator=(const sim_testDevice&) = delete;
    std::string send(const std::string& request, int waitMs = 3000)
    {
        return sim_exchange(sim_port(server), request, waitMs).bytes;
    }
};

inline std::string sim_body(const std::string& answer)
{
    std::size_t blank = answer.find("\r\n\r\n");
    return blank == std::string::npos ? std::string() : answer.substr(blank + 4);
}

inline std::string sim_statusLine(const std::string& answer)
{
    return answer.substr(0, answer.find("\r\n"));
}

inline std::string sim_hash(const std::string& text)
{
    return simmd5_hex(text);
}

// The GET of the library: bare line feeds, header block closed by three.
inline std::string sim_getRequest(const std::string& user, const std::string& hash, const std::string& type,
                                  const std::string& module)
{
    return "GET /cgi-bin/getParamFromServer.cgi?username=" + user + "&password=" + hash + "&type=" + type +
           "&module=" + module + " HTTP/1.1\nHost: 127.0.0.1\n\n\n";
}

// The POST of the library: Content-Length counts the form text, and one line
// feed before and one after it come on top.
inline std::string sim_setRequest(const std::string& user, const std::string& hash, const std::string& type,
                                  const std::string& module, const std::string& data)
{
    std::string form =
        "username=" + user + "&password=" + hash + "&type=" + type + "&module=" + module + "&data=" + data + "\n";
    return "POST /cgi-bin/setParamToServer.cgi HTTP/1.1\nHost: 127.0.0.1\nContent-Length: " +
           std::to_string(form.size()) + "\n\n\n" + form + "\n";
}

inline const std::string& sim_separator()
{
    static const std::string separator = "-----------------------------17933678425893";
    return separator;
}

// The library's multipart upload, without closing delimiter.
inline std::string sim_uploadRequest(const std::string& hash, const std::string& fileName, const std::string& data)
{
    const std::string& sep = sim_separator();
    std::string head = sep + "\nContent-Disposition: form-data; name=\"username\"\n\nAdministrator\n" + sep +
                       "\nContent-Disposition: form-data; name=\"password\"\n\n" + hash + "\n" + sep +
                       "\nContent-Disposition: form-data; name=\"max_file_size\"\n\n10000000\n" + sep +
                       "\nContent-Disposition: form-data; name=\"text\"\n\nloading finished\n" + sep +
                       "\nContent-Disposition: form-data; name=\"package\"; filename=\"" + fileName +
                       "\"\nContent-Type: application/octet-stream\n\n";
    std::string body = head + data + "\n" + sep + "\n";
    return "POST /cgi-bin/setUpdateFileToServer.cgi HTTP/1.1\nHost: 127.0.0.1\nContent-Type:multipart/form-data\n"
           "Content-Length: " +
           std::to_string(body.size() + 1) + "\n\n\n" + body;
}

inline void sim_sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
