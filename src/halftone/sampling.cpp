// Cell sampling row jobs: box filter, alpha-weighted bilinear lookup, nearest pixel.
#include "halftone/sampling.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/pixel_path.h"
#include "base/rows.h"
#include "halftone/bilinear.h"
#include "halftone/sample_source.h"

#if RUVIVEDU_X86_64
#include <immintrin.h>
#endif

namespace ruvivedu {

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

// Luminance and alpha of pixel (x, y), both indices clamped into the source.
template <typename Source>
host_pixels::LumAlpha clamped_pixel(const Source& src, int x, int y)
{
    return src.at(clamp_index(x, src.width()), clamp_index(y, src.height()));
}

template <typename Source>
bool is_empty(const Source& src)
{
    return src.width() == 0 || src.height() == 0;
}

// Ink of a dot from its sampled luminance and alpha.
float ink(float luminance, float alpha)
{
    return std::ceil(alpha) * (1.0f - luminance);
}

// One box pixel's footprint in the source, its edge weights and its two
// running sums.
struct BoxCell {
    float x0, y0, x1, y1;
    int left, right, top, bottom;
    float wl, wr, wt, wb;
    float sum_lum, sum_alpha;
};

BoxCell footprint(const Mat3& box_to_src, int c, int r)
{
    BoxCell b;
    // The cell's footprint is axis-aligned in the source (box_to_src has no
    // rotation).
    box_to_src.map(static_cast<float>(c) - 0.5f, static_cast<float>(r) - 0.5f, b.x0, b.y0);
    box_to_src.map(static_cast<float>(c) + 0.5f, static_cast<float>(r) + 0.5f, b.x1, b.y1);
    b.left = static_cast<int>(std::floor(b.x0));
    b.right = static_cast<int>(std::floor(b.x1));
    b.top = static_cast<int>(std::floor(b.y0));
    b.bottom = static_cast<int>(std::floor(b.y1));

    // Edge weights, each from the corner named here, also where that is not
    // the covered fraction (a footprint that does not span a whole number of
    // pixels): existing pictures depend on exactly these weights.
    b.wl = std::ceil(b.x0) - b.x0;
    if (b.wl == 0.0f) {
        b.wl = 1.0f;
    }
    b.wr = b.x0 - std::floor(b.x0);
    b.wt = std::ceil(b.y1) - b.y1;
    if (b.wt == 0.0f) {
        b.wt = 1.0f;
    }
    b.wb = b.y1 - std::floor(b.y1);
    b.sum_lum = 0.0f;
    b.sum_alpha = 0.0f;
    return b;
}

template <typename Source>
void add(const Source& src, BoxCell& b, int x, int y, float w)
{
    const host_pixels::LumAlpha p = clamped_pixel(src, x, y);
    b.sum_lum += w * p.lum;
    b.sum_alpha += w * p.alpha;
}

// Corners first, then the edge columns row by row, then the edge rows column
// by column; when left == right or top == bottom the same pixel is read
// twice, once with each weight.
template <typename Source>
void add_edges(const Source& src, BoxCell& b)
{
    add(src, b, b.left, b.top, b.wt * b.wl);
    add(src, b, b.left, b.bottom, b.wb * b.wl);
    add(src, b, b.right, b.top, b.wr * b.wt);
    add(src, b, b.right, b.bottom, b.wb * b.wr);
    for (int y = b.top + 1; y < b.bottom; ++y) {
        add(src, b, b.left, y, b.wl);
        add(src, b, b.right, y, b.wr);
    }
    for (int x = b.left + 1; x < b.right; ++x) {
        add(src, b, x, b.top, b.wt);
        add(src, b, x, b.bottom, b.wb);
    }
}

// The whole pixels inside the edges, row by row, with weight 1 (1 * p is p,
// so the product is left out). Rows are read in chunks of at most
// kPairsPerChunk pixels; the sums run on across chunks in the same order.
template <typename Source>
void add_inside(const Source& src, BoxCell& b)
{
    const int first = b.left + 1;
    const int count = b.right - first;
    if (count <= 0) {
        return;
    }
    const bool in_columns = first >= 0 && static_cast<uint32_t>(b.right - 1) < src.width();
    float scratch[2 * kPairsPerChunk];
    const int chunk = src.chunk();
    for (int y = b.top + 1; y < b.bottom; ++y) {
        if (in_columns) {
            const uint32_t row = clamp_index(y, src.height());
            for (int done = 0; done < count; done += chunk) {
                const int n = count - done < chunk ? count - done : chunk;
                const float* p = src.pairs(row, static_cast<uint32_t>(first + done), n, scratch);
                for (int x = 0; x < n; ++x) {
                    b.sum_lum += p[2 * x];
                    b.sum_alpha += p[2 * x + 1];
                }
            }
        } else {
            for (int x = first; x < b.right; ++x) {
                const host_pixels::LumAlpha p = clamped_pixel(src, x, y);
                b.sum_lum += p.lum;
                b.sum_alpha += p.alpha;
            }
        }
    }
}

// add_inside for four cells of one row at once when their insides have the
// same rows and width and lie within the source's columns: the same sums in
// the same order per cell, but four cells' additions overlap in time. The
// four insides lie within one stretch of the row, read once per row when it
// fits a chunk.
template <typename Source>
bool add_inside4(const Source& src, BoxCell* b)
{
    const int count = b[0].right - b[0].left - 1;
    for (int g = 0; g < 4; ++g) {
        if (b[g].top != b[0].top || b[g].bottom != b[0].bottom || b[g].right - b[g].left - 1 != count ||
            b[g].left + 1 < 0 || static_cast<uint32_t>(b[g].right - 1) >= src.width() ||
            (g > 0 && b[g].left < b[g - 1].left)) {
            return false;
        }
    }
    if (count <= 0) {
        return true;
    }
    const int first = b[0].left + 1;
    const int stretch = b[3].right - first;
    if (stretch > src.chunk()) {
        return false;
    }
    float scratch[2 * kPairsPerChunk];
    float l0 = b[0].sum_lum, a0 = b[0].sum_alpha, l1 = b[1].sum_lum, a1 = b[1].sum_alpha;
    float l2 = b[2].sum_lum, a2 = b[2].sum_alpha, l3 = b[3].sum_lum, a3 = b[3].sum_alpha;
    for (int y = b[0].top + 1; y < b[0].bottom; ++y) {
        const float* row = src.pairs(clamp_index(y, src.height()), static_cast<uint32_t>(first), stretch, scratch);
        const float* p0 = row;
        const float* p1 = row + 2 * static_cast<std::size_t>(b[1].left + 1 - first);
        const float* p2 = row + 2 * static_cast<std::size_t>(b[2].left + 1 - first);
        const float* p3 = row + 2 * static_cast<std::size_t>(b[3].left + 1 - first);
        for (int x = 0; x < 2 * count; x += 2) {
            l0 += p0[x];
            a0 += p0[x + 1];
            l1 += p1[x];
            a1 += p1[x + 1];
            l2 += p2[x];
            a2 += p2[x + 1];
            l3 += p3[x];
            a3 += p3[x + 1];
        }
    }
    b[0].sum_lum = l0, b[0].sum_alpha = a0, b[1].sum_lum = l1, b[1].sum_alpha = a1;
    b[2].sum_lum = l2, b[2].sum_alpha = a2, b[3].sum_lum = l3, b[3].sum_alpha = a3;
    return true;
}

void store_box(const BoxCell& b, float* out)
{
    float lum = b.sum_alpha > 0.0f ? b.sum_lum / b.sum_alpha : 0.0f;
    if (lum > 1.0f) {
        lum = 1.0f;
    }
    float alpha = b.sum_alpha / ((b.y1 - b.y0) * (b.x1 - b.x0));
    if (alpha > 1.0f) {
        alpha = 1.0f;
    }
    out[0] = lum;
    out[1] = alpha;
}

#if RUVIVEDU_X86_64

// box_filter for eight cells of a box row at once: every lane adds its own
// pixels with its own weights in the order of add_edges and add_inside. The
// cells of a box row share their source rows (the box frame is not turned);
// their widths may differ (DotSizes off the pixel grid), and a lane whose cell
// is narrower keeps its sum through the columns it does not have, so that it
// adds exactly the terms the scalar code adds. Returns false, having written
// nothing, for footprints beyond kMaxSpan pixels or not sharing their rows;
// those cells go the scalar way.
constexpr int kMaxSpan = 4096;

// The lanes that add a term: all of them, or those of `lanes`.
struct Take {
    bool all;
    __m256 lanes;
};

// sum + term where the lanes take it, sum unchanged in the others.
RUVIVEDU_TARGET_AVX2 inline __m256 add_where(__m256 sum, __m256 term, const Take& take)
{
    const __m256 added = _mm256_add_ps(sum, term);
    return take.all ? added : _mm256_blendv_ps(sum, added, take.lanes);
}

RUVIVEDU_TARGET_AVX2 inline __m256i pick8(__m256i a, __m256i b, bool largest)
{
    return largest ? _mm256_max_epi32(a, b) : _mm256_min_epi32(a, b);
}

// The largest (or smallest) of eight integers.
RUVIVEDU_TARGET_AVX2 inline int extreme8(__m256i v, bool largest)
{
    v = pick8(v, _mm256_permute2x128_si256(v, v, 1), largest);
    v = pick8(v, _mm256_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)), largest);
    v = pick8(v, _mm256_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)), largest);
    return _mm256_cvtsi256_si32(v);
}

