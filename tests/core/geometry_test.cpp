// Screen geometry: Mat3 arithmetic, the worked layer examples, value scales,
// out-of-range contexts and the processor count.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#if defined(__linux__)
#include <sched.h>
#endif

#include "base/processor_count.h"
#include "halftone/halftone_params.h"

using namespace ruvivedu;

namespace {

// Matrix entries built from a handful of float products: a few ulps.
constexpr float matrix_tolerance = 1e-5f;
// Translations of a full-HD frame are rounded at its coordinates (~2000,
// ulp 1.2e-4), so a round trip leaves about that much in row 2.
constexpr float frame_matrix_tolerance = 1e-3f;

Mat3 make(float a, float b, float c, float d, float e, float f, float g, float h, float i)
{
    return {a, b, c, d, e, f, g, h, i};
}

void expect_near_matrix(const Mat3& m, const Mat3& expected, float tolerance)
{
    const float* got = &m.m00;
    const float* want = &expected.m00;
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(got[i], want[i], tolerance) << "entry " << i / 3 << i % 3;
}

Mat3 identity()
{
    Mat3 m;
    m.set_identity();
    return m;
}

TEST(Mat3Arithmetic, PointsAreRowVectorsWithTranslationInRowTwo)
{
    const Mat3 m = make(2, 3, 0, 5, 7, 0, 11, 13, 1);
    float x, y;
    m.map(1.0f, 10.0f, x, y);
    EXPECT_EQ(x, 1 * 2 + 10 * 5 + 11);  // 63
    EXPECT_EQ(y, 1 * 3 + 10 * 7 + 13);  // 86
}

TEST(Mat3Arithmetic, ProductAppliesTheLeftMatrixFirst)
{
    // Translate by (1, 0), then scale by 2: the origin lands on (2, 0).
    Mat3 p = Mat3::translation(1.0f, 0.0f);
    p.multiply(Mat3::scaling(2.0f, 2.0f));
    float x, y;
    p.map(0.0f, 0.0f, x, y);
    EXPECT_EQ(x, 2.0f);
    EXPECT_EQ(y, 0.0f);
    // Every entry from the old P: a full 3x3 product against one worked by hand.
    Mat3 a = make(1, 2, 3, 4, 5, 6, 7, 8, 9);
    a.multiply(make(9, 8, 7, 6, 5, 4, 3, 2, 1));
    expect_near_matrix(a, make(30, 24, 18, 84, 69, 54, 138, 114, 90), 0.0f);
}

TEST(Mat3Arithmetic, RotationTurnsWithImageYDownwards)
{
    Mat3 r = identity();
    r.rotate(90.0f * 0.017453292f);
    float x, y;
    // x' = x cos + y sin, y' = -x sin + y cos: (1, 0) -> (0, -1), (0, 1) -> (1, 0).
    r.map(1.0f, 0.0f, x, y);
    EXPECT_NEAR(x, 0.0f, matrix_tolerance);
    EXPECT_NEAR(y, -1.0f, matrix_tolerance);
    r.map(0.0f, 1.0f, x, y);
    EXPECT_NEAR(x, 1.0f, matrix_tolerance);
    EXPECT_NEAR(y, 0.0f, matrix_tolerance);
}

TEST(Mat3Arithmetic, InverseTimesMatrixIsIdentity)
{
    Mat3 m = Mat3::scaling(0.5f, 0.25f);
    m.multiply(Mat3::translation(-30.0f, 17.0f));
    m.rotate(0.7853981f);
    m.multiply(Mat3::translation(36.0f, 36.0f));
    Mat3 inv;
    inv.inverse(m);
    Mat3 product = m;
    product.multiply(inv);
    expect_near_matrix(product, identity(), matrix_tolerance);
    // Exact where the arithmetic is exact; and the source may be the destination.
    Mat3 s = Mat3::scaling(2.0f, 4.0f);
    s.multiply(Mat3::translation(3.0f, -8.0f));
    s.inverse(s);
    expect_near_matrix(s, make(0.5f, 0, 0, 0, 0.25f, 0, -1.5f, 2.0f, 1), 0.0f);
}

HalfTone_Params layer_context(int32_t width, int32_t height, float dot_size, float rotation, float offset_x,
                              float offset_y)
{
    HalfTone_Params c{};
    c.in_layer.width = width;
    c.in_layer.height = height;
    c.in_layer.num_channels = 4;
    c.out_layer.width = width;
    c.out_layer.height = height;
    c.downsample_x = {1, 1};
    c.downsample_y = {1, 1};
    c.dot_size = dot_size;
    c.rotation = rotation;
    c.offset_x = offset_x;
    c.offset_y = offset_y;
    c.shape = Shape::circle;
    c.sampling = Sampling::bilinear;
    return c;
}

template <typename T = float>
HalfTone_Inner_Params<T> derive(HalfTone_Params c)
{
    HalfTone_Inner_Params<T> p{};
    init_inner_params(c, p);
    return p;
}

void expect_rect(float x, float y, float w, float h, float ex, float ey, float ew, float eh)
{
    EXPECT_EQ(x, ex);
    EXPECT_EQ(y, ey);
    EXPECT_EQ(w, ew);
    EXPECT_EQ(h, eh);
}

TEST(LayerGeometry, FullHdAt45Degrees)
{
    const auto p = derive(layer_context(1920, 1080, 32.0f, 45.0f, 960.0f, 540.0f));
    // Corners at (-30, -16.875) .. (30, 16.875) cells: origin floor, extent ceil + 1.
    expect_rect(p.box_origin_x, p.box_origin_y, p.box_width, p.box_height, -30, -17, 61, 35);
    expect_rect(p.grid_origin_x, p.grid_origin_y, p.grid_width, p.grid_height, -36, -36, 73, 72);
    EXPECT_NEAR(p.angle, 0.7853982f, 1e-7f);
    // The Offset point is a dot centre: it lands on an integral grid position.
    float gx, gy;
    p.src_to_grid.map(960.0f, 540.0f, gx, gy);
    EXPECT_NEAR(gx, 36.0f, 1e-4f);
    EXPECT_NEAR(gy, 36.0f, 1e-4f);
    // Forward and inverse matrices agree.
    Mat3 round_trip = p.src_to_grid;
    round_trip.multiply(p.grid_to_src);
    expect_near_matrix(round_trip, identity(), frame_matrix_tolerance);
    Mat3 chained = p.src_to_box;
    chained.multiply(p.box_to_grid);
    expect_near_matrix(chained, p.src_to_grid, frame_matrix_tolerance);
}

TEST(LayerGeometry, FullHdUnrotatedGridIsTheBoxShifted)
{
    const auto p = derive(layer_context(1920, 1080, 32.0f, 0.0f, 960.0f, 540.0f));
    expect_rect(p.box_origin_x, p.box_origin_y, p.box_width, p.box_height, -30, -17, 61, 35);
    expect_rect(p.grid_origin_x, p.grid_origin_y, p.grid_width, p.grid_height, -32, -19, 65, 39);
    // A pure translation by box origin - grid origin = (2, 2).
    expect_near_matrix(p.box_to_grid, Mat3::translation(2.0f, 2.0f), 0.0f);
    // One cell per 32 pixels; pixel (0, 0) lies 30 cells left of the Offset.
    float bx, by;
    p.src_to_box.map(0.0f, 0.0f, bx, by);
    EXPECT_EQ(bx, 0.0f);
    EXPECT_EQ(by, 17.0f - 16.875f);
}

TEST(LayerGeometry, HalfResolutionGivesTheSameGridAndHalfTheCell)
{
    HalfTone_Params full = layer_context(1920, 1080, 32.0f, 45.0f, 960.0f, 540.0f);
    HalfTone_Params half = layer_context(960, 540, 32.0f, 45.0f, 480.0f, 270.0f);
    half.downsample_x = {1, 2};
    half.downsample_y = {1, 2};
    full.shape = half.shape = Shape::square;  // Square: no half-pixel term, so the radius halves exactly
    const auto f = derive(full);
    const auto h = derive(half);
    EXPECT_EQ(h.scale_x, 0.5f);
    EXPECT_EQ(h.scale_y, 0.5f);
    expect_rect(h.box_origin_x, h.box_origin_y, h.box_width, h.box_height, -30, -17, 61, 35);
    expect_rect(h.grid_origin_x, h.grid_origin_y, h.grid_width, h.grid_height, -36, -36, 73, 72);
    EXPECT_EQ(f.cell_size, 32.0f);
    EXPECT_EQ(h.cell_size, 16.0f);
    EXPECT_FLOAT_EQ(f.dot_radius, 22.627417f);  // 32 * 0.5 * 1.4142135
    EXPECT_FLOAT_EQ(h.dot_radius, 11.3137085f);
}

TEST(LayerGeometry, SmallSquareLayer)
{
    const auto p = derive(layer_context(100, 100, 10.0f, 0.0f, 50.0f, 50.0f));
    expect_rect(p.box_origin_x, p.box_origin_y, p.box_width, p.box_height, -5, -5, 11, 11);
    expect_rect(p.grid_origin_x, p.grid_origin_y, p.grid_width, p.grid_height, -7, -7, 15, 15);
}

TEST(LayerGeometry, OffsetOutsideTheLayerMovesOnlyTheLattice)
{
    // Bounds follow the layer corners: (-20 - 0) / 10 .. (100 + 20) / 10.
    const auto p = derive(layer_context(100, 100, 10.0f, 0.0f, -20.0f, 250.0f));
    expect_rect(p.box_origin_x, p.box_origin_y, p.box_width, p.box_height, 2, -25, 11, 11);
    float gx, gy;
    p.src_to_grid.map(-20.0f, 250.0f, gx, gy);
    EXPECT_EQ(gx, -p.grid_origin_x);
    EXPECT_EQ(gy, -p.grid_origin_y);
}

TEST(LayerGeometry, LayerOriginShiftsTheBufferIntoTheLayer)
{
    // A buffer starting at layer pixel (16, 8): its pixel (0, 0) is layer (16, 8).
    HalfTone_Params c = layer_context(64, 64, 16.0f, 0.0f, 16.0f, 8.0f);
    c.in_layer.origin_x = 16;
    c.in_layer.origin_y = 8;
    const auto p = derive(c);
    float gx, gy;
    p.src_to_grid.map(0.0f, 0.0f, gx, gy);
    EXPECT_EQ(gx, -p.grid_origin_x);
    EXPECT_EQ(gy, -p.grid_origin_y);
}

TEST(ValueScale, WhiteAndByteSizesPerComponentType)
{
    HalfTone_Params c = layer_context(8, 8, 4.0f, 0.0f, 4.0f, 4.0f);
    c.out_layer.num_channels = 0;  // never filled in by the shell
    HalfTone_Inner_Params<unsigned char> p8{};
    init_inner_params(c, p8);
    EXPECT_EQ(p8.white_value, 255);
    EXPECT_EQ(p8.inv_white, 1.0f / 255.0f);
    EXPECT_EQ(c.in_layer.bytes_per_pixel, 4);
    EXPECT_EQ(c.out_layer.bytes_per_pixel, 4);  // from the input's channel count

    HalfTone_Inner_Params<unsigned short> p16{};
    init_inner_params(c, p16);
    EXPECT_EQ(p16.white_value, 32768);  // not 65535
    EXPECT_EQ(p16.inv_white, 1.0f / 32768.0f);
    EXPECT_EQ(c.in_layer.bytes_per_channel, 2);
    EXPECT_EQ(c.out_layer.bytes_per_pixel, 8);

    HalfTone_Inner_Params<float> pf{};
    init_inner_params(c, pf);
    EXPECT_EQ(pf.white_value, 1.0f);
    EXPECT_EQ(pf.inv_white, 1.0f);
    EXPECT_EQ(c.out_layer.bytes_per_channel, 4);
    EXPECT_EQ(c.out_layer.bytes_per_pixel, 16);
}

TEST(ValueScale, OnlyCircleAddsHalfAPixelDiagonalToTheRadius)
{
    HalfTone_Params c = layer_context(64, 64, 32.0f, 0.0f, 32.0f, 32.0f);
    EXPECT_FLOAT_EQ(derive(c).dot_radius, 23.334524f);  // 22.627417 + 0.70710677
    c.shape = Shape::square;
    EXPECT_FLOAT_EQ(derive(c).dot_radius, 22.627417f);
    c.shape = Shape::line;
    EXPECT_FLOAT_EQ(derive(c).dot_radius, 22.627417f);
}

// Contexts the host never sends are read as the nearest meaningful value, so the
// matrices stay invertible and every extent finite.
TEST(OutOfRangeContext, DotSizeBelowOneOrNotANumberIsOne)
{
    const auto one = derive(layer_context(40, 30, 1.0f, 30.0f, 20.0f, 15.0f));
    for (float bad :
         {0.0f, 0.5f, -3.0f, std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::infinity()}) {
        const auto p = derive(layer_context(40, 30, bad, 30.0f, 20.0f, 15.0f));
        EXPECT_EQ(p.grid_width, one.grid_width) << bad;
        EXPECT_EQ(p.grid_height, one.grid_height) << bad;
        EXPECT_EQ(p.dot_radius, one.dot_radius) << bad;
        EXPECT_EQ(p.grid_to_src.m00, one.grid_to_src.m00) << bad;
    }
    // Above the valid range it is 1000, so the box never shrinks to a singular scale.
    const auto huge = derive(layer_context(40, 30, 1e30f, 0.0f, 20.0f, 15.0f));
    EXPECT_EQ(huge.cell_size, 1000.0f);
    EXPECT_TRUE(std::isfinite(huge.grid_to_src.m00));
}

TEST(OutOfRangeContext, NonPositiveDownsampleFactorIsFullResolution)
{
    const auto reference = derive(layer_context(40, 30, 8.0f, 10.0f, 20.0f, 15.0f));
    for (HalfTone_Ratio bad : {HalfTone_Ratio{1, 0}, HalfTone_Ratio{0, 1}, HalfTone_Ratio{-1, 2}}) {
        HalfTone_Params c = layer_context(40, 30, 8.0f, 10.0f, 20.0f, 15.0f);
        c.downsample_x = bad;
        c.downsample_y = bad;
        const auto p = derive(c);
        EXPECT_EQ(p.scale_x, 1.0f);
        EXPECT_EQ(p.scale_y, 1.0f);
        EXPECT_EQ(p.grid_width, reference.grid_width);
        EXPECT_EQ(p.box_to_src.m00, reference.box_to_src.m00);
    }
}

TEST(OutOfRangeContext, NonFiniteAngleAndOffsetAreZeroAndEmptyWorldsStayFinite)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const auto p = derive(layer_context(40, 30, 8.0f, nan, std::numeric_limits<float>::infinity(), nan));
    const auto zero = derive(layer_context(40, 30, 8.0f, 0.0f, 0.0f, 0.0f));
    EXPECT_EQ(p.angle, 0.0f);
    EXPECT_EQ(p.grid_width, zero.grid_width);
    EXPECT_EQ(p.grid_origin_x, zero.grid_origin_x);

