// One live progress line on a terminal (spinner, elapsed time, size and
// the latest text); nothing at all when standard error is not a terminal.
#include "cli.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace {

std::mutex lock;
std::string text;
long long bytes = -1;
double started = 0;
std::size_t drawn = 0; // characters on the line, to blank them out
std::atomic<bool> running{ false };
std::thread painter;

void draw(bool final)
{
    static const char spin[] = "|/-\\";
    std::lock_guard<std::mutex> hold(lock);
    double elapsed = net_now() - started;
    char head[96];
    std::snprintf(head, sizeof head, "[%c] %5.1f s ", final ? '*' : spin[(int)(elapsed * 8) % 4], elapsed);
    std::string line = head;
    if (bytes >= 0)
        line += report_size(bytes) + " ";
    line += text;
    if (line.size() > 79)
        line = line.substr(0, 76) + "...";
    std::string out = "\r" + line;
    if (line.size() < drawn)
        out += std::string(drawn - line.size(), ' ');
    drawn = line.size();
    if (final)
        out += "\n";
    std::fputs(out.c_str(), stderr);
    std::fflush(stderr);
}

} // namespace

void progress_begin(const std::string& newText, long long newBytes)
{
    progress_end();
    if (!term_isTerminal(2))
        return;
    {
        std::lock_guard<std::mutex> hold(lock);
        text = newText;
        bytes = newBytes;
        started = net_now();
        drawn = 0;
    }
    running = true;
    painter = std::thread([] {
        while (running) {
            draw(false);
            std::this_thread::sleep_for(std::chrono::milliseconds(125));
        }
    });
}

// A line of its own above the live line, which is drawn again below it.
void progress_print(std::FILE* to, const std::string& line)
{
    std::lock_guard<std::mutex> hold(lock);
    if (running && drawn) {
        std::fputs(("\r" + std::string(drawn, ' ') + "\r").c_str(), stderr);
        std::fflush(stderr);
        drawn = 0;
    }
    std::fputs(line.c_str(), to);
    std::fflush(to);
}

void progress_text(const std::string& newText)
{
    std::lock_guard<std::mutex> hold(lock);
    text = newText;
}

void progress_end()
{
    if (!running)
        return;
    running = false;
    painter.join();
    draw(true);
}