// The lanes whose span (of columns past the first) reaches column k.
RUVIVEDU_TARGET_AVX2 inline Take columns_with(__m256i span, int k, int narrowest)
{
    return Take{k < narrowest, _mm256_castsi256_ps(_mm256_cmpgt_epi32(span, _mm256_set1_epi32(k)))};
}

template <typename Source>
RUVIVEDU_TARGET_AVX2 inline void add8(const Source& src, __m256i x, uint32_t y, __m256 w, __m256i last_x,
                                      __m256& sum_lum, __m256& sum_alpha, bool weighted, const Take& take)
{
    const __m256i xc = _mm256_max_epi32(_mm256_setzero_si256(), _mm256_min_epi32(x, last_x));
    __m256 lum, alpha;
    src.gather8(y, xc, lum, alpha);
    if (weighted) {
        lum = _mm256_mul_ps(w, lum);
        alpha = _mm256_mul_ps(w, alpha);
    }
    sum_lum = add_where(sum_lum, lum, take);
    sum_alpha = add_where(sum_alpha, alpha, take);
}

// Inside wider cells the eight lanes read their pixels row by row instead
// of gathering them one column at a time: each lane's stretch of a source row
// is fetched (converted) in order, as the processor likes to read memory, and
// eight columns of the eight lanes are turned into eight columns of lanes.
constexpr int kRowsFromGathers = 16;
// Columns of a lane's stretch fetched at a time (32 KB for the eight lanes).
constexpr int kInsideChunk = 512;

