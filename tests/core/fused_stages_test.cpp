// The stages that read the host's input world and write its output world
// themselves give, bit for bit, what the input conversion, the stages on the
// source and output images and the output conversion give together: on every
// pixel path, for every depth, shape, sampling and Alpha setting, for worlds
// with rows padded off any alignment, stored bottom-up, of unequal sizes, and
// for worlds that share their memory.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "base/pixel_path.h"
#include "halftone/dots.h"
#include "halftone/halftone_params.h"
#include "halftone/sampling.h"
#include "pipeline/convert.h"
#include "pipeline/frame_render.h"
#include "pixel_test_util.h"

using namespace ruvivedu;

namespace {

using pixel_test::guard_byte;
using pixel_test::TestWorld;

class PathGuard {
public:
    PathGuard() : saved_(pixel_path()) {}
    ~PathGuard() { set_pixel_path(saved_); }
    PathGuard(const PathGuard&) = delete;
    PathGuard& operator=(const PathGuard&) = delete;

private:
    PixelPath saved_;
};

// The paths this processor runs.
std::vector<PixelPath> paths()
{
    std::vector<PixelPath> out{PixelPath::scalar};
    for (PixelPath p : {PixelPath::sse2, PixelPath::avx2}) {
        const PixelPath saved = pixel_path();
        if (set_pixel_path(p) == p)
            out.push_back(p);
        set_pixel_path(saved);
    }
    return out;
}

struct Screen {
    int32_t in_width, in_height, out_width, out_height;
    float dot_size, rotation, offset_x, offset_y;
    uint32_t reduce_x = 1, reduce_y = 1;  // downsample 1 / n
};

// Cells from one pixel (the per-pixel walk, the box filter's gathers) to many
// (the span walk, the box filter's four cells at once and its chunked rows),
// reduced frames, outputs larger and smaller than the input, and rows longer
// than the stages' chunks of pixels.
const Screen screens[] = {
    {601, 20, 601, 20, 12.0f, 20.0f, 300.0f, 10.0f}, {61, 43, 61, 43, 1.0f, 45.0f, 30.5f, 21.5f},
    {50, 38, 57, 41, 2.5f, 30.0f, 24.9f, 17.35f},    {77, 66, 70, 60, 7.0f, 10.0f, 38.0f, 33.0f},
    {140, 81, 140, 81, 32.0f, 45.0f, 70.0f, 40.0f},  {118, 100, 131, 77, 40.0f, 90.0f, 10.0f, 20.0f, 2, 3},
    {90, 60, 90, 60, 130.0f, 0.0f, 45.0f, 30.0f},
};

std::string describe(const Screen& s, int32_t shape, int32_t sampling, bool alpha, PixelPath path)
{
    std::ostringstream o;
    o << s.in_width << "x" << s.in_height << " -> " << s.out_width << "x" << s.out_height << ", DotSize " << s.dot_size
      << ", shape " << shape << ", sampling " << sampling << (alpha ? ", Alpha on" : ", Alpha off") << ", path "
      << static_cast<int>(path);
    return o.str();
}

template <typename T>
T level(float v)
{
    const float full = static_cast<float>(pixel_test::white_of<T>());
    if constexpr (std::is_floating_point_v<T>)
        return v * full;
    else
        return static_cast<T>(static_cast<int>(v * full + 0.5f));
}

// Ramps, a transparent stripe and a noisy patch, and for float layers values
// outside 0..1.
template <typename T>
void paint(TestWorld<T>& w, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int y = 0; y < w.view.height; ++y) {
        for (int x = 0; x < w.view.width; ++x) {
            const float fx = static_cast<float>(x) / static_cast<float>(w.view.width);
            const float fy = static_cast<float>(y) / static_cast<float>(w.view.height);
            float a = x % 17 == 3 ? 0.0f : (y < w.view.height / 6 ? fx : 1.0f);
            float r = fx, g = fy, b = 1.0f - fx * fy;
            if ((x / 9 + y / 7) % 3 == 0)
                r = g = b = unit(random);
            if constexpr (std::is_floating_point_v<T>) {
                if ((x + 2 * y) % 23 == 0)
                    r = 1.75f, b = -0.5f, a = 1.25f;
            }
            w.set(x, y, level<T>(a), level<T>(r), level<T>(g), level<T>(b));
        }
    }
}

template <typename T>
HalfTone_Params context_for(const Screen& s, const LayerParams& in, const LayerParams& out, int32_t shape,
                            int32_t sampling, bool alpha)
{
    HalfTone_Params c{};
    c.in_layer = in;
    c.out_layer = out;
    c.downsample_x = {1, s.reduce_x};
    c.downsample_y = {1, s.reduce_y};
    c.pixel_aspect_ratio = {1, 1};
    c.dot_size = s.dot_size;
    c.rotation = s.rotation;
    c.offset_x = s.offset_x;
    c.offset_y = s.offset_y;
    c.shape = shape_from_popup(shape);
    c.sampling = sampling_from_popup(sampling);
    c.alpha = alpha;
    c.depth = sizeof(T) == 1 ? Depth::u8 : (sizeof(T) == 2 ? Depth::u16 : Depth::f32);
    return c;
}

