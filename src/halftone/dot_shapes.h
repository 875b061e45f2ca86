// The three dot shapes, each in the forms its walks take side by side: the
// portable one, pixel by pixel; the AVX2 one of eight pixels of a row (wide());
// and the one of the span walk, dot by dot over rows (span_shape()). The forms
// of a shape are twins: every one computes the same float operations in the same
// order, so a change to one is a change to all three.
//
// Private to the dot stages: dots.cpp alone includes this and the walk headers,
// so what they define stays local to that one translation unit.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "base/pixel_path.h"
#include "halftone/halftone_params.h"
#include "halftone/paper_sink.h"

#if RUVIVEDU_X86_64
#include <immintrin.h>
#endif

namespace ruvivedu {
namespace {

// Width of the circle's soft edge (sqrt 2 in single precision).
constexpr float kSoftEdge = 1.4142135f;
// Ink at or below which a circle or square is not drawn (a bar: below which).
constexpr float kInkEpsilon = 1e-7f;

using dot_paper::clamp_unit;

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

// What every pixel of one render reads: the two mappings and the cell grid.
struct DotFrame {
    Mat3 src_to_grid;
    Mat3 grid_to_src;
    const float* cells;
    uint32_t grid_width;
    uint32_t grid_height;

    float ink(int k, int l) const
    {
        return cells[static_cast<std::size_t>(clamp_index(l, grid_height)) * grid_width +
                     static_cast<std::size_t>(clamp_index(k, grid_width))];
    }
};

#if RUVIVEDU_X86_64
using dot_paper::clamp_unit8;

RUVIVEDU_TARGET_AVX2 inline __m256 abs8(__m256 x)
{
    return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), x);
}
#endif

// Portable form: the coverage of output pixel (j, i) by the dot centred at
// (px, py). `ink` gives the dot's cell value; it is read only once the pixel is
// within reach.
//
// Eight-pixel form: reach() gives the lanes the dot may touch before its ink is
// read (the portable early return, negated so that NaN goes on as it does
// there) and keeps what cover() needs; cover() gives the coverage, +0 where the
// ink is too small.
//
// Span form: whether a dot of ink v draws anything at all, set-up for one dot,
// then per row whether the dot may reach it and over which columns (a
// superset), and its coverage of eight pixels of that row.

// ---- Circle -----------------------------------------------------------------

struct Circle {
    float dot_radius;
    float reach;

    template <typename Ink>
    float coverage(float j, float i, float px, float py, const Ink& ink) const
    {
        const float dx = j - px;
        const float dy = i - py;
        const float d = std::sqrt(dx * dx + dy * dy);
        if (d > reach) {
            return 0.0f;
        }
        const float v = ink();
        if (v <= kInkEpsilon) {
            return 0.0f;
        }
        // Full coverage inside r, falling linearly to none at r + kSoftEdge.
        const float r = dot_radius * v + 0.5f - kSoftEdge;
        return clamp_unit(1.0f - (d - r) / kSoftEdge);
    }
};

#if RUVIVEDU_X86_64
struct Circle8 {
    __m256 dot_radius, reach_limit;
    __m256 d;

    RUVIVEDU_TARGET_AVX2 __m256 reach(__m256 j, __m256 i, __m256 px, __m256 py)
    {
        const __m256 dx = _mm256_sub_ps(j, px);
        const __m256 dy = _mm256_sub_ps(i, py);
        d = _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(dx, dx), _mm256_mul_ps(dy, dy)));
        return _mm256_cmp_ps(d, reach_limit, _CMP_NGT_UQ);
    }
    RUVIVEDU_TARGET_AVX2 __m256 cover(__m256 v) const
    {
        const __m256 edge = _mm256_set1_ps(kSoftEdge);
        const __m256 inked = _mm256_cmp_ps(v, _mm256_set1_ps(kInkEpsilon), _CMP_NLE_UQ);
        const __m256 r = _mm256_sub_ps(_mm256_add_ps(_mm256_mul_ps(dot_radius, v), _mm256_set1_ps(0.5f)), edge);
        const __m256 c = _mm256_sub_ps(_mm256_set1_ps(1.0f), _mm256_div_ps(_mm256_sub_ps(d, r), edge));
        return _mm256_and_ps(clamp_unit8(c), inked);
    }
};

