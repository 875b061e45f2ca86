// Cell sampling row jobs: box filter, alpha-weighted bilinear lookup, nearest pixel.
#include "halftone/sampling.h"

#include <cmath>
#include <cstddef>

#include "pipeline/parallel.h"

namespace {

// Index clamped into [0, size - 1]; size is never 0 here.
uint32_t clamp_index(int i, uint32_t size)
{
    if (i < 0) {
        return 0;
    }
    if (static_cast<uint32_t>(i) >= size) {
        return size - 1;
    }
    return static_cast<uint32_t>(i);
}

// First channel of pixel (x, y), both indices clamped into the image.
const float* clamped_pixel(const Image<float>& image, int x, int y)
{
    return image.row(clamp_index(y, image.height)) +
           static_cast<std::size_t>(clamp_index(x, image.width)) * image.num_channels;
}

bool is_empty(const Image<float>& image)
{
    return image.width == 0 || image.height == 0;
}

// Ink of a dot from its sampled luminance and alpha.
float ink(float luminance, float alpha)
{
    return std::ceil(alpha) * (1.0f - luminance);
}

} // namespace

template <typename T>
void box_filter(Image<float>* src, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end)
{
    if (begin >= end) {
        return;
    }
    const Mat3& box_to_src = params->box_to_src;
    const int width = static_cast<int>(dst->width);
    // An input world without pixels has nothing to average: every cell is
    // transparent (luminance 0, alpha 0) rather than a read of a missing pixel.
    const bool no_source = is_empty(*src);

    RUVIVEDU_PARALLEL_FOR
    for (int r = begin; r < end; ++r) {
        float* out = dst->row(static_cast<uint32_t>(r));
        for (int c = 0; c < width; ++c) {
            if (no_source) {
                out[2 * c] = 0.0f;
                out[2 * c + 1] = 0.0f;
                continue;
            }
            // The cell's footprint is axis-aligned in the source (box_to_src
            // has no rotation).
            float x0, y0, x1, y1;
            box_to_src.map(static_cast<float>(c) - 0.5f, static_cast<float>(r) - 0.5f, x0, y0);
            box_to_src.map(static_cast<float>(c) + 0.5f, static_cast<float>(r) + 0.5f, x1, y1);
            const int left = static_cast<int>(std::floor(x0));
            const int right = static_cast<int>(std::floor(x1));
            const int top = static_cast<int>(std::floor(y0));
            const int bottom = static_cast<int>(std::floor(y1));

            // Edge weights, each from the corner named here, also where that
            // is not the covered fraction (a footprint that does not span a
            // whole number of pixels): existing pictures depend on exactly
            // these weights.
            float wl = std::ceil(x0) - x0;
            if (wl == 0.0f) {
                wl = 1.0f;
            }
            const float wr = x0 - std::floor(x0);
            float wt = std::ceil(y1) - y1;
            if (wt == 0.0f) {
                wt = 1.0f;
            }
            const float wb = y1 - std::floor(y1);

            float sum_lum = 0.0f;
            float sum_alpha = 0.0f;
            auto add = [&](int x, int y, float w) {
                const float* p = clamped_pixel(*src, x, y);
                sum_lum += w * p[0];
                sum_alpha += w * p[1];
            };
            // Corners first; when left == right or top == bottom the same pixel
            // is read twice, once with each weight.
            add(left, top, wt * wl);
            add(left, bottom, wb * wl);
            add(right, top, wr * wt);
            add(right, bottom, wb * wr);
            for (int y = top + 1; y < bottom; ++y) {
                add(left, y, wl);
                add(right, y, wr);
            }
            for (int x = left + 1; x < right; ++x) {
                add(x, top, wt);
                add(x, bottom, wb);
            }
            for (int y = top + 1; y < bottom; ++y) {
                for (int x = left + 1; x < right; ++x) {
                    add(x, y, 1.0f);
                }
            }

            float lum = sum_alpha > 0.0f ? sum_lum / sum_alpha : 0.0f;
            if (lum > 1.0f) {
                lum = 1.0f;
            }
            float alpha = sum_alpha / ((y1 - y0) * (x1 - x0));
            if (alpha > 1.0f) {
                alpha = 1.0f;
            }
            out[2 * c] = lum;
            out[2 * c + 1] = alpha;
        }
    }
}

template <typename T>
void resample_bilinear(Image<float>* src, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end)
{
    if (begin >= end) {
        return;
    }
    const Mat3& grid_to_box = params->grid_to_box;
    const int width = static_cast<int>(dst->width);
    // Without box pixels there is no ink to find (as for a transparent layer).
    const bool no_source = is_empty(*src);

    RUVIVEDU_PARALLEL_FOR
    for (int r = begin; r < end; ++r) {
        float* out = dst->row(static_cast<uint32_t>(r));
        for (int c = 0; c < width; ++c) {
            if (no_source) {
                out[c] = 0.0f;
                continue;
            }
            float x, y;
            grid_to_box.map(static_cast<float>(c), static_cast<float>(r), x, y);
            float alpha;
            const float lum = src->sample_weighted(x, y, &alpha);
            out[c] = ink(lum, alpha);
        }
    }
}

template <typename T>
void sample_nearest(Image<float>* src, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end)
{
    if (begin >= end) {
        return;
    }
    const Mat3& grid_to_src = params->grid_to_src;
    const int width = static_cast<int>(dst->width);
    // An input world without pixels gives no ink (as a transparent one would).
    const bool no_source = is_empty(*src);

    RUVIVEDU_PARALLEL_FOR
    for (int r = begin; r < end; ++r) {
        float* out = dst->row(static_cast<uint32_t>(r));
        for (int c = 0; c < width; ++c) {
            if (no_source) {
                out[c] = 0.0f;
                continue;
            }
            float x, y;
            grid_to_src.map(static_cast<float>(c), static_cast<float>(r), x, y);
            // std::round takes halves away from zero.
            const float* p = clamped_pixel(*src, static_cast<int>(std::round(x)), static_cast<int>(std::round(y)));
            out[c] = ink(p[0], p[1]);
        }
    }
}

#define RUVIVEDU_INSTANTIATE_SAMPLING(T)                                                                       \
    template void box_filter<T>(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);           \
    template void resample_bilinear<T>(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);    \
    template void sample_nearest<T>(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);

RUVIVEDU_INSTANTIATE_SAMPLING(unsigned char)
RUVIVEDU_INSTANTIATE_SAMPLING(unsigned short)
RUVIVEDU_INSTANTIATE_SAMPLING(float)
