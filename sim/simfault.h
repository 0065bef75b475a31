// Misbehaviour on purpose: the faults a device can be told to show, by name
// (options, ormi-sim --fault, sim_setFault), and what each does to an answer
// and to the way it is sent.
#pragma once
#include "simnet.h"

#include <string>

struct sim_server;
struct sim_answer;

enum simfault_kind {
    simfault_none,
    simfault_silent,        // reads the request, never answers, keeps the connection open
    simfault_keepOpen,      // answers, then keeps the connection open
    simfault_refuse,        // closes the connection unread
    simfault_reset,         // sends half the answer, then resets
    simfault_slow,          // sends the answer 32 bytes at a time
    simfault_huge,          // pads the body beyond 6000 bytes
    simfault_zeroByte,      // a NUL byte in the middle of the body
    simfault_noBlankLine,   // no blank line between head and body
    simfault_crlfJson,      // JSON bodies with CRLF line ends
    simfault_keepVersion,   // an installation ends well, but the device comes back with its old version
    simfault_resetMidAnswer // answers the login (and the TAN) whole, every other answer half, then resets
};

// The fault of a name; simfault_none for "" and for a name that is none of them.
simfault_kind simfault_fromName(const std::string& name);
bool simfault_known(const std::string& name); // one of the names above (not "")

// The raw answer as the fault has it: our own answer, or an override's raw bytes.
std::string simfault_renderAnswer(simfault_kind fault, sim_answer answer);
std::string simfault_renderOverride(simfault_kind fault, std::string raw);
// The fault for one request: a fault that spares some requests is none for them.
simfault_kind simfault_forRequest(simfault_kind fault, const std::string& query);
// Whether the fault ends the connection with a reset after sending.
bool simfault_resets(simfault_kind fault);
// Sends the raw answer the way the fault has it.
void simfault_send(sim_server* server, simnet_handle client, simfault_kind fault, const std::string& raw);
