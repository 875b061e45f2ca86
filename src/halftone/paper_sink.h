// Where the dot stage's paper values go: the one-channel output image, or the
// host's output world itself, each pixel converted on the way as the output
// conversion converts it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "halftone/pixel_path.h"
#include "pipeline/host_pixels.h"
#include "pipeline/image.h"
#include "pipeline/render_context.h"

#if RUVIVEDU_X86_64
#include <immintrin.h>
#endif

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
constexpr int values_per_chunk = 256;

// Both sinks take a row's paper values in two ways:
//   values(i, from, scratch) then put(i, from, count, v)
//       the per-pixel walk forms the values of columns [from, from + count)
//       of row i (count at most values_per_chunk) where values() says (the
//       image row itself, or `scratch`), then hands them over with put();
//   sums(i), then finish(i)
//       the span walk adds coverage into a row of floats, one per column,
//       which finish() turns into paper and hands over. sums_allowed() says
//       whether it may.
//   prefetch(i), prefetch_bytes()
//       asks for what handing over row i will read (a hint), and how many
//       bytes that is.
// Accumulated rows may lie at any byte address: they are read and written
// through unaligned loads and stores only.

/// The one-channel output image: paper values are stored as they are.
struct ImagePaper {
    Image<float>& image;

    int width() const { return static_cast<int>(image.width); }
    int height() const { return static_cast<int>(image.height); }
    float* values(int i, int from, float*) const { return image.row(static_cast<uint32_t>(i)) + from; }
    void put(int, int, int, const float*) const {}
    void prefetch(int) const {}
    static std::size_t prefetch_size() { return 0; }
    bool sums_allowed() const { return true; }
    float* sums(int i) const { return image.row(static_cast<uint32_t>(i)); }
    void finish(int i) const { paper_from_sums(sums(i), width()); }
};

/// The host's output world of component type T: each paper value becomes the
/// output pixel, with the input's alpha there, as convert_output_grey
/// (alpha_output false) or convert_output_alpha (true) forms it.
template <typename T, bool alpha_output>
struct LayerPaper {
    const LayerParams& in;
    const LayerParams& out;
    float white;
    float inv_white;

    int width() const { return out.width; }
    int height() const { return out.height; }
    float* values(int, int, float* scratch) const { return scratch; }
    void put(int i, int from, int count, const float* v) const
    {
        host_pixels::write_paper<T, alpha_output>(in, out, i, from, count, v, white, inv_white);
    }

    // The input's alpha under row i: the input was last read by the sampling,
    // long before, and its rows are read only here.
    void prefetch(int i) const
    {
        if (i < in.height && i < out.height)
            prefetch_bytes(layer_row(in, i), prefetch_size());
    }
    std::size_t prefetch_size() const
    {
        const int covered = std::max(0, std::min(in.width, out.width));
        return static_cast<std::size_t>(covered) * static_cast<std::size_t>(std::max(in.bytes_per_pixel, 0));
    }

    // The sums of a row lie packed at the start of the output row itself
    // (every host pixel has room for a float), so the span walk needs no
    // memory of its own. That needs the input's alpha, read last, to lie
    // elsewhere: worlds that share memory are drawn pixel by pixel.
    bool sums_allowed() const { return !overlap(in, out); }
    float* sums(int i) const { return reinterpret_cast<float*>(layer_row(out, i)); }

    // From the right end of the row leftwards: the pixels of columns
    // [from, to) take the bytes of sums [from * size / 4, to * size / 4),
    // none of which lies left of `from`, so no sum is overwritten before it
    // has been read.
    void finish(int i) const
    {
        const char* row = layer_row(out, i);
        float chunk[values_per_chunk];
        for (int to = width(); to > 0; to -= values_per_chunk) {
            const int from = std::max(0, to - values_per_chunk);
            std::memcpy(chunk, row + static_cast<std::ptrdiff_t>(from) * 4,
                        static_cast<std::size_t>(to - from) * sizeof(float));
            paper_from_sums(chunk, to - from);
            put(i, from, to - from, chunk);
        }
    }

    // Whether the pixel bytes of the two worlds share any address.
    static bool overlap(const LayerParams& a, const LayerParams& b)
    {
        if (a.width <= 0 || a.height <= 0 || b.width <= 0 || b.height <= 0)
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