RUVIVEDU_TARGET_AVX2 inline Circle8 wide(const Circle& s)
{
    return {_mm256_set1_ps(s.dot_radius), _mm256_set1_ps(s.reach), _mm256_setzero_ps()};
}

struct CircleSpan {
    float dot_radius, reach;
    double inked;  // distance from the centre within which this dot may give ink
    __m256 d_limit, r, q_full, q_empty, dy2;

    RUVIVEDU_TARGET_AVX2 static bool draws(float v) { return v > kInkEpsilon; }
    // Rows further than this from the dot's centre miss it for certain: d is at
    // least |i - py| (and |j - px|) up to a few ulps, far less than the margin.
    double reach_margin() const { return static_cast<double>(reach) + 1.0; }
    // The largest |dx * a + dy * b| over the pixels the dot may cover, with
    // room for rounding: d <= reach.
    double extent_along(double a, double b) const { return (reach * (1.0 + 0x1p-16) + 0x1p-16) * std::hypot(a, b); }
    // The largest |dx| on any one row.
    double half_width() const { return reach * (1.0 + 0x1p-16) + 0x1p-16; }
    RUVIVEDU_TARGET_AVX2 void set_dot(float v)
    {
        const float rs = dot_radius * v + 0.5f - kSoftEdge;
        d_limit = _mm256_set1_ps(reach);
        r = _mm256_set1_ps(rs);
        // Squared distances that settle a pixel without its square root: at
        // or below q_full, d <= r and d <= reach, so the coverage is exactly 1;
        // at or above q_empty, d > reach or d - r is past the soft edge, so it
        // is exactly 0. Both keep a margin of many ulps to the true bounds.
        const double full = std::min(static_cast<double>(rs), static_cast<double>(reach));
        const double empty = std::min(static_cast<double>(reach), static_cast<double>(rs) + kSoftEdge);
        q_full = _mm256_set1_ps(full > 0.0 ? static_cast<float>(full * full * (1.0 - 0x1p-16)) : -1.0f);
        q_empty = _mm256_set1_ps(empty > 0.0 ? static_cast<float>(empty * empty * (1.0 + 0x1p-16)) : 0.0f);
        // Beyond `empty` a pixel gets nothing: a faint dot is much smaller
        // than its reach.
        inked = std::max(0.0, empty) * (1.0 + 0x1p-16) + 0x1p-16;
    }
    // Rows further than this from the centre get no ink from the dot set up.
    double dot_rows() const { return inked + 1.0; }
    RUVIVEDU_TARGET_AVX2 bool set_row(float fi, float px, float py, double& lo, double& hi)
    {
        // Exact in double: the pixel's distance is at least this.
        const double rise = static_cast<double>(fi) - py;
        if (!(std::fabs(rise) <= inked))
            return false;
        const float dy = fi - py;
        dy2 = _mm256_set1_ps(dy * dy);
        // The chord of the inked disc on this row, and a pixel more.
        const double half = std::sqrt(inked * inked - rise * rise) + 1.0;
        lo = px - half;
        hi = px + half;
        return true;
    }
    RUVIVEDU_TARGET_AVX2 __m256 cover(__m256 fj, __m256 px, __m256 candidate) const
    {
        const __m256 one = _mm256_set1_ps(1.0f);
        const __m256 dx = _mm256_sub_ps(fj, px);
        const __m256 q = _mm256_add_ps(_mm256_mul_ps(dx, dx), dy2);
        const __m256 full = _mm256_cmp_ps(q, q_full, _CMP_LE_OQ);
        const __m256 open = _mm256_andnot_ps(_mm256_or_ps(full, _mm256_cmp_ps(q, q_empty, _CMP_GE_OQ)), candidate);
        if (_mm256_movemask_ps(open) == 0)
            return _mm256_and_ps(_mm256_and_ps(full, candidate), one);
        const __m256 d = _mm256_sqrt_ps(q);
        const __m256 edge = _mm256_set1_ps(kSoftEdge);
        const __m256 c = _mm256_sub_ps(one, _mm256_div_ps(_mm256_sub_ps(d, r), edge));
        return _mm256_and_ps(_mm256_and_ps(clamp_unit8(c), _mm256_cmp_ps(d, d_limit, _CMP_LE_OQ)), candidate);
    }
};

