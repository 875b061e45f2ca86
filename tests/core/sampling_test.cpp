// Cell sampling: the ink rule, nearest-pixel lookup, box filter and bilinear lookup.
#include <cmath>

#include "halftone/sampling.h"
#include "pixel_test_util.h"

using namespace ruvivedu;

namespace {

using namespace pixel_test;

// Sums of a few dozen weighted floats; only their rounding may differ from the exact value.
constexpr float sum_tolerance = 1e-6f;

template <typename T>
class SamplingTest : public ::testing::Test {
protected:
    HalfTone_Inner_Params<T> params{};
};
TYPED_TEST_SUITE(SamplingTest, ComponentTypes);

/// Sets pixel (x, y) of a two-channel image to (luminance, alpha).
void set_la(Image<float>& image, int x, int y, float luminance, float alpha)
{
    at(image, x, y, 0) = luminance;
    at(image, x, y, 1) = alpha;
}

/// An 8 x 8 opaque source whose luminance (x + 8y) / 64 identifies each pixel.
void fill_ramp(Image<float>& src)
{
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            set_la(src, x, y, static_cast<float>(x + 8 * y) / 64.0f, 1.0f);
        }
    }
}

TYPED_TEST(SamplingTest, NearestInkRule)
{
    Image<float> src(nullptr, 6, 1, 2), grid(nullptr, 6, 1, 1);
    set_la(src, 0, 0, 0.3f, 0.0f);   // transparent: no ink whatever the colour
    set_la(src, 1, 0, 0.0f, 1.0f);   // opaque black: full ink
    set_la(src, 2, 0, 1.0f, 1.0f);   // opaque white: none
    set_la(src, 3, 0, 0.3f, 0.2f);   // alpha 0.2 counts fully: ink 1 - 0.3
    set_la(src, 4, 0, 1.5f, 1.0f);   // float brighter than white: negative ink
    set_la(src, 5, 0, -0.5f, 1.0f);  // below black: ink above 1
    this->params.grid_to_src = affine(1, 0, 0, 1, 0, 0);
    sample_nearest<TypeParam>(&src, &grid, &this->params, 0, 1);
    const float expected[] = {0.0f, 1.0f, 0.0f, 0.7f, -0.5f, 1.5f};
    for (int c = 0; c < 6; ++c) {
        EXPECT_FLOAT_EQ(at(grid, c, 0), expected[c]) << "cell " << c;
    }
}

TYPED_TEST(SamplingTest, NearestRoundsHalvesAwayFromZeroAndClampsToTheEdges)
{
    // Source columns are told apart by their ink 1 - L: 1, 0.75, 0.5, 0.25.
    Image<float> src(nullptr, 4, 1, 2), grid(nullptr, 7, 2, 1);
    for (int x = 0; x < 4; ++x) {
        set_la(src, x, 0, static_cast<float>(x) / 4.0f, 1.0f);
    }
    // Cell c sits at x = c - 1.5: -1.5, -0.5, 0.5, 1.5, 2.5, 3.5, 4.5, which round to
    // -2, -1, 1, 2, 3, 4, 5 and clamp to columns 0, 0, 1, 2, 3, 3, 3. Rows sit at
    // y = 5 and 6, below the one source row.
    this->params.grid_to_src = affine(1, 0, 0, 1, -1.5f, 5.0f);
    sample_nearest<TypeParam>(&src, &grid, &this->params, 0, 2);
    const int column[] = {0, 0, 1, 2, 3, 3, 3};
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 7; ++c) {
            EXPECT_EQ(at(grid, c, r), 1.0f - static_cast<float>(column[c]) / 4.0f) << "cell " << c << "," << r;
        }
    }
}

