// Screen geometry: the 3x3 matrices and the per-frame record derived from the render context.
#pragma once

#include <cstdint>

#include "base/image.h"
#include "base/render_context.h"

namespace ruvivedu {

/// A 3x3 single-precision matrix, row-major.
///
/// Points are row vectors with the translation in row 2:
///     x' = (x*m00 + y*m10) + m20,   y' = (x*m01 + y*m11) + m21.
/// Products compose left to right: after P.multiply(M) the matrix maps a point
/// through P first and then through M (P <- P x M). The third column takes part
/// in products and inverses but never in mapping a point.
struct Mat3 {
    float m00, m01, m02;
    float m10, m11, m12;
    float m20, m21, m22;

    /// 1 on the diagonal, 0 elsewhere.
    void set_identity();
    /// P <- P x M; every entry is formed from the old P before any is stored.
    void multiply(const Mat3& m);
    /// P <- P x R(angle) with R = [cos -sin 0; sin cos 0; 0 0 1] (angle in
    /// radians, cos and sin in float); image y grows downwards.
    void rotate(float angle);
    /// Writes the inverse of src into this matrix (adjugate over determinant;
    /// src must not be singular, and may be this matrix itself).
    void inverse(const Mat3& src);
    /// Maps the point (x, y) by the row-vector rule above.
    void map(float x, float y, float& out_x, float& out_y) const;

    /// S(sx, sy): scaling matrix.
    static Mat3 scaling(float sx, float sy);
    /// T(tx, ty): translation matrix.
    static Mat3 translation(float tx, float ty);
};

/// Screen geometry and value scale of one frame, for host component type T
/// (unsigned char, unsigned short or float). Filled by init_inner_params and
/// read-only for every stage after it.
template <typename T>
struct HalfTone_Inner_Params {
    T white_value;         ///< full-scale component: 255, 32768 or 1.0
    float inv_white;       ///< 1 / white_value
    int32_t worker_count;  ///< threads per stage of the thread-block strategy, >= 1
    float scale_x;         ///< downsample factor, horizontal
    float scale_y;         ///< downsample factor, vertical
    float cell_size;       ///< cell pitch in buffer pixels: scale_x * DotSize
    float dot_radius;      ///< extent of a full-ink dot in buffer pixels
    float angle;           ///< screen rotation, radians
    Mat3 src_to_box;
    Mat3 box_to_grid;
    Mat3 src_to_grid;
    Mat3 box_to_src;
    Mat3 grid_to_box;
    Mat3 grid_to_src;
    float box_origin_x;  ///< integral top-left of the box image, unshifted box frame
    float box_origin_y;
    float box_width;  ///< box image extent; allocated with ceil of each
    float box_height;
    float grid_origin_x;  ///< integral top-left of the cell grid, unshifted grid frame
    float grid_origin_y;
    float grid_width;  ///< cell grid extent; allocated with ceil of each
    float grid_height;
};

/// Derives the frame's geometry from the render context and also sets
/// bytes_per_channel and bytes_per_pixel of both layer views in the context.
/// Values the host never delivers are first brought into range (DotSize below 1
/// or not finite -> 1, above 1000 -> 1000; a downsample factor whose numerator
/// or denominator is not positive -> 1; a non-finite rotation or offset -> 0;
/// Shape outside 1-3 -> Circle), so the matrices stay invertible and finite.
template <typename T>
void init_inner_params(HalfTone_Params& context, HalfTone_Inner_Params<T>& params);

}  // namespace ruvivedu
