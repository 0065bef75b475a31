// The faults' names, and what each does to an answer's bytes and its sending.
#include "simfault.h"

#include "simcgi.h"
#include "simhttp.h"
#include "simstate.h"

#include <algorithm>

namespace {

const std::size_t hugeAnswerBytes = 6000;

struct fault_name {
    simfault_kind kind;
    const char* name;
};

const fault_name faultNames[] = {
    { simfault_silent, "silent" },
    { simfault_keepOpen, "keep-open" },
    { simfault_refuse, "refuse" },
    { simfault_reset, "reset" },
    { simfault_slow, "slow" },
    { simfault_huge, "huge" },
    { simfault_zeroByte, "zero-byte" },
    { simfault_noBlankLine, "no-blank-line" },
    { simfault_crlfJson, "crlf-json" },
    { simfault_keepVersion, "keep-version" },
    { simfault_resetMidAnswer, "reset-mid-answer" },
};

// Body faults change what is sent; Content-Length follows for our own answers.
void applyBodyFaults(simfault_kind fault, std::string& body, bool json)
{
    if (fault == simfault_crlfJson && json) {
        std::string converted;
        for (std::size_t i = 0; i < body.size(); ++i) {
            if (body[i] == '\n' && (i == 0 || body[i - 1] != '\r'))
                converted += '\r';
            converted += body[i];
        }
        body = converted;
    } else if (fault == simfault_zeroByte) {
        body.insert(body.size() / 2, 1, '\0');
    } else if (fault == simfault_huge) {
        body += "\n";
        static const char filler[] = "abcdefghijklmnopqrstuvwxyz0123456789\n";
        while (body.size() < hugeAnswerBytes)
            body += filler;
    }
}

} // namespace

simfault_kind simfault_fromName(const std::string& name)
{
    for (const fault_name& f : faultNames)
        if (name == f.name)
            return f.kind;
    return simfault_none;
}

bool simfault_known(const std::string& name)
{
    return simfault_fromName(name) != simfault_none;
}

std::string simfault_renderAnswer(simfault_kind fault, sim_answer answer)
{
    applyBodyFaults(fault, answer.body, answer.json);
    std::string raw = simhttp_answer(answer.status, answer.contentType, answer.body);
    if (fault == simfault_noBlankLine) {
        std::size_t blank = raw.find("\r\n\r\n");
        raw.erase(blank, 2);
    }
    return raw;
}

std::string simfault_renderOverride(simfault_kind fault, std::string raw)
{
    std::size_t bodyStart = simhttp_bodyStart(raw);
    std::size_t start = bodyStart == std::string::npos ? raw.size() : bodyStart;
    if (fault == simfault_noBlankLine && bodyStart != std::string::npos) {
        raw.erase(bodyStart - (raw[bodyStart - 2] == '\r' ? 2 : 1), raw[bodyStart - 2] == '\r' ? 2 : 1);
        return raw;
    }
    std::string body = raw.substr(start);
    applyBodyFaults(fault, body, true);
    return raw.substr(0, start) + body;
}

simfault_kind simfault_forRequest(simfault_kind fault, const std::string& query)
{
    // The device takes the login and cuts the answers that carry data.
    if (fault == simfault_resetMidAnswer) {
        std::string type = simhttp_field(simhttp_fields(query), "type");
        if (type == "login" || type == "single_id")
            return simfault_none;
    }
    return fault;
}

bool simfault_resets(simfault_kind fault)
{
    return fault == simfault_reset || fault == simfault_resetMidAnswer;
}

void simfault_send(sim_server* server, simnet_handle client, simfault_kind fault, const std::string& raw)
{
    if (fault == simfault_slow) {
        simnet_noDelay(client);
        for (std::size_t at = 0; at < raw.size() && !server->stopping; at += 32) {
            if (!simnet_sendAll(client, raw.data() + at, std::min<std::size_t>(32, raw.size() - at)))
                return;
            simstate_pause(server, 20);
        }
        return;
    }
    if (simfault_resets(fault)) {
        simnet_noDelay(client);
        simnet_sendAll(client, raw.data(), raw.size() / 2);
        simstate_pause(server, 50);
        return;
    }
    simnet_sendAll(client, raw.data(), raw.size());
}