    HalfTone_Params empty = layer_context(0, 0, 8.0f, 45.0f, 0.0f, 0.0f);
    empty.out_layer.width = 50;
    const auto e = derive(empty);
    EXPECT_TRUE(std::isfinite(e.grid_width));
}

TEST(OutOfRangeContext, UnknownShapeIsSizedAsCircle)
{
    const float circle = derive(layer_context(64, 64, 32.0f, 0.0f, 32.0f, 32.0f)).dot_radius;
    for (int32_t shape : {0, 4, -1, 1000}) {
        HalfTone_Params c = layer_context(64, 64, 32.0f, 0.0f, 32.0f, 32.0f);
        c.shape = shape_from_popup(shape);
        EXPECT_EQ(derive(c).dot_radius, circle) << shape;
    }
}

TEST(ProcessorCount, AtLeastOneAndFollowsTheAffinityMask)
{
    const auto p = derive(layer_context(8, 8, 4.0f, 0.0f, 4.0f, 4.0f));
    EXPECT_GE(p.worker_count, 1);
    EXPECT_EQ(p.worker_count, processor_count());
#if defined(__linux__)
    // A process pinned to one processor (as a container or taskset leaves it)
    // starts one worker per stage, not one per processor of the machine.
    cpu_set_t saved;
    ASSERT_EQ(sched_getaffinity(0, sizeof(saved), &saved), 0);
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &saved)) {
            CPU_SET(cpu, &one);
            break;
        }
    }
    ASSERT_EQ(sched_setaffinity(0, sizeof(one), &one), 0);
    const int32_t pinned = processor_count();
    ASSERT_EQ(sched_setaffinity(0, sizeof(saved), &saved), 0);
    EXPECT_EQ(pinned, 1);
    EXPECT_EQ(processor_count(), CPU_COUNT(&saved));
#endif
}

}  // namespace
