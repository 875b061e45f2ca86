// Host pixels and the pipeline's floats: the conversion arithmetic, one pixel
// at a time and four or eight at a time, for every stage that reads or writes
// a host world.
//
// The wide forms carry the same products, sums and truncations as the
// one-pixel forms, lane by lane, so every form gives the same bits; the row
// functions pick the widest form the processor and the world's pixel layout
// allow and finish with the one-pixel form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "base/pixel_path.h"
#include "base/render_context.h"

#if RUVIVEDU_X86_64
#include <immintrin.h>
#endif

namespace ruvivedu {

namespace host_pixels {

// Luminance weights in single precision; they sum to 1.000001, which is why the
// 8- and 16-bit luminance is truncated before scaling.
constexpr float kWeightRed = 0.298912f;
constexpr float kWeightGreen = 0.586611f;
constexpr float kWeightBlue = 0.114478f;

// Host components are copied in and out rather than read through a cast
// pointer: the host allocates its worlds as bytes and a padded row need not
// keep the component alignment.
template <typename T>
struct Argb {
    T a, r, g, b;
};

template <typename T>
inline Argb<T> load_pixel(const char* pixel)
{
    T c[4];
    std::memcpy(c, pixel, sizeof c);
    return {c[0], c[1], c[2], c[3]};
}

template <typename T>
inline T load_alpha(const char* pixel)
{
    T a;
    std::memcpy(&a, pixel, sizeof a);
    return a;
}

template <typename T>
inline void store_pixel(char* pixel, T a, T r, T g, T b)
{
    const T c[4] = {a, r, g, b};
    std::memcpy(pixel, c, sizeof c);
}

// A product truncated toward zero into the component type; float worlds take it
// unrounded. Every value the pipeline produces for an 8- or 16-bit world lies in
// 0 .. the type's storage limit, where this is the plain truncation. Anything
// else (a NaN or an infinity from a float image that was not made by the dot
// stage) would make the cast undefined, so NaN and negative values give 0 and
// values at or above the storage limit give the limit. The limit is the type's
// own maximum (65535 for 16 bits), not the host's full scale: 16-bit alpha above
// 32768 passes through the grey output unchanged.
template <typename T>
inline T to_component(float value)
{
    if constexpr (std::is_floating_point_v<T>) {
        return value;
    } else {
        constexpr T kLimit = std::numeric_limits<T>::max();
        if (!(value > 0.0f)) {
            return T(0);
        }
        if (value >= static_cast<float>(kLimit)) {
            return kLimit;
        }
        return static_cast<T>(value);
    }
}

template <typename T>
inline float luminance(const Argb<T>& p)
{
    const float sum = (p.g * kWeightGreen + p.r * kWeightRed) + p.b * kWeightBlue;
    // Integer sums are finite and below the type's limit (65535 * 1.000001
    // truncates to 65535), so this is the plain truncation toward zero.
    return static_cast<float>(to_component<T>(sum));
}

/// What the sampling reads of one input pixel: its luminance and its alpha,
/// both scaled by inv_white.
struct LumAlpha {
    float lum;
    float alpha;
};

template <typename T>
inline LumAlpha source_value(const char* pixel, float inv_white)
{
    const Argb<T> p = load_pixel<T>(pixel);
    return {luminance(p) * inv_white, p.a * inv_white};
}

/// One output pixel from its paper value v and the input's alpha a there (0
/// where no input pixel lies under it). Alpha off: a grey of brightness v
/// keeping the layer's alpha; Alpha on: black ink whose alpha is the ink times
/// the layer's alpha.
template <typename T, bool alpha_output>
inline void store_paper(char* pixel, float v, T a, float white, float inv_white)
{
    if constexpr (alpha_output) {
        store_pixel<T>(pixel, to_component<T>(((1.0f - v) * white) * (a * inv_white)), T(0), T(0), T(0));
    } else {
        const T grey = to_component<T>(white * v);
        store_pixel<T>(pixel, to_component<T>((a * inv_white) * white), grey, grey, grey);
    }
}

/// Whether the wide forms may run on a world: they assume packed
/// four-component pixels, as the host's are.
template <typename T>
inline bool packed(const LayerParams& layer)
{
    return layer.bytes_per_pixel == 4 * static_cast<int>(sizeof(T));
}

#if RUVIVEDU_X86_64

// ---- SSE2: four pixels at a time ------------------------------------------

// The four components of pixels [0, 4) at p (host order A, R, G, B), each as
// four floats, converted exactly from the stored type.
struct Argb4 {
    __m128 a, r, g, b;
};

template <typename T>
inline Argb4 load4(const char* p);

template <>
inline Argb4 load4<unsigned char>(const char* p)
{
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i byte = _mm_set1_epi32(0xFF);
    return {_mm_cvtepi32_ps(_mm_and_si128(x, byte)), _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(x, 8), byte)),
            _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(x, 16), byte)), _mm_cvtepi32_ps(_mm_srli_epi32(x, 24))};
}

