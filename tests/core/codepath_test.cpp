// The instruction-set paths of the pixel stages: every path this processor
// runs renders every depth, shape, sampling and Alpha setting to the same bytes
// as the portable path, on layers and geometries chosen so that the wide code's
// row tails, edge clamps, skipped candidates and odd values are all reached.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "base/pixel_path.h"
#include "halftone/dots.h"
#include "halftone/halftone_params.h"
#include "pipeline/frame_render.h"
#include "test_world.h"

using namespace ruvivedu;

// GoogleTest names a path by this in its output (found by argument-dependent
// lookup, so beside the enumeration's own namespace).
void PrintTo(PixelPath path, std::ostream* out);

namespace {

using test_world::pixels_pad;
using test_world::TestWorld;

// Restores the path in force when a test ends, whatever it forced.
class PathGuard {
public:
    PathGuard() : saved_(pixel_path()) {}
    ~PathGuard() { set_pixel_path(saved_); }
    PathGuard(const PathGuard&) = delete;
    PathGuard& operator=(const PathGuard&) = delete;

private:
    PixelPath saved_;
};

struct Geometry {
    int32_t in_width, in_height;
    int32_t out_width, out_height;  // may exceed the input: uncovered pixels
    float dot_size;
    float rotation;
    float offset_x, offset_y;
    // Downsample factors as numerator / denominator, horizontal and vertical.
    int32_t reduce_x_num = 1, reduce_y_num = 1;
    uint32_t reduce_x_den = 1, reduce_y_den = 1;
};

// Widths that are not multiples of 4 or 8, DotSize 1 (every pixel between
// lattice points), fractional and large dots, rotations on and off the axes,
// an output world larger than the layer.
const Geometry geometries[] = {
    {83, 61, 83, 61, 11.5f, 30.0f, 40.25f, 29.5f},
    {37, 29, 45, 33, 1.0f, 45.0f, 18.5f, 14.5f},
    {64, 40, 64, 40, 7.0f, 0.0f, 32.0f, 20.0f},
    {53, 47, 53, 47, 23.3f, -117.5f, -5.0f, 60.0f},
    {29, 19, 31, 21, 3.5f, 90.0f, 14.0f, 9.0f},
    // Whole DotSizes off the pixel grid: cells a few pixels wide whose edges
    // cut pixels, so every edge weight of the box filter is in play.
    {45, 31, 45, 31, 2.0f, 30.0f, 10.3f, 7.7f},
    {41, 27, 41, 27, 1.0f, 12.0f, 20.25f, 13.6f},
    {50, 36, 50, 36, 5.0f, 60.0f, 24.9f, 17.35f},
};

// Cells wide enough for the wide path to draw dot by dot over bands of rows:
// the axis-aligned screen (one grid family parallel to the rows), a quarter
// turn whose cosine is not quite zero, negative and half turns, a reduced
// frame with unequal factors, bands ending part way, rows whose width leaves a
// tail, and dots far larger than the layer with the lattice offset far away.
const Geometry span_geometries[] = {
    {150, 90, 150, 90, 24.0f, 0.0f, 75.0f, 45.0f},
    {118, 100, 131, 77, 40.0f, 90.0f, 10.0f, 20.0f},
    {97, 70, 97, 70, 9.0f, -30.0f, 3.3f, 5.1f},
    {140, 81, 140, 81, 64.0f, 180.0f, 70.0f, 40.0f},
    {90, 60, 90, 60, 500.0f, 45.0f, -1000.0f, 2000.0f},
    {121, 99, 121, 99, 30.0f, 17.0f, 60.5f, 49.5f, 1, 1, 2, 3},
    // Circles of DotSize 8 stay within the pixels whose candidates they are
    // (by a hair); of DotSize 7 they do not.
    {77, 66, 77, 66, 8.0f, 10.0f, 38.0f, 33.0f},
    {77, 66, 77, 66, 7.0f, 10.0f, 38.0f, 33.0f},
};

std::string describe(int depth, const Geometry& g, int32_t shape, int32_t sampling, bool alpha)
{
    std::ostringstream s;
    s << "depth " << depth << ", layer " << g.in_width << "x" << g.in_height << " -> " << g.out_width << "x"
      << g.out_height << ", DotSize " << g.dot_size << ", rotation " << g.rotation << ", shape " << shape
      << ", sampling " << sampling << (alpha ? ", Alpha on" : ", Alpha off");
    return s.str();
}

// Float layers also carry what no 8- or 16-bit layer can: brighter than
// white, negative, infinite and NaN components, so the wide code's NaN and
// range handling is compared too.
template <typename T>
void add_odd_values(TestWorld<T>& w)
{
    if constexpr (std::is_floating_point_v<T>) {
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const float inf = std::numeric_limits<float>::infinity();
        for (int32_t y = 0; y < w.height; y += 7) {
            for (int32_t x = (y * 3) % 5; x < w.width; x += 11) {
                const int kind = (x + y) % 5;
                if (kind == 0)
                    w.set(x, y, 1.0f, 2.5f, 3.0f, 1.5f);
                else if (kind == 1)
                    w.set(x, y, 1.0f, -0.75f, -1.0f, -0.25f);
                else if (kind == 2)
                    w.set(x, y, 0.5f, nan, 0.5f, 0.5f);
                else if (kind == 3)
                    w.set(x, y, inf, 0.25f, 0.25f, 0.25f);
                else
                    w.set(x, y, 1.5f, 0.0f, 0.0f, 0.0f);
            }
        }
    } else {
        // Alpha above full scale, up to the type's storage limit.
        for (int32_t x = 0; x < w.width; x += 9)
            w.put(x, w.height - 1, 0, std::numeric_limits<T>::max());
    }
}

// A render context for the worlds with the geometry's screen and reduction.
template <typename T>
HalfTone_Params context_for(const Geometry& g, TestWorld<T>& in, TestWorld<T>& out)
{
    HalfTone_Params c = test_world::make_context(in, out);
    c.dot_size = g.dot_size;
    c.rotation = g.rotation;
    c.offset_x = g.offset_x;
    c.offset_y = g.offset_y;
    c.downsample_x = {g.reduce_x_num, g.reduce_x_den};
    c.downsample_y = {g.reduce_y_num, g.reduce_y_den};
    return c;
}

// A float layer of grey noise from -2 to 1.2: ink from -0.2 to 3 changing
// from one pixel to the next, so neighbouring dots range from none to three
// times full size and dots reach as far as their shape lets them.
void paint_noise(TestWorld<float>& w, uint32_t seed)
{
    uint32_t state = seed * 2654435761u + 1;
    for (int32_t y = 0; y < w.height; ++y)
        for (int32_t x = 0; x < w.width; ++x) {
            state = state * 1664525u + 1013904223u;
            const float grey = -2.0f + 3.2f * static_cast<float>(state >> 8) / 16777216.0f;
            w.set(x, y, 1.0f, grey, grey, grey);
        }
}

template <typename T>
std::vector<unsigned char> render(const Geometry& g, int32_t shape, int32_t sampling, bool alpha,
                                  uint32_t noise_seed = 0)
{
    // Padding of one pixel plus the world's own guards: rows start off any
    // 16-byte boundary.
    TestWorld<T> in(g.in_width, g.in_height, pixels_pad<T>(1)), out(g.out_width, g.out_height, pixels_pad<T>(2));
    test_world::paint_test_layer(in);
    add_odd_values(in);
    if constexpr (std::is_floating_point_v<T>) {
        if (noise_seed != 0)
            paint_noise(in, noise_seed);
    }
    HalfTone_Params c = context_for(g, in, out);
    c.shape = shape_from_popup(shape);
    c.sampling = sampling_from_popup(sampling);
    c.alpha = alpha;
    render_frame<T>(&c);
    EXPECT_TRUE(out.guards_intact());
    return out.pixels();
}

// The walk the dots of this frame take.
template <typename T>
DotWalk walk_of(const Geometry& g, int32_t shape)
{
    TestWorld<T> in(g.in_width, g.in_height, 0), out(g.out_width, g.out_height, 0);
    HalfTone_Params c = context_for(g, in, out);
    HalfTone_Inner_Params<T> params{};
    init_inner_params(c, params);
    return dot_walk(params, shape_from_popup(shape), static_cast<uint32_t>(g.out_width),
                    static_cast<uint32_t>(g.out_height));
}

const char* path_name(PixelPath path)
{
    return path == PixelPath::avx2 ? "AVX2" : path == PixelPath::sse2 ? "SSE2" : "portable";
}

template <typename T>
void expect_path_matches_portable(PixelPath path, int depth, const Geometry* begin, const Geometry* end)
{
    for (const Geometry* it = begin; it != end; ++it) {
        const Geometry& g = *it;
        for (int32_t shape = 1; shape <= 3; ++shape) {
            for (int32_t sampling = 1; sampling <= 2; ++sampling) {
                for (bool alpha : {false, true}) {
                    SCOPED_TRACE(describe(depth, g, shape, sampling, alpha));
                    set_pixel_path(PixelPath::scalar);
                    const std::vector<unsigned char> portable = render<T>(g, shape, sampling, alpha);
                    set_pixel_path(path);
                    EXPECT_EQ(render<T>(g, shape, sampling, alpha), portable)
                        << "the " << path_name(path) << " path differs from the portable one";
                }
            }
        }
    }
}

// Each wide path is its own test, so that on a processor without it the
// comparison reports as skipped rather than passed.
class WidePath : public ::testing::TestWithParam<PixelPath> {
protected:
    template <typename T>
    void expect_matches_portable(int depth)
    {
        PathGuard guard;
        if (set_pixel_path(GetParam()) != GetParam())
            GTEST_SKIP() << "this processor has no " << path_name(GetParam()) << " path";
        expect_path_matches_portable<T>(GetParam(), depth, std::begin(geometries), std::end(geometries));
        expect_path_matches_portable<T>(GetParam(), depth, std::begin(span_geometries), std::end(span_geometries));
    }
};

TEST_P(WidePath, EightBitRendersMatchThePortablePath)
{
    expect_matches_portable<unsigned char>(0);
}

TEST_P(WidePath, SixteenBitRendersMatchThePortablePath)
{
    expect_matches_portable<unsigned short>(1);
}

TEST_P(WidePath, FloatRendersMatchThePortablePath)
{
    expect_matches_portable<float>(2);
}

INSTANTIATE_TEST_SUITE_P(PixelPaths, WidePath, ::testing::Values(PixelPath::sse2, PixelPath::avx2),
                         [](const ::testing::TestParamInfo<PixelPath>& info) {
                             return std::string(path_name(info.param));
                         });

// Many frames of random geometry, most of them drawn by the span walk: its
// row, column and lattice ranges are bounds with margins, and a margin too
// thin shows up as a pixel that differs from the portable walk. Offsets reach
// far out, where the grid coordinates carry large rounding errors; half the
// frames are float noise sampled Nearest, whose dots of every size up to three
// times full reach every edge of their shapes and candidate areas.
TEST(PixelPaths, RandomFramesMatchThePortablePath)
{
    PathGuard guard;
    if (set_pixel_path(PixelPath::avx2) != PixelPath::avx2)
        GTEST_SKIP() << "this processor has no AVX2 path";
    std::mt19937 random(20261208);
    auto uniform = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(random); };
    auto whole = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    int by_spans = 0;
    for (int n = 0; n < 60; ++n) {
        Geometry g{};
        g.in_width = whole(8, 130);
        g.in_height = whole(8, 110);
        g.out_width = whole(1, 4) == 1 ? whole(8, 140) : g.in_width;
        g.out_height = whole(1, 4) == 1 ? whole(8, 120) : g.in_height;
        g.dot_size = whole(1, 2) == 1 ? uniform(6.0f, 12.0f) : uniform(6.0f, 150.0f);
        g.rotation = whole(1, 4) == 1 ? static_cast<float>(whole(-4, 4) * 45) : uniform(-360.0f, 360.0f);
        const float reach = whole(1, 5) == 1 ? 50000.0f : 200.0f;
        g.offset_x = uniform(-reach, reach);
        g.offset_y = uniform(-reach, reach);
        g.reduce_x_num = 1;
        g.reduce_x_den = static_cast<uint32_t>(whole(1, 3));
        g.reduce_y_num = 1;
        g.reduce_y_den = whole(1, 2) == 1 ? g.reduce_x_den : static_cast<uint32_t>(whole(1, 3));
        const bool noise = n % 2 == 1;
        const int32_t sampling = noise ? 2 : 1;
        const uint32_t seed = noise ? static_cast<uint32_t>(n) : 0u;
        for (int32_t shape = 1; shape <= 3; ++shape) {
            const bool alpha = whole(0, 1) == 1;
            SCOPED_TRACE(describe(noise ? 2 : 0, g, shape, sampling, alpha) + ", offset " + std::to_string(g.offset_x) +
                         ", " + std::to_string(g.offset_y));
            auto draw = [&] {
                return noise ? render<float>(g, shape, sampling, alpha, seed)
                             : render<unsigned char>(g, shape, sampling, alpha);
            };
            set_pixel_path(PixelPath::scalar);
            const auto portable = draw();
            set_pixel_path(PixelPath::avx2);
            EXPECT_EQ(draw(), portable);
            by_spans += walk_of<unsigned char>(g, shape) != DotWalk::per_pixel ? 1 : 0;
        }
    }
    EXPECT_GE(by_spans, 90);  // of 180: most frames exercise the span walk
}

