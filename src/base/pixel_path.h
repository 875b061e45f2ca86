// The instruction set the pixel stages run on: picked once from the processor,
// or forced (tests compare every path against the portable one).
#pragma once

namespace ruvivedu {

/// Every path computes the same IEEE single-precision operations in the same
/// order, so all of them give the same bits; they differ only in how many
/// pixels one instruction carries.
enum class PixelPath {
    scalar = 0,  ///< portable C++, one pixel at a time; every processor
    sse2 = 1,    ///< 4-wide pixel conversion (x86-64 always has SSE2); dots stay scalar
    avx2 = 2,    ///< 8-wide dot rendering with gathers and 8-wide 8-bit conversion
};

/// The widest path this processor and operating system can run.
PixelPath best_pixel_path();

/// The path the stages use now: best_pixel_path(), unless the environment
/// variable RUVIVEDU_PIXEL_PATH (scalar, sse2 or avx2) or set_pixel_path()
/// asked for a narrower one.
PixelPath pixel_path();

/// Forces a path for the stages that run after it (tests and benchmarks call
/// this between renders, never during one). A path wider than the processor
/// runs is lowered to best_pixel_path(). Returns the path now in force.
PixelPath set_pixel_path(PixelPath path);

/// Marks a function whose body uses AVX2 intrinsics; it may only be called
/// after pixel_path() said avx2. MSVC compiles the intrinsics without it.
#if defined(__GNUC__) || defined(__clang__)
#define RUVIVEDU_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define RUVIVEDU_TARGET_AVX2
#endif

/// Defined where SSE2 and the AVX2 intrinsics headers exist (x86-64).
#if defined(__x86_64__) || defined(_M_X64)
#define RUVIVEDU_X86_64 1
#else
#define RUVIVEDU_X86_64 0
#endif

}  // namespace ruvivedu

#include <cstddef>
#include <cstdint>
#if RUVIVEDU_X86_64
#include <xmmintrin.h>
#endif

namespace ruvivedu {

/// Asks for the cache lines of bytes [p, p + bytes) ahead of their use, where
/// the processor would otherwise wait for them (rows read down a column, or
/// read again long after they were last read). A hint only: results never
/// depend on it.
inline void prefetch_bytes(const char* p, std::size_t bytes)
{
    constexpr std::uintptr_t kCacheLine = 64;
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(p) / kCacheLine * kCacheLine;
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(p) + bytes;
    for (std::uintptr_t at = first; at < end; at += kCacheLine) {
#if RUVIVEDU_X86_64
        _mm_prefetch(reinterpret_cast<const char*>(at), _MM_HINT_T0);
#elif defined(__GNUC__) || defined(__clang__)
        __builtin_prefetch(reinterpret_cast<const char*>(at));
#else
        (void)at;
#endif
    }
}

}  // namespace ruvivedu
