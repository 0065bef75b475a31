// The debug channel on Windows: a debug monitor that starts while the
// library is already running gets every line from then on.
#include "debug.h"
#include "debug_monitor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(DebugChannel, MonitorStartedLaterGetsEveryLine)
{
    debug_print("no one listens yet\n");
    DebugMonitor monitor;
    ASSERT_TRUE(monitor.start());
    // The library looks for a monitor at most once a second.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    char line[64];
    debug_print("socket created\n");
    debug_format(line, sizeof line, "sended %d bytes", 144);
    debug_print("disconnected from server\n");
    std::vector<std::string> expected = { "socket created", "sended 144 bytes", "disconnected from server" };
    std::vector<std::string> seen;
    for (int i = 0; i < 100 && seen.size() < expected.size(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        seen = monitor.of(GetCurrentProcessId());
    }
    monitor.stop();
    EXPECT_EQ(seen, expected);
}

} // namespace
