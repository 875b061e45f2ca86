// Dot rendering row jobs: circle, square and line screens.
//
// Three walks draw the same picture: the per-pixel walks, portable and AVX2
// (dot_pixel_walk.h), and for cells a few pixels wide and more the AVX2 span
// walk that goes dot by dot (dot_span_walk.h), all over the shapes of
// dot_shapes.h. This file plans which walk a frame takes and hands the rows to
// it.
#include "halftone/dots.h"

#include <cstdint>

#include "base/pixel_path.h"
#include "base/rows.h"
#include "halftone/dot_pixel_walk.h"
#include "halftone/dot_shapes.h"
#include "halftone/dot_span_walk.h"
#include "halftone/paper_sink.h"

namespace ruvivedu {

namespace {

// The walk a frame's dots take, and for the span walk the rows around a dot's
// centre on which no candidate test is needed.
struct WalkPlan {
    DotWalk walk;
    double rows_within_candidates;
};

template <typename Shape>
WalkPlan plan_walk(const Shape& shape, const DotFrame& frame, uint32_t width, uint32_t height, bool grid_has_cells)
{
#if RUVIVEDU_X86_64
    const int w = static_cast<int>(width), h = static_cast<int>(height);
    if (pixel_path() != PixelPath::avx2 || !grid_has_cells || w <= 0 || h <= 0 || !spans_fit(frame, w, h))
        return {DotWalk::per_pixel, 0.0};
    const CandidateCover cover = dots_within_candidates(span_shape(shape), frame, w, h);
    return {cover.whole ? DotWalk::by_spans_untested : DotWalk::by_spans, cover.rows};
#else
    (void)shape, (void)frame, (void)width, (void)height, (void)grid_has_cells;
    return {DotWalk::per_pixel, 0.0};
#endif
}

// The three shapes as a frame's geometry sizes them.
template <typename T>
Circle circle_of(const HalfTone_Inner_Params<T>& params)
{
    return Circle{params.dot_radius, params.dot_radius + kSoftEdge};
}

template <typename T>
Square square_of(const HalfTone_Inner_Params<T>& params)
{
    return Square{params.dot_radius};
}

template <typename T>
Line line_of(const HalfTone_Inner_Params<T>& params)
{
    return Line{params.cell_size * 0.5f, params.dot_radius};
}

// Rows [begin, end) of the frame's paper, every column, into `paper`.
template <typename T, typename Shape, typename Paper>
void draw_dots(Image<float>* grid, const Paper& paper, HalfTone_Inner_Params<T>* params, int begin, int end,
               const Shape& shape)
{
    if (begin >= end) {
        return;
    }
    const DotFrame frame{params->src_to_grid, params->grid_to_src, grid->data, grid->width, grid->height};
    const int width = paper.width();
    // A grid without cells has no dots to draw: bare paper.
    const bool no_grid = grid->width == 0 || grid->height == 0;
    [[maybe_unused]] const bool avx2 = pixel_path() == PixelPath::avx2;
    [[maybe_unused]] const int workers = row_workers(*params);

#if RUVIVEDU_X86_64
    const WalkPlan plan =
        plan_walk(shape, frame, static_cast<uint32_t>(width), static_cast<uint32_t>(paper.height()), !no_grid);
    if (plan.walk != DotWalk::per_pixel) {
        // Each thread of the loop build still takes one contiguous block of
        // rows, made of whole bands.
        const int bands = (end - begin + kSpanBandRows - 1) / kSpanBandRows;
        RUVIVEDU_PARALLEL_ROWS(workers)
        for (int b = 0; b < bands; ++b) {
            const int first = begin + b * kSpanBandRows;
            const int last = std::min(end, first + kSpanBandRows);
            if (plan.walk == DotWalk::by_spans_untested)
                draw_band_spans_avx2<true>(shape, frame, paper, first, last, plan.rows_within_candidates);
            else
                draw_band_spans_avx2<false>(shape, frame, paper, first, last, plan.rows_within_candidates);
        }
        return;
    }
#endif

    RUVIVEDU_PARALLEL_ROWS(workers)
    for (int i = begin; i < end; ++i) {
        // The next row's input, while this one is drawn.
        paper.prefetch(i + 1, 0, width);
        const float fi = static_cast<float>(i);
        float scratch[dot_paper::kValuesPerChunk];
        for (int from = 0; from < width; from += dot_paper::kValuesPerChunk) {
            const int count = std::min(dot_paper::kValuesPerChunk, width - from);
            float* out = paper.values(i, from, scratch);
            if (no_grid) {
                for (int j = 0; j < count; ++j) {
                    out[j] = 1.0f;
                }
            } else {
                int j = 0;
#if RUVIVEDU_X86_64
                if (avx2) {
                    j = draw_row_avx2(shape, frame, i, from, count, out);
                }
#endif
                for (; j < count; ++j) {
                    out[j] = paper_at(shape, frame, static_cast<float>(from + j), fi);
                }
            }
            paper.put(i, from, count, out);
        }
        paper.flush();
    }
}

// The dots of `shape` into `paper` (a value outside the three: Circle).
template <typename T, typename Paper>
void draw_shape(Shape shape, Image<float>* grid, const Paper& paper, HalfTone_Inner_Params<T>* params, int begin,
                int end)
{
    if (shape == Shape::square)
        draw_dots(grid, paper, params, begin, end, square_of(*params));
    else if (shape == Shape::line)
        draw_dots(grid, paper, params, begin, end, line_of(*params));
    else
        draw_dots(grid, paper, params, begin, end, circle_of(*params));
}

template <typename T, bool alpha_output>
void draw_shape_into_layer(Shape shape, Image<float>* grid, LayerParams* in, LayerParams* out,
                           HalfTone_Inner_Params<T>* params, int begin, int end)
{
    const dot_paper::LayerPaper<T, alpha_output> paper(*in, *out, static_cast<float>(params->white_value),
                                                       params->inv_white);
    draw_shape(shape, grid, paper, params, begin, end);
}

}  // namespace

template <typename T>
void render_circle(Image<float>* grid, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end)
{
    draw_shape(Shape::circle, grid, dot_paper::ImagePaper{*dst}, params, begin, end);
}

template <typename T>
void render_square(Image<float>* grid, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end)
{
    draw_shape(Shape::square, grid, dot_paper::ImagePaper{*dst}, params, begin, end);
}

template <typename T>
void render_line(Image<float>* grid, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end)
{
    draw_shape(Shape::line, grid, dot_paper::ImagePaper{*dst}, params, begin, end);
}

template <typename T>
void render_circle_grey(Image<float>* grid, LayerParams* in, LayerParams* out, HalfTone_Inner_Params<T>* params,
                        int begin, int end)
{
    draw_shape_into_layer<T, false>(Shape::circle, grid, in, out, params, begin, end);
}

template <typename T>
void render_square_grey(Image<float>* grid, LayerParams* in, LayerParams* out, HalfTone_Inner_Params<T>* params,
                        int begin, int end)
{
    draw_shape_into_layer<T, false>(Shape::square, grid, in, out, params, begin, end);
}

template <typename T>
void render_line_grey(Image<float>* grid, LayerParams* in, LayerParams* out, HalfTone_Inner_Params<T>* params,
                      int begin, int end)
{
    draw_shape_into_layer<T, false>(Shape::line, grid, in, out, params, begin, end);
}

template <typename T>
void render_circle_alpha(Image<float>* grid, LayerParams* in, LayerParams* out, HalfTone_Inner_Params<T>* params,
                         int begin, int end)
{
    draw_shape_into_layer<T, true>(Shape::circle, grid, in, out, params, begin, end);
}

template <typename T>
void render_square_alpha(Image<float>* grid, LayerParams* in, LayerParams* out, HalfTone_Inner_Params<T>* params,
                         int begin, int end)
{
    draw_shape_into_layer<T, true>(Shape::square, grid, in, out, params, begin, end);
}

template <typename T>
void render_line_alpha(Image<float>* grid, LayerParams* in, LayerParams* out, HalfTone_Inner_Params<T>* params,
                       int begin, int end)
{
    draw_shape_into_layer<T, true>(Shape::line, grid, in, out, params, begin, end);
}

template <typename T>
DotWalk dot_walk(const HalfTone_Inner_Params<T>& params, Shape shape, uint32_t width, uint32_t height)
{
    const DotFrame frame{params.src_to_grid, params.grid_to_src, nullptr, 1, 1};
    if (shape == Shape::square)
        return plan_walk(square_of(params), frame, width, height, true).walk;
    if (shape == Shape::line)
        return plan_walk(line_of(params), frame, width, height, true).walk;
    return plan_walk(circle_of(params), frame, width, height, true).walk;
}

#define RUVIVEDU_INSTANTIATE_DOTS_INTO_LAYER(T, job) \
    template void job<T>(Image<float>*, LayerParams*, LayerParams*, HalfTone_Inner_Params<T>*, int, int);
#define RUVIVEDU_INSTANTIATE_DOTS(T)                                                                   \
    template void render_circle<T>(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int); \
    template void render_square<T>(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int); \
    template void render_line<T>(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);   \
    RUVIVEDU_INSTANTIATE_DOTS_INTO_LAYER(T, render_circle_grey)                                        \
    RUVIVEDU_INSTANTIATE_DOTS_INTO_LAYER(T, render_square_grey)                                        \
    RUVIVEDU_INSTANTIATE_DOTS_INTO_LAYER(T, render_line_grey)                                          \
    RUVIVEDU_INSTANTIATE_DOTS_INTO_LAYER(T, render_circle_alpha)                                       \
    RUVIVEDU_INSTANTIATE_DOTS_INTO_LAYER(T, render_square_alpha)                                       \
    RUVIVEDU_INSTANTIATE_DOTS_INTO_LAYER(T, render_line_alpha)                                         \
    template DotWalk dot_walk<T>(const HalfTone_Inner_Params<T>&, Shape, uint32_t, uint32_t);

RUVIVEDU_INSTANTIATE_DOTS(unsigned char)
RUVIVEDU_INSTANTIATE_DOTS(unsigned short)
RUVIVEDU_INSTANTIATE_DOTS(float)

}  // namespace ruvivedu