// The 8 x 8 floats rows[0..7][0..7] turned so that out[k] holds rows[0..7][k].
RUVIVEDU_TARGET_AVX2 inline void transpose8(const __m256* rows, __m256* out)
{
    const __m256 t0 = _mm256_unpacklo_ps(rows[0], rows[1]), t1 = _mm256_unpackhi_ps(rows[0], rows[1]);
    const __m256 t2 = _mm256_unpacklo_ps(rows[2], rows[3]), t3 = _mm256_unpackhi_ps(rows[2], rows[3]);
    const __m256 t4 = _mm256_unpacklo_ps(rows[4], rows[5]), t5 = _mm256_unpackhi_ps(rows[4], rows[5]);
    const __m256 t6 = _mm256_unpacklo_ps(rows[6], rows[7]), t7 = _mm256_unpackhi_ps(rows[6], rows[7]);
    const __m256 u0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 u2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 u4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 u6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
    out[0] = _mm256_permute2f128_ps(u0, u4, 0x20);
    out[1] = _mm256_permute2f128_ps(u1, u5, 0x20);
    out[2] = _mm256_permute2f128_ps(u2, u6, 0x20);
    out[3] = _mm256_permute2f128_ps(u3, u7, 0x20);
    out[4] = _mm256_permute2f128_ps(u0, u4, 0x31);
    out[5] = _mm256_permute2f128_ps(u1, u5, 0x31);
    out[6] = _mm256_permute2f128_ps(u2, u6, 0x31);
    out[7] = _mm256_permute2f128_ps(u3, u7, 0x31);
}

