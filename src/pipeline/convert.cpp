// Conversion row jobs between host ARGB worlds and the pipeline's float images.
//
// On x86-64 four pixels go through SSE2 at a time: the same products, sums and
// truncations as the per-pixel code, lane by lane, so both give the same bits;
// the per-pixel code finishes each row and serves every other processor.
#include "pipeline/convert.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <type_traits>

#include "halftone/pixel_path.h"
#include "pipeline/parallel.h"

#if RUVIVEDU_X86_64
#include <immintrin.h>
#endif

namespace {

// Luminance weights in single precision; they sum to 1.000001, which is why the
// 8- and 16-bit luminance is truncated before scaling.
constexpr float weight_red = 0.298912f;
constexpr float weight_green = 0.586611f;
constexpr float weight_blue = 0.114478f;

// Host components are copied in and out rather than read through a cast
// pointer: the host allocates its worlds as bytes and a padded row need not
// keep the component alignment.
template <typename T>
struct Argb {
    T a, r, g, b;
};

template <typename T>
Argb<T> load_pixel(const char* pixel)
{
    T c[4];
    std::memcpy(c, pixel, sizeof c);
    return {c[0], c[1], c[2], c[3]};
}

template <typename T>
T load_alpha(const char* pixel)
{
    T a;
    std::memcpy(&a, pixel, sizeof a);
    return a;
}

template <typename T>
void store_pixel(char* pixel, T a, T r, T g, T b)
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
T to_component(float value)
{
    if constexpr (std::is_floating_point_v<T>) {
        return value;
    } else {
        constexpr T limit = std::numeric_limits<T>::max();
        if (!(value > 0.0f)) {
            return T(0);
        }
        if (value >= static_cast<float>(limit)) {
            return limit;
        }
        return static_cast<T>(value);
    }
}

template <typename T>
float luminance(const Argb<T>& p)
{
    const float sum = (p.g * weight_green + p.r * weight_red) + p.b * weight_blue;
    // Integer sums are finite and below the type's limit (65535 * 1.000001
    // truncates to 65535), so this is the plain truncation toward zero.
    return static_cast<float>(to_component<T>(sum));
}

#if RUVIVEDU_X86_64

// ---- SSE2: four pixels at a time ------------------------------------------

// The four components of pixels [0, 4) at p (host order A, R, G, B), each as
// four floats, converted exactly from the stored type.
struct Argb4 {
    __m128 a, r, g, b;
};

template <typename T>
Argb4 load4(const char* p);

template <>
Argb4 load4<unsigned char>(const char* p)
{
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i byte = _mm_set1_epi32(0xFF);
    return {_mm_cvtepi32_ps(_mm_and_si128(x, byte)), _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(x, 8), byte)),
            _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(x, 16), byte)), _mm_cvtepi32_ps(_mm_srli_epi32(x, 24))};
}

template <>
Argb4 load4<unsigned short>(const char* p)
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
Argb4 load4<float>(const char* p)
{
    const float* f = reinterpret_cast<const float*>(p);
    __m128 a = _mm_loadu_ps(f), r = _mm_loadu_ps(f + 4), g = _mm_loadu_ps(f + 8), b = _mm_loadu_ps(f + 12);
    _MM_TRANSPOSE4_PS(a, r, g, b);
    return {a, r, g, b};
}

// to_component for four lanes, returned as the integers it stores (integer
// types) or the floats themselves (float).
template <typename T>
__m128 to_component4(__m128 value)
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

template <typename T>
void store4(char* p, __m128 a, __m128 r, __m128 g, __m128 b);

template <>
void store4<unsigned char>(char* p, __m128 a, __m128 r, __m128 g, __m128 b)
{
    const __m128i x = _mm_or_si128(
        _mm_or_si128(_mm_castps_si128(a), _mm_slli_epi32(_mm_castps_si128(r), 8)),
        _mm_or_si128(_mm_slli_epi32(_mm_castps_si128(g), 16), _mm_slli_epi32(_mm_castps_si128(b), 24)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), x);
}

template <>
void store4<unsigned short>(char* p, __m128 a, __m128 r, __m128 g, __m128 b)
{
    const __m128i ar = _mm_or_si128(_mm_castps_si128(a), _mm_slli_epi32(_mm_castps_si128(r), 16));
    const __m128i gb = _mm_or_si128(_mm_castps_si128(g), _mm_slli_epi32(_mm_castps_si128(b), 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_unpacklo_epi32(ar, gb));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), _mm_unpackhi_epi32(ar, gb));
}

