// The device model: its settings text, the login and TAN check, the channels,
// and the installation that runs over "values" polls and the reboot after it.
// Callers hold server->lock.
#pragma once
#include <string>

struct sim_options;
struct sim_server;

std::string simdevice_defaultConfiguration(const sim_options& options);
// The hash a request must carry; under method 2 the TAN is used up by the check.
bool simdevice_passwordAccepted(sim_server* server, const std::string& hash);
std::string simdevice_newTan(sim_server* server);
// Channel modules look like base/kindN/output or base/kindN/input.
bool simdevice_channel(const std::string& module, std::string* kind, int* number, bool* output);
std::string simdevice_inputValue(const std::string& kind, int number);
bool simdevice_wholeNumber(const std::string& text);
// The "values" answer of "devicebase"; each call is one poll of a running installation.
std::string simdevice_valuesText(sim_server* server);
// Asks for an installation of the last package (install_component "package").
void simdevice_startInstall(sim_server* server);
// The device as it comes up after a reboot.
void simdevice_restart(sim_server* server);