RUVIVEDU_TARGET_AVX2 inline CircleSpan span_shape(const Circle& s)
{
    CircleSpan shape;
    shape.dot_radius = s.dot_radius;
    shape.reach = s.reach;
    return shape;
}
#endif

// ---- Square -----------------------------------------------------------------

struct Square {
    float dot_radius;

    template <typename Ink>
    float coverage(float j, float i, float px, float py, const Ink& ink) const
    {
        const float dx = std::fabs(j - px);
        const float dy = std::fabs(i - py);
        if (dx > dot_radius || dy > dot_radius) {
            return 0.0f;
        }
        const float v = ink();
        if (v <= kInkEpsilon) {
            return 0.0f;
        }
        const float h = dot_radius * v;
        return clamp_unit(h - dy + 1.0f) * clamp_unit(h - dx + 1.0f);
    }
};

#if RUVIVEDU_X86_64
struct Square8 {
    __m256 dot_radius;
    __m256 dx, dy;

    RUVIVEDU_TARGET_AVX2 __m256 reach(__m256 j, __m256 i, __m256 px, __m256 py)
    {
        dx = abs8(_mm256_sub_ps(j, px));
        dy = abs8(_mm256_sub_ps(i, py));
        return _mm256_and_ps(_mm256_cmp_ps(dx, dot_radius, _CMP_NGT_UQ), _mm256_cmp_ps(dy, dot_radius, _CMP_NGT_UQ));
    }
    RUVIVEDU_TARGET_AVX2 __m256 cover(__m256 v) const
    {
        const __m256 one = _mm256_set1_ps(1.0f);
        const __m256 inked = _mm256_cmp_ps(v, _mm256_set1_ps(kInkEpsilon), _CMP_NLE_UQ);
        const __m256 h = _mm256_mul_ps(dot_radius, v);
        const __m256 c = _mm256_mul_ps(clamp_unit8(_mm256_add_ps(_mm256_sub_ps(h, dy), one)),
                                       clamp_unit8(_mm256_add_ps(_mm256_sub_ps(h, dx), one)));
        return _mm256_and_ps(c, inked);
    }
};

RUVIVEDU_TARGET_AVX2 inline Square8 wide(const Square& s)
{
    return {_mm256_set1_ps(s.dot_radius), _mm256_setzero_ps(), _mm256_setzero_ps()};
}

struct SquareSpan {
    float dot_radius;
    float hs;
    double inked;  // |dx| and |dy| within which this dot may give ink
    __m256 limit, h, row_factor;