template <>
inline Argb4 load4<unsigned short>(const char* p)
{
    // Each pixel is two 32-bit words, A|R<<16 and G|B<<16.
    const __m128i x0 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _MM_SHUFFLE(3, 1, 2, 0));
    const __m128i x1 =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), _MM_SHUFFLE(3, 1, 2, 0));
    const __m128i ar = _mm_unpacklo_epi64(x0, x1);
    const __m128i gb = _mm_unpackhi_epi64(x0, x1);
    const __m128i low = _mm_set1_epi32(0xFFFF);
    return {_mm_cvtepi32_ps(_mm_and_si128(ar, low)), _mm_cvtepi32_ps(_mm_srli_epi32(ar, 16)),
            _mm_cvtepi32_ps(_mm_and_si128(gb, low)), _mm_cvtepi32_ps(_mm_srli_epi32(gb, 16))};
}

template <>
inline Argb4 load4<float>(const char* p)
{
    const float* f = reinterpret_cast<const float*>(p);
    __m128 a = _mm_loadu_ps(f), r = _mm_loadu_ps(f + 4), g = _mm_loadu_ps(f + 8), b = _mm_loadu_ps(f + 12);
    _MM_TRANSPOSE4_PS(a, r, g, b);
    return {a, r, g, b};
}

// to_component for four lanes, returned as the integers it stores (integer
// types) or the floats themselves (float).
template <typename T>
inline __m128 to_component4(__m128 value)
{
    if constexpr (std::is_floating_point_v<T>) {
        return value;
    } else {
        const __m128 limit = _mm_set1_ps(static_cast<float>(std::numeric_limits<T>::max()));
        // min gives the limit for NaN, which the positive mask then clears.
        const __m128 kept = _mm_and_ps(_mm_min_ps(value, limit), _mm_cmpgt_ps(value, _mm_setzero_ps()));
        return _mm_castsi128_ps(_mm_cvttps_epi32(kept));
    }
}

// 16 bytes to p; with `stream`, past the caches where p is aligned for it
// (the caller waits for such stores with finish_stores()).
inline void put16(char* p, __m128i x, bool stream)
{
    if (stream && (reinterpret_cast<std::uintptr_t>(p) & 15) == 0)
        _mm_stream_si128(reinterpret_cast<__m128i*>(p), x);
    else
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), x);
}

template <typename T>
inline void store4(char* p, __m128 a, __m128 r, __m128 g, __m128 b, bool stream = false);

template <>
inline void store4<unsigned char>(char* p, __m128 a, __m128 r, __m128 g, __m128 b, bool stream)
{
    const __m128i x =
        _mm_or_si128(_mm_or_si128(_mm_castps_si128(a), _mm_slli_epi32(_mm_castps_si128(r), 8)),
                     _mm_or_si128(_mm_slli_epi32(_mm_castps_si128(g), 16), _mm_slli_epi32(_mm_castps_si128(b), 24)));
    put16(p, x, stream);
}

template <>
inline void store4<unsigned short>(char* p, __m128 a, __m128 r, __m128 g, __m128 b, bool stream)
{
    const __m128i ar = _mm_or_si128(_mm_castps_si128(a), _mm_slli_epi32(_mm_castps_si128(r), 16));
    const __m128i gb = _mm_or_si128(_mm_castps_si128(g), _mm_slli_epi32(_mm_castps_si128(b), 16));
    put16(p, _mm_unpacklo_epi32(ar, gb), stream);
    put16(p + 16, _mm_unpackhi_epi32(ar, gb), stream);
}

