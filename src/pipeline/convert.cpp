// Conversion row jobs between host ARGB worlds and the pipeline's float images.
#include "pipeline/convert.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <type_traits>

#include "pipeline/parallel.h"

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

    RUVIVEDU_PARALLEL_FOR
    for (int y = begin; y < end; ++y) {
        const float* v = out_image->row(static_cast<uint32_t>(y));
        char* out_row = layer_row(*out, y);
        const std::ptrdiff_t out_step = out->bytes_per_pixel;
        // Columns that have an input pixel under them; the rest of the row, and
        // whole rows below the input, read no input at all.
        const int covered = y < in->height ? std::max(0, std::min(width, in->width)) : 0;
        if (covered > 0) {
            const char* in_row = layer_row(*in, y);
            const std::ptrdiff_t in_step = in->bytes_per_pixel;
            for (int x = 0; x < covered; ++x) {
                write(out_row + x * out_step, v[x], load_alpha<T>(in_row + x * in_step));
            }
        }
        for (int x = covered; x < width; ++x) {
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

    RUVIVEDU_PARALLEL_FOR
    for (int y = begin; y < end; ++y) {
        const char* in_row = layer_row(*in, y);
        const std::ptrdiff_t step = in->bytes_per_pixel;
        float* dst = src->row(static_cast<uint32_t>(y));
        for (int x = 0; x < width; ++x) {
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
