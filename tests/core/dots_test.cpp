// Dot rendering: circle, square and line coverage, the ink threshold, and which dots a pixel sees.
#include <cmath>
#include <limits>

#include "halftone/dots.h"
#include "halftone/sampling.h"
#include "pipeline/convert.h"
#include "pixel_test_util.h"

using namespace ruvivedu;

namespace {

using namespace pixel_test;

// Coverage values are a handful of float operations away from the text's numbers.
constexpr float coverage_tolerance = 1e-5f;

// dot_radius for DotSize 32 at downsample 1: 32 * 0.5 * 1.4142135 = 22.627417 for
// squares and lines; a circle adds 0.70710677: 23.334524.
constexpr float square_radius = 22.627417f;
constexpr float circle_radius = 23.334524f;

template <typename T>
using DotJob = void (*)(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);

template <typename T>
class DotsTest : public ::testing::Test {
protected:
    // A 5 x 5 grid of pitch 32, unrotated: dot (k, l) is centred on pixel
    // (32k - 40, 32l - 40), so dot (2, 2) sits at (24, 24).
    Image<float> grid{nullptr, 5, 5, 1};
    Image<float> out{nullptr, 80, 64, 1};
    HalfTone_Inner_Params<T> params{};

    DotsTest()
    {
        fill(grid, 0.0f);
        params.grid_to_src = affine(32, 0, 0, 32, -40, -40);
        params.src_to_grid = affine(1.0f / 32, 0, 0, 1.0f / 32, 1.25f, 1.25f);
        params.cell_size = 32.0f;
        params.dot_radius = square_radius;
    }

    float render(DotJob<T> job, int x, int y)
    {
        job(&grid, &out, &params, 0, static_cast<int>(out.height));
        return at(out, x, y);
    }

