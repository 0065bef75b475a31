// The accept thread of a group: one wait over every listening device, a
// worker thread per accepted connection (at most maxWorkers a device), and
// the reboot, in which a device's listener is closed for its reboot time.
#include "simaccept.h"

#include "simdevice.h"
#include "simhttp.h"
#include "simserve.h"
#include "simstate.h"

#include <system_error>

namespace {

const std::size_t maxWorkers = 64; // connections served at once; more are told to come back

// Joins a worker that has finished serving. mingw's thread layer under Wine
// now and then no longer finds such a thread ("No such process"); it has
// returned all the same, so its std::thread is let go (a few bytes) rather
// than ending the whole process.
void joinWorker(sim_worker& worker)
{
    while (!*worker.done)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    try {
        worker.thread.join();
    } catch (const std::system_error&) {
        new std::thread(std::move(worker.thread));
    }
}

void reapWorkers(sim_server* server, bool all)
{
    for (auto it = server->workers.begin(); it != server->workers.end();) {
        if (all || *it->done) {
            joinWorker(*it);
            it = server->workers.erase(it);
        } else {
            ++it;
        }
    }
}

// Closes the listener when a reboot was asked for, opens it again once the
// reboot time is over, and then brings the device up as it restarts.
void runReboot(sim_server* server)
{
    if (server->rebootRequested) {
        server->rebootRequested = false;
        simnet_close(server->listener);
        server->listener = simnet_invalid;
        server->rebooting = true;
        server->listenAgainAt = sim_clock::now() + std::chrono::seconds(server->options.rebootSeconds);
        server->rebootAcknowledged = true;
    }
    if (!server->rebooting || sim_clock::now() < server->listenAgainAt)
        return;
    int bound = 0;
    server->listener = simnet_listen(server->options.bindAddress, server->port, &bound);
    if (server->listener == simnet_invalid) {
        server->listenAgainAt = sim_clock::now() + std::chrono::milliseconds(100);
        return;
    }
    server->rebooting = false;
    std::lock_guard<std::mutex> hold(server->lock);
    simdevice_restart(server);
}

void acceptOne(sim_server* server)
{
    simnet_handle client = simnet_invalid;
    if (simnet_accept(server->listener, 0, &client) <= 0)
        return;
    ++server->connections;
    if (server->workers.size() >= maxWorkers) {
        std::string busy = simhttp_answer(503, "text/plain", "busy\n");
        simnet_sendAll(client, busy.data(), busy.size());
        simnet_close(client);
        return;
    }
    sim_worker worker;
    worker.done = std::make_shared<std::atomic<bool>>(false);
    auto done = worker.done;
    worker.thread = std::thread([server, client, done] {
        simserve_connection(server, client);
        *done = true;
    });
    server->workers.push_back(std::move(worker));
}

} // namespace

void simaccept_loop(sim_group* group)
{
    std::vector<simnet_handle> listening;
    std::vector<sim_server*> owners;
    std::vector<unsigned char> ready;
    while (!group->stopping) {
        listening.clear();
        owners.clear();
        for (sim_server* server : group->devices) {
            runReboot(server);
            reapWorkers(server, false);
            if (server->listener == simnet_invalid)
                continue;
            listening.push_back(server->listener);
            owners.push_back(server);
        }
        // A short wait, so that a reboot request is taken up at once.
        ready.assign(listening.size(), 0);
        if (simnet_waitAny(listening.data(), listening.size(), 20, ready.data()) <= 0)
            continue;
        for (std::size_t i = 0; i < owners.size(); ++i)
            if (ready[i])
                acceptOne(owners[i]);
    }
    for (sim_server* server : group->devices) {
        reapWorkers(server, true);
        simnet_close(server->listener);
        server->listener = simnet_invalid;
    }
}
