// The per-pixel walks of the dot stages: every output pixel sums the coverage
// of the one, two or four lattice points around its grid position. The portable
// walk goes one pixel at a time; the AVX2 one carries eight neighbouring pixels
// of a row through the same float operations in the same order (a lane whose
// candidate is skipped adds +0, which leaves a sum of non-negative coverages
// unchanged), leaving the last width % 8 pixels of a row to the portable one.
// Private to dots.cpp (see dot_shapes.h).
#pragma once

#include <cmath>
#include <cstdint>

#include "halftone/dot_shapes.h"

#if RUVIVEDU_X86_64
#include <immintrin.h>
#endif

namespace ruvivedu {
namespace {

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
    return {_mm256_set1_ps(s.m00),
            _mm256_set1_ps(s.m01),
            _mm256_set1_ps(s.m10),
            _mm256_set1_ps(s.m11),
            _mm256_set1_ps(s.m20),
            _mm256_set1_ps(s.m21),
            _mm256_set1_ps(g.m00),
            _mm256_set1_ps(g.m01),
            _mm256_set1_ps(g.m10),
            _mm256_set1_ps(g.m11),
            _mm256_set1_ps(g.m20),
            _mm256_set1_ps(g.m21),
            _mm256_set1_epi32(static_cast<int>(f.grid_width) - 1),
            _mm256_set1_epi32(static_cast<int>(f.grid_height) - 1),
            _mm256_set1_epi32(static_cast<int>(f.grid_width)),
            f.cells};
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

#endif  // RUVIVEDU_X86_64

}  // namespace
}  // namespace ruvivedu