template <>
void store4<float>(char* p, __m128 a, __m128 r, __m128 g, __m128 b)
{
    float* f = reinterpret_cast<float*>(p);
    _MM_TRANSPOSE4_PS(a, r, g, b);
    _mm_storeu_ps(f, a);
    _mm_storeu_ps(f + 4, r);
    _mm_storeu_ps(f + 8, g);
    _mm_storeu_ps(f + 12, b);
}

// Columns [0, width - width % 4) of one input row; returns where the
// per-pixel code takes over.
template <typename T>
int convert_input_row_sse2(const char* in_row, float* dst, int width, float inv_white_value)
{
    const __m128 inv_white = _mm_set1_ps(inv_white_value);
    const __m128 wr = _mm_set1_ps(weight_red);
    const __m128 wg = _mm_set1_ps(weight_green);
    const __m128 wb = _mm_set1_ps(weight_blue);
    const int end = width - width % 4;
    for (int x = 0; x < end; x += 4) {
        const Argb4 p = load4<T>(in_row + static_cast<std::ptrdiff_t>(x) * 4 * sizeof(T));
        const __m128 sum = _mm_add_ps(_mm_add_ps(_mm_mul_ps(p.g, wg), _mm_mul_ps(p.r, wr)), _mm_mul_ps(p.b, wb));
        __m128 lum = to_component4<T>(sum);
        if constexpr (!std::is_floating_point_v<T>)
            lum = _mm_cvtepi32_ps(_mm_castps_si128(lum));
        lum = _mm_mul_ps(lum, inv_white);
        const __m128 alpha = _mm_mul_ps(p.a, inv_white);
        _mm_storeu_ps(dst + 2 * x, _mm_unpacklo_ps(lum, alpha));
        _mm_storeu_ps(dst + 2 * x + 4, _mm_unpackhi_ps(lum, alpha));
    }
    return end;
}

// Columns [from, to) of one output row, to - from a multiple of 4; in_row is
// null where the input world does not reach (alpha 0 there).
template <typename T, bool alpha_output>
void convert_output_run_sse2(const float* v, const char* in_row, char* out_row, int from, int to, float white_value,
                             float inv_white_value)
{
    const __m128 white = _mm_set1_ps(white_value);
    const __m128 inv_white = _mm_set1_ps(inv_white_value);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 zero = _mm_setzero_ps();
    for (int x = from; x < to; x += 4) {
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(x) * 4 * sizeof(T);
        const __m128 a = in_row != nullptr ? load4<T>(in_row + offset).a : zero;
        const __m128 value = _mm_loadu_ps(v + x);
        if constexpr (alpha_output) {
            const __m128 alpha =
                to_component4<T>(_mm_mul_ps(_mm_mul_ps(_mm_sub_ps(one, value), white), _mm_mul_ps(a, inv_white)));
            store4<T>(out_row + offset, alpha, zero, zero, zero);
        } else {
            const __m128 alpha = to_component4<T>(_mm_mul_ps(_mm_mul_ps(a, inv_white), white));
            const __m128 grey = to_component4<T>(_mm_mul_ps(white, value));
            store4<T>(out_row + offset, alpha, grey, grey, grey);
        }
    }
}

// ---- AVX2: eight 8-bit pixels at a time ------------------------------------
//
// 8-bit pixels are the cheapest to move and the most work per byte to unpack,
// so only they gain from the wider registers; 16-bit and float rows are bound
// by memory on the SSE2 path already.

RUVIVEDU_TARGET_AVX2 inline __m256 to_byte8(__m256 value)
{
    const __m256 kept = _mm256_and_ps(_mm256_min_ps(value, _mm256_set1_ps(255.0f)),
                                      _mm256_cmp_ps(value, _mm256_setzero_ps(), _CMP_GT_OQ));
    return _mm256_castsi256_ps(_mm256_cvttps_epi32(kept));
}

