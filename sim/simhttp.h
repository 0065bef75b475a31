// Request framing and form parsing of the simulated device's web server.
#pragma once
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

struct simhttp_request {
    std::string method;
    std::string target; // path and query as they stand
    std::string path;
    std::string query;
    long long contentLength = -1; // -1: no Content-Length header
    std::string contentType;
};

struct simhttp_part {
    std::string name;
    std::string fileName;
    bool hasFileName = false;
    std::size_t start = 0; // content offset in the body
    std::size_t length = 0;
};

// Offset of the first byte behind the head's blank line ("\n\n" or "\r\n\r\n"
// or a mix), or std::string::npos while it has not arrived.
std::size_t simhttp_bodyStart(const std::string& raw);
// Parses request line and headers; returns 0 or the HTTP status to refuse with.
int simhttp_parseHead(const std::string& head, simhttp_request* request);
// Form or query fields. Values arrive unescaped, so a "data" field swallows
// everything behind its "=" (it may hold "&" and "=") minus trailing line ends.
std::vector<std::pair<std::string, std::string>> simhttp_fields(const std::string& text);
std::string simhttp_field(const std::vector<std::pair<std::string, std::string>>& fields, const std::string& name);
// Splits a multipart body whose first non-empty line is the separator, with
// or without closing delimiter. False when the body is not multipart.
bool simhttp_parseMultipart(const std::string& body, std::vector<simhttp_part>* parts);
// A complete answer: status line, headers with CRLF ends, blank line, body.
std::string simhttp_answer(int status, const std::string& contentType, const std::string& body);
const char* simhttp_reason(int status);