template <typename T>
HalfTone_Inner_Params<T> params_for(HalfTone_Params& c)
{
    HalfTone_Inner_Params<T> p{};
    init_inner_params(c, p);
    p.worker_count = 1;
    return p;
}

uint32_t side(float extent)
{
    return static_cast<uint32_t>(std::ceil(extent));
}

// The frame as the stages on whole-frame images draw it: input conversion into
// the source image, sampling into the cell grid, dots into the output image,
// output conversion into the output world.
template <typename T>
void render_through_images(HalfTone_Params& c)
{
    HalfTone_Inner_Params<T> p = params_for<T>(c);
    LayerParams* in = &c.in_layer;
    LayerParams* out = &c.out_layer;
    Image<float> source(nullptr, in->width, in->height, 2);
    Image<float> box(nullptr, side(p.box_width), side(p.box_height), 2);
    Image<float> grid(nullptr, side(p.grid_width), side(p.grid_height), 1);
    Image<float> paper(nullptr, out->width, out->height, 1);
    convert_input<T>(in, &source, &p, 0, in->height);
    if (c.sampling == Sampling::bilinear) {
        box_filter<T>(&source, &box, &p, 0, static_cast<int>(box.height));
        resample_bilinear<T>(&box, &grid, &p, 0, static_cast<int>(grid.height));
    } else {
        sample_nearest<T>(&source, &grid, &p, 0, static_cast<int>(grid.height));
    }
    if (c.shape == Shape::square)
        render_square<T>(&grid, &paper, &p, 0, out->height);
    else if (c.shape == Shape::line)
        render_line<T>(&grid, &paper, &p, 0, out->height);
    else
        render_circle<T>(&grid, &paper, &p, 0, out->height);
    if (c.alpha)
        convert_output_alpha<T>(&paper, in, out, &p, 0, out->height);
    else
        convert_output_grey<T>(&paper, in, out, &p, 0, out->height);
}

// Rows padded by an odd number of bytes (so no row but the first keeps a
// float's alignment), the output bottom-up.
template <typename T>
struct Worlds {
    TestWorld<T> in, fused, reference;
    Worlds(const Screen& s, uint32_t seed)
        : in(s.in_width, s.in_height, 5), fused(s.out_width, s.out_height, 3, true),
          reference(s.out_width, s.out_height, 3, true)
    {
        paint(in, seed);
    }
};

template <typename T>
void expect_frames_match()
{
    PathGuard guard;
    uint32_t seed = 1;
    for (const Screen& s : screens) {
        for (int32_t shape = 1; shape <= 3; ++shape) {
            for (int32_t sampling = 1; sampling <= 2; ++sampling) {
                for (bool alpha : {false, true}) {
                    Worlds<T> w(s, ++seed);
                    for (PixelPath path : paths()) {
                        SCOPED_TRACE(describe(s, shape, sampling, alpha, path));
                        set_pixel_path(path);
                        HalfTone_Params reference =
                            context_for<T>(s, w.in.view, w.reference.view, shape, sampling, alpha);
                        render_through_images<T>(reference);
                        HalfTone_Params fused = context_for<T>(s, w.in.view, w.fused.view, shape, sampling, alpha);
                        render_frame<T>(&fused);
                        ASSERT_EQ(w.fused.bytes, w.reference.bytes);
                        EXPECT_TRUE(w.fused.guards_intact());
                    }
                }
            }
        }
    }
}

TEST(FusedStages, EightBitFramesMatchTheStagesThroughImages)
{
    expect_frames_match<unsigned char>();
}

TEST(FusedStages, SixteenBitFramesMatchTheStagesThroughImages)
{
    expect_frames_match<unsigned short>();
}

TEST(FusedStages, FloatFramesMatchTheStagesThroughImages)
{
    expect_frames_match<float>();
}

