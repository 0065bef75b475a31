// The simulated device core: a loopback web server answering the requests of
// the control library, run in-process on its own thread (tests) or from the
// ormi-sim front.
#pragma once
#include <string>
#include <vector>
#include <cstddef>

struct sim_options {
    std::string user = "admin";
    std::string password = "secret";
    int loginMethod = 1; // 1 or 2
    bool tanLineFeed =
        false; // method 2: the TAN body ends in "\n", and the hash expected is md5(password + TAN + "\n")
    std::string packageVersion = "2.1.0";
    int installPolls = 3; // "state" "run" for this many "values"/"devicebase" requests
    int rebootSeconds = 5;
    std::string storeDir;     // where uploads are stored; empty: in memory only
    int answerDelayMs = 0;    // upload answer delay
    std::string fault;        // "" or one fault name (simfault.h); another name is no fault
    int faultConnections = 0; // >0: the fault only for this many connections, healthy after them
    int faultSkip = 0;        // with faultConnections: healthy connections before the faulty ones
    std::string logDir;       // one file per raw request; empty: none
    std::string bindAddress = "127.0.0.1";
    int port = 0; // 0: a free port
};

struct sim_upload {
    std::string fileName;
    std::size_t size = 0;
    std::string md5;
    std::string data;
    bool passwordOk = false;
};

struct sim_server;
struct sim_group;

sim_server* sim_start(const sim_options& options); // listening and serving on its own thread; nullptr on failure
int sim_port(const sim_server* server);
void sim_stop(sim_server* server); // stops, joins, frees; safe while a client is connected
                                   // (a device of sim_start only; a group stops whole)
// Several devices, each with its own options and state, served by one accept
// thread (and a thread per open connection). nullptr when one of them cannot
// listen; *failed is then its index.
sim_group* sim_startGroup(const std::vector<sim_options>& devices, std::size_t* failed);
std::size_t sim_groupSize(const sim_group* group);
sim_server* sim_groupDevice(sim_group* group, std::size_t index); // in the order given; nullptr past the end
void sim_stopGroup(sim_group* group);
void sim_setFault(sim_server* server, const std::string& fault); // switch fault at run time ("" = healthy)
std::string sim_configuration(sim_server* server);               // the stored "configuration"/"devicebase" JSON text
std::vector<std::string> sim_requests(sim_server* server);       // the raw bytes of every request so far, in order
void sim_clearRequests(sim_server* server);
std::size_t sim_connectionCount(sim_server* server); // accepted connections so far
sim_upload sim_lastUpload(sim_server* server);       // fileName empty if none
std::string sim_lastTan(sim_server* server);
std::string sim_ioValue(sim_server* server, const std::string& module); // stored output value, "" if never set
void sim_setOverride(sim_server* server, const std::string& match, const std::string& rawAnswer);
// every later request whose raw bytes contain `match` is answered with exactly rawAnswer (then closed, fault modes still apply);
// first matching override wins; an empty rawAnswer removes the override for that match
// The version a package carries in its file name, which the device reports
// after installing it and rebooting: the run of digits and dots that ends the
// name before ".bz2", or before the device's own version suffix (the
// non-digits ending currentVersion) and ".bz2", with that suffix; outer dots
// dropped. "" when the name carries none (the device keeps its version).
//   ORMI_demo_ormi_2.1.0.bz2 -> 2.1.0;  fw_ormim_2.2.0m.bz2 on 2.1.0m -> 2.2.0m
std::string sim_packageVersion(const std::string& fileName, const std::string& currentVersion);
void sim_setOutputDelay(sim_server* server, int ms); // optional extra pause before any answer (0 = none)
