// The simulated device's public calls: starting and stopping a device or a
// group of them, and what tests read from and set on a running device. The
// jobs behind them: simdevice (the device model), simcgi (its pages),
// simserve (one connection), simfault (faults), simlog (request log),
// simaccept (the accept thread, workers, reboots). A group of devices shares
// one accept thread that waits on all their listening sockets at once, so that
// a few hundred devices in one process cost one thread and one socket each,
// plus a thread per open connection.
#include "sim_server.h"

#include "simaccept.h"
#include "simdevice.h"
#include "simstate.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace {

sim_server* newDevice(const sim_options& options)
{
    if (options.loginMethod != 1 && options.loginMethod != 2)
        return nullptr;
    for (const std::string* dir : { &options.logDir, &options.storeDir }) {
        std::error_code error;
        if (!dir->empty() && !std::filesystem::is_directory(*dir, error) &&
            !std::filesystem::create_directories(*dir, error))
            return nullptr;
    }
    sim_server* server = new sim_server;
    server->options = options;
    if (server->options.installPolls < 0)
        server->options.installPolls = 0;
    if (server->options.rebootSeconds < 0)
        server->options.rebootSeconds = 0;
    server->fault = simfault_fromName(options.fault);
    server->configurations["devicebase"] = simdevice_defaultConfiguration(options);
    server->random.seed(std::random_device{}());
    int bound = 0;
    server->listener = simnet_listen(options.bindAddress, options.port, &bound);
    if (server->listener == simnet_invalid) {
        delete server;
        return nullptr;
    }
    server->port = bound;
    return server;
}

void freeGroup(sim_group* group)
{
    for (sim_server* server : group->devices) {
        simnet_close(server->listener);
        delete server;
    }
    delete group;
    simnet_cleanup();
}

} // namespace

sim_group* sim_startGroup(const std::vector<sim_options>& devices, std::size_t* failed)
{
    if (failed)
        *failed = 0;
    if (devices.empty() || !simnet_startup())
        return nullptr;
    sim_group* group = new sim_group;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        sim_server* server = newDevice(devices[i]);
        if (!server) {
            if (failed)
                *failed = i;
            freeGroup(group);
            return nullptr;
        }
        server->group = group;
        group->devices.push_back(server);
    }
    group->acceptThread = std::thread(simaccept_loop, group);
    return group;
}

std::size_t sim_groupSize(const sim_group* group)
{
    return group ? group->devices.size() : 0;
}

sim_server* sim_groupDevice(sim_group* group, std::size_t index)
{
    return group && index < group->devices.size() ? group->devices[index] : nullptr;
}

void sim_stopGroup(sim_group* group)
{
    if (!group)
        return;
    group->stopping = true;
    for (sim_server* server : group->devices)
        server->stopping = true;
    group->acceptThread.join();
    freeGroup(group);
}

sim_server* sim_start(const sim_options& options)
{
    sim_group* group = sim_startGroup({ options }, nullptr);
    return group ? group->devices[0] : nullptr;
}

int sim_port(const sim_server* server)
{
    return server ? server->port.load() : 0;
}

void sim_stop(sim_server* server)
{
    if (server)
        sim_stopGroup(server->group);
}

void sim_setFault(sim_server* server, const std::string& fault)
{
    std::lock_guard<std::mutex> hold(server->lock);
    server->fault = simfault_fromName(fault);
}

std::string sim_configuration(sim_server* server)
{
    std::lock_guard<std::mutex> hold(server->lock);
    return server->configurations["devicebase"];
}

std::size_t sim_connectionCount(sim_server* server)
{
    return server->connections;
}

sim_upload sim_lastUpload(sim_server* server)
{
    std::lock_guard<std::mutex> hold(server->lock);
    return server->lastUpload;
}

std::string sim_lastTan(sim_server* server)
{
    std::lock_guard<std::mutex> hold(server->lock);
    return server->lastTan;
}

std::string sim_ioValue(sim_server* server, const std::string& module)
{
    std::lock_guard<std::mutex> hold(server->lock);
    auto stored = server->io.find(module);
    return stored == server->io.end() ? "" : stored->second;
}

void sim_setOverride(sim_server* server, const std::string& match, const std::string& rawAnswer)
{
    std::lock_guard<std::mutex> hold(server->lock);
    auto& list = server->overrides;
    auto found = std::find_if(list.begin(), list.end(),
                              [&](const std::pair<std::string, std::string>& o) { return o.first == match; });
    if (rawAnswer.empty()) {
        if (found != list.end())
            list.erase(found);
    } else if (found != list.end()) {
        found->second = rawAnswer; // keeps its place in the order of precedence
    } else {
        list.emplace_back(match, rawAnswer);
    }
}

void sim_setOutputDelay(sim_server* server, int ms)
{
    std::lock_guard<std::mutex> hold(server->lock);
    server->outputDelayMs = ms < 0 ? 0 : ms;
}
