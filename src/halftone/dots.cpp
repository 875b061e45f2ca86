// Dot rendering row jobs: circle, square and line screens.
//
// Three walks draw the same picture: a portable one, pixel by pixel; an AVX2
// one that carries eight neighbouring pixels of a row through the same float
// operations in the same order (a lane whose candidate is skipped adds +0,
// which leaves a sum of non-negative coverages unchanged), leaving the last
// width % 8 pixels of a row to the portable one; and, for cells a few pixels
// wide and more, an AVX2 walk that goes dot by dot over bands of rows and adds
// each dot's coverage where it falls (see draw_band_spans_avx2).
#include "halftone/dots.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "halftone/paper_sink.h"
#include "base/pixel_path.h"
#include "base/rows.h"

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

// The coverage of output pixel (j, i) by the dot centred at (px, py). `ink`
// gives the dot's cell value; it is read only once the pixel is within reach.
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

// One output pixel: the coverage of the one, two or four lattice points
// around its grid position, summed in this order, then turned into paper.
template <typename Shape>
float paper_at(const Shape& shape, const DotFrame& frame, float fj, float fi)
{
    float gxf, gyf;
    frame.src_to_grid.map(fj, fi, gxf, gyf);
    const double gx = gxf;
    const double gy = gyf;
    const int fx = static_cast<int>(std::floor(gx));
    const int cx = static_cast<int>(std::ceil(gx));
    const int fy = static_cast<int>(std::floor(gy));
    const int cy = static_cast<int>(std::ceil(gy));

    float sum = 0.0f;
    auto add = [&](int k, int l) {
        float px, py;
        frame.grid_to_src.map(static_cast<float>(k), static_cast<float>(l), px, py);
        sum += shape.coverage(fj, fi, px, py, [&] { return frame.ink(k, l); });
    };
    // Only the lattice points around the pixel: no dot reaches beyond one grid
    // unit from its centre along either grid axis.
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
    return 1.0f - clamp_unit(sum);
}

#if RUVIVEDU_X86_64

// ---- AVX2: eight pixels of a row at once ---------------------------------

using dot_paper::clamp_unit8;

RUVIVEDU_TARGET_AVX2 inline __m256 abs8(__m256 x)
{
    return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), x);
}

// Per shape: reach() gives the lanes the dot may touch before its ink is
// read (the scalar early return, negated so that NaN goes on as it does
// there) and keeps what cover() needs; cover() gives the coverage, +0 where
// the ink is too small.
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
        const __m256 r =
            _mm256_sub_ps(_mm256_add_ps(_mm256_mul_ps(dot_radius, v), _mm256_set1_ps(0.5f)), edge);
        const __m256 c = _mm256_sub_ps(_mm256_set1_ps(1.0f), _mm256_div_ps(_mm256_sub_ps(d, r), edge));
        return _mm256_and_ps(clamp_unit8(c), inked);
    }
};

struct Square8 {
    __m256 dot_radius;
    __m256 dx, dy;

    RUVIVEDU_TARGET_AVX2 __m256 reach(__m256 j, __m256 i, __m256 px, __m256 py)
    {
        dx = abs8(_mm256_sub_ps(j, px));
        dy = abs8(_mm256_sub_ps(i, py));
        return _mm256_and_ps(_mm256_cmp_ps(dx, dot_radius, _CMP_NGT_UQ),
                             _mm256_cmp_ps(dy, dot_radius, _CMP_NGT_UQ));
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
        const __m256 c =
            _mm256_mul_ps(clamp_unit8(_mm256_add_ps(_mm256_sub_ps(w, dx), one)),
                          clamp_unit8(_mm256_add_ps(_mm256_sub_ps(_mm256_mul_ps(t, v), dy), one)));
        return _mm256_and_ps(c, inked);
    }
};

RUVIVEDU_TARGET_AVX2 inline Circle8 wide(const Circle& s)
{
    return {_mm256_set1_ps(s.dot_radius), _mm256_set1_ps(s.reach), _mm256_setzero_ps()};
}
RUVIVEDU_TARGET_AVX2 inline Square8 wide(const Square& s)
{
    return {_mm256_set1_ps(s.dot_radius), _mm256_setzero_ps(), _mm256_setzero_ps()};
}
RUVIVEDU_TARGET_AVX2 inline Line8 wide(const Line& s)
{
    return {_mm256_set1_ps(s.w), _mm256_set1_ps(s.t), _mm256_setzero_ps(), _mm256_setzero_ps()};
}

