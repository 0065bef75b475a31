// One connection of a device: read one request, answer it (or misbehave as
// the fault says), close; on the worker thread the accept thread started.
#pragma once
#include "simnet.h"

struct sim_server;

void simserve_connection(sim_server* server, simnet_handle client);
