// The alpha-weighted bilinear lookup of the box image, one cell at a time and
// eight at a time: twins that must change together.
#include "halftone/bilinear.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

#if RUVIVEDU_X86_64
#include <immintrin.h>
#endif

namespace ruvivedu {

namespace {

// Integer index of an already floored coordinate, clamped to [0, size - 1].
// The comparisons are made in float so that a position far off the image (or
// not a number) never reaches an out-of-range float-to-int conversion.
inline uint32_t clamp_index(float floored, uint32_t size)
{
    if (!(floored > 0.0f))
        return 0;
    if (floored >= static_cast<float>(size - 1))
        return size - 1;
    return static_cast<uint32_t>(floored);
}

}  // namespace

float sample_weighted(const Image<float>& image, float x, float y, float* out_alpha)
{
    const uint32_t width = image.width;
    const uint32_t height = image.height;
    const uint32_t num_channels = image.num_channels;
    if (width == 0 || height == 0) {
        *out_alpha = 0.0f;
        return 0.0f;
    }
    const float x0 = std::floor(x);
    const float y0 = std::floor(y);
    // Fractions from the unclamped corner, so lookups past the edge blend
    // copies of the edge pixel.
    const float fx = x - x0;
    const float fy = y - y0;
    const float gx = 1.0f - fx;
    const float gy = 1.0f - fy;

    const uint32_t left = clamp_index(x0, width);
    const uint32_t right = clamp_index(x0 + 1.0f, width);
    const uint32_t top = clamp_index(y0, height);
    const uint32_t bottom = clamp_index(y0 + 1.0f, height);

    const float* top_row = image.row(top);
    const float* bottom_row = image.row(bottom);
    const float* tl = top_row + static_cast<std::size_t>(left) * num_channels;
    const float* tr = top_row + static_cast<std::size_t>(right) * num_channels;
    const float* bl = bottom_row + static_cast<std::size_t>(left) * num_channels;
    const float* br = bottom_row + static_cast<std::size_t>(right) * num_channels;

    const float alpha = (gx * tl[1] + fx * tr[1]) * gy + (gx * bl[1] + fx * br[1]) * fy;
    *out_alpha = alpha;
    if (!(alpha > 0.0f))
        return 0.0f;
    return ((gx * tl[0] * tl[1] + fx * tr[0] * tr[1]) * gy + (gx * bl[0] * bl[1] + fx * br[0] * br[1]) * fy) / alpha;
}

#if RUVIVEDU_X86_64

// ---- AVX2: eight cells of a grid row at once --------------------------------
//
// sample_weighted and the ink rule lane by lane: the same
// floors, clamps, products, sums and quotient in the same order. Small dots
// make the grid as large as the frame, and then this lookup is most of the
// sampling's work.

// clamp_index above for eight floored positions: 0 for anything not
// above 0 (NaN included), size - 1 from there up.
namespace {

RUVIVEDU_TARGET_AVX2 inline __m256i clamp_floored8(__m256 floored, __m256 last_f, __m256i last)
{
    const __m256 positive = _mm256_cmp_ps(floored, _mm256_setzero_ps(), _CMP_GT_OQ);
    const __m256 at_end = _mm256_cmp_ps(floored, last_f, _CMP_GE_OQ);
    const __m256i index = _mm256_and_si256(_mm256_cvttps_epi32(floored), _mm256_castps_si256(positive));
    return _mm256_blendv_epi8(index, last, _mm256_castps_si256(at_end));
}

}  // namespace

RUVIVEDU_TARGET_AVX2 int resample_row_avx2(const Image<float>& box, const Mat3& grid_to_box, int r, float* out,
                                           int width)
{
    const __m256 m00 = _mm256_set1_ps(grid_to_box.m00), m01 = _mm256_set1_ps(grid_to_box.m01);
    const __m256 m20 = _mm256_set1_ps(grid_to_box.m20), m21 = _mm256_set1_ps(grid_to_box.m21);
    const __m256 fr = _mm256_set1_ps(static_cast<float>(r));
    // The row's share of the mapping, formed as Mat3::map forms it.
    const __m256 row_x = _mm256_mul_ps(fr, _mm256_set1_ps(grid_to_box.m10));
    const __m256 row_y = _mm256_mul_ps(fr, _mm256_set1_ps(grid_to_box.m11));
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 last_x_f = _mm256_set1_ps(static_cast<float>(box.width - 1));
    const __m256 last_y_f = _mm256_set1_ps(static_cast<float>(box.height - 1));
    const __m256i last_x = _mm256_set1_epi32(static_cast<int>(box.width - 1));
    const __m256i last_y = _mm256_set1_epi32(static_cast<int>(box.height - 1));
    const __m256i row_floats = _mm256_set1_epi32(static_cast<int>(box.width * 2));
    const float* lum = box.data;
    const float* alpha = box.data + 1;
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);