template <>
inline void store4<float>(char* p, __m128 a, __m128 r, __m128 g, __m128 b, bool stream)
{
    _MM_TRANSPOSE4_PS(a, r, g, b);
    put16(p, _mm_castps_si128(a), stream);
    put16(p + 16, _mm_castps_si128(r), stream);
    put16(p + 32, _mm_castps_si128(g), stream);
    put16(p + 48, _mm_castps_si128(b), stream);
}

// Luminance and alpha of four pixels, as source_value forms them.
template <typename T>
inline void source_values4(const Argb4& p, __m128 inv_white, __m128& lum, __m128& alpha)
{
    const __m128 sum =
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(p.g, _mm_set1_ps(kWeightGreen)), _mm_mul_ps(p.r, _mm_set1_ps(kWeightRed))),
                   _mm_mul_ps(p.b, _mm_set1_ps(kWeightBlue)));
    __m128 l = to_component4<T>(sum);
    if constexpr (!std::is_floating_point_v<T>)
        l = _mm_cvtepi32_ps(_mm_castps_si128(l));
    lum = _mm_mul_ps(l, inv_white);
    alpha = _mm_mul_ps(p.a, inv_white);
}

// Pixels [0, count - count % 4) of one input row as (luminance, alpha) pairs;
// returns where the one-pixel form takes over.
template <typename T>
inline int source_row_sse2(const char* in_row, float* pairs, int count, float inv_white_value)
{
    const __m128 inv_white = _mm_set1_ps(inv_white_value);
    const int end = count - count % 4;
    for (int x = 0; x < end; x += 4) {
        __m128 lum, alpha;
        source_values4<T>(load4<T>(in_row + static_cast<std::ptrdiff_t>(x) * 4 * sizeof(T)), inv_white, lum, alpha);
        _mm_storeu_ps(pairs + 2 * x, _mm_unpacklo_ps(lum, alpha));
        _mm_storeu_ps(pairs + 2 * x + 4, _mm_unpackhi_ps(lum, alpha));
    }
    return end;
}

// Four output pixels at p from paper values v and input alpha a, as
// store_paper forms them.
template <typename T, bool alpha_output>
inline void store_paper4(char* p, __m128 v, __m128 a, __m128 white, __m128 inv_white, bool stream)
{
    const __m128 zero = _mm_setzero_ps();
    if constexpr (alpha_output) {
        const __m128 alpha =
            to_component4<T>(_mm_mul_ps(_mm_mul_ps(_mm_sub_ps(_mm_set1_ps(1.0f), v), white), _mm_mul_ps(a, inv_white)));
        store4<T>(p, alpha, zero, zero, zero, stream);
    } else {
        const __m128 alpha = to_component4<T>(_mm_mul_ps(_mm_mul_ps(a, inv_white), white));
        const __m128 grey = to_component4<T>(_mm_mul_ps(white, v));
        store4<T>(p, alpha, grey, grey, grey, stream);
    }
}

// Columns [from, to) of one output row, to - from a multiple of 4, from the
// paper values v[from..to); in_row is null where the input world does not
// reach (alpha 0 there).
template <typename T, bool alpha_output>
inline void paper_run_sse2(const float* v, const char* in_row, char* out_row, int from, int to, float white_value,
                           float inv_white_value, bool stream)
{
    const __m128 white = _mm_set1_ps(white_value);
    const __m128 inv_white = _mm_set1_ps(inv_white_value);
    for (int x = from; x < to; x += 4) {
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(x) * 4 * sizeof(T);
        const __m128 a = in_row != nullptr ? load4<T>(in_row + offset).a : _mm_setzero_ps();
        store_paper4<T, alpha_output>(out_row + offset, _mm_loadu_ps(v + x), a, white, inv_white, stream);
    }
}

// ---- AVX2: eight pixels at a time ------------------------------------------
//
// 8-bit pixels are the cheapest to move and the most work per byte to unpack,
// so only they gain from the wider registers in whole rows; 16-bit and float
// rows are bound by memory on the SSE2 form already. The gathered forms serve
// stages that read scattered pixels of one row (the box filter's small cells).

RUVIVEDU_TARGET_AVX2 inline __m256 to_byte8(__m256 value)
{
    const __m256 kept = _mm256_and_ps(_mm256_min_ps(value, _mm256_set1_ps(255.0f)),
                                      _mm256_cmp_ps(value, _mm256_setzero_ps(), _CMP_GT_OQ));
    return _mm256_castsi256_ps(_mm256_cvttps_epi32(kept));
}

