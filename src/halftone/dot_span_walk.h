// The span walk of the dot stages, for cells a few pixels wide and more: an
// AVX2 walk that goes dot by dot over bands of rows and adds each dot's
// coverage where it falls (see draw_band_spans_avx2). Private to dots.cpp (see
// dot_shapes.h).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "halftone/dot_shapes.h"

#if RUVIVEDU_X86_64
#include <immintrin.h>

namespace ruvivedu {
namespace {

// ---- AVX2, large cells: dot by dot over a band of rows ---------------------
//
// With cells many pixels wide most of a pixel's candidates lie out of reach,
// and the per-pixel walk spends its time finding that out. This walk turns the
// loop around. For a window of a band of output rows it visits every lattice
// point (k, l) that may be a candidate of some pixel there, in the order in
// which a pixel adds its candidates (k ascending, then l ascending: (fx, fy),
// (fx, cy), (cx, fy), (cx, cy)), reads the dot's ink once, and adds its
// coverage, eight pixels at a time, to the window's sums for the pixels within
// its reach. A pixel has (k, l) among its candidates exactly when
// k - 1 < gx < k + 1 and l - 1 < gy < l + 1 (floor or ceil of gx is k); each
// lane tests that on its own gx and gy, formed as the per-pixel walk forms
// them, unless the whole vector lies where it holds for certain, and adds +0
// where it fails. So every pixel receives the same coverages in the same order,
// and its sum and paper value are the same bits.
//
// The ranges of rows, columns and lattice points the walk tries come from real
// arithmetic with margins: they only ever hold more than the exact tests
// accept (or, for the "for certain" ranges, less than they would).

// Grid positions further out than this (in grid units) leave the frame to
// the per-pixel walk: below it floor and ceil are exact whole floats and
// k +- 1 is exact.
constexpr float kSpanCoordinateLimit = 4194304.0f;  // 2^22
// The span walk pays per lattice point and row, the per-pixel walk per pixel
// and candidate; at the usual 45 degrees the span walk is the faster from
// cells 7 pixels across (UHD: 8 px 54 -> 41 ms, 7 px about even, 6 px
// 59 -> 71 ms per frame). The bound sits between 6 and 7 so that neither is
// decided by rounding.
constexpr double kSpanMinCellPixels = 6.5;
// Rows drawn together: a dot's set-up is shared by the rows of a band.
constexpr int kSpanBandRows = 32;
// Columns of a band drawn together (a multiple of the eight lanes).
constexpr int kSpanWindow = 512;

// The smallest and largest grid positions (as Mat3::map forms them) of the
// output pixels in columns [first_column, last_column] and rows [first_row,
// last_row]: the mapping is affine and rounds monotonically along either
// axis, so the four corners bound it.
struct GridBox {
    float gx_min, gx_max, gy_min, gy_max;
};

GridBox grid_box(const Mat3& s, int first_column, int last_column, int first_row, int last_row)
{
    GridBox box{};
    for (int corner = 0; corner < 4; ++corner) {
        float gx, gy;
        s.map(static_cast<float>(corner & 1 ? last_column : first_column),
              static_cast<float>(corner & 2 ? last_row : first_row), gx, gy);
        box.gx_min = corner == 0 ? gx : std::min(box.gx_min, gx);
        box.gx_max = corner == 0 ? gx : std::max(box.gx_max, gx);
        box.gy_min = corner == 0 ? gy : std::min(box.gy_min, gy);
        box.gy_max = corner == 0 ? gy : std::max(box.gy_max, gy);
    }
    return box;
}

// Whether the span walk may draw this frame: the cells are wide enough and
// every pixel's grid position is finite and well inside the exact range.
bool spans_fit(const DotFrame& f, int width, int height)
{
    const Mat3& s = f.src_to_grid;
    const Mat3& g = f.grid_to_src;
    // The cell's sides in output pixels: a grid step along either axis.
    const double side_x = std::hypot(static_cast<double>(g.m00), static_cast<double>(g.m01));
    const double side_y = std::hypot(static_cast<double>(g.m10), static_cast<double>(g.m11));
    if (!(std::min(side_x, side_y) >= kSpanMinCellPixels))
        return false;
    const GridBox box = grid_box(s, 0, width - 1, 0, height - 1);
    for (float c : {box.gx_min, box.gx_max, box.gy_min, box.gy_max})
        if (!(std::fabs(c) < kSpanCoordinateLimit))
            return false;
    for (float m : {g.m00, g.m01, g.m10, g.m11, g.m20, g.m21})
        if (!std::isfinite(m))
            return false;
    return true;
}

// Where every pixel a dot may cover is one of whose candidates that dot is,
// the walk needs neither the candidate spans nor the lanes' candidate tests. A
// pixel at (px + dx, py + dy) from a dot's centre has the dot (k, l) as a
// candidate when its grid position is within 1 of (k, l) on both axes, i.e.
// |dx * m00 + dy * m10| < 1 and |dx * m01 + dy * m11| < 1 (src_to_grid), up to
// rounding: of the pixel's grid position, of the centre, and of the two
// matrices being each other's inverse only in single precision. All three are
// bounded from the frame's extremes (the mappings are affine); the shape must
// stay inside by more than their sum, either whole (every row of every dot) or
// on the rows within `rows` of a dot's centre (the row's pixels lie within the
// shape's half width of the centre, and the area is convex, so the two ends of
// that stretch settle it).
struct CandidateCover {
    bool whole;
    double rows;
};

template <typename Span>
CandidateCover dots_within_candidates(const Span& shape, const DotFrame& f, int width, int height)
{
    const Mat3& s = f.src_to_grid;
    const Mat3& g = f.grid_to_src;
    double grid_size = 0.0;
    double k_min = 0.0, k_max = 0.0, l_min = 0.0, l_max = 0.0;
    for (int corner = 0; corner < 4; ++corner) {
        const double x = corner & 1 ? width - 1.0 : 0.0;
        const double y = corner & 2 ? height - 1.0 : 0.0;
        grid_size = std::max({grid_size, std::fabs(x * s.m00) + std::fabs(y * s.m10) + std::fabs(s.m20),
                              std::fabs(x * s.m01) + std::fabs(y * s.m11) + std::fabs(s.m21)});
        const double gx = x * s.m00 + y * s.m10 + s.m20;
        const double gy = x * s.m01 + y * s.m11 + s.m21;
        k_min = corner == 0 ? gx : std::min(k_min, gx);
        k_max = corner == 0 ? gx : std::max(k_max, gx);
        l_min = corner == 0 ? gy : std::min(l_min, gy);
        l_max = corner == 0 ? gy : std::max(l_max, gy);
    }
    const double stretch = std::fabs(s.m00) + std::fabs(s.m10) + std::fabs(s.m01) + std::fabs(s.m11);
    double centre_size = 0.0, mismatch = 0.0;
    for (int corner = 0; corner < 4; ++corner) {
        const double k = corner & 1 ? std::ceil(k_max) + 1.0 : std::floor(k_min) - 1.0;
        const double l = corner & 2 ? std::ceil(l_max) + 1.0 : std::floor(l_min) - 1.0;
        centre_size = std::max({centre_size, std::fabs(k * g.m00) + std::fabs(l * g.m10) + std::fabs(g.m20),
                                std::fabs(k * g.m01) + std::fabs(l * g.m11) + std::fabs(g.m21)});
        const double px = k * g.m00 + l * g.m10 + g.m20;
        const double py = k * g.m01 + l * g.m11 + g.m21;
        mismatch = std::max(
            {mismatch, std::fabs(px * s.m00 + py * s.m10 + s.m20 - k), std::fabs(px * s.m01 + py * s.m11 + s.m21 - l)});
    }
    const double inside = 1.0 - ((grid_size + centre_size * stretch) * 0x1p-20 + mismatch + 0x1p-16);
    CandidateCover cover;
    cover.whole = shape.extent_along(s.m00, s.m10) < inside && shape.extent_along(s.m01, s.m11) < inside;
    // Per axis: half_width * |m0| + |dy| * |m1| < inside.
    cover.rows = std::numeric_limits<double>::infinity();
    const double axes[2][2] = {{s.m00, s.m10}, {s.m01, s.m11}};
    for (const auto& axis : axes) {
        const double room = inside - shape.half_width() * std::fabs(axis[0]);
        if (!(room > 0.0))
            cover.rows = -1.0;
        else if (axis[1] != 0.0)
            cover.rows = std::min(cover.rows, room / std::fabs(axis[1]) * (1.0 - 0x1p-20));
    }
    return cover;
}

// Columns of a row, as a closed range; empty when first > last.
struct Columns {
    int first, last;
};

RUVIVEDU_TARGET_AVX2 inline Columns meet(Columns a, Columns b)
{
    return {std::max(a.first, b.first), std::min(a.last, b.last)};
}

// [lo, hi] widened to whole columns and cut to the row.
RUVIVEDU_TARGET_AVX2 inline Columns clip_columns(double lo, double hi, int width)
{
    const double first = std::max(0.0, std::floor(lo));
    const double last = std::min(width - 1.0, std::ceil(hi));
    if (!(first <= last))
        return {0, -1};
    return {static_cast<int>(first), static_cast<int>(last)};
}

// One grid coordinate along a row, g(j) = (j * m + row) + m2 in single
// precision, and the columns where it may lie, and where it lies for certain,
// strictly between two values.
struct RowAxis {
    double a, b, inv_a, slack;
    bool flat;
    float flat_value;
    int width;

