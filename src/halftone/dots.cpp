// Dot rendering row jobs: circle, square and line screens.
//
// Two walks draw the same picture: a portable one, pixel by pixel, and an AVX2
// one that carries eight neighbouring pixels of a row through the same float
// operations in the same order (a lane whose candidate is skipped adds +0,
// which leaves a sum of non-negative coverages unchanged). The AVX2 walk leaves
// the last width % 8 pixels of a row to the portable one.
#include "halftone/dots.h"

#include <cmath>
#include <cstdint>

#include "halftone/pixel_path.h"
#include "pipeline/parallel.h"

#if RUVIVEDU_X86_64
#include <immintrin.h>
#endif

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
        if (v <= ink_epsilon) {
            return 0.0f;
        }
        // Full coverage inside r, falling linearly to none at r + soft_edge.
        const float r = dot_radius * v + 0.5f - soft_edge;
        return clamp_unit(1.0f - (d - r) / soft_edge);
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
        if (v <= ink_epsilon) {
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
        // Unlike circles and squares, a bar is drawn at exactly ink_epsilon.
        const float v = ink();
        if (v < ink_epsilon) {
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

RUVIVEDU_TARGET_AVX2 inline __m256 clamp_unit8(__m256 x)
{
    const __m256 one = _mm256_set1_ps(1.0f);
    // As clamp_unit: x where 0 < x < 1, 1 from 1 up, 0 for the rest and NaN.
    const __m256 positive = _mm256_cmp_ps(x, _mm256_setzero_ps(), _CMP_GT_OQ);
    const __m256 below_one = _mm256_cmp_ps(x, one, _CMP_LT_OQ);
    return _mm256_and_ps(_mm256_blendv_ps(one, x, below_one), positive);
}

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
        const __m256 edge = _mm256_set1_ps(soft_edge);
        const __m256 inked = _mm256_cmp_ps(v, _mm256_set1_ps(ink_epsilon), _CMP_NLE_UQ);
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
        const __m256 inked = _mm256_cmp_ps(v, _mm256_set1_ps(ink_epsilon), _CMP_NLE_UQ);
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
        const __m256 inked = _mm256_cmp_ps(v, _mm256_set1_ps(ink_epsilon), _CMP_NLT_UQ);
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
                                                 const Axis8& l, __m256 present, __m256 sum)
{
    const __m256 px = _mm256_add_ps(_mm256_add_ps(k.to_x, l.to_x), w.g20);
    const __m256 py = _mm256_add_ps(_mm256_add_ps(k.to_y, l.to_y), w.g21);
    const __m256 live = _mm256_and_ps(present, shape.reach(j, i, px, py));
    if (_mm256_movemask_ps(live) == 0)
        return sum;  // every lane would add +0
    const __m256i index = _mm256_add_epi32(l.cell, k.cell);
    const __m256 v = _mm256_mask_i32gather_ps(_mm256_setzero_ps(), w.cells, index, live, 4);
    return _mm256_add_ps(sum, _mm256_and_ps(shape.cover(v), live));
}

// Columns [0, width - width % 8) of row i; returns where the portable walk
// takes over.
template <typename Shape>
RUVIVEDU_TARGET_AVX2 int draw_row_avx2(const Shape& scalar_shape, const DotFrame& frame, int i, float* out, int width)
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

    const int end = width - width % 8;
    for (int j = 0; j < end; j += 8) {
        const __m256 fj = _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(j), lanes));
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

        __m256 sum = _mm256_setzero_ps();
        sum = add_candidate(shape, w, fj, fi, kf, lf, all, sum);
        sum = add_candidate(shape, w, fj, fi, kf, lc, has_cy, sum);
        sum = add_candidate(shape, w, fj, fi, kc, lf, has_cx, sum);
        sum = add_candidate(shape, w, fj, fi, kc, lc, _mm256_and_ps(has_cx, has_cy), sum);
        _mm256_storeu_ps(out + j, _mm256_sub_ps(one, clamp_unit8(sum)));
    }
    return end;
}

#endif  // RUVIVEDU_X86_64

template <typename T, typename Shape>
void draw_dots(Image<float>* grid, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end,
               const Shape& shape)
{
    if (begin >= end) {
        return;
    }
    const DotFrame frame{params->src_to_grid, params->grid_to_src, grid->data, grid->width, grid->height};
    const int width = static_cast<int>(dst->width);
    // A grid without cells has no dots to draw: bare paper.
    const bool no_grid = grid->width == 0 || grid->height == 0;
    [[maybe_unused]] const bool avx2 = pixel_path() == PixelPath::avx2;

    RUVIVEDU_PARALLEL_FOR
    for (int i = begin; i < end; ++i) {
        float* out = dst->row(static_cast<uint32_t>(i));
        if (no_grid) {
            for (int j = 0; j < width; ++j) {
                out[j] = 1.0f;
            }
            continue;
        }
        int j = 0;
#if RUVIVEDU_X86_64
        if (avx2) {
            j = draw_row_avx2(shape, frame, i, out, width);
        }
#endif
        const float fi = static_cast<float>(i);
        for (; j < width; ++j) {
            out[j] = paper_at(shape, frame, static_cast<float>(j), fi);
        }
    }
}

} // namespace

template <typename T>
void render_circle(Image<float>* grid, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end)
{
    const float dot_radius = params->dot_radius;
    draw_dots(grid, dst, params, begin, end, Circle{dot_radius, dot_radius + soft_edge});
}

template <typename T>
void render_square(Image<float>* grid, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end)
{
    draw_dots(grid, dst, params, begin, end, Square{params->dot_radius});
}

template <typename T>
void render_line(Image<float>* grid, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end)
{
    draw_dots(grid, dst, params, begin, end, Line{params->cell_size * 0.5f, params->dot_radius});
}

#define RUVIVEDU_INSTANTIATE_DOTS(T)                                                                       \
    template void render_circle<T>(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);    \
    template void render_square<T>(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);    \
    template void render_line<T>(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);

RUVIVEDU_INSTANTIATE_DOTS(unsigned char)
RUVIVEDU_INSTANTIATE_DOTS(unsigned short)
RUVIVEDU_INSTANTIATE_DOTS(float)