    const int end = width - width % 8;
    for (int c = 0; c < end; c += 8) {
        const __m256 fc = _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(c), lanes));
        const __m256 x = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(fc, m00), row_x), m20);
        const __m256 y = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(fc, m01), row_y), m21);
        const __m256 x0 = _mm256_floor_ps(x);
        const __m256 y0 = _mm256_floor_ps(y);
        const __m256 fx = _mm256_sub_ps(x, x0);
        const __m256 fy = _mm256_sub_ps(y, y0);
        const __m256 gx = _mm256_sub_ps(one, fx);
        const __m256 gy = _mm256_sub_ps(one, fy);

        const __m256i left = _mm256_slli_epi32(clamp_floored8(x0, last_x_f, last_x), 1);
        const __m256i right = _mm256_slli_epi32(clamp_floored8(_mm256_add_ps(x0, one), last_x_f, last_x), 1);
        const __m256i top = _mm256_mullo_epi32(clamp_floored8(y0, last_y_f, last_y), row_floats);
        const __m256i bottom = _mm256_mullo_epi32(clamp_floored8(_mm256_add_ps(y0, one), last_y_f, last_y), row_floats);
        const __m256i tl = _mm256_add_epi32(top, left), tr = _mm256_add_epi32(top, right);
        const __m256i bl = _mm256_add_epi32(bottom, left), br = _mm256_add_epi32(bottom, right);

        const __m256 tl1 = _mm256_i32gather_ps(alpha, tl, 4), tr1 = _mm256_i32gather_ps(alpha, tr, 4);
        const __m256 bl1 = _mm256_i32gather_ps(alpha, bl, 4), br1 = _mm256_i32gather_ps(alpha, br, 4);
        const __m256 tl0 = _mm256_i32gather_ps(lum, tl, 4), tr0 = _mm256_i32gather_ps(lum, tr, 4);
        const __m256 bl0 = _mm256_i32gather_ps(lum, bl, 4), br0 = _mm256_i32gather_ps(lum, br, 4);

        const __m256 a =
            _mm256_add_ps(_mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(gx, tl1), _mm256_mul_ps(fx, tr1)), gy),
                          _mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(gx, bl1), _mm256_mul_ps(fx, br1)), fy));
        const __m256 top_sum =
            _mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(gx, tl0), tl1), _mm256_mul_ps(_mm256_mul_ps(fx, tr0), tr1));
        const __m256 bottom_sum =
            _mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(gx, bl0), bl1), _mm256_mul_ps(_mm256_mul_ps(fx, br0), br1));
        const __m256 weighted = _mm256_add_ps(_mm256_mul_ps(top_sum, gy), _mm256_mul_ps(bottom_sum, fy));
        // Luminance 0 where the alpha is not positive (NaN included).
        const __m256 l = _mm256_and_ps(_mm256_div_ps(weighted, a), _mm256_cmp_ps(a, _mm256_setzero_ps(), _CMP_GT_OQ));
        _mm256_storeu_ps(out + c, _mm256_mul_ps(_mm256_ceil_ps(a), _mm256_sub_ps(one, l)));
    }
    return end;
}

#endif  // RUVIVEDU_X86_64

}  // namespace ruvivedu
