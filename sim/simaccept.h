// A group's accept thread: waits on all its devices' listeners at once,
// starts a worker per connection, reaps finished workers, and runs reboots.
#pragma once

struct sim_group;

void simaccept_loop(sim_group* group); // until group->stopping; then joins every worker
