// The alpha-weighted bilinear lookup of the box image (the BiLinear sampling of
// the cells), and its AVX2 twin for eight cells of a grid row.
#pragma once

#include "base/image.h"
#include "base/pixel_path.h"
#include "halftone/halftone_params.h"

namespace ruvivedu {

/// Alpha-weighted bilinear lookup on a two-channel (luminance, alpha) image at
/// the continuous position (x, y); indices are clamped to the image. Stores
/// the interpolated alpha in *out_alpha and returns the alpha-weighted mean
/// luminance, or 0 where the interpolated alpha is not positive.
float sample_weighted(const Image<float>& image, float x, float y, float* out_alpha);

#if RUVIVEDU_X86_64
/// Columns [0, width - width % 8) of grid row r of the cell grid, each the ink
/// of the lookup at the cell's position in the box image (grid_to_box), as
/// sample_weighted and the ink rule form it per cell; returns where the per-cell
/// code takes over. The box image holds fewer than 2^31 floats. Only after
/// pixel_path() said avx2.
RUVIVEDU_TARGET_AVX2 int resample_row_avx2(const Image<float>& box, const Mat3& grid_to_box, int r, float* out,
                                           int width);
#endif

}  // namespace ruvivedu