// to_component for eight lanes: the stored integers, or the floats themselves.
template <typename T>
RUVIVEDU_TARGET_AVX2 inline __m256 to_component8(__m256 value)
{
    if constexpr (std::is_floating_point_v<T>) {
        return value;
    } else {
        const __m256 limit = _mm256_set1_ps(static_cast<float>(std::numeric_limits<T>::max()));
        const __m256 kept =
            _mm256_and_ps(_mm256_min_ps(value, limit), _mm256_cmp_ps(value, _mm256_setzero_ps(), _CMP_GT_OQ));
        return _mm256_castsi256_ps(_mm256_cvttps_epi32(kept));
    }
}

struct Argb8 {
    __m256 a, r, g, b;
};

// Eight packed 8-bit pixels as they lie in one 32-byte word.
RUVIVEDU_TARGET_AVX2 inline Argb8 unpack8(__m256i p)
{
    const __m256i byte = _mm256_set1_epi32(0xFF);
    return {_mm256_cvtepi32_ps(_mm256_and_si256(p, byte)),
            _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(p, 8), byte)),
            _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(p, 16), byte)),
            _mm256_cvtepi32_ps(_mm256_srli_epi32(p, 24))};
}

// Pixels at columns x (eight lanes, each a column of the row, within it) of
// one row whose pixels are packed.
template <typename T>
RUVIVEDU_TARGET_AVX2 inline Argb8 gather8(const char* row, __m256i x);

template <>
RUVIVEDU_TARGET_AVX2 inline Argb8 gather8<unsigned char>(const char* row, __m256i x)
{
    return unpack8(_mm256_i32gather_epi32(reinterpret_cast<const int*>(row), x, 4));
}

template <>
RUVIVEDU_TARGET_AVX2 inline Argb8 gather8<unsigned short>(const char* row, __m256i x)
{
    const int* base = reinterpret_cast<const int*>(row);
    const __m256i x2 = _mm256_add_epi32(x, x);
    const __m256i ar = _mm256_i32gather_epi32(base, x2, 4);
    const __m256i gb = _mm256_i32gather_epi32(base + 1, x2, 4);
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    return {_mm256_cvtepi32_ps(_mm256_and_si256(ar, low)), _mm256_cvtepi32_ps(_mm256_srli_epi32(ar, 16)),
            _mm256_cvtepi32_ps(_mm256_and_si256(gb, low)), _mm256_cvtepi32_ps(_mm256_srli_epi32(gb, 16))};
}

template <>
RUVIVEDU_TARGET_AVX2 inline Argb8 gather8<float>(const char* row, __m256i x)
{
    const float* base = reinterpret_cast<const float*>(row);
    const __m256i x4 = _mm256_slli_epi32(x, 2);
    return {_mm256_i32gather_ps(base, x4, 4), _mm256_i32gather_ps(base + 1, x4, 4),
            _mm256_i32gather_ps(base + 2, x4, 4), _mm256_i32gather_ps(base + 3, x4, 4)};
}

// The eight packed pixels from p on.
template <typename T>
RUVIVEDU_TARGET_AVX2 inline Argb8 load8(const char* p)
{
    if constexpr (std::is_same_v<T, unsigned char>) {
        return unpack8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    } else {
        const Argb4 low = load4<T>(p), high = load4<T>(p + 16 * sizeof(T));
        return {_mm256_set_m128(high.a, low.a), _mm256_set_m128(high.r, low.r), _mm256_set_m128(high.g, low.g),
                _mm256_set_m128(high.b, low.b)};
    }
}

// Luminance and alpha of eight pixels, as source_value forms them.
template <typename T>
RUVIVEDU_TARGET_AVX2 inline void source_values8(const Argb8& p, __m256 inv_white, __m256& lum, __m256& alpha)
{
    const __m256 sum = _mm256_add_ps(
        _mm256_add_ps(_mm256_mul_ps(p.g, _mm256_set1_ps(kWeightGreen)), _mm256_mul_ps(p.r, _mm256_set1_ps(kWeightRed))),
        _mm256_mul_ps(p.b, _mm256_set1_ps(kWeightBlue)));
    __m256 l = to_component8<T>(sum);
    if constexpr (!std::is_floating_point_v<T>)
        l = _mm256_cvtepi32_ps(_mm256_castps_si256(l));
    lum = _mm256_mul_ps(l, inv_white);
    alpha = _mm256_mul_ps(p.a, inv_white);
}