// Layers wide enough for the box filter's eight-cell paths to take whole
// groups of cells inside the layer and at its edges, and to finish a row with
// a group that overlaps the one before: cells a few pixels wide (gathered
// pixel by pixel), a few dozen (rows fetched under all eight) and a few
// hundred (rows fetched cell by cell), DotSizes off the pixel grid (cells of
// unequal width) and reduced frames, on every path against the portable one.
template <typename T>
void expect_wide_frames_match_the_portable_path()
{
    PathGuard guard;
    const Screen wide[] = {
        {700, 40, 700, 40, 5.0f, 0.0f, 350.0f, 20.0f},
        {900, 70, 900, 70, 23.3f, 30.0f, 451.0f, 35.0f},
        {1100, 90, 1100, 90, 40.0f, 0.0f, 550.0f, 45.0f, 2, 1},
        {1400, 160, 1400, 160, 150.5f, 10.0f, 700.0f, 80.0f},
    };
    for (const Screen& s : wide) {
        for (int32_t sampling = 1; sampling <= 2; ++sampling) {
            TestWorld<T> in(s.in_width, s.in_height, 2), portable(s.out_width, s.out_height),
                out(s.out_width, s.out_height);
            paint(in, 9);
            set_pixel_path(PixelPath::scalar);
            HalfTone_Params reference = context_for<T>(s, in.view, portable.view, 1, sampling, false);
            render_frame<T>(&reference);
            for (PixelPath path : paths()) {
                SCOPED_TRACE(describe(s, 1, sampling, false, path));
                set_pixel_path(path);
                HalfTone_Params c = context_for<T>(s, in.view, out.view, 1, sampling, false);
                render_frame<T>(&c);
                ASSERT_EQ(out.bytes, portable.bytes);
            }
        }
    }
}

TEST(FusedStages, WideFramesMatchThePortablePath)
{
    expect_wide_frames_match_the_portable_path<unsigned char>();
    expect_wide_frames_match_the_portable_path<unsigned short>();
    expect_wide_frames_match_the_portable_path<float>();
}

// Output worlds of 16 MiB and more are written past the caches, where the
// stores can: such frames too equal the stages through images, by the span
// walk and by the per-pixel walk, 8-bit and float.
template <typename T>
void expect_large_world_matches(int32_t side)
{
    PathGuard guard;
    for (float dot_size : {32.0f, 3.0f}) {
        const Screen s{side, side, side, side, dot_size, 45.0f, side * 0.5f, side * 0.5f};
        TestWorld<T> in(side, side), reference(side, side), fused(side, side);
        paint(in, 4);
        HalfTone_Params r = context_for<T>(s, in.view, reference.view, 1, 1, false);
        render_through_images<T>(r);
        // Only the wide forms stream.
        for (PixelPath path : paths()) {
            if (path == PixelPath::scalar)
                continue;
            SCOPED_TRACE(describe(s, 1, 1, false, path));
            set_pixel_path(path);
            HalfTone_Params c = context_for<T>(s, in.view, fused.view, 1, 1, false);
            render_frame<T>(&c);
            ASSERT_EQ(fused.bytes, reference.bytes);
        }
    }
}

TEST(FusedStages, LargeWorldsMatchTheStagesThroughImages)
{
    expect_large_world_matches<unsigned char>(2048);  // 16 MiB
    expect_large_world_matches<float>(1024);          // 16 MiB
}

// Each fused stage alone: a row job writes exactly its own rows, and the rows
// it writes equal those of the stages it replaces, whatever the range.
template <typename T>
struct FusedStageTest : ::testing::Test {};
TYPED_TEST_SUITE(FusedStageTest, pixel_test::ComponentTypes);

TYPED_TEST(FusedStageTest, SamplingFromTheLayerWritesTheSameCellsRowByRow)
{
    using T = TypeParam;
    for (const Screen& s : {screens[0], screens[1], screens[4], screens[6]}) {
        TestWorld<T> in(s.in_width, s.in_height, 7);
        paint(in, 11);
        HalfTone_Params c = context_for<T>(s, in.view, in.view, 1, 1, false);
        HalfTone_Inner_Params<T> p = params_for<T>(c);
        Image<float> source(nullptr, s.in_width, s.in_height, 2);
        convert_input<T>(&c.in_layer, &source, &p, 0, s.in_height);
        Image<float> box(nullptr, side(p.box_width), side(p.box_height), 2), box_ref(nullptr, box.width, box.height, 2);
        Image<float> grid(nullptr, side(p.grid_width), side(p.grid_height), 1),
            grid_ref(nullptr, grid.width, grid.height, 1);
        box_filter<T>(&source, &box_ref, &p, 0, static_cast<int>(box.height));
        sample_nearest<T>(&source, &grid_ref, &p, 0, static_cast<int>(grid.height));

        const int box_mid = static_cast<int>(box.height) / 2, grid_mid = static_cast<int>(grid.height) / 2;
        pixel_test::fill(box, -7.0f);
        pixel_test::fill(grid, -7.0f);
        const std::vector<float> box_before = pixel_test::snapshot(box), grid_before = pixel_test::snapshot(grid);
        box_filter_layer<T>(&c.in_layer, &box, &p, box_mid, box_mid);
        sample_nearest_layer<T>(&c.in_layer, &grid, &p, grid_mid + 1, grid_mid);
        box_filter_layer<T>(&c.in_layer, &box, &p, 0, box_mid);
        sample_nearest_layer<T>(&c.in_layer, &grid, &p, grid_mid, static_cast<int>(grid.height));
        EXPECT_TRUE(pixel_test::only_rows_written(box, box_before, pixel_test::snapshot(box_ref), 0, box_mid));
        EXPECT_TRUE(pixel_test::only_rows_written(grid, grid_before, pixel_test::snapshot(grid_ref), grid_mid,
                                                  static_cast<int>(grid.height)));
    }
}