// One lane's columns [first, first + count) of source row y as (luminance,
// alpha) pairs in `pairs`, each column clamped into the source as the scalar
// code clamps it; eight more pairs of zeros follow.
template <typename Source>
void fetch_lane(const Source& src, uint32_t y, int first, int count, float* pairs)
{
    const int width = static_cast<int>(src.width());
    int done = 0;
    // Columns left of the source repeat its first pixel, right of it its last.
    if (first < 0) {
        const host_pixels::LumAlpha head = src.at(0, y);
        for (; done < count && first + done < 0; ++done) {
            pairs[2 * done] = head.lum;
            pairs[2 * done + 1] = head.alpha;
        }
    }
    const int inside = std::max(0, std::min(count, width - first) - done);
    if (inside > 0) {
        float* at = pairs + 2 * done;
        const float* p = src.pairs(y, static_cast<uint32_t>(first + done), inside, at);
        if (p != at)
            std::memcpy(at, p, static_cast<std::size_t>(inside) * 2 * sizeof(float));
        done += inside;
    }
    if (done < count) {
        const host_pixels::LumAlpha tail = src.at(static_cast<uint32_t>(width - 1), y);
        for (; done < count; ++done) {
            pairs[2 * done] = tail.lum;
            pairs[2 * done + 1] = tail.alpha;
        }
    }
    std::memset(pairs + 2 * count, 0, 16 * sizeof(float));
}

// Eight columns of the eight lanes (lum_rows[lane][k], alpha_rows[lane][k]
// for columns kx + k of each lane's span) added to the lanes' sums, column by
// column, for the first `columns` of them.
RUVIVEDU_TARGET_AVX2 inline void add_columns8(const __m256* lum_rows, const __m256* alpha_rows, __m256i span_x, int kx,
                                              int columns, int narrowest, __m256& sl, __m256& sa)
{
    __m256 lum_columns[8], alpha_columns[8];
    transpose8(lum_rows, lum_columns);
    transpose8(alpha_rows, alpha_columns);
    for (int k = 0; k < columns; ++k) {
        const Take take = columns_with(span_x, kx + k, narrowest);
        sl = add_where(sl, lum_columns[k], take);
        sa = add_where(sa, alpha_columns[k], take);
    }
}

// The same from each lane's (luminance, alpha) pairs.
RUVIVEDU_TARGET_AVX2 inline void add_pair_columns8(const float* const* lane_pairs, __m256i span_x, int kx, int columns,
                                                   int narrowest, __m256& sl, __m256& sa)
{
    __m256 lum_rows[8], alpha_rows[8];
    for (int lane = 0; lane < 8; ++lane)
        deinterleave8(lane_pairs[lane], lum_rows[lane], alpha_rows[lane]);
    add_columns8(lum_rows, alpha_rows, span_x, kx, columns, narrowest, sl, sa);
}

// Pixels of one source row a group of lanes may fetch at once.
constexpr int kStretchPixels = 1024;