// Pixels [0, count - count % 8) of one 8-bit input row as (luminance, alpha)
// pairs; returns where the narrower forms take over.
RUVIVEDU_TARGET_AVX2 inline int source_row_avx2(const char* in_row, float* pairs, int count, float inv_white_value)
{
    const __m256 inv_white = _mm256_set1_ps(inv_white_value);
    const int end = count - count % 8;
    for (int x = 0; x < end; x += 8) {
        const char* pixels = in_row + static_cast<std::ptrdiff_t>(x) * 4;
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels));
        __m256 lum, alpha;
        source_values8<unsigned char>(unpack8(p), inv_white, lum, alpha);
        const __m256 low = _mm256_unpacklo_ps(lum, alpha);   // pixels 0 1 | 4 5
        const __m256 high = _mm256_unpackhi_ps(lum, alpha);  // pixels 2 3 | 6 7
        _mm256_storeu_ps(pairs + 2 * x, _mm256_permute2f128_ps(low, high, 0x20));
        _mm256_storeu_ps(pairs + 2 * x + 8, _mm256_permute2f128_ps(low, high, 0x31));
    }
    return end;
}

// Eight 8-bit output pixels from paper values v and input alpha a (as
// floats), as store_paper forms them, packed as the host stores them.
template <bool alpha_output>
RUVIVEDU_TARGET_AVX2 inline __m256i paper_pixels8(__m256 v, __m256 a, __m256 white, __m256 inv_white)
{
    if constexpr (alpha_output) {
        return _mm256_castps_si256(to_byte8(
            _mm256_mul_ps(_mm256_mul_ps(_mm256_sub_ps(_mm256_set1_ps(1.0f), v), white), _mm256_mul_ps(a, inv_white))));
    } else {
        const __m256i alpha = _mm256_castps_si256(to_byte8(_mm256_mul_ps(_mm256_mul_ps(a, inv_white), white)));
        const __m256i grey = _mm256_castps_si256(to_byte8(_mm256_mul_ps(white, v)));
        return _mm256_or_si256(_mm256_or_si256(alpha, _mm256_slli_epi32(grey, 8)),
                               _mm256_or_si256(_mm256_slli_epi32(grey, 16), _mm256_slli_epi32(grey, 24)));
    }
}

// The alpha of eight 8-bit input pixels at p as floats; 0 without an input row.
RUVIVEDU_TARGET_AVX2 inline __m256 alpha8(const char* p)
{
    if (p == nullptr)
        return _mm256_setzero_ps();
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    return _mm256_cvtepi32_ps(_mm256_and_si256(x, _mm256_set1_epi32(0xFF)));
}

template <bool alpha_output>
RUVIVEDU_TARGET_AVX2 inline void paper_run_avx2(const float* v, const char* in_row, char* out_row, int from, int to,
                                                float white_value, float inv_white_value, bool stream)
{
    const __m256 white = _mm256_set1_ps(white_value);
    const __m256 inv_white = _mm256_set1_ps(inv_white_value);
    for (int x = from; x < to; x += 8) {
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(x) * 4;
        const __m256 a = alpha8(in_row != nullptr ? in_row + offset : nullptr);
        const __m256i pixels = paper_pixels8<alpha_output>(_mm256_loadu_ps(v + x), a, white, inv_white);
        char* p = out_row + offset;
        if (stream && (reinterpret_cast<std::uintptr_t>(p) & 31) == 0)
            _mm256_stream_si256(reinterpret_cast<__m256i*>(p), pixels);
        else
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), pixels);
    }
}

#endif  // RUVIVEDU_X86_64