TYPED_TEST(FusedStageTest, DotsIntoTheLayerWriteOnlyTheirRows)
{
    using T = TypeParam;
    PathGuard guard;
    using Job = void (*)(Image<float>*, LayerParams*, LayerParams*, HalfTone_Inner_Params<T>*, int, int);
    const Job jobs[2][3] = {{&render_circle_grey<T>, &render_square_grey<T>, &render_line_grey<T>},
                            {&render_circle_alpha<T>, &render_square_alpha<T>, &render_line_alpha<T>}};
    for (PixelPath path : paths()) {
        set_pixel_path(path);
        // Small cells drawn pixel by pixel, large ones by bands of rows.
        for (const Screen& s : {screens[0], screens[2], screens[4]}) {
            TestWorld<T> in(s.in_width, s.in_height, 1);
            paint(in, 5);
            for (int alpha = 0; alpha < 2; ++alpha) {
                for (int32_t shape = 1; shape <= 3; ++shape) {
                    SCOPED_TRACE(describe(s, shape, 1, alpha == 1, path));
                    TestWorld<T> whole(s.out_width, s.out_height, 5), part(s.out_width, s.out_height, 5);
                    HalfTone_Params reference = context_for<T>(s, in.view, whole.view, shape, 1, alpha == 1);
                    render_through_images<T>(reference);
                    HalfTone_Params c = context_for<T>(s, in.view, part.view, shape, 1, alpha == 1);
                    HalfTone_Inner_Params<T> p = params_for<T>(c);
                    Image<float> source(nullptr, s.in_width, s.in_height, 2);
                    Image<float> box(nullptr, side(p.box_width), side(p.box_height), 2);
                    Image<float> grid(nullptr, side(p.grid_width), side(p.grid_height), 1);
                    convert_input<T>(&c.in_layer, &source, &p, 0, s.in_height);
                    box_filter<T>(&source, &box, &p, 0, static_cast<int>(box.height));
                    resample_bilinear<T>(&box, &grid, &p, 0, static_cast<int>(grid.height));
                    // Empty and inverted ranges, then rows 3 .. 3 + 37 (a band and a part).
                    const int first = 3, end = std::min(s.out_height, first + 37);
                    jobs[alpha][shape - 1](&grid, &c.in_layer, &c.out_layer, &p, end, end);
                    jobs[alpha][shape - 1](&grid, &c.in_layer, &c.out_layer, &p, end, first);
                    jobs[alpha][shape - 1](&grid, &c.in_layer, &c.out_layer, &p, first, end);
                    const std::size_t row_bytes = static_cast<std::size_t>(s.out_width) * part.view.bytes_per_pixel;
                    const std::vector<char> untouched(row_bytes, static_cast<char>(guard_byte));
                    for (int y = 0; y < s.out_height; ++y) {
                        const char* row = layer_row(part.view, y);
                        const char* want = y >= first && y < end ? layer_row(whole.view, y) : untouched.data();
                        ASSERT_EQ(std::memcmp(row, want, row_bytes), 0) << "row " << y;
                    }
                    EXPECT_TRUE(part.guards_intact());
                }
            }
        }
    }
}

// A host that hands over one world as both input and output (it never should)
// still gets the picture: the dots that would sum their coverage in the output
// world's rows are drawn pixel by pixel instead, each pixel's alpha read
// before the pixel is written.
TYPED_TEST(FusedStageTest, OneWorldAsInputAndOutputGetsThePicture)
{
    using T = TypeParam;
    PathGuard guard;
    for (PixelPath path : paths()) {
        set_pixel_path(path);
        for (int32_t shape = 1; shape <= 3; ++shape) {
            for (bool alpha : {false, true}) {
                const Screen& s = screens[4];
                SCOPED_TRACE(describe(s, shape, 1, alpha, path));
                TestWorld<T> in(s.in_width, s.in_height), out(s.in_width, s.in_height), shared(s.in_width, s.in_height);
                paint(in, 3);
                shared.bytes = in.bytes;
                HalfTone_Params separate = context_for<T>(s, in.view, out.view, shape, 1, alpha);
                render_frame<T>(&separate);
                HalfTone_Params same = context_for<T>(s, shared.view, shared.view, shape, 1, alpha);
                render_frame<T>(&same);
                EXPECT_EQ(shared.bytes, out.bytes);
            }
        }
    }
}

}  // namespace