    RUVIVEDU_TARGET_AVX2 static bool draws(float v) { return v > kInkEpsilon; }
    double reach_margin() const { return static_cast<double>(dot_radius) + 1.0; }
    // |dx| <= dot_radius and |dy| <= dot_radius.
    double extent_along(double a, double b) const
    {
        return (dot_radius * (1.0 + 0x1p-16) + 0x1p-16) * (std::fabs(a) + std::fabs(b));
    }
    double half_width() const { return dot_radius * (1.0 + 0x1p-16) + 0x1p-16; }
    RUVIVEDU_TARGET_AVX2 void set_dot(float v)
    {
        hs = dot_radius * v;
        limit = _mm256_set1_ps(dot_radius);
        h = _mm256_set1_ps(hs);
        // Ink needs h - |d| + 1 > 0 on both axes, and the cut at dot_radius.
        inked = std::min(static_cast<double>(dot_radius), static_cast<double>(hs) + 1.0) * (1.0 + 0x1p-16) + 0x1p-16;
    }
    double dot_rows() const { return inked + 1.0; }
    RUVIVEDU_TARGET_AVX2 bool set_row(float fi, float px, float py, double& lo, double& hi)
    {
        // The row's half of the test is the per-pixel one; a row factor of 0
        // zeroes every product. |j - px| < inked holds within rounding for the
        // columns.
        const float dy = std::fabs(fi - py);
        if (dy > dot_radius)
            return false;
        const float factor = clamp_unit(hs - dy + 1.0f);
        if (factor == 0.0f)
            return false;
        row_factor = _mm256_set1_ps(factor);
        lo = static_cast<double>(px) - inked - 1.0;
        hi = static_cast<double>(px) + inked + 1.0;
        return true;
    }
    RUVIVEDU_TARGET_AVX2 __m256 cover(__m256 fj, __m256 px, __m256 candidate) const
    {
        const __m256 dx = abs8(_mm256_sub_ps(fj, px));
        const __m256 column_factor = clamp_unit8(_mm256_add_ps(_mm256_sub_ps(h, dx), _mm256_set1_ps(1.0f)));
        const __m256 c = _mm256_mul_ps(row_factor, column_factor);
        return _mm256_and_ps(_mm256_and_ps(c, _mm256_cmp_ps(dx, limit, _CMP_LE_OQ)), candidate);
    }
};

RUVIVEDU_TARGET_AVX2 inline SquareSpan span_shape(const Square& s)
{
    SquareSpan shape;
    shape.dot_radius = s.dot_radius;
    shape.hs = 0.0f;
    return shape;
}
#endif

// ---- Line -------------------------------------------------------------------

struct Line {
    float w;  // half length of a bar
    float t;  // largest half thickness

    template <typename Ink>
    float coverage(float j, float i, float px, float py, const Ink& ink) const
    {
        const float dx = std::fabs(j - px);
        const float dy = std::fabs(i - py);
        const bool within = std::floor(px - w) <= j && j < std::ceil(px + w) && std::floor(py - t) <= i &&
                            i < std::ceil(py + t) && dx <= w && dy <= t;
        if (!within) {
            return 0.0f;
        }
        // Unlike circles and squares, a bar is drawn at exactly kInkEpsilon.
        const float v = ink();
        if (v < kInkEpsilon) {
            return 0.0f;
        }
        // Within the bar's length the first factor is always 1.
        return clamp_unit(w - dx + 1.0f) * clamp_unit(t * v - dy + 1.0f);
    }
};

#if RUVIVEDU_X86_64
struct Line8 {
    __m256 w, t;
    __m256 dx, dy;

    RUVIVEDU_TARGET_AVX2 __m256 reach(__m256 j, __m256 i, __m256 px, __m256 py)
    {
        // For a whole number n, floor(a) <= n exactly when a < n + 1, and
        // n < ceil(b) exactly when n < b (NaN fails both forms): the bar's
        // span is tested without rounding. j + 1 and i + 1 are exact.
        const __m256 one = _mm256_set1_ps(1.0f);
        dx = abs8(_mm256_sub_ps(j, px));
        dy = abs8(_mm256_sub_ps(i, py));
        __m256 within = _mm256_cmp_ps(_mm256_sub_ps(px, w), _mm256_add_ps(j, one), _CMP_LT_OQ);
        within = _mm256_and_ps(within, _mm256_cmp_ps(j, _mm256_add_ps(px, w), _CMP_LT_OQ));
        within = _mm256_and_ps(within, _mm256_cmp_ps(_mm256_sub_ps(py, t), _mm256_add_ps(i, one), _CMP_LT_OQ));
        within = _mm256_and_ps(within, _mm256_cmp_ps(i, _mm256_add_ps(py, t), _CMP_LT_OQ));
        within = _mm256_and_ps(within, _mm256_cmp_ps(dx, w, _CMP_LE_OQ));
        return _mm256_and_ps(within, _mm256_cmp_ps(dy, t, _CMP_LE_OQ));
    }
    RUVIVEDU_TARGET_AVX2 __m256 cover(__m256 v) const
    {
        const __m256 one = _mm256_set1_ps(1.0f);
        const __m256 inked = _mm256_cmp_ps(v, _mm256_set1_ps(kInkEpsilon), _CMP_NLT_UQ);
        const __m256 c = _mm256_mul_ps(clamp_unit8(_mm256_add_ps(_mm256_sub_ps(w, dx), one)),
                                       clamp_unit8(_mm256_add_ps(_mm256_sub_ps(_mm256_mul_ps(t, v), dy), one)));
        return _mm256_and_ps(c, inked);
    }
};