// Row-invariant values of the AVX2 walk.
struct Walk8 {
    __m256 s00, s01, s10, s11, s20, s21;  // src_to_grid
    __m256 g00, g01, g10, g11, g20, g21;  // grid_to_src
    __m256i last_k, last_l, width;
    const float* cells;
};

RUVIVEDU_TARGET_AVX2 inline Walk8 make_walk8(const DotFrame& f)
{
    const Mat3& s = f.src_to_grid;
    const Mat3& g = f.grid_to_src;
    return {_mm256_set1_ps(s.m00), _mm256_set1_ps(s.m01), _mm256_set1_ps(s.m10), _mm256_set1_ps(s.m11),
            _mm256_set1_ps(s.m20), _mm256_set1_ps(s.m21), _mm256_set1_ps(g.m00), _mm256_set1_ps(g.m01),
            _mm256_set1_ps(g.m10), _mm256_set1_ps(g.m11), _mm256_set1_ps(g.m20), _mm256_set1_ps(g.m21),
            _mm256_set1_epi32(static_cast<int>(f.grid_width) - 1),
            _mm256_set1_epi32(static_cast<int>(f.grid_height) - 1),
            _mm256_set1_epi32(static_cast<int>(f.grid_width)), f.cells};
}

// One lattice column or row of the four candidates: its index clamped into
// the grid (a row already times the grid width) and its share of the centre's
// mapping, k * m00 and k * m01 for a column, l * m10 and l * m11 for a row.
// The two columns and two rows are each shared by two candidates, so these are
// formed once per pixel; every centre is then (k*m00 + l*m10) + m20 and
// (k*m01 + l*m11) + m21, as Mat3::map forms it.
struct Axis8 {
    __m256i cell;
    __m256 to_x, to_y;
};

RUVIVEDU_TARGET_AVX2 inline Axis8 column8(const Walk8& w, __m256i k)
{
    const __m256 kf = _mm256_cvtepi32_ps(k);
    const __m256i kc = _mm256_max_epi32(_mm256_setzero_si256(), _mm256_min_epi32(k, w.last_k));
    return {kc, _mm256_mul_ps(kf, w.g00), _mm256_mul_ps(kf, w.g01)};
}

RUVIVEDU_TARGET_AVX2 inline Axis8 row8(const Walk8& w, __m256i l)
{
    const __m256 lf = _mm256_cvtepi32_ps(l);
    const __m256i lc = _mm256_max_epi32(_mm256_setzero_si256(), _mm256_min_epi32(l, w.last_l));
    return {_mm256_mullo_epi32(lc, w.width), _mm256_mul_ps(lf, w.g10), _mm256_mul_ps(lf, w.g11)};
}

// Adds the coverage of the dots at lattice points (k, l) to sum, in the lanes
// of `present` (the candidate exists for that pixel).
template <typename Shape8>
RUVIVEDU_TARGET_AVX2 inline __m256 add_candidate(Shape8& shape, const Walk8& w, __m256 j, __m256 i, const Axis8& k,
                                                 const Axis8& l, __m256 present, __m256 v, __m256 sum)
{
    const __m256 px = _mm256_add_ps(_mm256_add_ps(k.to_x, l.to_x), w.g20);
    const __m256 py = _mm256_add_ps(_mm256_add_ps(k.to_y, l.to_y), w.g21);
    const __m256 live = _mm256_and_ps(present, shape.reach(j, i, px, py));
    if (_mm256_movemask_ps(live) == 0)
        return sum;  // every lane would add +0
    return _mm256_add_ps(sum, _mm256_and_ps(shape.cover(v), live));
}

// The ink of the dots at lattice points (k, l), read ahead of their use (the
// indices are clamped into the grid, so every lane may be read).
RUVIVEDU_TARGET_AVX2 inline __m256 ink8(const Walk8& w, const Axis8& k, const Axis8& l)
{
    return _mm256_i32gather_ps(w.cells, _mm256_add_epi32(l.cell, k.cell), 4);
}

