// The device model: the settings it starts with, the login and TAN check, its
// channels, and the installation and the version a reboot brings up.
#include "simdevice.h"

#include "simjson.h"
#include "simmd5.h"
#include "simstate.h"

#include <cstdio>
#include <cstdlib>

namespace {

std::string deviceType(const std::string& version)
{
    std::size_t at = version.size();
    while (at > 0 && (version[at - 1] < '0' || version[at - 1] > '9'))
        --at;
    std::string suffix = version.substr(at);
    return suffix.empty() || suffix[0] == '-' ? "ORMI" : "ORMI-M";
}

} // namespace

std::string simdevice_defaultConfiguration(const sim_options& options)
{
    std::string text = "{\n";
    text += "    \"device_name\": \"ORMI I/O station\",\n";
    text += "    \"device_type\": " + simjson_quote(deviceType(options.packageVersion)) + ",\n";
    text += "    \"package_version\": " + simjson_quote(options.packageVersion) + ",\n";
    text += "    \"serial_number\": \"0412-3387\",\n";
    text += "    \"location\": \"Hall 3, Miller's line, rack \\\"B\\\"\",\n";
    text += "    \"install_component\": \"none\",\n";
    text += "    \"reboot\": false,\n";
    text += "    \"temperature_offset\": -2.5,\n";
    text += "    \"utc_offset_minutes\": -60,\n";
    text += "    \"network\": {\n";
    text += "        \"dhcp\": false,\n";
    text += "        \"ip_address\": \"192.168.1.50\",\n";
    text += "        \"netmask\": \"255.255.255.0\"\n";
    text += "    },\n";
    text += "    \"channels\": [\"di1\", \"di2\", \"do1\", \"do3\", \"ai1\", \"ao2\"]\n";
    text += "}\n";
    return text;
}

bool simdevice_passwordAccepted(sim_server* server, const std::string& hash)
{
    const sim_options& o = server->options;
    if (o.loginMethod == 2) {
        if (!server->tanValid)
            return false;
        server->tanValid = false;
        std::string salted = o.password + server->lastTan + (o.tanLineFeed ? "\n" : "");
        return hash == simmd5_hex(salted);
    }
    return hash == simmd5_hex(o.password);
}

std::string simdevice_newTan(sim_server* server)
{
    std::uniform_int_distribution<int> digits(100000, 999999);
    server->lastTan = std::to_string(digits(server->random));
    server->tanValid = true;
    return server->lastTan;
}

bool simdevice_channel(const std::string& module, std::string* kind, int* number, bool* output)
{
    std::size_t last = module.rfind('/');
    if (last == std::string::npos || last == 0)
        return false;
    std::string direction = module.substr(last + 1);
    std::size_t middle = module.rfind('/', last - 1);
    if (middle == std::string::npos || middle == 0)
        return false;
    std::string channel = module.substr(middle + 1, last - middle - 1);
    if (channel.size() < 3 || channel.size() > 4)
        return false;
    std::string k = channel.substr(0, 2);
    std::string n = channel.substr(2);
    for (char c : n)
        if (c < '0' || c > '9')
            return false;
    bool isOutput = k == "do" || k == "ao";
    bool isInput = k == "di" || k == "ai";
    if (!isOutput && !isInput)
        return false;
    if ((isOutput && direction != "output") || (isInput && direction != "input"))
        return false;
    *kind = k;
    *number = std::atoi(n.c_str());
    *output = isOutput;
    return *number >= 1;
}

std::string simdevice_inputValue(const std::string& kind, int number)
{
    if (kind == "di")
        return number % 2 ? "1" : "0";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", 20.0 + 3.7 * number);
    return text;
}

bool simdevice_wholeNumber(const std::string& text)
{
    std::size_t at = text[0] == '-' ? 1 : 0;
    if (at >= text.size() || text.size() > 11)
        return false;
    for (; at < text.size(); ++at)
        if (text[at] < '0' || text[at] > '9')
            return false;
    return true;
}

std::string simdevice_valuesText(sim_server* server)
{
    std::string state, content;
    switch (server->install) {
    case sim_installIdle:
        state = "idle";
        content = "ready";
        break;
    case sim_installRunning:
        if (server->installPollsDone < server->options.installPolls) {
            ++server->installPollsDone;
            state = "run";
            content = "installing " + server->installName + ": step " + std::to_string(server->installPollsDone) +
                      " of " + std::to_string(server->options.installPolls);
            break;
        }
        server->install = sim_installDone;
        server->installedVersion = sim_packageVersion(
            server->installName, simjson_memberText(server->configurations["devicebase"], "package_version"));
        // The device forgets the request once the installation is over.
        simjson_replaceMember(server->configurations["devicebase"], "install_component", "\"none\"");
        // fall through
    case sim_installDone:
        state = "finished";
        content = "installation of " + server->installName + " finished";
        break;
    case sim_installFailed:
        state = "error";
        content = "installation failed: no package uploaded";
        simjson_replaceMember(server->configurations["devicebase"], "install_component", "\"none\"");
        break;
    }
    return "{\n    \"state\": " + simjson_quote(state) + ",\n    \"content\": " + simjson_quote(content) + "\n}\n";
}

void simdevice_startInstall(sim_server* server)
{
    if (server->install == sim_installRunning)
        return;
    if (server->package.fileName.empty()) {
        server->install = sim_installFailed;
    } else {
        server->install = sim_installRunning;
        server->installPollsDone = 0;
        server->installName = server->package.fileName;
    }
}

void simdevice_restart(sim_server* server)
{
    simjson_replaceMember(server->configurations["devicebase"], "reboot", "false");
    // A failed image leaves the device on its old one: keep-version.
    if (!server->installedVersion.empty() && server->fault != simfault_keepVersion)
        simjson_replaceMember(server->configurations["devicebase"], "package_version",
                              simjson_quote(server->installedVersion));
    server->installedVersion.clear();
    server->install = sim_installIdle;
    server->tanValid = false;
}

std::string sim_packageVersion(const std::string& fileName, const std::string& currentVersion)
{
    static const char extension[] = ".bz2";
    std::size_t n = fileName.size();
    if (n < 4)
        return "";
    for (std::size_t i = 0; i < 4; ++i) {
        char c = fileName[n - 4 + i];
        if ((c >= 'A' && c <= 'Z' ? (char)(c + 32) : c) != extension[i])
            return "";
    }
    std::string stem = fileName.substr(0, n - 4);
    std::size_t at = currentVersion.size();
    while (at > 0 && (currentVersion[at - 1] < '0' || currentVersion[at - 1] > '9'))
        --at;
    std::string suffix = currentVersion.substr(at);
    bool suffixed = !suffix.empty() && stem.size() > suffix.size() &&
                    stem.compare(stem.size() - suffix.size(), suffix.size(), suffix) == 0;
    if (suffixed)
        stem.erase(stem.size() - suffix.size());
    std::size_t end = stem.size();
    std::size_t start = end;
    while (start > 0 && ((stem[start - 1] >= '0' && stem[start - 1] <= '9') || stem[start - 1] == '.'))
        --start;
    while (start < end && stem[start] == '.')
        ++start;
    while (end > start && stem[end - 1] == '.')
        --end;
    if (start == end)
        return "";
    return stem.substr(start, end - start) + (suffixed ? suffix : "");
}