RUVIVEDU_TARGET_AVX2 int convert_input_row_avx2(const char* in_row, float* dst, int width, float inv_white_value)
{
    const __m256 inv_white = _mm256_set1_ps(inv_white_value);
    const __m256 wr = _mm256_set1_ps(weight_red);
    const __m256 wg = _mm256_set1_ps(weight_green);
    const __m256 wb = _mm256_set1_ps(weight_blue);
    const __m256i byte = _mm256_set1_epi32(0xFF);
    const int end = width - width % 8;
    for (int x = 0; x < end; x += 8) {
        const char* pixels = in_row + static_cast<std::ptrdiff_t>(x) * 4;
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels));
        const __m256 a = _mm256_cvtepi32_ps(_mm256_and_si256(p, byte));
        const __m256 r = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(p, 8), byte));
        const __m256 g = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(p, 16), byte));
        const __m256 b = _mm256_cvtepi32_ps(_mm256_srli_epi32(p, 24));
        const __m256 sum =
            _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(g, wg), _mm256_mul_ps(r, wr)), _mm256_mul_ps(b, wb));
        const __m256 lum = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_castps_si256(to_byte8(sum))), inv_white);
        const __m256 alpha = _mm256_mul_ps(a, inv_white);
        const __m256 low = _mm256_unpacklo_ps(lum, alpha);   // pixels 0 1 | 4 5
        const __m256 high = _mm256_unpackhi_ps(lum, alpha);  // pixels 2 3 | 6 7
        _mm256_storeu_ps(dst + 2 * x, _mm256_permute2f128_ps(low, high, 0x20));
        _mm256_storeu_ps(dst + 2 * x + 8, _mm256_permute2f128_ps(low, high, 0x31));
    }
    return end;
}

template <bool alpha_output>
RUVIVEDU_TARGET_AVX2 void convert_output_run_avx2(const float* v, const char* in_row, char* out_row, int from, int to,
                                                  float white_value, float inv_white_value)
{
    const __m256 white = _mm256_set1_ps(white_value);
    const __m256 inv_white = _mm256_set1_ps(inv_white_value);
    const __m256 one = _mm256_set1_ps(1.0f);
    for (int x = from; x < to; x += 8) {
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(x) * 4;
        __m256 a = _mm256_setzero_ps();
        if (in_row != nullptr) {
            const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in_row + offset));
            a = _mm256_cvtepi32_ps(_mm256_and_si256(p, _mm256_set1_epi32(0xFF)));
        }
        const __m256 value = _mm256_loadu_ps(v + x);
        __m256i pixels;
        if constexpr (alpha_output) {
            pixels = _mm256_castps_si256(
                to_byte8(_mm256_mul_ps(_mm256_mul_ps(_mm256_sub_ps(one, value), white), _mm256_mul_ps(a, inv_white))));
        } else {
            const __m256i alpha = _mm256_castps_si256(to_byte8(_mm256_mul_ps(_mm256_mul_ps(a, inv_white), white)));
            const __m256i grey = _mm256_castps_si256(to_byte8(_mm256_mul_ps(white, value)));
            pixels = _mm256_or_si256(_mm256_or_si256(alpha, _mm256_slli_epi32(grey, 8)),
                                     _mm256_or_si256(_mm256_slli_epi32(grey, 16), _mm256_slli_epi32(grey, 24)));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out_row + offset), pixels);
    }
}

#endif  // RUVIVEDU_X86_64