// The inside of eight cells (columns 1 .. span - 1 of each lane's footprint,
// rows top + 1 .. top + ny - 1), added row by row to the lanes' sums in the
// order of add_inside. Where the eight insides lie within the source with
// eight columns to spare, each lane reads its pixels straight from it, eight
// at a time; where they lie within it close together, each row's stretch
// under all of them is fetched at once; otherwise each lane fetches its own,
// a chunk at a time, with clamped columns.
template <typename Source>
RUVIVEDU_TARGET_AVX2 void add_inside8_by_rows(const Source& src, __m256i left, __m256i span_x, int nx, int narrowest,
                                              int top, int ny, __m256& sl, __m256& sa)
{
    alignas(32) int lefts[8], spans[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lefts), left);
    _mm256_store_si256(reinterpret_cast<__m256i*>(spans), span_x);
    const int first = lefts[0] + 1;
    int last = first;
    for (int lane = 0; lane < 8; ++lane)
        last = std::max(last, lefts[lane] + spans[lane] - 1);
    const int stretch = last - first + 1;
    const int width = static_cast<int>(src.width());
    if (first >= 0 && last + 8 < width) {
        // Each lane reads its eight pixels of a row straight from the source
        // (a lane past its span reads pixels it does not add).
        __m256 lum_rows[8], alpha_rows[8];
        for (int ky = 1; ky < ny; ++ky) {
            const uint32_t y = clamp_index(top + ky, src.height());
            for (int kx = 1; kx < nx; kx += 8) {
                for (int lane = 0; lane < 8; ++lane)
                    src.row8(y, std::min(lefts[lane] + kx, last), lum_rows[lane], alpha_rows[lane]);
                add_columns8(lum_rows, alpha_rows, span_x, kx, std::min(8, nx - kx), narrowest, sl, sa);
            }
        }
        return;
    }
    if (first >= 0 && last < width && stretch + 8 <= kStretchPixels) {
        float pairs[2 * kStretchPixels + 16];
        const float* lane_pairs[8];
        for (int ky = 1; ky < ny; ++ky) {
            const uint32_t y = clamp_index(top + ky, src.height());
            const float* p = src.pairs(y, static_cast<uint32_t>(first), stretch, pairs);
            if (p != pairs)
                std::memcpy(pairs, p, static_cast<std::size_t>(stretch) * 2 * sizeof(float));
            std::memset(pairs + 2 * stretch, 0, 16 * sizeof(float));
            for (int kx = 1; kx < nx; kx += 8) {
                for (int lane = 0; lane < 8; ++lane)
                    lane_pairs[lane] = pairs + 2 * std::min(lefts[lane] + kx - first, stretch);
                add_pair_columns8(lane_pairs, span_x, kx, std::min(8, nx - kx), narrowest, sl, sa);
            }
        }
        return;
    }
    float pairs[8][2 * kInsideChunk + 16];
    const float* lane_pairs[8];
    // Footprint rows above or below the source repeat its edge row: where the
    // whole width is one chunk, a row fetched already is not fetched again.
    bool fetched = false;
    uint32_t fetched_row = 0;
    for (int ky = 1; ky < ny; ++ky) {
        const uint32_t y = clamp_index(top + ky, src.height());
        for (int kx0 = 1; kx0 < nx; kx0 += kInsideChunk) {
            const int n = std::min(kInsideChunk, nx - kx0);
            if (!(fetched && y == fetched_row && n == nx - 1)) {
                for (int lane = 0; lane < 8; ++lane) {
                    const int count = std::max(0, std::min(n, spans[lane] - kx0));
                    fetch_lane(src, y, lefts[lane] + kx0, count, pairs[lane]);
                }
                fetched = n == nx - 1;
                fetched_row = y;
            }
            for (int kb = 0; kb < n; kb += 8) {
                for (int lane = 0; lane < 8; ++lane)
                    lane_pairs[lane] = pairs[lane] + 2 * kb;
                add_pair_columns8(lane_pairs, span_x, kx0 + kb, std::min(8, n - kb), narrowest, sl, sa);
            }
        }
    }
}