    RUVIVEDU_TARGET_AVX2 void set(float m, float row, float m2, int width_in)
    {
        a = m;
        b = static_cast<double>(row) + m2;
        width = width_in;
        // Three roundings of quantities no larger than these, with room to
        // spare, as a distance along the row.
        const double err = (std::fabs(a) * width + std::fabs(row) + std::fabs(m2)) * 0x1p-22 + 0x1p-100;
        flat = m == 0.0f;
        inv_a = flat ? 0.0 : 1.0 / a;
        slack = flat ? 0.0 : err * std::fabs(inv_a);
        // Without a slope every column has the same coordinate, row + m2.
        flat_value = row + m2;
    }

    struct Within {
        Columns maybe, surely;
    };

    RUVIVEDU_TARGET_AVX2 Within between(double lo, double hi) const
    {
        if (flat) {
            const bool in = lo < flat_value && flat_value < hi;
            const Columns columns = in ? Columns{0, width - 1} : Columns{0, -1};
            return {columns, columns};
        }
        double j0 = (lo - b) * inv_a;
        double j1 = (hi - b) * inv_a;
        if (j0 > j1)
            std::swap(j0, j1);
        // A column of margin on each side covers the rounding of the quotients.
        const Columns maybe = clip_columns(j0 - slack - 1.0, j1 + slack + 1.0, width);
        const double first = std::max(0.0, std::ceil(j0 + slack) + 1.0);
        const double last = std::min(width - 1.0, std::floor(j1 - slack) - 1.0);
        const Columns surely =
            first <= last ? Columns{static_cast<int>(first), static_cast<int>(last)} : Columns{0, -1};
        return {maybe, surely};
    }
};

// Narrows l_first..l_last to the lattice rows whose dots (in the lattice column
// whose share of the centre's y is k_y) may come within `reach` of output rows
// `centre` +- `half`: py = (k_y + l * g11) + g21.
RUVIVEDU_TARGET_AVX2 inline bool rows_reaching(float k_y, const Mat3& g, double centre, double half, double reach,
                                               int& l_first, int& l_last)
{
    if (g.m11 == 0.0f)
        return l_first <= l_last;
    const double base = static_cast<double>(k_y) + g.m21;
    const double spread = half + reach;
    // The rounding of py, in lattice rows, plus a row of margin.
    const double err =
        (std::fabs(k_y) + std::fabs(g.m21) + std::fabs(centre) + spread) * 0x1p-21 / std::fabs(g.m11) + 1.0;
    double l0 = (centre - spread - base) / g.m11;
    double l1 = (centre + spread - base) / g.m11;
    if (l0 > l1)
        std::swap(l0, l1);
    l0 = std::max(static_cast<double>(l_first), std::floor(l0 - err));
    l1 = std::min(static_cast<double>(l_last), std::ceil(l1 + err));
    if (!(l0 <= l1))
        return false;
    l_first = static_cast<int>(l0);
    l_last = static_cast<int>(l1);
    return true;
}

// Adds the coverage of one dot to columns [first, last] of one row (and to
// whatever other lanes of the same vectors it truly covers), whose sums for
// columns [origin, end) lie at out[0 .. end - origin).
template <typename Span>
RUVIVEDU_TARGET_AVX2 inline void add_dot_to_row(const Span& shape, const Mat3& s, float row_x, float row_y, float fk,
                                                float fl, float px, Columns span, Columns sure, float* out, int origin,
                                                int end)
{
    const __m256 s00 = _mm256_set1_ps(s.m00), s01 = _mm256_set1_ps(s.m01);
    const __m256 s20 = _mm256_set1_ps(s.m20), s21 = _mm256_set1_ps(s.m21);
    const __m256 row_xv = _mm256_set1_ps(row_x), row_yv = _mm256_set1_ps(row_y);
    const __m256 k_lo = _mm256_set1_ps(fk - 1.0f), k_hi = _mm256_set1_ps(fk + 1.0f);
    const __m256 l_lo = _mm256_set1_ps(fl - 1.0f), l_hi = _mm256_set1_ps(fl + 1.0f);
    const __m256 pxv = _mm256_set1_ps(px);
    const __m256 eight = _mm256_set1_ps(8.0f);
    const __m256 all = _mm256_castsi256_ps(_mm256_set1_epi32(-1));

    int j = span.first - span.first % 8;
    __m256 fj = _mm256_add_ps(_mm256_set1_ps(static_cast<float>(j)),
                              _mm256_setr_ps(0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f));
    for (; j <= span.last; j += 8, fj = _mm256_add_ps(fj, eight)) {
        __m256 candidate = all;
        if (j < sure.first || j + 7 > sure.last) {
            const __m256 gx = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(fj, s00), row_xv), s20);
            const __m256 gy = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(fj, s01), row_yv), s21);
            candidate = _mm256_and_ps(_mm256_cmp_ps(k_lo, gx, _CMP_LT_OQ), _mm256_cmp_ps(gx, k_hi, _CMP_LT_OQ));
            candidate = _mm256_and_ps(candidate, _mm256_cmp_ps(l_lo, gy, _CMP_LT_OQ));
            candidate = _mm256_and_ps(candidate, _mm256_cmp_ps(gy, l_hi, _CMP_LT_OQ));
        }
        const __m256 c = shape.cover(fj, pxv, candidate);
        float* at = out + (j - origin);
        if (j + 8 <= end) {
            _mm256_storeu_ps(at, _mm256_add_ps(_mm256_loadu_ps(at), c));
        } else {
            const __m256 stop = _mm256_set1_ps(static_cast<float>(end));
            const __m256i in_row = _mm256_castps_si256(_mm256_cmp_ps(fj, stop, _CMP_LT_OQ));
            _mm256_maskstore_ps(at, in_row, _mm256_add_ps(_mm256_maskload_ps(at, in_row), c));
        }
    }
}

