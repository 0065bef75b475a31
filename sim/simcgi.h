// The device's three pages: parameters read (GET), parameters written (POST)
// and package upload (multipart POST), each answering from the device model.
#pragma once
#include "simhttp.h"

#include <string>

struct sim_server;

struct sim_answer {
    int status = 200;
    std::string contentType = "text/plain";
    std::string body;
    bool json = false;
    bool reboot = false; // the device goes away once this is answered
    int delayMs = 0;
};

sim_answer simcgi_plain(int status, const std::string& body);
// The answer to a complete request whose body is body; takes server->lock.
sim_answer simcgi_route(sim_server* server, const simhttp_request& request, const std::string& body);
