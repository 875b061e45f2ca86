// processor_count: how many threads the thread-block strategy starts per stage.
#include <cstdint>

#include "base/processor_count.h"

#if defined(_WIN32)
#include <windows.h>
#elif defined(__linux__)
#include <sched.h>
#include <unistd.h>
#else
#include <unistd.h>
#endif

namespace ruvivedu {

namespace {

int64_t query_processors()
{
#if defined(_WIN32)
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return static_cast<int64_t>(info.dwNumberOfProcessors);
#elif defined(__APPLE__)
    return static_cast<int64_t>(sysconf(_SC_NPROCESSORS_CONF));
#elif defined(__linux__)
    // The processors this process may run on: a container or taskset limits
    // the affinity mask, and starting more workers than that only adds
    // switching. The mask grows until the kernel accepts its size (machines
    // with more than 1024 processors reject the default one).
    for (int cpus = CPU_SETSIZE; cpus <= (1 << 20); cpus *= 2) {
        cpu_set_t* set = CPU_ALLOC(cpus);
        if (set == nullptr)
            break;
        const std::size_t size = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(size, set);
        if (sched_getaffinity(0, size, set) == 0) {
            const int count = CPU_COUNT_S(size, set);
            CPU_FREE(set);
            return count;
        }
        CPU_FREE(set);
    }
    return static_cast<int64_t>(sysconf(_SC_NPROCESSORS_ONLN));
#else
    return static_cast<int64_t>(sysconf(_SC_NPROCESSORS_ONLN));
#endif
}

}  // namespace

int32_t processor_count()
{
    const int64_t count = query_processors();
    // A failed query (-1) or a nonsensical answer still leaves one worker, so
    // every stage covers its rows.
    if (count < 1)
        return 1;
    if (count > INT32_MAX)
        return INT32_MAX;
    return static_cast<int32_t>(count);
}

}  // namespace ruvivedu
