// Test helpers for the control library's transport: debug lines captured
// in-process and a private settings directory.
#pragma once
#include "debug.h"
#include "ini.h"
#include "plat.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#ifdef _WIN32
#include <process.h>
#define ORMI_TEST_PID _getpid()
#else
#include <unistd.h>
#define ORMI_TEST_PID getpid()
#endif

struct control_lines {
    std::mutex lock;
    std::vector<std::string> lines;
};

inline control_lines& control_capturedLines()
{
    static control_lines captured;
    return captured;
}

inline void control_captureHook(const char* text, void*)
{
    control_lines& c = control_capturedLines();
    std::lock_guard<std::mutex> hold(c.lock);
    c.lines.push_back(text);
}

inline void control_startCapture()
{
    debug_setCapture(control_captureHook, nullptr);
    control_lines& c = control_capturedLines();
    std::lock_guard<std::mutex> hold(c.lock);
    c.lines.clear();
}

inline std::vector<std::string> control_takeLines()
{
    control_lines& c = control_capturedLines();
    std::lock_guard<std::mutex> hold(c.lock);
    std::vector<std::string> taken;
    taken.swap(c.lines);
    return taken;
}

// A settings directory of this test program's own (programs run in parallel).
inline std::filesystem::path control_settingsDirectory(const std::string& name)
{
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("ormi_" + name + "_" + std::to_string(ORMI_TEST_PID));
    std::filesystem::create_directories(dir);
    ini_setDirectory(dir.string().c_str());
    return dir;
}

inline void control_writeSettings(const std::filesystem::path& dir, const std::string& text)
{
    std::ofstream file(dir / "ormi_control.ini", std::ios::binary | std::ios::trunc);
    file << text;
}

inline long long control_millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}