TYPED_TEST(SamplingTest, BoxOnPixelBoundariesAveragesWholePixels)
{
    Image<float> src(nullptr, 8, 8, 2), box(nullptr, 3, 2, 2);
    fill_ramp(src);
    // Columns 6 and 7 of the lower-right block are transparent. The host's pixels
    // are premultiplied and conversion keeps them so, hence luminance 0 there: the
    // plain luminance sum over the alpha sum is then the mean of what is visible.
    for (int y = 4; y < 8; ++y) {
        set_la(src, 6, y, 0.0f, 0.0f);
        set_la(src, 7, y, 0.0f, 0.0f);
    }
    // Box pixel (c, r) covers [4c, 4c + 4] x [4r, 4r + 4]: integral corners, so the
    // left column and top row weigh 1 and the right and bottom 0.
    this->params.box_to_src = affine(4, 0, 0, 4, 2, 2);
    box_filter<TypeParam>(&src, &box, &this->params, 0, 2);
    // Means of (x + 8y) / 64 over the 4 x 4 blocks: (1.5 + 8 * 1.5) / 64, (5.5 + 12) / 64,
    // (1.5 + 44) / 64; the lower right averages only x = 4, 5: (4.5 + 44) / 64.
    EXPECT_NEAR(at(box, 0, 0, 0), 13.5f / 64.0f, sum_tolerance);
    EXPECT_NEAR(at(box, 1, 0, 0), 17.5f / 64.0f, sum_tolerance);
    EXPECT_NEAR(at(box, 0, 1, 0), 45.5f / 64.0f, sum_tolerance);
    EXPECT_NEAR(at(box, 1, 1, 0), 48.5f / 64.0f, sum_tolerance);
    EXPECT_EQ(at(box, 0, 0, 1), 1.0f);
    EXPECT_EQ(at(box, 1, 1, 1), 0.5f);
    // Box column 2 covers source columns 8..11, past the edge: all read column 7,
    // (7 + 8 * 1.5) / 64 in the top row.
    EXPECT_NEAR(at(box, 2, 0, 0), 19.0f / 64.0f, sum_tolerance);
    EXPECT_EQ(at(box, 2, 0, 1), 1.0f);
}

TYPED_TEST(SamplingTest, BoxEdgeWeightsComeFromTheNamedCorners)
{
    // Footprint [0.25, 2.75] on both axes: left 0, right 2. The right weight is
    // taken from x0 (0.25) and the top weight from y1 (ceil(2.75) - 2.75 = 0.25),
    // so wl = 0.75, wr = 0.25, wt = 0.25, wb = 0.75 -- not the covered fractions.
    Image<float> src(nullptr, 3, 3, 2), box(nullptr, 1, 1, 2);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 3; ++x) {
            set_la(src, x, y, x == 2 ? 1.0f : 0.0f, 1.0f);
        }
    }
    this->params.box_to_src = affine(2.5f, 0, 0, 2.5f, 1.5f, 1.5f);
    box_filter<TypeParam>(&src, &box, &this->params, 0, 1);
    // Weight of column 2: wr*wt + wb*wr + wr = 0.0625 + 0.1875 + 0.25 = 0.5. All weights:
    // corners 1.0, side rows wl + wr = 1, side columns wt + wb = 1, interior 1: 4.
    EXPECT_NEAR(at(box, 0, 0, 0), 0.5f / 4.0f, sum_tolerance);
    // 4 / (2.5 * 2.5)
    EXPECT_NEAR(at(box, 0, 0, 1), 0.64f, sum_tolerance);
}

TYPED_TEST(SamplingTest, BoxLimitsLuminanceAndAlphaFromAboveOnly)
{
    // Box pixel 2k covers [k + 0.25, k + 0.75] x [0.25, 0.75]: inside source pixel k,
    // which is read with all four corner weights (0.1875 + 0.5625 + 0.0625 + 0.1875
    // = 1). The alpha, 1 / (0.5 * 0.5) = 4 times the pixel's, is limited to 1.
    Image<float> src(nullptr, 4, 1, 2), box(nullptr, 7, 1, 2);
    set_la(src, 0, 0, 0.4f, 1.0f);
    set_la(src, 1, 0, 1.5f, 1.0f);   // limited to 1
    set_la(src, 2, 0, -0.5f, 1.0f);  // kept below 0
    set_la(src, 3, 0, 0.7f, 0.0f);   // transparent: luminance 0, alpha 0
    this->params.box_to_src = affine(0.5f, 0, 0, 0.5f, 0.5f, 0.5f);
    box_filter<TypeParam>(&src, &box, &this->params, 0, 1);
    EXPECT_NEAR(at(box, 0, 0, 0), 0.4f, sum_tolerance);
    EXPECT_EQ(at(box, 2, 0, 0), 1.0f);
    EXPECT_NEAR(at(box, 4, 0, 0), -0.5f, sum_tolerance);
    EXPECT_EQ(at(box, 6, 0, 0), 0.0f);
    EXPECT_EQ(at(box, 6, 0, 1), 0.0f);
    for (int c = 0; c < 6; c += 2) {
        EXPECT_EQ(at(box, c, 0, 1), 1.0f);
    }
}

