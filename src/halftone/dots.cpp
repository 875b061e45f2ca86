// Dot rendering row jobs: circle, square and line screens.
#include "halftone/dots.h"

#include <cmath>

#include "pipeline/parallel.h"

namespace {

// Width of the circle's soft edge (sqrt 2 in single precision).
constexpr float soft_edge = 1.4142135f;
// Ink at or below which a circle or square is not drawn (a bar: below which).
constexpr float ink_epsilon = 1e-7f;

// min(1, max(0, x)), with NaN giving 0: a NaN coverage adds no ink.
float clamp_unit(float x)
{
    return x > 0.0f ? (x < 1.0f ? x : 1.0f) : 0.0f;
}

int clamp_index(int i, uint32_t size)
{
    if (i < 0) {
        return 0;
    }
    if (static_cast<uint32_t>(i) >= size) {
        return static_cast<int>(size - 1);
    }
    return i;
}

// The walk shared by the three shapes. `coverage(j, i, px, py, ink)` gives the
// coverage of output pixel (j, i) by the dot centred at (px, py); it calls
// ink() for the dot's cell value only once the pixel is within its reach.
template <typename T, typename Coverage>
void draw_dots(Image<float>* grid, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end,
               const Coverage& coverage)
{
    if (begin >= end) {
        return;
    }
    const Mat3& src_to_grid = params->src_to_grid;
    const Mat3& grid_to_src = params->grid_to_src;
    const int width = static_cast<int>(dst->width);
    // A grid without cells has no dots to draw: bare paper.
    const bool no_grid = grid->width == 0 || grid->height == 0;

    RUVIVEDU_PARALLEL_FOR
    for (int i = begin; i < end; ++i) {
        float* out = dst->row(static_cast<uint32_t>(i));
        const float fi = static_cast<float>(i);
        for (int j = 0; j < width; ++j) {
            if (no_grid) {
                out[j] = 1.0f;
                continue;
            }
            const float fj = static_cast<float>(j);
            float gxf, gyf;
            src_to_grid.map(fj, fi, gxf, gyf);
            const double gx = gxf;
            const double gy = gyf;
            const int fx = static_cast<int>(std::floor(gx));
            const int cx = static_cast<int>(std::ceil(gx));
            const int fy = static_cast<int>(std::floor(gy));
            const int cy = static_cast<int>(std::ceil(gy));

            float sum = 0.0f;
            auto add = [&](int k, int l) {
                float px, py;
                grid_to_src.map(static_cast<float>(k), static_cast<float>(l), px, py);
                auto ink = [&] {
                    return grid->row(static_cast<uint32_t>(clamp_index(l, grid->height)))[clamp_index(k, grid->width)];
                };
                sum += coverage(fj, fi, px, py, ink);
            };
            // Only the lattice points around the pixel: no dot reaches beyond
            // one grid unit from its centre along either grid axis.
            add(fx, fy);
            if (cy != fy) {
                add(fx, cy);
            }
            if (cx != fx) {
                add(cx, fy);
            }
            if (cx != fx && cy != fy) {
                add(cx, cy);
            }
            out[j] = 1.0f - clamp_unit(sum);
        }
    }
}

} // namespace

template <typename T>
void render_circle(Image<float>* grid, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end)
{
    const float dot_radius = params->dot_radius;
    const float reach = dot_radius + soft_edge;
    draw_dots(grid, dst, params, begin, end, [=](float j, float i, float px, float py, const auto& ink) {
        const float dx = j - px;
        const float dy = i - py;
        const float d = std::sqrt(dx * dx + dy * dy);
        if (d > reach) {
            return 0.0f;
        }
        const float v = ink();
        if (v <= ink_epsilon) {
            return 0.0f;
        }
        // Full coverage inside r, falling linearly to none at r + soft_edge.
        const float r = dot_radius * v + 0.5f - soft_edge;
        return clamp_unit(1.0f - (d - r) / soft_edge);
    });
}

template <typename T>
void render_square(Image<float>* grid, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end)
{
    const float dot_radius = params->dot_radius;
    draw_dots(grid, dst, params, begin, end, [=](float j, float i, float px, float py, const auto& ink) {
        const float dx = std::fabs(j - px);
        const float dy = std::fabs(i - py);
        if (dx > dot_radius || dy > dot_radius) {
            return 0.0f;
        }
        const float v = ink();
        if (v <= ink_epsilon) {
            return 0.0f;
        }
        const float h = dot_radius * v;
        return clamp_unit(h - dy + 1.0f) * clamp_unit(h - dx + 1.0f);
    });
}

template <typename T>
void render_line(Image<float>* grid, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end)
{
    const float w = params->cell_size * 0.5f;
    const float t = params->dot_radius;
    draw_dots(grid, dst, params, begin, end, [=](float j, float i, float px, float py, const auto& ink) {
        const float dx = std::fabs(j - px);
        const float dy = std::fabs(i - py);
        const bool within = std::floor(px - w) <= j && j < std::ceil(px + w) && std::floor(py - t) <= i &&
                            i < std::ceil(py + t) && dx <= w && dy <= t;
        if (!within) {
            return 0.0f;
        }
        // Unlike circles and squares, a bar is drawn at exactly ink_epsilon.
        const float v = ink();
        if (v < ink_epsilon) {
            return 0.0f;
        }
        // Within the bar's length the first factor is always 1.
        return clamp_unit(w - dx + 1.0f) * clamp_unit(t * v - dy + 1.0f);
    });
}

#define RUVIVEDU_INSTANTIATE_DOTS(T)                                                                       \
    template void render_circle<T>(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);    \
    template void render_square<T>(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);    \
    template void render_line<T>(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);

RUVIVEDU_INSTANTIATE_DOTS(unsigned char)
RUVIVEDU_INSTANTIATE_DOTS(unsigned short)
RUVIVEDU_INSTANTIATE_DOTS(float)
