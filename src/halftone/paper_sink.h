// Where the dot stage's paper values go: the one-channel output image, or the
// host's output world itself, each pixel converted on the way as the output
// conversion converts it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/host_pixels.h"
#include "base/image.h"
#include "base/pixel_path.h"
#include "base/render_context.h"

#if RUVIVEDU_X86_64
#include <immintrin.h>
#endif

namespace ruvivedu {

namespace dot_paper {

// min(1, max(0, x)), with NaN giving 0: a NaN coverage adds no ink.
inline float clamp_unit(float x)
{
    return x > 0.0f ? (x < 1.0f ? x : 1.0f) : 0.0f;
}

#if RUVIVEDU_X86_64
RUVIVEDU_TARGET_AVX2 inline __m256 clamp_unit8(__m256 x)
{
    const __m256 one = _mm256_set1_ps(1.0f);
    // As clamp_unit: x where 0 < x < 1, 1 from 1 up, 0 for the rest and NaN.
    const __m256 positive = _mm256_cmp_ps(x, _mm256_setzero_ps(), _CMP_GT_OQ);
    const __m256 below_one = _mm256_cmp_ps(x, one, _CMP_LT_OQ);
    return _mm256_and_ps(_mm256_blendv_ps(one, x, below_one), positive);
}
#endif

#if RUVIVEDU_X86_64
RUVIVEDU_TARGET_AVX2 inline int paper_from_sums_avx2(float* sums, int count)
{
    const __m256 one = _mm256_set1_ps(1.0f);
    const int end = count - count % 8;
    for (int j = 0; j < end; j += 8)
        _mm256_storeu_ps(sums + j, _mm256_sub_ps(one, clamp_unit8(_mm256_loadu_ps(sums + j))));
    return end;
}
#endif

/// Turns the coverage sums at sums[0 .. count) into paper values in place:
/// 1 - min(1, max(0, sum)).
inline void paper_from_sums(float* sums, int count)
{
    int j = 0;
#if RUVIVEDU_X86_64
    if (pixel_path() == PixelPath::avx2)
        j = paper_from_sums_avx2(sums, count);
#endif
    for (; j < count; ++j)
        sums[j] = 1.0f - clamp_unit(sums[j]);
}

/// Pixels a dot stage forms at a time before handing them on.
constexpr int kValuesPerChunk = 256;

// Both sinks take a row's paper values the same way: a dot walk forms the
// values of columns [from, from + count) of row i (count at most
// kValuesPerChunk for the per-pixel walk) where values(i, from, scratch)
// says (the image row itself, or `scratch`), then hands them over with
// put(i, from, count, v). prefetch(i, from, count) asks for what handing over
// those columns will read (a hint), and flush() waits for what has been
// handed over to reach memory; each thread calls it after a row or band.

/// The one-channel output image: paper values are stored as they are.
struct ImagePaper {
    Image<float>& image;

    int width() const { return static_cast<int>(image.width); }
    int height() const { return static_cast<int>(image.height); }
    float* values(int i, int from, float*) const { return image.row(static_cast<uint32_t>(i)) + from; }
    void put(int i, int from, int count, const float* v) const
    {
        float* row = image.row(static_cast<uint32_t>(i)) + from;
        if (v != row)
            std::memcpy(row, v, static_cast<std::size_t>(count) * sizeof(float));
    }
    void prefetch(int, int, int) const {}
    void flush() const {}
};

/// The host's output world of component type T: each paper value becomes the
/// output pixel, with the input's alpha there, as convert_output_grey
/// (alpha_output false) or convert_output_alpha (true) forms it. Each pixel's
/// alpha is read before the pixel is written, so the two worlds may even be
/// one.
template <typename T, bool alpha_output>
struct LayerPaper {
    const LayerParams& in;
    const LayerParams& out;
    float white;
    float inv_white;
    // Whether pixels go past the caches: for output worlds far larger than
    // the caches (written once, not read again by the frame), and never where
    // the input shares the output's memory.
    bool stream;

    LayerPaper(const LayerParams& in_world, const LayerParams& out_world, float white_value, float inv_white_value)
        : in(in_world), out(out_world), white(white_value), inv_white(inv_white_value),
          stream(world_bytes(out_world) >= kStreamedWorldBytes && !overlap(in_world, out_world))
    {}

    int width() const { return out.width; }
    int height() const { return out.height; }
    float* values(int, int, float* scratch) const { return scratch; }
    void put(int i, int from, int count, const float* v) const
    {
        host_pixels::write_paper<T, alpha_output>(in, out, i, from, count, v, white, inv_white, stream);
    }
    void flush() const
    {
        if (stream)
            host_pixels::finish_stores();
    }

    // The input's alpha under those columns: the input was last read by the
    // sampling, long before, and these rows are read only here.
    void prefetch(int i, int from, int count) const
    {
        if (i >= in.height || i >= out.height)
            return;
        const int covered = std::min(std::min(in.width, out.width), from + count) - from;
        if (covered > 0) {
            const std::size_t pixel = static_cast<std::size_t>(std::max(in.bytes_per_pixel, 0));
            prefetch_bytes(layer_pixel(in, from, i), static_cast<std::size_t>(covered) * pixel);
        }
    }

    static constexpr std::size_t kStreamedWorldBytes = std::size_t{16} << 20;

    static std::size_t world_bytes(const LayerParams& w)
    {
        if (w.width <= 0 || w.height <= 0)
            return 0;
        return static_cast<std::size_t>(w.width) * static_cast<std::size_t>(std::max(w.bytes_per_pixel, 0)) *
               static_cast<std::size_t>(w.height);
    }

    // Whether the pixel bytes of the two worlds share any address.
    static bool overlap(const LayerParams& a, const LayerParams& b)
    {
        if (world_bytes(a) == 0 || world_bytes(b) == 0)
            return false;
        auto address = [](const char* p) { return reinterpret_cast<std::uintptr_t>(p); };
        auto first = [&](const LayerParams& l) {
            return std::min(address(layer_row(l, 0)), address(layer_row(l, l.height - 1)));
        };
        auto last = [&](const LayerParams& l) {
            return std::max(address(layer_row(l, 0)), address(layer_row(l, l.height - 1))) +
                   static_cast<std::uintptr_t>(l.width) * static_cast<std::uintptr_t>(l.bytes_per_pixel);
        };
        return first(a) < last(b) && first(b) < last(a);
    }
};

}  // namespace dot_paper

}  // namespace ruvivedu
