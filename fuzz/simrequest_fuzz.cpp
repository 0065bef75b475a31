// Fuzz target over the simulated device's request parser: the input is what
// a client sends. The head's end, the request line and headers, the form
// fields and a multipart body are taken apart; every offset must lie within
// the text and every refusal must be an HTTP error status.
// fuzz-sources: sim/simhttp.cpp
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "simhttp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 65536)
        return 0;
    const std::string raw(reinterpret_cast<const char*>(data), size);
    size_t bodyStart = simhttp_bodyStart(raw);
    if (bodyStart != std::string::npos && (bodyStart > raw.size() || bodyStart < 2 || raw[bodyStart - 1] != '\n'))
        abort();
    const std::string head = bodyStart == std::string::npos ? raw : raw.substr(0, bodyStart);
    const std::string body = bodyStart == std::string::npos ? "" : raw.substr(bodyStart);

    simhttp_request request;
    int refused = simhttp_parseHead(head, &request);
    if (refused != 0 && (refused < 400 || refused > 599))
        abort();
    if (!refused) {
        if (request.target.empty() || request.target[0] != '/' || request.contentLength < -1)
            abort();
        if (request.path.size() > request.target.size() || request.query.size() > request.target.size())
            abort();
        for (const auto& field : simhttp_fields(request.query))
            if (field.first.size() > request.query.size() || field.second.size() > request.query.size())
                abort();
    }
    // The body is parsed both as a form and as multipart, as either route may.
    std::string value = simhttp_field(simhttp_fields(body), "data");
    if (value.size() > body.size())
        abort();
    std::vector<simhttp_part> parts;
    simhttp_parseMultipart(body, &parts);
    for (const simhttp_part& part : parts)
        if (part.start > body.size() || part.length > body.size() - part.start)
            abort();
    return 0;
}