template <typename Source>
RUVIVEDU_TARGET_AVX2 bool box_cells_avx2(const Source& src, const Mat3& box_to_src, int c, int r, float* out)
{
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 zero = _mm256_setzero_ps();
    const Take all{true, _mm256_setzero_ps()};
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256 fc = _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(c), lanes));
    const __m256 fr = _mm256_set1_ps(static_cast<float>(r));
    const __m256 m00 = _mm256_set1_ps(box_to_src.m00), m01 = _mm256_set1_ps(box_to_src.m01);
    const __m256 m10 = _mm256_set1_ps(box_to_src.m10), m11 = _mm256_set1_ps(box_to_src.m11);
    const __m256 m20 = _mm256_set1_ps(box_to_src.m20), m21 = _mm256_set1_ps(box_to_src.m21);
    // The corners (c - 0.5, r - 0.5) and (c + 0.5, r + 0.5) mapped as Mat3::map maps them.
    const __m256 c0 = _mm256_sub_ps(fc, half), r0 = _mm256_sub_ps(fr, half);
    const __m256 c1 = _mm256_add_ps(fc, half), r1 = _mm256_add_ps(fr, half);
    const __m256 x0 = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(c0, m00), _mm256_mul_ps(r0, m10)), m20);
    const __m256 y0 = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(c0, m01), _mm256_mul_ps(r0, m11)), m21);
    const __m256 x1 = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(c1, m00), _mm256_mul_ps(r1, m10)), m20);
    const __m256 y1 = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(c1, m01), _mm256_mul_ps(r1, m11)), m21);

    const __m256 x0_floor = _mm256_floor_ps(x0);
    const __m256 y1_floor = _mm256_floor_ps(y1);
    const __m256i left = _mm256_cvttps_epi32(x0_floor);
    const __m256i right = _mm256_cvttps_epi32(_mm256_floor_ps(x1));
    const __m256i top = _mm256_cvttps_epi32(_mm256_floor_ps(y0));
    const __m256i bottom = _mm256_cvttps_epi32(y1_floor);
    const __m256i span_x = _mm256_sub_epi32(right, left);
    const int top0 = _mm256_cvtsi256_si32(top);
    const int bottom0 = _mm256_cvtsi256_si32(bottom);
    const int ny = bottom0 - top0;
    const __m256i same_rows = _mm256_and_si256(_mm256_cmpeq_epi32(top, _mm256_set1_epi32(top0)),
                                               _mm256_cmpeq_epi32(bottom, _mm256_set1_epi32(bottom0)));
    const __m256i in_span =
        _mm256_andnot_si256(_mm256_or_si256(_mm256_cmpgt_epi32(_mm256_setzero_si256(), span_x),
                                            _mm256_cmpgt_epi32(span_x, _mm256_set1_epi32(kMaxSpan))),
                            _mm256_set1_epi32(-1));
    if (_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_and_si256(same_rows, in_span))) != 0xFF || ny < 0 ||
        ny > kMaxSpan)
        return false;
    // The widest and narrowest cells' spans; narrower lanes skip what lies
    // beyond their own.
    const int nx = extreme8(span_x, true);
    const int narrowest = extreme8(span_x, false);

    __m256 wl = _mm256_sub_ps(_mm256_ceil_ps(x0), x0);
    wl = _mm256_blendv_ps(wl, one, _mm256_cmp_ps(wl, zero, _CMP_EQ_OQ));
    const __m256 wr = _mm256_sub_ps(x0, x0_floor);
    __m256 wt = _mm256_sub_ps(_mm256_ceil_ps(y1), y1);
    wt = _mm256_blendv_ps(wt, one, _mm256_cmp_ps(wt, zero, _CMP_EQ_OQ));
    const __m256 wb = _mm256_sub_ps(y1, y1_floor);

    const __m256i last_x = _mm256_set1_epi32(static_cast<int>(src.width() - 1));
    // Source rows clamped as the scalar code clamps them.
    auto row = [&](int y) { return clamp_index(y, src.height()); };
    __m256 sl = zero, sa = zero;
    add8(src, left, row(top0), _mm256_mul_ps(wt, wl), last_x, sl, sa, true, all);
    add8(src, left, row(bottom0), _mm256_mul_ps(wb, wl), last_x, sl, sa, true, all);
    add8(src, right, row(top0), _mm256_mul_ps(wr, wt), last_x, sl, sa, true, all);
    add8(src, right, row(bottom0), _mm256_mul_ps(wb, wr), last_x, sl, sa, true, all);
    for (int k = 1; k < ny; ++k) {
        add8(src, left, row(top0 + k), wl, last_x, sl, sa, true, all);
        add8(src, right, row(top0 + k), wr, last_x, sl, sa, true, all);
    }
    for (int k = 1; k < nx; ++k) {
        const __m256i x = _mm256_add_epi32(left, _mm256_set1_epi32(k));
        add8(src, x, row(top0), wt, last_x, sl, sa, true, columns_with(span_x, k, narrowest));
        add8(src, x, row(bottom0), wb, last_x, sl, sa, true, columns_with(span_x, k, narrowest));
    }
    if (nx > kRowsFromGathers) {
        add_inside8_by_rows(src, left, span_x, nx, narrowest, top0, ny, sl, sa);
    } else {
        for (int ky = 1; ky < ny; ++ky) {
            const uint32_t y = row(top0 + ky);
            for (int kx = 1; kx < nx; ++kx) {
                add8(src, _mm256_add_epi32(left, _mm256_set1_epi32(kx)), y, one, last_x, sl, sa, false,
                     columns_with(span_x, kx, narrowest));
            }
        }
    }

    // store_box, lane by lane: NaN luminance is kept, only values above 1 are limited.
    __m256 lum = _mm256_and_ps(_mm256_div_ps(sl, sa), _mm256_cmp_ps(sa, zero, _CMP_GT_OQ));
    lum = _mm256_blendv_ps(lum, one, _mm256_cmp_ps(lum, one, _CMP_GT_OQ));
    __m256 alpha = _mm256_div_ps(sa, _mm256_mul_ps(_mm256_sub_ps(y1, y0), _mm256_sub_ps(x1, x0)));
    alpha = _mm256_blendv_ps(alpha, one, _mm256_cmp_ps(alpha, one, _CMP_GT_OQ));
    const __m256 low = _mm256_unpacklo_ps(lum, alpha);   // cells 0 1 | 4 5
    const __m256 high = _mm256_unpackhi_ps(lum, alpha);  // cells 2 3 | 6 7
    _mm256_storeu_ps(out, _mm256_permute2f128_ps(low, high, 0x20));
    _mm256_storeu_ps(out + 8, _mm256_permute2f128_ps(low, high, 0x31));
    return true;
}

