// Where the cell sampling reads luminance and alpha: a two-channel source
// image, or the host's input world itself, each pixel converted on the way as
// the input conversion converts it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "base/host_pixels.h"
#include "base/image.h"
#include "base/pixel_path.h"
#include "base/render_context.h"

#if RUVIVEDU_X86_64
#include <immintrin.h>
#endif

namespace ruvivedu {

// Both sources answer the same questions, so one sampling code serves both:
//   width(), height()            the pixels there are
//   pixel_bytes()                the bytes one pixel takes
//   at(x, y)                     luminance and alpha of one pixel (in range)
//   pairs(y, x, count, scratch)  `count` pixels of row y from column x (all in
//                                range, count at most chunk()) as (luminance,
//                                alpha) pairs, either where they already lie
//                                or converted into `scratch`, which holds
//                                kPairsPerChunk pairs
//   chunk()                      the most pixels pairs() gives at once
//   prefetch(y, x, count)        asks for `count` pixels of row y from column
//                                x (all in range) ahead of their use
//   gathers()                    whether gather8 and row8 may run (AVX2 path)
//   gather8(y, x, lum, alpha)    eight pixels of row y at columns x (in range)
//   row8(y, x, lum, alpha)       the eight pixels of row y from column x on
//                                (x + 8 at most width())

/// Pairs a chunk of a source row may hold at most.
constexpr int kPairsPerChunk = 512;

#if RUVIVEDU_X86_64
/// Eight (luminance, alpha) pairs from p on as eight luminances and eight
/// alphas, in column order.
RUVIVEDU_TARGET_AVX2 inline void deinterleave8(const float* p, __m256& lum, __m256& alpha)
{
    const __m256 lo = _mm256_loadu_ps(p);      // L0 A0 L1 A1 | L2 A2 L3 A3
    const __m256 hi = _mm256_loadu_ps(p + 8);  // L4 A4 L5 A5 | L6 A6 L7 A7
    // L0 L1 L4 L5 | L2 L3 L6 L7, then in column order.
    const __m256 l = _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
    const __m256 a = _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
    lum = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(l), _MM_SHUFFLE(3, 1, 2, 0)));
    alpha = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(a), _MM_SHUFFLE(3, 1, 2, 0)));
}
#endif

/// The two-channel (luminance, alpha) source image.
struct ImageSource {
    const Image<float>& image;

    uint32_t width() const { return image.width; }
    uint32_t height() const { return image.height; }
    static int pixel_bytes() { return 2 * sizeof(float); }

    host_pixels::LumAlpha at(uint32_t x, uint32_t y) const
    {
        const float* p = image.row(y) + 2 * static_cast<std::size_t>(x);
        return {p[0], p[1]};
    }

    const float* pairs(uint32_t y, uint32_t x, int, float*) const
    {
        return image.row(y) + 2 * static_cast<std::size_t>(x);
    }
    // The pairs lie in the image already: any stretch of a row at once.
    static int chunk() { return std::numeric_limits<int>::max(); }

    void prefetch(uint32_t y, uint32_t x, int count) const
    {
        prefetch_bytes(reinterpret_cast<const char*>(image.row(y) + 2 * static_cast<std::size_t>(x)),
                       static_cast<std::size_t>(count) * 2 * sizeof(float));
    }

    // A row's float offsets must fit the gathers' 32-bit lanes.
    bool gathers() const { return static_cast<uint64_t>(image.width) * 2 < (uint64_t{1} << 31); }

#if RUVIVEDU_X86_64
    RUVIVEDU_TARGET_AVX2 void gather8(uint32_t y, __m256i x, __m256& lum, __m256& alpha) const
    {
        const float* row = image.row(y);
        const __m256i index = _mm256_slli_epi32(x, 1);
        lum = _mm256_i32gather_ps(row, index, 4);
        alpha = _mm256_i32gather_ps(row + 1, index, 4);
    }

    RUVIVEDU_TARGET_AVX2 void row8(uint32_t y, int x, __m256& lum, __m256& alpha) const
    {
        deinterleave8(image.row(y) + 2 * static_cast<std::size_t>(x), lum, alpha);
    }
#endif
};

/// The host's input world of component type T, read pixel by pixel through
/// the input conversion: the same luminance and alpha, to the bit, that the
/// source image would hold.
template <typename T>
struct LayerSource {
    const LayerParams& layer;
    float inv_white;

    uint32_t width() const { return layer.width > 0 ? static_cast<uint32_t>(layer.width) : 0u; }
    uint32_t height() const { return layer.height > 0 ? static_cast<uint32_t>(layer.height) : 0u; }
    int pixel_bytes() const { return layer.bytes_per_pixel > 0 ? layer.bytes_per_pixel : 1; }

    host_pixels::LumAlpha at(uint32_t x, uint32_t y) const
    {
        return host_pixels::source_value<T>(layer_pixel(layer, static_cast<int32_t>(x), static_cast<int32_t>(y)),
                                            inv_white);
    }

    const float* pairs(uint32_t y, uint32_t x, int count, float* scratch) const
    {
        host_pixels::source_row<T>(layer_pixel(layer, static_cast<int32_t>(x), static_cast<int32_t>(y)),
                                   layer.bytes_per_pixel, count, inv_white, scratch);
        return scratch;
    }
    static int chunk() { return kPairsPerChunk; }

    void prefetch(uint32_t y, uint32_t x, int count) const
    {
        prefetch_bytes(layer_pixel(layer, static_cast<int32_t>(x), static_cast<int32_t>(y)),
                       static_cast<std::size_t>(count) * static_cast<std::size_t>(layer.bytes_per_pixel));
    }

    // Packed pixels, and a row's byte offsets within the gathers' 32-bit lanes.
    bool gathers() const
    {
        return host_pixels::packed<T>(layer) && static_cast<uint64_t>(width()) * 4 * sizeof(T) < (uint64_t{1} << 31);
    }

#if RUVIVEDU_X86_64
    RUVIVEDU_TARGET_AVX2 void gather8(uint32_t y, __m256i x, __m256& lum, __m256& alpha) const
    {
        host_pixels::source_values8<T>(host_pixels::gather8<T>(layer_row(layer, static_cast<int32_t>(y)), x),
                                       _mm256_set1_ps(inv_white), lum, alpha);
    }

    RUVIVEDU_TARGET_AVX2 void row8(uint32_t y, int x, __m256& lum, __m256& alpha) const
    {
        host_pixels::source_values8<T>(host_pixels::load8<T>(layer_pixel(layer, x, static_cast<int32_t>(y))),
                                       _mm256_set1_ps(inv_white), lum, alpha);
    }
#endif
};

}  // namespace ruvivedu
