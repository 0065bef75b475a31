// The request log, in memory (sim_requests) and in the log folder as
// request-NNNNNN.http, numbered from 1 over the device's life.
#include "simlog.h"

#include "simstate.h"

#include <cstdio>

void simlog_add(sim_server* server, const std::string& raw)
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
