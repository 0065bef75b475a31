// Request framing of the simulated device: finds the head's end, reads the
// request line and headers, splits forms and multipart bodies, and formats
// answers the way a small embedded web server does.
#include "simhttp.h"

#include <cctype>
#include <cstdlib>

std::size_t simhttp_bodyStart(const std::string& raw)
{
    for (std::size_t at = raw.find('\n'); at != std::string::npos; at = raw.find('\n', at + 1)) {
        if (at + 1 < raw.size() && raw[at + 1] == '\n')
            return at + 2;
        if (at + 2 < raw.size() && raw[at + 1] == '\r' && raw[at + 2] == '\n')
            return at + 3;
    }
    return std::string::npos;
}

static std::string trimmed(const std::string& text)
{
    std::size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t' || text[begin] == '\r'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r'))
        --end;
    return text.substr(begin, end - begin);
}

static std::string lowered(std::string text)
{
    for (char& c : text)
        c = (char)std::tolower((unsigned char)c);
    return text;
}

int simhttp_parseHead(const std::string& head, simhttp_request* request)
{
    std::size_t lineEnd = head.find('\n');
    std::string line = trimmed(head.substr(0, lineEnd));
    // Values in the query are not escaped and may hold blanks, so the target
    // is everything between the method and the last blank.
    std::size_t first = line.find(' ');
    std::size_t last = line.rfind(' ');
    if (first == std::string::npos || last == first)
        return 400;
    request->method = line.substr(0, first);
    request->target = line.substr(first + 1, last - first - 1);
    std::string version = line.substr(last + 1);
    if (version.compare(0, 5, "HTTP/") != 0 || request->target.empty() || request->target[0] != '/')
        return 400;
    for (char c : request->method)
        if (c < 'A' || c > 'Z')
            return 400;
    std::size_t question = request->target.find('?');
    request->path = request->target.substr(0, question);
    request->query = question == std::string::npos ? "" : request->target.substr(question + 1);
    while (lineEnd != std::string::npos && lineEnd + 1 < head.size()) {
        std::size_t next = head.find('\n', lineEnd + 1);
        std::string header =
            trimmed(head.substr(lineEnd + 1, next == std::string::npos ? std::string::npos : next - lineEnd - 1));
        lineEnd = next;
        if (header.empty())
            break;
        std::size_t colon = header.find(':');
        if (colon == std::string::npos)
            return 400;
        std::string name = lowered(trimmed(header.substr(0, colon)));
        std::string value = trimmed(header.substr(colon + 1));
        if (name == "content-length") {
            if (value.empty() || value.size() > 12)
                return 400;
            for (char c : value)
                if (c < '0' || c > '9')
                    return 400;
            request->contentLength = std::atoll(value.c_str());
        } else if (name == "content-type") {
            request->contentType = value;
        }
    }
    return 0;
}

std::vector<std::pair<std::string, std::string>> simhttp_fields(const std::string& text)
{
    std::vector<std::pair<std::string, std::string>> fields;
    std::size_t at = 0;
    while (at < text.size() && (text[at] == '\n' || text[at] == '\r'))
        ++at;
    while (at < text.size()) {
        std::size_t amp = text.find('&', at);
        std::size_t equals = text.find('=', at);
        std::string name, value;
        if (equals != std::string::npos && (amp == std::string::npos || equals < amp)) {
            name = text.substr(at, equals - at);
            if (name == "data") {
                value = text.substr(equals + 1);
                while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
                    value.pop_back();
                fields.emplace_back(name, value);
                break;
            }
            value = text.substr(equals + 1, amp == std::string::npos ? std::string::npos : amp - equals - 1);
        } else {
            name = text.substr(at, amp == std::string::npos ? std::string::npos : amp - at);
        }
        while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
            value.pop_back();
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r'))
            name.pop_back();
        fields.emplace_back(name, value);
        if (amp == std::string::npos)
            break;
        at = amp + 1;
    }
    return fields;
}

std::string simhttp_field(const std::vector<std::pair<std::string, std::string>>& fields, const std::string& name)
{
    for (const auto& field : fields)
        if (field.first == name)
            return field.second;
    return "";
}