RUVIVEDU_TARGET_AVX2 inline Line8 wide(const Line& s)
{
    return {_mm256_set1_ps(s.w), _mm256_set1_ps(s.t), _mm256_setzero_ps(), _mm256_setzero_ps()};
}

struct LineSpan {
    float w, t;
    float tv;
    double inked;  // |dy| within which this bar may give ink
    __m256 wv, row_factor;

    RUVIVEDU_TARGET_AVX2 static bool draws(float v) { return v >= kInkEpsilon; }
    double reach_margin() const { return static_cast<double>(t) + 1.0; }
    // |dx| <= w and |dy| <= t.
    double extent_along(double a, double b) const
    {
        return (w * (1.0 + 0x1p-16) + 0x1p-16) * std::fabs(a) + (t * (1.0 + 0x1p-16) + 0x1p-16) * std::fabs(b);
    }
    double half_width() const { return w * (1.0 + 0x1p-16) + 0x1p-16; }
    RUVIVEDU_TARGET_AVX2 void set_dot(float v)
    {
        tv = t * v;
        wv = _mm256_set1_ps(w);
        // Ink needs t * v - |dy| + 1 > 0, and |dy| <= t.
        inked = std::min(static_cast<double>(t), static_cast<double>(tv) + 1.0) * (1.0 + 0x1p-16) + 0x1p-16;
    }
    double dot_rows() const { return inked + 1.0; }
    RUVIVEDU_TARGET_AVX2 bool set_row(float fi, float px, float py, double& lo, double& hi)
    {
        // The row's half of the bar test, exactly as per pixel.
        const float dy = std::fabs(fi - py);
        if (!(std::floor(py - t) <= fi && fi < std::ceil(py + t) && dy <= t))
            return false;
        const float factor = clamp_unit(tv - dy + 1.0f);
        if (factor == 0.0f)
            return false;  // zeroes every product
        row_factor = _mm256_set1_ps(factor);
        lo = std::floor(px - w) - 1.0;
        hi = static_cast<double>(std::ceil(px + w)) + 1.0;
        return true;
    }
    RUVIVEDU_TARGET_AVX2 __m256 cover(__m256 fj, __m256 px, __m256 candidate) const
    {
        // floor(px - w) <= j and j < ceil(px + w) as in Line8::reach.
        const __m256 one = _mm256_set1_ps(1.0f);
        const __m256 dx = abs8(_mm256_sub_ps(fj, px));
        __m256 within = _mm256_cmp_ps(_mm256_sub_ps(px, wv), _mm256_add_ps(fj, one), _CMP_LT_OQ);
        within = _mm256_and_ps(within, _mm256_cmp_ps(fj, _mm256_add_ps(px, wv), _CMP_LT_OQ));
        within = _mm256_and_ps(within, _mm256_cmp_ps(dx, wv, _CMP_LE_OQ));
        const __m256 c = _mm256_mul_ps(clamp_unit8(_mm256_add_ps(_mm256_sub_ps(wv, dx), one)), row_factor);
        return _mm256_and_ps(_mm256_and_ps(c, within), candidate);
    }
};

RUVIVEDU_TARGET_AVX2 inline LineSpan span_shape(const Line& s)
{
    LineSpan shape;
    shape.w = s.w;
    shape.t = s.t;
    shape.tv = 0.0f;
    return shape;
}
#endif

}  // namespace
}  // namespace ruvivedu