    /// Renders with `job` and tells whether every output pixel is bare paper.
    bool all_paper(DotJob<T> job)
    {
        fill(out, -1.0f);
        job(&grid, &out, &params, 0, static_cast<int>(out.height));
        return snapshot(out) == std::vector<float>(out.width * out.height, 1.0f);
    }
};
TYPED_TEST_SUITE(DotsTest, ComponentTypes);

TYPED_TEST(DotsTest, CircleProfileOfAFullInkDot)
{
    this->params.dot_radius = circle_radius;
    at(this->grid, 2, 2) = 1.0f;
    render_circle<TypeParam>(&this->grid, &this->out, &this->params, 0, 64);
    // r = 23.334524 * 1 + 0.5 - 1.4142135 = 22.420311.
    EXPECT_EQ(at(this->out, 24, 24), 0.0f);
    EXPECT_EQ(at(this->out, 24 + 22, 24), 0.0f);  // d = 22: full
    // d = 23: coverage 1 - (23 - 22.420311) / 1.4142135 = 0.590094.
    EXPECT_NEAR(at(this->out, 24 + 23, 24), 1.0f - 0.590094f, coverage_tolerance);
    // d = sqrt(22^2 + 9^2) = 23.769729: 1 - (23.769729 - 22.420311) / 1.4142135 = 0.045819.
    EXPECT_NEAR(at(this->out, 24 + 22, 24 + 9), 1.0f - 0.045819f, coverage_tolerance);
    // d = sqrt(20^2 + 13^2) = 23.853721, past r + 1.4142135 = 23.834524: nothing.
    EXPECT_EQ(at(this->out, 24 + 20, 24 + 13), 1.0f);
    EXPECT_EQ(at(this->out, 24 - 24, 24), 1.0f);
}

TYPED_TEST(DotsTest, SquareRampAndFullCover)
{
    // v = 0.5: h = 22.627417 * 0.5 = 11.313709; a one-pixel ramp beyond it.
    at(this->grid, 2, 2) = 0.5f;
    render_square<TypeParam>(&this->grid, &this->out, &this->params, 0, 64);
    EXPECT_EQ(at(this->out, 24 + 11, 24 - 11), 0.0f);
    // dx = 12: 11.313709 - 12 + 1 = 0.313709.
    EXPECT_NEAR(at(this->out, 24 + 12, 24), 1.0f - 0.313709f, coverage_tolerance);
    // dx = dy = 12: the two ramps multiply, 0.313709^2 = 0.098413.
    EXPECT_NEAR(at(this->out, 24 - 12, 24 + 12), 1.0f - 0.098413f, coverage_tolerance);
    EXPECT_EQ(at(this->out, 24 + 13, 24), 1.0f);

    // v = 1 everywhere: squares of side 45.25 at pitch 32 leave no paper.
    fill(this->grid, 1.0f);
    render_square<TypeParam>(&this->grid, &this->out, &this->params, 0, 64);
    EXPECT_EQ(snapshot(this->out), std::vector<float>(80 * 64, 0.0f));
}

TYPED_TEST(DotsTest, LineIsAHorizontalBarOfFullCellLength)
{
    // v = 0.25: half thickness 22.627417 * 0.25 = 5.656854; half length 16.
    at(this->grid, 2, 2) = 0.25f;
    render_line<TypeParam>(&this->grid, &this->out, &this->params, 0, 64);
    EXPECT_EQ(at(this->out, 24, 24 + 5), 0.0f);
    // dy = 6: 5.656854 - 6 + 1 = 0.656854.
    EXPECT_NEAR(at(this->out, 24, 24 - 6), 1.0f - 0.656854f, coverage_tolerance);
    EXPECT_EQ(at(this->out, 24, 24 + 7), 1.0f);
    // Columns floor(24 - 16) = 8 up to, not including, ceil(24 + 16) = 40.
    EXPECT_EQ(at(this->out, 8, 24), 0.0f);
    EXPECT_EQ(at(this->out, 39, 24), 0.0f);
    EXPECT_EQ(at(this->out, 7, 24), 1.0f);
    EXPECT_EQ(at(this->out, 40, 24), 1.0f);
}

TYPED_TEST(DotsTest, InkAtTheThresholdDrawsOnlyABar)
{
    using T = TypeParam;
    at(this->grid, 2, 2) = 1e-7f;
    EXPECT_TRUE(this->all_paper(&render_circle<T>));
    EXPECT_TRUE(this->all_paper(&render_square<T>));
    // A bar at exactly 1e-7: on its centre line 1e-7 * t - 0 + 1 covers fully; two
    // rows off, 1e-7 * t - 2 + 1 covers nothing.
    EXPECT_EQ(this->render(&render_line<T>, 24, 24), 0.0f);
    EXPECT_EQ(at(this->out, 24, 26), 1.0f);
    at(this->grid, 2, 2) = 9e-8f;
    EXPECT_TRUE(this->all_paper(&render_line<T>));
    // Just above the threshold a circle draws its soft centre: r = -0.914213,
    // 1 - 0.914213 / 1.4142135 = 0.353553.
    this->params.dot_radius = circle_radius;
    at(this->grid, 2, 2) = 2e-7f;
    EXPECT_NEAR(this->render(&render_circle<T>, 24, 24), 1.0f - 0.353553f, coverage_tolerance);
}

TYPED_TEST(DotsTest, ZeroAndNegativeInkDrawNothing)
{
    using T = TypeParam;
    for (const float v : {0.0f, -0.5f, -std::numeric_limits<float>::infinity()}) {
        fill(this->grid, v);
        EXPECT_TRUE(this->all_paper(&render_circle<T>)) << v;
        EXPECT_TRUE(this->all_paper(&render_square<T>)) << v;
        EXPECT_TRUE(this->all_paper(&render_line<T>)) << v;
    }
}

TYPED_TEST(DotsTest, NonFiniteInk)
{
    using T = TypeParam;
    // NaN ink draws nothing.
    at(this->grid, 2, 2) = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(this->all_paper(&render_circle<T>));
    EXPECT_TRUE(this->all_paper(&render_square<T>));
    EXPECT_TRUE(this->all_paper(&render_line<T>));
    // Infinite ink covers fully, but only within the shape's reach.
    at(this->grid, 2, 2) = std::numeric_limits<float>::infinity();
    this->params.dot_radius = circle_radius;
    for (DotJob<T> job : {&render_circle<T>, &render_square<T>, &render_line<T>}) {
        EXPECT_EQ(this->render(job, 24 + 10, 24 + 3), 0.0f);
        EXPECT_EQ(at(this->out, 24, 24 + 25), 1.0f);
    }
}

TYPED_TEST(DotsTest, OnlyTheFourSurroundingDotsAreSeen)
{
    // A square far larger than the pitch still stops one grid unit from its centre.
    this->params.dot_radius = 100.0f;
    at(this->grid, 2, 2) = 1.0f;
    // x = 55 lies at grid x 2.97 (dots 2 and 3); x = 57 at 3.03 (dots 3 and 4).
    EXPECT_EQ(this->render(&render_square<TypeParam>, 55, 24), 0.0f);
    EXPECT_EQ(at(this->out, 57, 24), 1.0f);
}

TYPED_TEST(DotsTest, EdgePixelsDrawDotsCentredOutsideFromClampedCells)
{
    // Shift the lattice so that dot (-1, 0) sits at (-8, 24) and dot (0, 0) at (24, 24).
    this->params.grid_to_src = affine(32, 0, 0, 32, 24, 24);
    this->params.src_to_grid = affine(1.0f / 32, 0, 0, 1.0f / 32, -0.75f, -0.75f);
    this->params.dot_radius = circle_radius;
    for (int l = 0; l < 5; ++l) {
        at(this->grid, 0, l) = 1.0f;
    }
    // Pixel (0, 24) lies 8 pixels from dot (-1, 0), whose ink is the clamped cell (0, 0),
    // and 24 pixels from dot (0, 0), beyond its reach.
    EXPECT_EQ(this->render(&render_circle<TypeParam>, 0, 24), 0.0f);
}

TYPED_TEST(DotsTest, JobsWriteOnlyTheirRows)
{
    using T = TypeParam;
    for (int k = 0; k < 5; ++k) {
        for (int l = 0; l < 5; ++l) {
            at(this->grid, k, l) = static_cast<float>(k + 2 * l) / 12.0f;
        }
    }
    for (DotJob<T> job : {&render_circle<T>, &render_square<T>, &render_line<T>}) {
        Image<float> reference(nullptr, 80, 64, 1);
        job(&this->grid, &reference, &this->params, 0, 64);
        fill(this->out, -2.0f);
        const std::vector<float> before = snapshot(this->out);
        job(&this->grid, &this->out, &this->params, 30, 30);
        job(&this->grid, &this->out, &this->params, 40, 10);
        EXPECT_TRUE(only_rows_written(this->out, before, snapshot(reference), 0, 0));
        job(&this->grid, &this->out, &this->params, 10, 40);
        EXPECT_TRUE(only_rows_written(this->out, before, snapshot(reference), 10, 40));
    }
}

TEST(DotsNonFiniteLayer, FloatPixelsThatAreNotFiniteGiveDefinedOutput)
{
    // Through conversion, nearest sampling, circles and grey output: a NaN or too
    // bright (+inf) layer gives bare paper, a -inf layer full ink; the alpha passes
    // through unchanged.
    constexpr float inf = std::numeric_limits<float>::infinity();
    const float colours[] = {std::numeric_limits<float>::quiet_NaN(), inf, -inf};
    const float paper[] = {1.0f, 1.0f, 0.0f};
    auto params = conversion_params<float>();
    params.grid_to_src = affine(8, 0, 0, 8, -4, -4);
    params.src_to_grid = affine(0.125f, 0, 0, 0.125f, 0.5f, 0.5f);
    params.dot_radius = 8.0f;
    for (int n = 0; n < 3; ++n) {
        TestWorld<float> in(16, 16), out(16, 16);
        in.fill(1.0f, colours[n], colours[n], colours[n]);
        Image<float> src(nullptr, 16, 16, 2), grid(nullptr, 4, 4, 1), brightness(nullptr, 16, 16, 1);
        convert_input<float>(&in.view, &src, &params, 0, 16);
        sample_nearest<float>(&src, &grid, &params, 0, 4);
        render_circle<float>(&grid, &brightness, &params, 0, 16);
        convert_output_grey<float>(&brightness, &in.view, &out.view, &params, 0, 16);
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                ASSERT_EQ(out.get(x, y, 1), paper[n]) << "colour " << colours[n] << " at " << x << "," << y;
                ASSERT_EQ(out.get(x, y, 0), 1.0f);
            }
        }
    }
}

}  // namespace
