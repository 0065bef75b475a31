// A simulated device's state and a group's, shared by the modules that serve
// it: the device model (simdevice), its pages (simcgi), the connections
// (simserve), the accept thread (simaccept) and the public calls (sim_server).
#pragma once
#include "sim_server.h"
#include "simfault.h"
#include "simnet.h"

#include <atomic>
#include <chrono>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

typedef std::chrono::steady_clock sim_clock;

enum sim_installPhase { sim_installIdle, sim_installRunning, sim_installDone, sim_installFailed };

struct sim_worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
};

struct sim_server {
    sim_options options;
    std::mutex lock; // guards everything below that is not atomic
    simfault_kind fault = simfault_none;
    int faultsServed = 0; // connections so far, while the fault has a number of them
    int outputDelayMs = 0;
    std::map<std::string, std::string> configurations;
    std::vector<std::string> requests;
    std::size_t requestsLogged = 0;
    sim_upload lastUpload;
    sim_upload package; // the last upload with a valid password: what gets installed
    std::string lastTan;
    bool tanValid = false;
    std::map<std::string, std::string> io;
    std::vector<std::pair<std::string, std::string>> overrides;
    sim_installPhase install = sim_installIdle;
    int installPollsDone = 0;
    std::string installName;
    std::string installedVersion; // taken over at the next reboot; "" for none
    std::mt19937 random;

    std::atomic<std::size_t> connections{ 0 };
    std::atomic<bool> stopping{ false };
    std::atomic<bool> rebootRequested{ false };
    std::atomic<bool> rebootAcknowledged{ false };
    std::atomic<int> port{ 0 };
    // Touched by the accept thread only:
    simnet_handle listener = simnet_invalid;
    std::list<sim_worker> workers;
    bool rebooting = false;
    std::chrono::steady_clock::time_point listenAgainAt;
    sim_group* group = nullptr;
};

struct sim_group {
    std::vector<sim_server*> devices;
    std::atomic<bool> stopping{ false };
    std::thread acceptThread;
};

// Sleeps ms, or less when the device is stopped meanwhile.
inline void simstate_pause(sim_server* server, int ms)
{
    auto until = sim_clock::now() + std::chrono::milliseconds(ms);
    while (!server->stopping && sim_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}
