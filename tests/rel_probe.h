// Process probes of the reliability tests: open descriptors or handles and
// resident memory, natively and under Wine.
#pragma once

#include <string>

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>
#else
#include <dirent.h>
#include <cstdio>
#include <unistd.h>
#endif

namespace reltest {

inline long long residentKb() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
  return static_cast<long long>(counters.WorkingSetSize / 1024);
#else
  std::FILE* file = std::fopen("/proc/self/statm", "r");
  if (!file) return -1;
  long long total = 0, resident = -1;
  int got = std::fscanf(file, "%lld %lld", &total, &resident);
  std::fclose(file);
  return got == 2 ? resident * (sysconf(_SC_PAGESIZE) / 1024) : -1;
#endif
}

// Counts entries of a /proc/self/fd listing; under Wine the process's
// sockets and files are Unix descriptors, which drive Z: shows.
inline int descriptorCount() {
#ifdef _WIN32
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA("Z:\\proc\\self\\fd\\*", &entry);
  if (find == INVALID_HANDLE_VALUE) return -1;
  int fds = 0;
  do {
    if (entry.cFileName[0] != '.') ++fds;
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return fds;
#else
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return -1;
  int count = 0;
  while (dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  closedir(dir);
  return count;
#endif
}

// Windows handles; -1 where the platform gives no count (Wine may report 0).
inline int handleCount() {
#ifdef _WIN32
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return static_cast<int>(count);
  return -1;
#else
  return -1;
#endif
}

// Open sockets of the process: on Windows every small multiple of 4 that
// answers a socket query, which also works where the handle count does not.
inline int socketCount() {
#ifdef _WIN32
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 0), &data) != 0) return -1;
  int count = 0;
  for (UINT_PTR h = 4; h <= 0x8000; h += 4) {
    int type = 0, size = sizeof type;
    if (getsockopt(static_cast<SOCKET>(h), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type),
                   &size) == 0)
      ++count;
  }
  WSACleanup();
  return count;
#else
  return -1;
#endif
}

}  // namespace reltest