TYPED_TEST(SamplingTest, BilinearWeighsLuminanceByAlpha)
{
    // An opaque dark box pixel beside a half-transparent light one.
    Image<float> box(nullptr, 2, 2, 2), grid(nullptr, 4, 1, 1);
    set_la(box, 0, 0, 0.2f, 1.0f);
    set_la(box, 1, 0, 0.9f, 0.5f);
    set_la(box, 0, 1, 0.0f, 0.0f);
    set_la(box, 1, 1, 0.0f, 0.0f);
    this->params.grid_to_box = affine(0.5f, 0, 0, 1, 0, 0);
    resample_bilinear<TypeParam>(&box, &grid, &this->params, 0, 1);
    // x = 0: ink 1 - 0.2. x = 0.5: alpha 0.5 * 1 + 0.5 * 0.5 = 0.75, luminance
    // (0.5 * 0.2 * 1 + 0.5 * 0.9 * 0.5) / 0.75 = 0.433333 (an unweighted mean would
    // give 0.55), ink ceil(0.75) * (1 - 0.433333). x = 1 and the clamped x = 1.5:
    // alpha 0.5 counts fully, ink 1 - 0.9.
    EXPECT_NEAR(at(grid, 0, 0), 0.8f, sum_tolerance);
    EXPECT_NEAR(at(grid, 1, 0), 0.566667f, sum_tolerance);
    EXPECT_NEAR(at(grid, 2, 0), 0.1f, sum_tolerance);
    EXPECT_NEAR(at(grid, 3, 0), 0.1f, sum_tolerance);

    // A transparent row gives no ink.
    this->params.grid_to_box = affine(0.5f, 0, 0, 1, 0, 1);
    resample_bilinear<TypeParam>(&box, &grid, &this->params, 0, 1);
    EXPECT_EQ(snapshot(grid), std::vector<float>(4, 0.0f));
}

TYPED_TEST(SamplingTest, EmptySourceGivesNoInk)
{
    // An input world without pixels: nothing to read, so every cell is transparent.
    Image<float> empty(nullptr, 0, 0, 2), grid(nullptr, 3, 2, 1), box(nullptr, 3, 2, 2);
    this->params.grid_to_src = affine(1, 0, 0, 1, 0, 0);
    this->params.box_to_src = affine(4, 0, 0, 4, 2, 2);
    this->params.grid_to_box = affine(1, 0, 0, 1, 0, 0);
    fill(grid, 5.0f);
    sample_nearest<TypeParam>(&empty, &grid, &this->params, 0, 2);
    EXPECT_EQ(snapshot(grid), std::vector<float>(6, 0.0f));
    fill(grid, 5.0f);
    resample_bilinear<TypeParam>(&empty, &grid, &this->params, 0, 2);
    EXPECT_EQ(snapshot(grid), std::vector<float>(6, 0.0f));
    fill(box, 5.0f);
    box_filter<TypeParam>(&empty, &box, &this->params, 0, 2);
    EXPECT_EQ(snapshot(box), std::vector<float>(12, 0.0f));
}

TYPED_TEST(SamplingTest, JobsWriteOnlyTheirRows)
{
    using T = TypeParam;
    Image<float> src(nullptr, 8, 8, 2);
    fill_ramp(src);
    // A rotated, scaled lattice so that every row of each destination differs.
    this->params.grid_to_src = affine(1.8f, 0.6f, -0.6f, 1.8f, 1.0f, -2.0f);
    this->params.grid_to_box = affine(0.9f, 0.3f, -0.3f, 0.9f, 0.2f, -0.4f);
    this->params.box_to_src = affine(2.5f, 0, 0, 2.5f, 0.75f, 0.75f);
    struct Case {
        void (*job)(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);
        int channels;
    };
    const Case cases[] = {{&sample_nearest<T>, 1}, {&box_filter<T>, 2}, {&resample_bilinear<T>, 1}};
    for (const Case& job : cases) {
        Image<float> reference(nullptr, 5, 6, job.channels), dst(nullptr, 5, 6, job.channels);
        job.job(&src, &reference, &this->params, 0, 6);
        fill(dst, -9.0f);
        const std::vector<float> before = snapshot(dst);
        job.job(&src, &dst, &this->params, 4, 4);
        job.job(&src, &dst, &this->params, 5, 2);
        EXPECT_TRUE(only_rows_written(dst, before, snapshot(reference), 0, 0));
        job.job(&src, &dst, &this->params, 2, 5);
        EXPECT_TRUE(only_rows_written(dst, before, snapshot(reference), 2, 5));
    }
}

}  // namespace
