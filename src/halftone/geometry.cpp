// Mat3 arithmetic and init_inner_params: the screen geometry of one frame.
#include <cmath>
#include <cstdint>

#include "base/processor_count.h"
#include "halftone/halftone_params.h"

namespace ruvivedu {

void Mat3::set_identity()
{
    *this = {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};
}

void Mat3::multiply(const Mat3& m)
{
    const Mat3 p = *this;
    m00 = p.m00 * m.m00 + p.m01 * m.m10 + p.m02 * m.m20;
    m01 = p.m00 * m.m01 + p.m01 * m.m11 + p.m02 * m.m21;
    m02 = p.m00 * m.m02 + p.m01 * m.m12 + p.m02 * m.m22;
    m10 = p.m10 * m.m00 + p.m11 * m.m10 + p.m12 * m.m20;
    m11 = p.m10 * m.m01 + p.m11 * m.m11 + p.m12 * m.m21;
    m12 = p.m10 * m.m02 + p.m11 * m.m12 + p.m12 * m.m22;
    m20 = p.m20 * m.m00 + p.m21 * m.m10 + p.m22 * m.m20;
    m21 = p.m20 * m.m01 + p.m21 * m.m11 + p.m22 * m.m21;
    m22 = p.m20 * m.m02 + p.m21 * m.m12 + p.m22 * m.m22;
}

void Mat3::rotate(float angle)
{
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    multiply({c, -s, 0.0f, s, c, 0.0f, 0.0f, 0.0f, 1.0f});
}

void Mat3::inverse(const Mat3& src)
{
    const Mat3 a = src;  // src may be *this
    const float det = a.m00 * a.m11 * a.m22 + a.m10 * a.m21 * a.m02 + a.m01 * a.m20 * a.m12 - a.m00 * a.m21 * a.m12 -
                      a.m20 * a.m11 * a.m02 - a.m01 * a.m10 * a.m22;
    const float k = 1.0f / det;
    // Adjugate (transposed cofactors) times 1/det.
    m00 = (a.m11 * a.m22 - a.m12 * a.m21) * k;
    m01 = (a.m02 * a.m21 - a.m01 * a.m22) * k;
    m02 = (a.m01 * a.m12 - a.m02 * a.m11) * k;
    m10 = (a.m12 * a.m20 - a.m10 * a.m22) * k;
    m11 = (a.m00 * a.m22 - a.m02 * a.m20) * k;
    m12 = (a.m02 * a.m10 - a.m00 * a.m12) * k;
    m20 = (a.m10 * a.m21 - a.m11 * a.m20) * k;
    m21 = (a.m01 * a.m20 - a.m00 * a.m21) * k;
    m22 = (a.m00 * a.m11 - a.m01 * a.m10) * k;
}

void Mat3::map(float x, float y, float& out_x, float& out_y) const
{
    out_x = x * m00 + y * m10 + m20;
    out_y = x * m01 + y * m11 + m21;
}

Mat3 Mat3::scaling(float sx, float sy)
{
    return {sx, 0.0f, 0.0f, 0.0f, sy, 0.0f, 0.0f, 0.0f, 1.0f};
}

Mat3 Mat3::translation(float tx, float ty)
{
    return {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, tx, ty, 1.0f};
}

namespace {

template <typename T>
struct component_traits;
template <>
struct component_traits<unsigned char> {
    static constexpr unsigned char kWhite = 255;
    static constexpr int32_t kBytes = 1;
};
template <>
struct component_traits<unsigned short> {
    // This host's 16-bit full scale is 2^15, not 65535.
    static constexpr unsigned short kWhite = 32768;
    static constexpr int32_t kBytes = 2;
};
template <>
struct component_traits<float> {
    static constexpr float kWhite = 1.0f;
    static constexpr int32_t kBytes = 4;
};

// The parameter's valid range; the host never delivers anything outside it.
constexpr float kMinDotSize = 1.0f;
constexpr float kMaxDotSize = 1000.0f;

// Downsample factor num/den. The host hands factors in (0, 1]: it renders at
// full or reduced resolution, never enlarged. Anything else is read as full
// resolution: zero would make the matrices singular, a negative factor would
// mirror the screen, and a factor above 1 makes every cell's footprint in the
// box filter scale times wider and taller, so that a large one (2^20 / 1)
// keeps the render busy for hours and pushes footprint corners past the int range.
float downsample_scale(const HalfTone_Ratio& ratio)
{
    if (ratio.num <= 0 || ratio.den == 0 || static_cast<uint32_t>(ratio.num) > ratio.den)
        return 1.0f;
    return static_cast<float>(ratio.num) / static_cast<float>(ratio.den);
}

float finite_or_zero(float value)
{
    return std::isfinite(value) ? value : 0.0f;
}

struct Bounds {
    float min_x, min_y, max_x, max_y;
};

// Extremes of the four corners of the rectangle [0, w] x [0, h] mapped by m.
Bounds mapped_corners(const Mat3& m, float w, float h)
{
    const float xs[4] = {0.0f, w, 0.0f, w};
    const float ys[4] = {0.0f, 0.0f, h, h};
    Bounds b{};
    for (int i = 0; i < 4; ++i) {
        float x, y;
        m.map(xs[i], ys[i], x, y);
        if (i == 0 || x < b.min_x)
            b.min_x = x;
        if (i == 0 || x > b.max_x)
            b.max_x = x;
        if (i == 0 || y < b.min_y)
            b.min_y = y;
        if (i == 0 || y > b.max_y)
            b.max_y = y;
    }
    return b;
}

}  // namespace

template <typename T>
void init_inner_params(HalfTone_Params& context, HalfTone_Inner_Params<T>& params)
{
    LayerParams& in = context.in_layer;
    LayerParams& out = context.out_layer;

    // Values only a broken caller can send are first brought into range: a
    // DotSize below 1 (or NaN) and a non-positive downsample factor would make
    // the matrices singular, a non-finite angle or offset would make every
    // position NaN. All host-delivered values pass through unchanged.
    float dot_size = context.dot_size;
    if (!(dot_size >= kMinDotSize))
        dot_size = kMinDotSize;
    else if (dot_size > kMaxDotSize)
        dot_size = kMaxDotSize;
    const float rotation = finite_or_zero(context.rotation);
    const float offset_x = finite_or_zero(context.offset_x);
    const float offset_y = finite_or_zero(context.offset_y);
    // Only Square and Line leave the radius alone; every other value is drawn
    // as Circle, the default, by the driver too.
    const bool circle = context.shape != Shape::square && context.shape != Shape::line;

    params.worker_count = processor_count();

    params.white_value = component_traits<T>::kWhite;
    params.inv_white = 1.0f / static_cast<float>(params.white_value);

    const int32_t b = component_traits<T>::kBytes;
    in.bytes_per_channel = b;
    out.bytes_per_channel = b;
    // The output view holds the same ARGB layout; its own channel count is
    // never filled in by the shell.
    in.bytes_per_pixel = b * in.num_channels;
    out.bytes_per_pixel = b * in.num_channels;

    params.scale_x = downsample_scale(context.downsample_x);
    params.scale_y = downsample_scale(context.downsample_y);

    params.cell_size = params.scale_x * dot_size;

    params.dot_radius = dot_size * 0.5f * 1.4142135f * params.scale_x;
    if (circle) {
        // Half a pixel diagonal more, so that the soft edge of a full-ink circle
        // still closes the gaps between neighbouring dots.
        params.dot_radius = static_cast<float>(static_cast<double>(params.dot_radius) + 0.70710677);
    }

    params.angle = rotation * 0.017453292f;

    // Source pixels -> full-resolution layer position, anchored at the Offset
    // point, one unit per cell.
    Mat3& src_to_box = params.src_to_box;
    src_to_box.set_identity();
    src_to_box.multiply(Mat3::scaling(1.0f / params.scale_x, 1.0f / params.scale_y));
    src_to_box.multiply(Mat3::translation(static_cast<float>(in.origin_x) / params.scale_x,
                                          static_cast<float>(in.origin_y) / params.scale_y));
    src_to_box.multiply(Mat3::translation(-offset_x / params.scale_x, -offset_y / params.scale_y));
    src_to_box.multiply(Mat3::scaling(1.0f / dot_size, 1.0f / dot_size));

    const Bounds box = mapped_corners(src_to_box, static_cast<float>(in.width), static_cast<float>(in.height));
    params.box_origin_x = std::floor(box.min_x);
    params.box_origin_y = std::floor(box.min_y);
    params.box_width = std::ceil(box.max_x) + 1.0f - params.box_origin_x;
    params.box_height = std::ceil(box.max_y) + 1.0f - params.box_origin_y;

    src_to_box.multiply(Mat3::translation(-params.box_origin_x, -params.box_origin_y));

    // Box pixels -> back to the Offset-anchored frame, then rotated about it.
    Mat3& box_to_grid = params.box_to_grid;
    box_to_grid.set_identity();
    box_to_grid.multiply(Mat3::translation(params.box_origin_x, params.box_origin_y));
    box_to_grid.rotate(params.angle);

    const Bounds grid = mapped_corners(box_to_grid, params.box_width, params.box_height);
    // Two cells of margin on every side, so dots whose centres lie just off the
    // layer are still drawn along its border.
    params.grid_origin_x = std::floor(grid.min_x) - 2.0f;
    params.grid_origin_y = std::floor(grid.min_y) - 2.0f;
    params.grid_width = std::ceil(grid.max_x) + 2.0f - params.grid_origin_x;
    params.grid_height = std::ceil(grid.max_y) + 2.0f - params.grid_origin_y;

    box_to_grid.multiply(Mat3::translation(-params.grid_origin_x, -params.grid_origin_y));

    params.src_to_grid.set_identity();
    params.src_to_grid.multiply(src_to_box);
    params.src_to_grid.multiply(box_to_grid);

    params.box_to_src.inverse(src_to_box);
    params.grid_to_box.inverse(box_to_grid);
    params.grid_to_src.inverse(params.src_to_grid);
}

template void init_inner_params<unsigned char>(HalfTone_Params&, HalfTone_Inner_Params<unsigned char>&);
template void init_inner_params<unsigned short>(HalfTone_Params&, HalfTone_Inner_Params<unsigned short>&);
template void init_inner_params<float>(HalfTone_Params&, HalfTone_Inner_Params<float>&);

}  // namespace ruvivedu