#endif  // RUVIVEDU_X86_64

}  // namespace

namespace {

// Asks for the source pixels a box row reads a little ahead of the cells at
// work: the cells read their footprint's rows down its edge columns first,
// and where a footprint is many rows tall each of those reads would
// otherwise wait for memory on its own (a few rows the processor fetches
// ahead by itself). At most about 64 KB are asked for ahead, so that the
// cells' pixels are still there when they are read.
template <typename Source>
class FootprintPrefetch {
public:
    FootprintPrefetch(const Source& src, const Mat3& box_to_src, int r) : src_(src), box_to_src_(box_to_src), r_(r)
    {
        const BoxCell b = footprint(box_to_src, 0, r);
        top_ = clamp_index(b.top, src.height());
        bottom_ = clamp_index(b.bottom, src.height());
        const int rows = static_cast<int>(bottom_ - top_) + 1;
        active_ = rows >= 8;
        ahead_ = std::max(16, std::min(256, (64 << 10) / (rows * src.pixel_bytes())));
        done_ = 0;
    }

    // The pixels after the footprint of cell c, as far ahead as allowed.
    void after_cell(int c)
    {
        if (!active_)
            return;
        float x, y;
        box_to_src_.map(static_cast<float>(c) + 0.5f, static_cast<float>(r_) + 0.5f, x, y);
        const int width = static_cast<int>(src_.width());
        const int next = x >= 0.0f ? (x < static_cast<float>(width) ? static_cast<int>(x) + 1 : width) : 0;
        const int from = std::max(next, done_);
        const int to = std::min(width, next + ahead_);
        if (from >= to)
            return;
        for (uint32_t row = top_; row <= bottom_; ++row)
            src_.prefetch(row, static_cast<uint32_t>(from), to - from);
        done_ = to;
    }

private:
    const Source& src_;
    const Mat3& box_to_src_;
    int r_;
    uint32_t top_, bottom_;
    bool active_;
    int ahead_;
    int done_;
};

// The box filter over rows [begin, end) of `dst`, reading `src`.
template <typename Source>
void filter_boxes(const Source& src, Image<float>* dst, const Mat3& box_to_src, [[maybe_unused]] int workers, int begin,
                  int end)
{
    if (begin >= end) {
        return;
    }
    const int width = static_cast<int>(dst->width);
    // An input world without pixels has nothing to average: every cell is
    // transparent (luminance 0, alpha 0) rather than a read of a missing pixel.
    const bool no_source = is_empty(src);
    [[maybe_unused]] const bool avx2 = pixel_path() == PixelPath::avx2 && !no_source && src.gathers();

    RUVIVEDU_PARALLEL_ROWS(workers)
    for (int r = begin; r < end; ++r) {
        float* out = dst->row(static_cast<uint32_t>(r));
        if (no_source) {
            for (int c = 0; c < width; ++c) {
                out[2 * c] = 0.0f;
                out[2 * c + 1] = 0.0f;
            }
            continue;
        }
        FootprintPrefetch<Source> prefetch(src, box_to_src, r);
        prefetch.after_cell(-1);
        int c = 0;
#if RUVIVEDU_X86_64
        if (avx2) {
            while (c + 8 <= width) {
                prefetch.after_cell(c + 7);
                if (!box_cells_avx2(src, box_to_src, c, r, out + 2 * c))
                    break;
                c += 8;
            }
            // The last few cells with the eight before them: those are
            // computed once more, to the same values.
            if (c < width && c >= 8 && c + 8 > width &&
                box_cells_avx2(src, box_to_src, width - 8, r, out + 2 * (width - 8)))
                c = width;
        }
#endif
        for (; c + 4 <= width; c += 4) {
            prefetch.after_cell(c + 3);
            BoxCell cells[4];
            for (int g = 0; g < 4; ++g) {
                cells[g] = footprint(box_to_src, c + g, r);
                add_edges(src, cells[g]);
            }
            if (!add_inside4(src, cells)) {
                for (BoxCell& cell : cells) {
                    add_inside(src, cell);
                }
            }
            for (int g = 0; g < 4; ++g) {
                store_box(cells[g], out + 2 * (c + g));
            }
        }
        for (; c < width; ++c) {
            BoxCell cell = footprint(box_to_src, c, r);
            add_edges(src, cell);
            add_inside(src, cell);
            store_box(cell, out + 2 * c);
        }
    }
}

// Nearest sampling over rows [begin, end) of the cell grid `dst`.
template <typename Source>
void sample_cells_nearest(const Source& src, Image<float>* dst, const Mat3& grid_to_src, [[maybe_unused]] int workers,
                          int begin, int end)
{
    if (begin >= end) {
        return;
    }
    const int width = static_cast<int>(dst->width);
    // An input world without pixels gives no ink (as a transparent one would).
    const bool no_source = is_empty(src);

    RUVIVEDU_PARALLEL_ROWS(workers)
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
            const host_pixels::LumAlpha p =
                clamped_pixel(src, static_cast<int>(std::round(x)), static_cast<int>(std::round(y)));
            out[c] = ink(p.lum, p.alpha);
        }
    }
}

}  // namespace