// Rows [begin, end) of the output, every column, by the span walk; at most
// kSpanBandRows rows. The band is drawn a window of kSpanWindow columns at
// a time: the window's sums (32 KB to 64 KB) stay in the core's nearest
// caches while the dots are added to them, and each pixel is handed over
// once. A dot across the edge of two windows is drawn in each, on its own
// columns; every pixel still receives its dots in the order of their lattice
// points.
template <bool within_candidates, typename Shape, typename Paper>
RUVIVEDU_TARGET_AVX2 void draw_band_spans_avx2(const Shape& scalar_shape, const DotFrame& frame, const Paper& paper,
                                               int begin, int end, double rows_within_candidates)
{
    auto shape = span_shape(scalar_shape);
    const Mat3& s = frame.src_to_grid;
    const Mat3& g = frame.grid_to_src;
    const int width = paper.width();

    float row_x[kSpanBandRows], row_y[kSpanBandRows];
    RowAxis along_x[kSpanBandRows], along_y[kSpanBandRows];
    for (int i = begin; i < end; ++i) {
        const int b = i - begin;
        // The row's share of the mapping, formed as Mat3::map forms it.
        row_x[b] = static_cast<float>(i) * s.m10;
        row_y[b] = static_cast<float>(i) * s.m11;
        along_x[b].set(s.m00, row_x[b], s.m20, width);
        along_y[b].set(s.m01, row_y[b], s.m21, width);
    }
    const double reach = shape.reach_margin();
    const double centre = 0.5 * (static_cast<double>(begin) + (end - 1));
    const double half = 0.5 * ((end - 1) - static_cast<double>(begin));

    alignas(32) float sums[kSpanBandRows][kSpanWindow];
    for (int origin = 0; origin < width; origin += kSpanWindow) {
        const int stop = std::min(width, origin + kSpanWindow);
        const Columns window{origin, stop - 1};
        for (int i = begin; i < end; ++i) {
            std::memset(sums[i - begin], 0, static_cast<std::size_t>(stop - origin) * sizeof(float));
            // What handing the window over will read, asked for while the
            // dots are drawn.
            paper.prefetch(i, origin, stop - origin);
        }

        // The window's lattice points lie within the grid positions of its corners.
        const GridBox box = grid_box(s, origin, stop - 1, begin, end - 1);
        const int k_first = static_cast<int>(std::floor(box.gx_min));
        const int k_last = static_cast<int>(std::ceil(box.gx_max));
        const int window_l_first = static_cast<int>(std::floor(box.gy_min));
        const int window_l_last = static_cast<int>(std::ceil(box.gy_max));

        for (int k = k_first; k <= k_last; ++k) {
            const float fk = static_cast<float>(k);
            const float k_x = fk * g.m00, k_y = fk * g.m01;
            int l_first = window_l_first, l_last = window_l_last;
            if (!rows_reaching(k_y, g, centre, half, reach, l_first, l_last))
                continue;
            for (int l = l_first; l <= l_last; ++l) {
                const float fl = static_cast<float>(l);
                // The dot's centre, as Mat3::map forms it.
                const float px = k_x + fl * g.m10 + g.m20;
                const float py = k_y + fl * g.m11 + g.m21;
                if (!(py + reach >= begin && py - reach <= end - 1))
                    continue;
                if (!(px + shape.half_width() + 1.0 >= origin && px - shape.half_width() - 1.0 <= stop - 1))
                    continue;  // no column of this window within its reach
                const float v = frame.ink(k, l);
                if (!shape.draws(v))
                    continue;  // adds +0 wherever it is a candidate
                shape.set_dot(v);
                const double top = std::max(static_cast<double>(begin), std::floor(py - shape.dot_rows()));
                const double bottom = std::min(static_cast<double>(end - 1), std::ceil(py + shape.dot_rows()));
                if (!(top <= bottom))
                    continue;
                for (int i = static_cast<int>(top); i <= static_cast<int>(bottom); ++i) {
                    const int b = i - begin;
                    Columns span = window, sure = window;
                    if constexpr (!within_candidates) {
                        // Rows near the centre may still lie wholly inside.
                        if (!(std::fabs(static_cast<double>(i) - py) < rows_within_candidates)) {
                            const RowAxis::Within on_k = along_x[b].between(fk - 1.0, fk + 1.0);
                            const RowAxis::Within on_l = along_y[b].between(fl - 1.0, fl + 1.0);
                            span = meet(window, meet(on_k.maybe, on_l.maybe));
                            if (span.first > span.last)
                                continue;
                            sure = meet(on_k.surely, on_l.surely);
                        }
                    }
                    double lo, hi;
                    if (!shape.set_row(static_cast<float>(i), px, py, lo, hi))
                        continue;
                    span = meet(span, clip_columns(lo, hi, width));
                    if (span.first > span.last)
                        continue;
                    // Where (k, l) is a candidate of every pixel for certain, the
                    // lanes skip the test.
                    add_dot_to_row(shape, s, row_x[b], row_y[b], fk, fl, px, span, sure, sums[b], origin, stop);
                }
            }
        }

        for (int i = begin; i < end; ++i) {
            float* row = sums[i - begin];
            dot_paper::paper_from_sums(row, stop - origin);
            paper.put(i, origin, stop - origin, row);
        }
    }
    paper.flush();
}

}  // namespace
}  // namespace ruvivedu

#endif  // RUVIVEDU_X86_64