/// `count` pixels of one input row (pixel after pixel, `step` bytes apart) as
/// (luminance, alpha) pairs into pairs[0 .. 2 * count).
template <typename T>
inline void source_row(const char* in_row, std::ptrdiff_t step, int count, float inv_white, float* pairs)
{
    int x = 0;
#if RUVIVEDU_X86_64
    const PixelPath path = pixel_path();
    if (path != PixelPath::scalar && step == 4 * static_cast<std::ptrdiff_t>(sizeof(T))) {
        // The last few pixels of a stretch of at least one vector are
        // converted once more by a vector ending at the stretch's end: the
        // same values written again.
        if constexpr (std::is_same_v<T, unsigned char>) {
            if (path == PixelPath::avx2 && count >= 8) {
                x = source_row_avx2(in_row, pairs, count, inv_white);
                if (x < count)
                    x = count - 8 + source_row_avx2(in_row + (count - 8) * step, pairs + 2 * (count - 8), 8, inv_white);
            }
        }
        if (count - x >= 4 || (x == 0 && count >= 4)) {
            x += source_row_sse2<T>(in_row + x * step, pairs + 2 * x, count - x, inv_white);
            if (x < count)
                x = count - 4 + source_row_sse2<T>(in_row + (count - 4) * step, pairs + 2 * (count - 4), 4, inv_white);
        }
    }
#endif
    for (; x < count; ++x) {
        const LumAlpha p = source_value<T>(in_row + x * step, inv_white);
        pairs[2 * x] = p.lum;
        pairs[2 * x + 1] = p.alpha;
    }
}

/// `count` output pixels of one row from their paper values v[0 .. count),
/// with the input's alpha from in_row (`in_step` bytes a pixel), or alpha 0
/// where in_row is null (no input pixel under them). With `stream`, the wide
/// forms store past the caches where they can: for worlds much larger than
/// the caches, which the stage writes once and does not read again, that
/// spares the processor reading each line of the world before writing it.
/// Such stores must be waited for (finish_stores()) before anyone reads the
/// world.
template <typename T, bool alpha_output>
inline void paper_row(const float* v, const char* in_row, std::ptrdiff_t in_step, char* out_row,
                      std::ptrdiff_t out_step, int count, float white, float inv_white, bool stream = false)
{
    int x = 0;
#if RUVIVEDU_X86_64
    const PixelPath path = pixel_path();
    const std::ptrdiff_t packed_step = 4 * static_cast<std::ptrdiff_t>(sizeof(T));
    if (path != PixelPath::scalar && out_step == packed_step && (in_row == nullptr || in_step == packed_step)) {
        if constexpr (std::is_same_v<T, unsigned char>) {
            if (path == PixelPath::avx2) {
                x = count - count % 8;
                paper_run_avx2<alpha_output>(v, in_row, out_row, 0, x, white, inv_white, stream);
            }
        }
        const int to = x + (count - x) / 4 * 4;
        paper_run_sse2<T, alpha_output>(v, in_row, out_row, x, to, white, inv_white, stream);
        x = to;
    }
#endif
    for (; x < count; ++x) {
        const T a = in_row != nullptr ? load_alpha<T>(in_row + x * in_step) : T(0);
        store_paper<T, alpha_output>(out_row + x * out_step, v[x], a, white, inv_white);
    }
}

/// Output pixels [from, from + count) of row y of `out` from their paper values
/// v[0 .. count). The input's alpha is read where an input pixel lies under
/// the output pixel (the output world is addressed in the input's frame); where
/// the output reaches beyond the input (to the right or below) the alpha is 0:
/// outside its world a layer is transparent to the host as well, and nothing
/// outside `in` is read.
template <typename T, bool alpha_output>
inline void write_paper(const LayerParams& in, const LayerParams& out, int y, int from, int count, const float* v,
                        float white, float inv_white, bool stream = false)
{
    const int covered = y < in.height ? (in.width < out.width ? in.width : out.width) : 0;
    const int split = covered < from ? from : (covered > from + count ? from + count : covered);
    char* out_row = layer_row(out, y) + static_cast<std::ptrdiff_t>(from) * out.bytes_per_pixel;
    if (split > from) {
        const char* in_row = layer_row(in, y) + static_cast<std::ptrdiff_t>(from) * in.bytes_per_pixel;
        paper_row<T, alpha_output>(v, in_row, in.bytes_per_pixel, out_row, out.bytes_per_pixel, split - from, white,
                                   inv_white, stream);
    }
    if (from + count > split) {
        const int done = split - from;
        char* rest = out_row + static_cast<std::ptrdiff_t>(done) * out.bytes_per_pixel;
        paper_row<T, alpha_output>(v + done, nullptr, 0, rest, out.bytes_per_pixel, count - done, white, inv_white,
                                   stream);
    }
}

/// Waits until the stores paper_row made past the caches have reached memory,
/// so that whoever reads the world next sees them.
inline void finish_stores()
{
#if RUVIVEDU_X86_64
    _mm_sfence();
#endif
}

}  // namespace host_pixels

}  // namespace ruvivedu