template <typename T>
void box_filter(Image<float>* src, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end)
{
    filter_boxes(ImageSource{*src}, dst, params->box_to_src, row_workers(*params), begin, end);
}

template <typename T>
void box_filter_layer(LayerParams* in, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end)
{
    filter_boxes(LayerSource<T>{*in, params->inv_white}, dst, params->box_to_src, row_workers(*params), begin, end);
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
    const bool no_source = src->width == 0 || src->height == 0;

    // Gathers take 32-bit float offsets.
    [[maybe_unused]] const bool avx2 = pixel_path() == PixelPath::avx2 && !no_source &&
                                       static_cast<uint64_t>(src->width) * src->height * 2 < (uint64_t{1} << 31);

    RUVIVEDU_PARALLEL_ROWS(row_workers(*params))
    for (int r = begin; r < end; ++r) {
        float* out = dst->row(static_cast<uint32_t>(r));
        int c = 0;
#if RUVIVEDU_X86_64
        if (avx2) {
            c = resample_row_avx2(*src, grid_to_box, r, out, width);
        }
#endif
        for (; c < width; ++c) {
            if (no_source) {
                out[c] = 0.0f;
                continue;
            }
            float x, y;
            grid_to_box.map(static_cast<float>(c), static_cast<float>(r), x, y);
            float alpha;
            const float lum = sample_weighted(*src, x, y, &alpha);
            out[c] = ink(lum, alpha);
        }
    }
}

template <typename T>
void sample_nearest(Image<float>* src, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end)
{
    sample_cells_nearest(ImageSource{*src}, dst, params->grid_to_src, row_workers(*params), begin, end);
}

template <typename T>
void sample_nearest_layer(LayerParams* in, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end)
{
    sample_cells_nearest(LayerSource<T>{*in, params->inv_white}, dst, params->grid_to_src, row_workers(*params), begin,
                         end);
}

#define RUVIVEDU_INSTANTIATE_SAMPLING(T)                                                                   \
    template void box_filter<T>(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);        \
    template void box_filter_layer<T>(LayerParams*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);   \
    template void resample_bilinear<T>(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int); \
    template void sample_nearest<T>(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);    \
    template void sample_nearest_layer<T>(LayerParams*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);

RUVIVEDU_INSTANTIATE_SAMPLING(unsigned char)
RUVIVEDU_INSTANTIATE_SAMPLING(unsigned short)
RUVIVEDU_INSTANTIATE_SAMPLING(float)

}  // namespace ruvivedu