// Columns [from, from + count - count % 8) of row i into out[0 ..); returns how
// many columns it drew, where the portable walk takes over.
template <typename Shape>
RUVIVEDU_TARGET_AVX2 int draw_row_avx2(const Shape& scalar_shape, const DotFrame& frame, int i, int from, int count,
                                       float* out)
{
    auto shape = wide(scalar_shape);
    const Walk8 w = make_walk8(frame);
    const __m256 fi = _mm256_set1_ps(static_cast<float>(i));
    // The row's share of the mapping, formed as the scalar map forms it.
    const __m256 row_x = _mm256_mul_ps(fi, w.s10);
    const __m256 row_y = _mm256_mul_ps(fi, w.s11);
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 all = _mm256_castsi256_ps(_mm256_set1_epi32(-1));
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);

    const int end = count - count % 8;
    for (int j = 0; j < end; j += 8) {
        const __m256 fj = _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(from + j), lanes));
        const __m256 gx = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(fj, w.s00), row_x), w.s20);
        const __m256 gy = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(fj, w.s01), row_y), w.s21);
        const __m256i fx = _mm256_cvttps_epi32(_mm256_floor_ps(gx));
        const __m256i cx = _mm256_cvttps_epi32(_mm256_ceil_ps(gx));
        const __m256i fy = _mm256_cvttps_epi32(_mm256_floor_ps(gy));
        const __m256i cy = _mm256_cvttps_epi32(_mm256_ceil_ps(gy));
        const __m256 has_cx = _mm256_andnot_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(cx, fx)), all);
        const __m256 has_cy = _mm256_andnot_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(cy, fy)), all);

        const Axis8 kf = column8(w, fx), kc = column8(w, cx);
        const Axis8 lf = row8(w, fy), lc = row8(w, cy);

        const __m256 v_ff = ink8(w, kf, lf), v_fc = ink8(w, kf, lc), v_cf = ink8(w, kc, lf), v_cc = ink8(w, kc, lc);
        __m256 sum = _mm256_setzero_ps();
        sum = add_candidate(shape, w, fj, fi, kf, lf, all, v_ff, sum);
        sum = add_candidate(shape, w, fj, fi, kf, lc, has_cy, v_fc, sum);
        sum = add_candidate(shape, w, fj, fi, kc, lf, has_cx, v_cf, sum);
        sum = add_candidate(shape, w, fj, fi, kc, lc, _mm256_and_ps(has_cx, has_cy), v_cc, sum);
        _mm256_storeu_ps(out + j, _mm256_sub_ps(one, clamp_unit8(sum)));
    }
    return end;
}

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

// Per shape: whether a dot of ink v draws anything at all, set-up for one dot,
// then per row whether the dot may reach it and over which columns (a
// superset), and its coverage of eight pixels of that row.
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

RUVIVEDU_TARGET_AVX2 inline CircleSpan span_shape(const Circle& s)
{
    CircleSpan shape;
    shape.dot_radius = s.dot_radius;
    shape.reach = s.reach;
    return shape;
}
RUVIVEDU_TARGET_AVX2 inline SquareSpan span_shape(const Square& s)
{
    SquareSpan shape;
    shape.dot_radius = s.dot_radius;
    shape.hs = 0.0f;
    return shape;
}
RUVIVEDU_TARGET_AVX2 inline LineSpan span_shape(const Line& s)
{
    LineSpan shape;
    shape.w = s.w;
    shape.t = s.t;
    shape.tv = 0.0f;
    return shape;
}

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
        mismatch = std::max({mismatch, std::fabs(px * s.m00 + py * s.m10 + s.m20 - k),
                             std::fabs(px * s.m01 + py * s.m11 + s.m21 - l)});
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
        const Columns surely = first <= last ? Columns{static_cast<int>(first), static_cast<int>(last)} : Columns{0, -1};
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

#endif  // RUVIVEDU_X86_64

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
    const WalkPlan plan = plan_walk(shape, frame, static_cast<uint32_t>(width), static_cast<uint32_t>(paper.height()),
                                    !no_grid);
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

} // namespace

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
#define RUVIVEDU_INSTANTIATE_DOTS(T)                                                                       \
    template void render_circle<T>(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);    \
    template void render_square<T>(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);    \
    template void render_line<T>(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);      \
    RUVIVEDU_INSTANTIATE_DOTS_INTO_LAYER(T, render_circle_grey)                                            \
    RUVIVEDU_INSTANTIATE_DOTS_INTO_LAYER(T, render_square_grey)                                            \
    RUVIVEDU_INSTANTIATE_DOTS_INTO_LAYER(T, render_line_grey)                                              \
    RUVIVEDU_INSTANTIATE_DOTS_INTO_LAYER(T, render_circle_alpha)                                           \
    RUVIVEDU_INSTANTIATE_DOTS_INTO_LAYER(T, render_square_alpha)                                           \
    RUVIVEDU_INSTANTIATE_DOTS_INTO_LAYER(T, render_line_alpha)                                             \
    template DotWalk dot_walk<T>(const HalfTone_Inner_Params<T>&, Shape, uint32_t, uint32_t);

RUVIVEDU_INSTANTIATE_DOTS(unsigned char)
RUVIVEDU_INSTANTIATE_DOTS(unsigned short)
RUVIVEDU_INSTANTIATE_DOTS(float)

}  // namespace ruvivedu