template <typename T, bool alpha_output>
void convert_output(Image<float>* out_image, LayerParams* in, LayerParams* out, HalfTone_Inner_Params<T>* params,
                    int begin, int end)
{
    if (begin >= end) {
        return;
    }
    const T white = params->white_value;
    const float white_f = static_cast<float>(white);
    const float inv_white = params->inv_white;
    const int width = out->width;

    // a is the input's alpha at the pixel, 0 outside the input world.
    auto write = [&](char* pixel, float v, T a) {
        if constexpr (alpha_output) {
            const T alpha = to_component<T>(((1.0f - v) * white_f) * (a * inv_white));
            store_pixel<T>(pixel, alpha, T(0), T(0), T(0));
        } else {
            const T alpha = to_component<T>((a * inv_white) * white_f);
            const T grey = to_component<T>(white_f * v);
            store_pixel<T>(pixel, alpha, grey, grey, grey);
        }
    };

    // The wide code assumes packed four-component pixels, as the host's are.
    [[maybe_unused]] const bool wide = pixel_path() != PixelPath::scalar &&
                                       in->bytes_per_pixel == 4 * int(sizeof(T)) &&
                                       out->bytes_per_pixel == 4 * int(sizeof(T));
    [[maybe_unused]] const bool avx2 = pixel_path() == PixelPath::avx2;

    RUVIVEDU_PARALLEL_FOR
    for (int y = begin; y < end; ++y) {
        const float* v = out_image->row(static_cast<uint32_t>(y));
        char* out_row = layer_row(*out, y);
        const std::ptrdiff_t out_step = out->bytes_per_pixel;
        // Columns that have an input pixel under them; the rest of the row, and
        // whole rows below the input, read no input at all.
        const int covered = y < in->height ? std::max(0, std::min(width, in->width)) : 0;
        int x = 0;
        if (covered > 0) {
            const char* in_row = layer_row(*in, y);
            const std::ptrdiff_t in_step = in->bytes_per_pixel;
#if RUVIVEDU_X86_64
            if (wide) {
                if constexpr (std::is_same_v<T, unsigned char>) {
                    if (avx2) {
                        x = covered - covered % 8;
                        convert_output_run_avx2<alpha_output>(v, in_row, out_row, 0, x, white_f, inv_white);
                    }
                }
                const int to = x + (covered - x) / 4 * 4;
                convert_output_run_sse2<T, alpha_output>(v, in_row, out_row, x, to, white_f, inv_white);
                x = to;
            }
#endif
            for (; x < covered; ++x) {
                write(out_row + x * out_step, v[x], load_alpha<T>(in_row + x * in_step));
            }
        }
#if RUVIVEDU_X86_64
        if (wide) {
            if constexpr (std::is_same_v<T, unsigned char>) {
                if (avx2) {
                    const int to = x + (width - x) / 8 * 8;
                    convert_output_run_avx2<alpha_output>(v, nullptr, out_row, x, to, white_f, inv_white);
                    x = to;
                }
            }
            const int to = x + (width - x) / 4 * 4;
            convert_output_run_sse2<T, alpha_output>(v, nullptr, out_row, x, to, white_f, inv_white);
            x = to;
        }
#endif
        for (; x < width; ++x) {
            write(out_row + x * out_step, v[x], T(0));
        }
    }
}

} // namespace

template <typename T>
void convert_input(LayerParams* in, Image<float>* src, HalfTone_Inner_Params<T>* params, int begin, int end)
{
    if (begin >= end) {
        return;
    }
    const float inv_white = params->inv_white;
    const int width = static_cast<int>(src->width);

    [[maybe_unused]] const bool wide =
        pixel_path() != PixelPath::scalar && in->bytes_per_pixel == 4 * int(sizeof(T));
    [[maybe_unused]] const bool avx2 = pixel_path() == PixelPath::avx2;

    RUVIVEDU_PARALLEL_FOR
    for (int y = begin; y < end; ++y) {
        const char* in_row = layer_row(*in, y);
        const std::ptrdiff_t step = in->bytes_per_pixel;
        float* dst = src->row(static_cast<uint32_t>(y));
        int x = 0;
#if RUVIVEDU_X86_64
        if (wide) {
            if constexpr (std::is_same_v<T, unsigned char>) {
                if (avx2) {
                    x = convert_input_row_avx2(in_row, dst, width, inv_white);
                }
            }
            const int to = x + (width - x) / 4 * 4;
            convert_input_row_sse2<T>(in_row + static_cast<std::ptrdiff_t>(x) * 4 * sizeof(T), dst + 2 * x, to - x,
                                      inv_white);
            x = to;
        }
#endif
        for (; x < width; ++x) {
            const Argb<T> p = load_pixel<T>(in_row + x * step);
            dst[2 * x] = luminance(p) * inv_white;
            dst[2 * x + 1] = p.a * inv_white;
        }
    }
}

template <typename T>
void convert_output_grey(Image<float>* out_image, LayerParams* in, LayerParams* out,
                         HalfTone_Inner_Params<T>* params, int begin, int end)
{
    convert_output<T, false>(out_image, in, out, params, begin, end);
}

template <typename T>
void convert_output_alpha(Image<float>* out_image, LayerParams* in, LayerParams* out,
                          HalfTone_Inner_Params<T>* params, int begin, int end)
{
    convert_output<T, true>(out_image, in, out, params, begin, end);
}

#define RUVIVEDU_INSTANTIATE_CONVERT(T)                                                                            \
    template void convert_input<T>(LayerParams*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);                \
    template void convert_output_grey<T>(Image<float>*, LayerParams*, LayerParams*, HalfTone_Inner_Params<T>*, int, \
                                         int);                                                                     \
    template void convert_output_alpha<T>(Image<float>*, LayerParams*, LayerParams*, HalfTone_Inner_Params<T>*,     \
                                          int, int);

RUVIVEDU_INSTANTIATE_CONVERT(unsigned char)
RUVIVEDU_INSTANTIATE_CONVERT(unsigned short)
RUVIVEDU_INSTANTIATE_CONVERT(float)