// The comparisons above reach every wide walk of the dots: the span
// geometries by bands of rows, with and without the candidate tests, and the
// small cells pixel by pixel.
TEST(PixelPaths, EveryWideDotWalkIsCompared)
{
    PathGuard guard;
    if (set_pixel_path(PixelPath::avx2) != PixelPath::avx2)
        GTEST_SKIP() << "this processor has no AVX2 path";
    int seen[3] = {0, 0, 0};
    for (const Geometry& g : span_geometries) {
        for (int32_t shape = 1; shape <= 3; ++shape) {
            const DotWalk walk = walk_of<unsigned char>(g, shape);
            EXPECT_NE(walk, DotWalk::per_pixel) << describe(0, g, shape, 1, false);
            ++seen[static_cast<int>(walk)];
        }
    }
    for (const Geometry& g : geometries)
        ++seen[static_cast<int>(walk_of<unsigned char>(g, 1))];
    EXPECT_GE(seen[static_cast<int>(DotWalk::per_pixel)], 4);
    EXPECT_GE(seen[static_cast<int>(DotWalk::by_spans)], 3);
    EXPECT_GE(seen[static_cast<int>(DotWalk::by_spans_untested)], 3);
    set_pixel_path(PixelPath::sse2);
    EXPECT_EQ(walk_of<unsigned char>(span_geometries[0], 1), DotWalk::per_pixel);
}

TEST(PixelPaths, ForcingAPathTheProcessorLacksKeepsTheBestOne)
{
    PathGuard guard;
    const PixelPath best = best_pixel_path();
    EXPECT_EQ(set_pixel_path(PixelPath::avx2), best);
    EXPECT_EQ(pixel_path(), best);
    EXPECT_EQ(set_pixel_path(PixelPath::scalar), PixelPath::scalar);
    EXPECT_EQ(pixel_path(), PixelPath::scalar);
}

#if RUVIVEDU_X86_64
TEST(PixelPaths, EveryX86ProcessorHasTheSse2Path)
{
    EXPECT_NE(best_pixel_path(), PixelPath::scalar);
}
#endif

}  // namespace

void PrintTo(PixelPath path, std::ostream* out)
{
    *out << path_name(path);
}
