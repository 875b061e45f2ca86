// Processor detection and the forced path for the pixel stages.
#include "base/pixel_path.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#if RUVIVEDU_X86_64 && defined(_MSC_VER) && !defined(__clang__)
#include <immintrin.h>
#include <intrin.h>
#endif

namespace ruvivedu {

namespace {

bool cpu_has_avx2()
{
#if RUVIVEDU_X86_64 && (defined(__GNUC__) || defined(__clang__))
    // Also checks that the operating system saves the 256-bit registers.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#elif RUVIVEDU_X86_64 && defined(_MSC_VER)
    int info[4];
    __cpuid(info, 0);
    if (info[0] < 7)
        return false;
    __cpuid(info, 1);
    const bool osxsave = (info[2] & (1 << 27)) != 0;
    const bool avx = (info[2] & (1 << 28)) != 0;
    if (!osxsave || !avx || (_xgetbv(0) & 6) != 6)
        return false;
    __cpuidex(info, 7, 0);
    return (info[1] & (1 << 5)) != 0;
#else
    return false;
#endif
}

PixelPath detect()
{
    if (cpu_has_avx2())
        return PixelPath::avx2;
    return RUVIVEDU_X86_64 ? PixelPath::sse2 : PixelPath::scalar;
}

PixelPath clamp_to_best(PixelPath path)
{
    const PixelPath best = best_pixel_path();
    return static_cast<int>(path) > static_cast<int>(best) ? best : path;
}

// The environment's choice, read once; anything unknown keeps the best path.
PixelPath from_environment()
{
    const char* value = std::getenv("RUVIVEDU_PIXEL_PATH");
    if (value == nullptr)
        return best_pixel_path();
    if (std::strcmp(value, "scalar") == 0)
        return PixelPath::scalar;
    if (std::strcmp(value, "sse2") == 0)
        return clamp_to_best(PixelPath::sse2);
    return best_pixel_path();
}

std::atomic<int>& forced()
{
    static std::atomic<int> path{static_cast<int>(from_environment())};
    return path;
}

}  // namespace

PixelPath best_pixel_path()
{
    static const PixelPath best = detect();
    return best;
}

PixelPath pixel_path()
{
    return static_cast<PixelPath>(forced().load(std::memory_order_relaxed));
}

PixelPath set_pixel_path(PixelPath path)
{
    const PixelPath chosen = clamp_to_best(path);
    forced().store(static_cast<int>(chosen), std::memory_order_relaxed);
    return chosen;
}

}  // namespace ruvivedu
