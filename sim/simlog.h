// The request log: every request's raw bytes, kept in memory for the tests
// and, with a log folder, written to one file each.
#pragma once
#include <string>

struct sim_server;

void simlog_add(sim_server* server, const std::string& raw); // takes server->lock
