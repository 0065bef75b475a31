// A debug monitor for Windows tests: collects the debug-output lines of any
// process, this one included, through the shared buffer that
// OutputDebugString fills.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct DebugMonitor {
    HANDLE mutex = NULL, mapping = NULL, bufferReady = NULL, dataReady = NULL;
    const char* view = nullptr;
    std::thread reader;
    std::mutex lock;
    std::vector<std::pair<DWORD, std::string>> lines;
    volatile bool stopping = false;

    bool start()
    {
        mutex = CreateMutexA(NULL, FALSE, "DBWinMutex");
        mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER");
        bufferReady = CreateEventA(NULL, FALSE, TRUE, "DBWIN_BUFFER_READY");
        dataReady = CreateEventA(NULL, FALSE, FALSE, "DBWIN_DATA_READY");
        if (!mutex || !mapping || !bufferReady || !dataReady)
            return false;
        view = (const char*)MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 4096);
        if (view == nullptr)
            return false;
        reader = std::thread([this] {
            while (!stopping) {
                if (WaitForSingleObject(dataReady, 100) != WAIT_OBJECT_0)
                    continue;
                DWORD pid = *(const DWORD*)view;
                std::string text(view + sizeof(DWORD), strnlen(view + sizeof(DWORD), 4096 - sizeof(DWORD)));
                {
                    std::lock_guard<std::mutex> hold(lock);
                    lines.emplace_back(pid, text);
                }
                SetEvent(bufferReady);
            }
        });
        return true;
    }
    void stop()
    {
        stopping = true;
        if (reader.joinable())
            reader.join();
        if (view)
            UnmapViewOfFile(view);
        for (HANDLE h : { mutex, mapping, bufferReady, dataReady })
            if (h)
                CloseHandle(h);
    }
    // The process's lines, without their line ends.
    std::vector<std::string> of(DWORD pid)
    {
        std::lock_guard<std::mutex> hold(lock);
        std::vector<std::string> result;
        for (auto& line : lines) {
            if (line.first != pid)
                continue;
            std::string text = line.second;
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
                text.pop_back();
            if (!text.empty())
                result.push_back(text);
        }
        return result;
    }
};