static std::string dispositionParameter(const std::string& headers, const std::string& name, bool* found)
{
    std::string key = name + "=\"";
    std::size_t at = 0;
    while ((at = headers.find(key, at)) != std::string::npos) {
        // "name=" must not match inside "filename=".
        if (at == 0 || headers[at - 1] == ' ' || headers[at - 1] == ';') {
            std::size_t begin = at + key.size();
            std::size_t end = headers.find('"', begin);
            if (end == std::string::npos)
                break;
            *found = true;
            return headers.substr(begin, end - begin);
        }
        at += key.size();
    }
    *found = false;
    return "";
}

static bool onlyLineBreaks(const std::string& body, std::size_t from)
{
    for (; from < body.size(); ++from)
        if (body[from] != '\r' && body[from] != '\n')
            return false;
    return true;
}

// The separator that ends a part is the first one followed by the next part's
// header or by the end of the body; others are content (a package may hold
// separator-like lines).
static std::size_t partEnd(const std::string& body, const std::string& delimiter, const std::string& lineBreak,
                           std::size_t from)
{
    static const std::string nextHeader = "content-disposition:";
    for (std::size_t at = body.find(delimiter, from); at != std::string::npos; at = body.find(delimiter, at + 1)) {
        std::size_t rest = at + delimiter.size();
        if (onlyLineBreaks(body, rest))
            return at;
        if (body.compare(rest, 2, "--") == 0 && onlyLineBreaks(body, rest + 2))
            return at;
        if (body.compare(rest, lineBreak.size(), lineBreak) == 0 &&
            lowered(body.substr(rest + lineBreak.size(), nextHeader.size())) == nextHeader)
            return at;
    }
    return std::string::npos;
}

bool simhttp_parseMultipart(const std::string& body, std::vector<simhttp_part>* parts)
{
    parts->clear();
    std::size_t at = 0;
    while (at < body.size() && (body[at] == '\n' || body[at] == '\r'))
        ++at;
    std::size_t lineEnd = body.find('\n', at);
    if (lineEnd == std::string::npos)
        return false;
    bool crlf = lineEnd > at && body[lineEnd - 1] == '\r';
    std::string separator = body.substr(at, lineEnd - at - (crlf ? 1 : 0));
    if (separator.size() < 3 || separator.compare(0, 2, "--") != 0)
        return false;
    const std::string lineBreak = crlf ? "\r\n" : "\n";
    const std::string delimiter = lineBreak + separator;
    at = lineEnd + 1;
    while (at < body.size()) {
        if (body.compare(at, 2, "--") == 0)
            break; // closing delimiter of standard senders
        std::size_t headEnd = body.find(lineBreak + lineBreak, at);
        std::size_t contentStart;
        if (body.compare(at, lineBreak.size(), lineBreak) == 0) {
            headEnd = at;
            contentStart = at + lineBreak.size();
        } else {
            if (headEnd == std::string::npos)
                return false;
            contentStart = headEnd + 2 * lineBreak.size();
        }
        std::string headers = body.substr(at, headEnd - at);
        simhttp_part part;
        bool found = false;
        part.name = dispositionParameter(headers, "name", &found);
        part.fileName = dispositionParameter(headers, "filename", &part.hasFileName);
        std::size_t end = partEnd(body, delimiter, lineBreak, contentStart);
        if (end == std::string::npos || end < contentStart) {
            // A sender that stopped without any final separator: the rest is content.
            end = body.size();
            part.start = contentStart;
            part.length = end - contentStart;
            parts->push_back(part);
            break;
        }
        part.start = contentStart;
        part.length = end - contentStart;
        parts->push_back(part);
        at = end + delimiter.size();
        if (at < body.size() && body.compare(at, 2, "--") == 0)
            break;
        if (body.compare(at, lineBreak.size(), lineBreak) != 0)
            break;
        at += lineBreak.size();
    }
    return true;
}

const char* simhttp_reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 411:
        return "Length Required";
    case 413:
        return "Payload Too Large";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

std::string simhttp_answer(int status, const std::string& contentType, const std::string& body)
{
    std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + simhttp_reason(status) + "\r\n";
    answer += "Server: ormi-sim\r\n";
    answer += "Content-Type: " + contentType + "\r\n";
    answer += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    answer += "Connection: close\r\n\r\n";
    return answer + body;
}
