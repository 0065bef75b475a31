// The pages of the device: which request reaches which handler, and what each
// handler checks and changes in the device model before it answers.
#include "simcgi.h"

#include "simdevice.h"
#include "simjson.h"
#include "simmd5.h"
#include "simstate.h"

#include <cstdio>

sim_answer simcgi_plain(int status, const std::string& body)
{
    sim_answer answer;
    answer.status = status;
    answer.body = body;
    return answer;
}

namespace {

sim_answer jsonAnswer(const std::string& body)
{
    sim_answer answer;
    answer.contentType = "application/json";
    answer.body = body;
    answer.json = true;
    return answer;
}

sim_answer handleGet(sim_server* server, const simhttp_request& request)
{
    auto fields = simhttp_fields(request.query);
    std::string user = simhttp_field(fields, "username");
    std::string hash = simhttp_field(fields, "password");
    std::string type = simhttp_field(fields, "type");
    std::string module = simhttp_field(fields, "module");
    const sim_options& o = server->options;
    std::lock_guard<std::mutex> hold(server->lock);
    if (type == "single_id" && module == "login") {
        if (o.loginMethod != 2)
            return simcgi_plain(400, "no TAN under login method 1\n");
        if (user != o.user || hash != simmd5_hex(o.password))
            return simcgi_plain(403, "login refused\n");
        return simcgi_plain(200, simdevice_newTan(server) + (o.tanLineFeed ? "\n" : ""));
    }
    bool accepted = user == o.user;
    accepted = simdevice_passwordAccepted(server, hash) && accepted;
    if (type == "login" && module == "login")
        return accepted ? simcgi_plain(200, "LOGIN OK\n") : simcgi_plain(403, "login refused\n");
    if (!accepted)
        return simcgi_plain(403, "access denied\n");
    if (type == "singlevalue") {
        std::string kind;
        int number;
        bool output;
        if (!simdevice_channel(module, &kind, &number, &output))
            return simcgi_plain(404, "unknown channel\n");
        if (!output)
            return simcgi_plain(200, simdevice_inputValue(kind, number));
        auto stored = server->io.find(module);
        return simcgi_plain(200, stored == server->io.end() ? "0" : stored->second);
    }
    if (type == "configuration") {
        auto stored = server->configurations.find(module);
        if (stored == server->configurations.end())
            return simcgi_plain(404, "unknown module\n");
        return jsonAnswer(stored->second);
    }
    if (type == "values" && module == "devicebase")
        return jsonAnswer(simdevice_valuesText(server));
    return simcgi_plain(404, "unknown module\n");
}

sim_answer handleSet(sim_server* server, const std::string& body)
{
    auto fields = simhttp_fields(body);
    std::string type = simhttp_field(fields, "type");
    std::string module = simhttp_field(fields, "module");
    std::string data = simhttp_field(fields, "data");
    const sim_options& o = server->options;
    std::lock_guard<std::mutex> hold(server->lock);
    bool accepted = simhttp_field(fields, "username") == o.user;
    accepted = simdevice_passwordAccepted(server, simhttp_field(fields, "password")) && accepted;
    if (!accepted)
        return simcgi_plain(403, "access denied\n");
    bool hasData = false;
    for (const auto& field : fields)
        hasData = hasData || field.first == "data";
    if (!hasData)
        return simcgi_plain(400, "no data field\n");
    if (type == "singlevalue") {
        std::string kind;
        int number;
        bool output;
        if (!simdevice_channel(module, &kind, &number, &output))
            return simcgi_plain(404, "unknown channel\n");
        if (!output)
            return simcgi_plain(403, "an input cannot be set\n");
        if (data.empty() || !simdevice_wholeNumber(data))
            return simcgi_plain(400, "not a whole number\n");
        server->io[module] = data;
        return simcgi_plain(200, "OK\n");
    }
    if (type == "configuration") {
        if (module.empty() || module.find_first_of("/\\&= ") != std::string::npos)
            return simcgi_plain(404, "unknown module\n");
        // A broken or empty text would wipe the device's settings: keep the old one.
        if (!simjson_isObject(data))
            return simcgi_plain(400, "configuration is not a JSON object\n");
        server->configurations[module] = data;
        sim_answer answer = simcgi_plain(200, "OK\n");
        if (module != "devicebase")
            return answer;
        if (simjson_memberText(data, "install_component") == "package")
            simdevice_startInstall(server);
        answer.reboot = simjson_memberText(data, "reboot") == "true";
        return answer;
    }
    if (type == "values")
        return simcgi_plain(403, "values are read-only\n");
    return simcgi_plain(404, "unknown module\n");
}

std::string safeFileName(const std::string& name)
{
    std::size_t slash = name.find_last_of("/\\:");
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    if (base.empty() || base == "." || base == "..")
        return "package.bin";
    for (char& c : base)
        if ((unsigned char)c < 0x20 || std::string("<>\"|?*").find(c) != std::string::npos)
            c = '_';
    return base;
}

sim_answer handleUpload(sim_server* server, const std::string& body)
{
    std::vector<simhttp_part> parts;
    if (!simhttp_parseMultipart(body, &parts))
        return simcgi_plain(400, "not a multipart upload\n");
    const simhttp_part* package = nullptr;
    std::string hash;
    for (const auto& part : parts) {
        if (part.name == "package" && part.hasFileName)
            package = &part;
        if (part.name == "password")
            hash = body.substr(part.start, part.length);
    }
    if (!package)
        return simcgi_plain(400, "no package in upload\n");
    sim_upload upload;
    upload.fileName = package->fileName.empty() ? "package.bin" : package->fileName;
    upload.data.assign(body, package->start, package->length);
    upload.size = upload.data.size();
    upload.md5 = simmd5_hex(upload.data);
    std::lock_guard<std::mutex> hold(server->lock);
    upload.passwordOk = simdevice_passwordAccepted(server, hash);
    server->lastUpload = upload;
    sim_answer answer;
    answer.delayMs = server->options.answerDelayMs;
    if (!upload.passwordOk) {
        answer.status = 403;
        answer.body = "upload refused: access denied\n";
        return answer;
    }
    if (!server->options.storeDir.empty()) {
        std::string path = server->options.storeDir + "/" + safeFileName(upload.fileName);
        std::FILE* file = std::fopen(path.c_str(), "wb");
        bool written = file && std::fwrite(upload.data.data(), 1, upload.data.size(), file) == upload.data.size();
        if (file && std::fclose(file) != 0)
            written = false;
        if (!written) {
            answer.status = 503;
            answer.body = "upload could not be stored\n";
            return answer;
        }
    }
    server->package = upload;
    answer.body = "upload OK\nfile: " + upload.fileName + "\nsize: " + std::to_string(upload.size) +
                  "\nmd5: " + upload.md5 + "\n";
    return answer;
}

} // namespace

sim_answer simcgi_route(sim_server* server, const simhttp_request& request, const std::string& body)
{
    if (request.path == "/cgi-bin/getParamFromServer.cgi") {
        if (request.method != "GET")
            return simcgi_plain(405, "use GET\n");
        return handleGet(server, request);
    }
    if (request.path == "/cgi-bin/setParamToServer.cgi") {
        if (request.method != "POST")
            return simcgi_plain(405, "use POST\n");
        return handleSet(server, body);
    }
    if (request.path == "/cgi-bin/setUpdateFileToServer.cgi") {
        if (request.method != "POST")
            return simcgi_plain(405, "use POST\n");
        return handleUpload(server, body);
    }
    return simcgi_plain(404, "no such page\n");
}
