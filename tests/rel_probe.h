// Process probes of the reliability tests, which are the benchmark's: open
// descriptors, handles and sockets, and resident memory, natively and under
// Wine.
#pragma once

#include "bench.h"

namespace reltest {

inline long long residentKb()
{
    return bench_residentKb();
}

// Natively /proc/self/fd; under Wine the process's sockets and files are
// Unix descriptors, which drive Z: shows.
inline int descriptorCount()
{
    return bench_unixDescriptors();
}

// Windows handles; -1 where the platform gives no count (Wine reports 0).
inline int handleCount()
{
#ifdef _WIN32
    return bench_openHandles(nullptr);
#else
    return -1;
#endif
}

inline int socketCount()
{
    return bench_openSockets();
}

} // namespace reltest
