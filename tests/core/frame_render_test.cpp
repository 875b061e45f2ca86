// The frame render driver: whole frames checked by hand, worker-count
// invariance, world layouts, and contexts the host never sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "base/image.h"
#include "pipeline/frame_render.h"
#include "test_world.h"

#if defined(RUVIVEDU_PARALLEL_OPENMP) && RUVIVEDU_PARALLEL_OPENMP
#include <omp.h>
#endif

using namespace ruvivedu;

namespace {

using test_world::make_context;
using test_world::pixels_pad;
using test_world::TestWorld;
using test_world::white;

template <typename T>
struct FrameRender : ::testing::Test {};
using ComponentTypes = ::testing::Types<unsigned char, unsigned short, float>;
TYPED_TEST_SUITE(FrameRender, ComponentTypes);

// Every pixel of `w` equals (a, r, g, b).
template <typename T>
::testing::AssertionResult all_pixels(const TestWorld<T>& w, T a, T r, T g, T b)
{
    for (int32_t y = 0; y < w.height; ++y)
        for (int32_t x = 0; x < w.width; ++x) {
            const T got[4] = {w.get(x, y, 0), w.get(x, y, 1), w.get(x, y, 2), w.get(x, y, 3)};
            const T want[4] = {a, r, g, b};
            for (int c = 0; c < 4; ++c)
                if (!(got[c] == want[c]))
                    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") component " << c << " is "
                                                         << +got[c] << ", expected " << +want[c];
        }
    return ::testing::AssertionSuccess();
}

// An opaque white layer gets no ink: white paper keeping the layer's alpha,
// or, with Alpha on, fully transparent black.
TYPED_TEST(FrameRender, WhiteLayerStaysPaper)
{
    using T = TypeParam;
    const T w = white<T>();
    for (int32_t shape : {1, 2, 3})
        for (int32_t sampling : {1, 2})
            for (bool alpha : {false, true}) {
                TestWorld<T> in(48, 40, pixels_pad<T>(3)), out(48, 40, pixels_pad<T>(3));
                in.fill(w, w, w, w);
                HalfTone_Params c = make_context(in, out);
                c.shape = shape_from_popup(shape);
                c.sampling = sampling_from_popup(sampling);
                c.alpha = alpha;
                render_frame<T>(&c);
                if (alpha)
                    EXPECT_TRUE(all_pixels(out, T(0), T(0), T(0), T(0))) << shape << sampling;
                else
                    EXPECT_TRUE(all_pixels(out, w, w, w, w)) << shape << sampling;
                EXPECT_TRUE(out.guards_intact());
            }
}

// An opaque black layer at DotSize 32 is covered completely by every shape:
// full-ink circles (radius 23.33) close the diagonal gap of 16 * sqrt(2) = 22.6,
// squares of side 45.25 and bars 45.25 thick overlap at pitch 32.
TYPED_TEST(FrameRender, BlackLayerIsFullInk)
{
    using T = TypeParam;
    const T w = white<T>();
    for (int32_t shape : {1, 2, 3})
        for (int32_t sampling : {1, 2}) {
            TestWorld<T> in(48, 40, pixels_pad<T>(3)), out(48, 40, pixels_pad<T>(3));
            in.fill(w, T(0), T(0), T(0));
            HalfTone_Params c = make_context(in, out);
            c.shape = shape_from_popup(shape);
            c.sampling = sampling_from_popup(sampling);
            render_frame<T>(&c);
            EXPECT_TRUE(all_pixels(out, w, T(0), T(0), T(0))) << shape << sampling;
            c.alpha = true;
            render_frame<T>(&c);
            EXPECT_TRUE(all_pixels(out, w, T(0), T(0), T(0))) << shape << sampling;
        }
}

// Frames reuse the large buffers of the frames before them: a white frame
// drawn into the memory of a black one (every shape, both samplings, so
// every stage writes into memory that held ink) equals the same frame drawn
// into fresh memory.
TEST(FrameRenderKeptMemory, ReusedBuffersNeverShowTheFrameBefore)
{
    using T = unsigned char;
    const T w = white<T>();
    // 1024 x 1024 at DotSize 1: the box image and the cell grid are large
    // enough (8 MiB and more) to be kept.
    TestWorld<T> black(1024, 1024, 0), paper(1024, 1024, 0), out(1024, 1024, 0);
    black.fill(w, T(0), T(0), T(0));
    paper.fill(w, w, w, w);
    for (int32_t shape : {1, 2, 3})
        for (int32_t sampling : {1, 2}) {
            release_kept_image_memory();
            HalfTone_Params dark = make_context(black, out);
            dark.dot_size = 1.0f;
            dark.shape = shape_from_popup(shape);
            dark.sampling = sampling_from_popup(sampling);
            render_frame<T>(&dark);
            ASSERT_GT(kept_image_memory(), 0u);
            HalfTone_Params light = make_context(paper, out);
            light.dot_size = 1.0f;
            light.shape = shape_from_popup(shape);
            light.sampling = sampling_from_popup(sampling);
            render_frame<T>(&light);
            EXPECT_TRUE(all_pixels(out, w, w, w, w)) << "shape " << shape << ", sampling " << sampling;
        }
    release_kept_image_memory();
}

// What a finished frame keeps is bounded by what a frame of its size needs:
// a frame of large images keeps at most their blocks, and a frame of small
// images gives back the large blocks an earlier frame kept.
TEST(FrameRenderKeptMemory, AFrameKeepsNoMoreThanFramesOfItsSizeNeed)
{
    using T = unsigned char;
    TestWorld<T> in(2048, 1024, 0), out(2048, 1024, 0);
    test_world::paint_test_layer(in);
    release_kept_image_memory();
    HalfTone_Params fine = make_context(in, out);
    fine.dot_size = 1.0f;
    render_frame<T>(&fine);
    // Box image 2050 x 1026 x 2 floats and the grid of the turned lattice,
    // each rounded up to whole 2 MiB blocks.
    const std::size_t kept = kept_image_memory();
    EXPECT_GT(kept, std::size_t{32} << 20);
    EXPECT_LT(kept, std::size_t{48} << 20);
    render_frame<T>(&fine);
    EXPECT_EQ(kept_image_memory(), kept);
    HalfTone_Params coarse = make_context(in, out);
    render_frame<T>(&coarse);  // DotSize 32: a box image and grid of a few KB
    EXPECT_EQ(kept_image_memory(), 0u);
}
// A fully transparent layer draws nothing whatever its colour.
TYPED_TEST(FrameRender, TransparentLayerGetsNoInk)
{
    using T = TypeParam;
    const T w = white<T>();
    TestWorld<T> in(33, 21, pixels_pad<T>(3)), out(33, 21, pixels_pad<T>(3));
    in.fill(T(0), T(0), T(0), T(0));
    HalfTone_Params c = make_context(in, out);
    render_frame<T>(&c);
    EXPECT_TRUE(all_pixels(out, T(0), w, w, w));
    c.alpha = true;
    c.sampling = Sampling::nearest;
    render_frame<T>(&c);
    EXPECT_TRUE(all_pixels(out, T(0), T(0), T(0), T(0)));
}

// One black dot in the middle of a white layer, sampled Nearest, Square, no
// rotation: cell (k, l) of DotSize 8 is centred on layer pixel (8k + 20, 8l + 20)
// (the Offset). Only the cell at the Offset is dark, so only its square is
// drawn: with v = 1 its half side is 8 * 0.5 * 1.4142135 = 5.66, cut off at
// 5.66, so pixels 0..5 away on both axes are ink and 6 away are paper.
TEST(FrameRenderByHand, SingleSquareDot)
{
    using T = unsigned char;
    TestWorld<T> in(40, 40, pixels_pad<T>(3)), out(40, 40, pixels_pad<T>(3));
    in.fill(T(255), T(255), T(255), T(255));
    in.set(20, 20, 255, 0, 0, 0);
    HalfTone_Params c = make_context(in, out);
    c.dot_size = 8.0f;
    c.rotation = 0.0f;
    c.offset_x = 20.0f;
    c.offset_y = 20.0f;
    c.shape = Shape::square;
    c.sampling = Sampling::nearest;
    render_frame<T>(&c);
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 40; ++x) {
            const bool ink = std::abs(x - 20) <= 5 && std::abs(y - 20) <= 5;
            ASSERT_EQ(out.get(x, y, 1), ink ? 0 : 255) << x << ", " << y;
            ASSERT_EQ(out.get(x, y, 0), 255);
        }
}

// Half-transparent black, Alpha on: full ink whose opacity is the layer's
// alpha, ((1 - 0) * 255) * (128 / 255) truncated.
TEST(FrameRenderByHand, AlphaOnScalesInkByTheLayerAlpha)
{
    using T = unsigned char;
    TestWorld<T> in(40, 40, pixels_pad<T>(3)), out(40, 40, pixels_pad<T>(3));
    in.fill(T(128), T(0), T(0), T(0));
    HalfTone_Params c = make_context(in, out);
    c.alpha = true;
    render_frame<T>(&c);
    const T expected = static_cast<T>((1.0f - 0.0f) * 255.0f * (128.0f * (1.0f / 255.0f)));
    EXPECT_TRUE(all_pixels(out, expected, T(0), T(0), T(0)));
}

template <typename T>
std::vector<unsigned char> render_with_workers(int32_t shape, int32_t sampling, bool alpha, int32_t workers)
{
    TestWorld<T> in(61, 47, pixels_pad<T>(3)), out(61, 47, pixels_pad<T>(3));
    test_world::paint_test_layer(in);
    HalfTone_Params c = make_context(in, out);
    c.dot_size = 7.5f;
    c.rotation = 30.0f;
    c.shape = shape_from_popup(shape);
    c.sampling = sampling_from_popup(sampling);
    c.alpha = alpha;
#if defined(RUVIVEDU_PARALLEL_OPENMP) && RUVIVEDU_PARALLEL_OPENMP
    omp_set_num_threads(workers);
#endif
    render_frame<T>(&c, workers);
    EXPECT_TRUE(out.guards_intact());
    return out.pixels();
}

// However the rows are divided (one worker, several, more workers than the
// 11-row box image), every stage computes each row from the same inputs.
TYPED_TEST(FrameRender, OutputIsIdenticalForAnyWorkerCount)
{
    using T = TypeParam;
    for (int32_t shape : {1, 2, 3})
        for (int32_t sampling : {1, 2}) {
            const bool alpha = shape == 2;
            const std::vector<unsigned char> serial = render_with_workers<T>(shape, sampling, alpha, 1);
            for (int32_t workers : {2, 3, 8, 64})
                EXPECT_EQ(render_with_workers<T>(shape, sampling, alpha, workers), serial)
                    << "shape " << shape << ", sampling " << sampling << ", " << workers << " workers";
        }
}

// Padded rows and bottom-up worlds give the same pixels as a packed top-down
// world, and the bytes between rows are never written.
TYPED_TEST(FrameRender, WorldLayoutDoesNotChangeThePicture)
{
    using T = TypeParam;
    TestWorld<T> packed_in(50, 37, 0), packed_out(50, 37, 0);
    TestWorld<T> flipped_in(50, 37, pixels_pad<T>(5), true), flipped_out(50, 37, pixels_pad<T>(2), true);
    test_world::paint_test_layer(packed_in);
    test_world::paint_test_layer(flipped_in);
    HalfTone_Params a = make_context(packed_in, packed_out);
    HalfTone_Params b = make_context(flipped_in, flipped_out);
    render_frame<T>(&a);
    render_frame<T>(&b);
    EXPECT_EQ(flipped_out.pixels(), packed_out.pixels());
    EXPECT_TRUE(flipped_out.guards_intact());
    EXPECT_TRUE(flipped_in.guards_intact());
}

// The output world is addressed in the source frame: a smaller one receives
// the top-left part of the full render.
TYPED_TEST(FrameRender, SmallerOutputIsTheTopLeftOfTheFullRender)
{
    using T = TypeParam;
    TestWorld<T> in(64, 48, pixels_pad<T>(3)), full(64, 48, pixels_pad<T>(3)), part(40, 30, pixels_pad<T>(3));
    test_world::paint_test_layer(in);
    HalfTone_Params a = make_context(in, full);
    render_frame<T>(&a);
    HalfTone_Params b = make_context(in, part);
    render_frame<T>(&b);
    for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x < 40; ++x)
            for (int ch = 0; ch < 4; ++ch)
                ASSERT_EQ(part.get(x, y, ch), full.get(x, y, ch)) << x << ", " << y;
    EXPECT_TRUE(part.guards_intact());
}

// A larger output than input stays inside both worlds (the sanitizer build
// checks the reads); its pixels past the input are transparent.
TYPED_TEST(FrameRender, LargerOutputStaysInsideBothWorlds)
{
    using T = TypeParam;
    const T w = white<T>();
    TestWorld<T> in(30, 20, pixels_pad<T>(3)), out(45, 33, pixels_pad<T>(3));
    in.fill(w, w, w, w);
    HalfTone_Params c = make_context(in, out);
    render_frame<T>(&c);
    EXPECT_TRUE(out.guards_intact());
    EXPECT_EQ(out.get(10, 10, 0), w);
    EXPECT_EQ(out.get(44, 32, 0), T(0));
}

namespace {

// A monitor that counts the driver's questions and reports, and calls the
// frame off at question `cancel_at` (0: never).
struct CountingMonitor {
    int checks = 0;
    int cancel_at = 0;
    std::vector<int32_t> done;
    int32_t total = -1;

    static bool cancelled(void* self)
    {
        auto* m = static_cast<CountingMonitor*>(self);
        return ++m->checks == m->cancel_at;
    }
    static void progress(void* self, int32_t done, int32_t total)
    {
        auto* m = static_cast<CountingMonitor*>(self);
        m->done.push_back(done);
        m->total = total;
    }
    RenderMonitor every(int64_t pixels) { return RenderMonitor{this, &cancelled, &progress, pixels}; }
};

}  // namespace

// Asked every few hundred pixels of work, a frame runs each stage in many
// chunks of rows: the same pixels as in one go, for the whole layer and for a
// part, and progress rising to its total. Called off in the middle of a stage,
// it stops at once: the whole layer's output holds finished rows or untouched
// ones, a part's output is untouched.
TYPED_TEST(FrameRender, ChunkedFramesMatchAndStopInTheMiddleOfAStage)
{
    using T = TypeParam;
    for (Sampling sampling : {Sampling::bilinear, Sampling::nearest}) {
        for (bool part : {false, true}) {
            SCOPED_TRACE(std::string(sampling == Sampling::bilinear ? "bilinear" : "nearest") +
                         (part ? " part" : " whole"));
            TestWorld<T> in(120, 150);
            test_world::paint_test_layer(in);
            const int32_t out_w = part ? 70 : 120, out_h = part ? 90 : 150;
            TestWorld<T> reference(out_w, out_h);
            HalfTone_Params r = make_context(in, reference);
            r.dot_size = 3.0f;
            r.sampling = sampling;
            if (part) {
                r.out_layer.origin_x = 30;
                r.out_layer.origin_y = 41;
            }
            ASSERT_TRUE(render_frame<T>(&r));

            // The reference frame's context, drawing into another world at the same place.
            auto drawing_into = [&r](TestWorld<T>& world) {
                HalfTone_Params into = r;
                into.out_layer = world.view;
                into.out_layer.origin_x = r.out_layer.origin_x;
                into.out_layer.origin_y = r.out_layer.origin_y;
                return into;
            };
            TestWorld<T> chunked(out_w, out_h);
            HalfTone_Params c = drawing_into(chunked);
            CountingMonitor counted;
            c.monitor = counted.every(2000);
            ASSERT_TRUE(render_frame<T>(&c));
            EXPECT_EQ(chunked.pixels(), reference.pixels());
            ASSERT_GE(counted.checks, 6) << "several chunks a stage";
            ASSERT_EQ(counted.done.size(), static_cast<std::size_t>(counted.checks));
            EXPECT_TRUE(std::is_sorted(counted.done.begin(), counted.done.end()));
            EXPECT_EQ(counted.done.back(), counted.total);

            const std::vector<unsigned char> untouched = TestWorld<T>(out_w, out_h).pixels();
            for (int at : {1, 2, counted.checks / 2, counted.checks - 1, counted.checks}) {
                SCOPED_TRACE("called off at question " + std::to_string(at));
                TestWorld<T> stopped(out_w, out_h);
                HalfTone_Params k = drawing_into(stopped);
                CountingMonitor cancelling;
                cancelling.cancel_at = at;
                k.monitor = cancelling.every(2000);
                EXPECT_FALSE(render_frame<T>(&k));
                EXPECT_EQ(cancelling.checks, at);
                EXPECT_EQ(cancelling.done.size(), static_cast<std::size_t>(at - 1));
                EXPECT_TRUE(stopped.guards_intact());
                if (part) {
                    EXPECT_EQ(stopped.pixels(), untouched);
                    continue;
                }
                const std::size_t row = static_cast<std::size_t>(out_w) * 4 * sizeof(T);
                const std::vector<unsigned char> got = stopped.pixels(), want = reference.pixels();
                int drawn = 0;
                for (int32_t y = 0; y < out_h; ++y) {
                    const bool finished = std::memcmp(&got[y * row], &want[y * row], row) == 0;
                    const bool blank = std::memcmp(&got[y * row], &untouched[y * row], row) == 0;
                    EXPECT_TRUE(finished || blank) << "row " << y;
                    drawn += finished && !blank;
                }
                if (at == counted.checks) {
                    EXPECT_GT(drawn, 0) << "the last chunk of the dots is the one called off";
                }
            }
        }
    }
}

// Either world empty: nothing to draw, and the output is left untouched.
TYPED_TEST(FrameRender, EmptyWorldsLeaveTheOutputUntouched)
{
    using T = TypeParam;
    TestWorld<T> empty(0, 0, pixels_pad<T>(3)), out(16, 16, pixels_pad<T>(3));
    out.fill(T(7), T(7), T(7), T(7));
    HalfTone_Params c = make_context(empty, out);
    render_frame<T>(&c);
    EXPECT_TRUE(all_pixels(out, T(7), T(7), T(7), T(7)));

    TestWorld<T> in(16, 16, pixels_pad<T>(3)), no_rows(16, 0, pixels_pad<T>(3));
    test_world::paint_test_layer(in);
    HalfTone_Params d = make_context(in, no_rows);
    render_frame<T>(&d);
    EXPECT_TRUE(no_rows.guards_intact());

    HalfTone_Params e = make_context(in, out);
    e.in_layer.width = -5;  // nonsense from a broken caller
    render_frame<T>(&e);
    EXPECT_TRUE(all_pixels(out, T(7), T(7), T(7), T(7)));
}

template <typename T>
std::vector<unsigned char> render_context_variant(void (*adjust)(HalfTone_Params&))
{
    TestWorld<T> in(45, 35, pixels_pad<T>(3)), out(45, 35, pixels_pad<T>(3));
    test_world::paint_test_layer(in);
    HalfTone_Params c = make_context(in, out);
    c.dot_size = 6.0f;
    adjust(c);
    render_frame<T>(&c);
    EXPECT_TRUE(out.guards_intact());
    return out.pixels();
}

// Values the host never sends render as their nearest meaningful value.
TYPED_TEST(FrameRender, OutOfRangeParametersRenderAsTheirValidNeighbour)
{
    using T = TypeParam;
    const auto dot_one = render_context_variant<T>([](HalfTone_Params& c) { c.dot_size = 1.0f; });
    EXPECT_EQ(render_context_variant<T>([](HalfTone_Params& c) { c.dot_size = 0.0f; }), dot_one);
    EXPECT_EQ(render_context_variant<T>([](HalfTone_Params& c) { c.dot_size = -4.0f; }), dot_one);
    EXPECT_EQ(
        render_context_variant<T>([](HalfTone_Params& c) { c.dot_size = std::numeric_limits<float>::quiet_NaN(); }),
        dot_one);

    const auto full_res = render_context_variant<T>([](HalfTone_Params&) {});
    EXPECT_EQ(render_context_variant<T>([](HalfTone_Params& c) { c.downsample_x = {1, 0}; }), full_res);
    EXPECT_EQ(render_context_variant<T>([](HalfTone_Params& c) { c.downsample_y = {-2, 1}; }), full_res);
    EXPECT_EQ(render_context_variant<T>([](HalfTone_Params& c) { c.downsample_x = {0, 3}; }), full_res);

    // The default render is Circle; unknown shapes draw the same.
    EXPECT_EQ(render_context_variant<T>([](HalfTone_Params& c) { c.shape = static_cast<Shape>(0); }), full_res);
    EXPECT_EQ(render_context_variant<T>([](HalfTone_Params& c) { c.shape = static_cast<Shape>(9); }), full_res);
    // Sampling other than 1 is Nearest.
    const auto nearest = render_context_variant<T>([](HalfTone_Params& c) { c.sampling = Sampling::nearest; });
    EXPECT_EQ(render_context_variant<T>([](HalfTone_Params& c) { c.sampling = static_cast<Sampling>(0); }), nearest);
    EXPECT_NE(nearest, full_res);
}

// A geometry whose grid no buffer can hold is refused before anything is
// written, as any allocation failure is.
TYPED_TEST(FrameRender, AbsurdGeometryRaisesMemoryExceptionAndWritesNothing)
{
    using T = TypeParam;
    TestWorld<T> in(20, 20, pixels_pad<T>(3)), out(20, 20, pixels_pad<T>(3));
    test_world::paint_test_layer(in);
    out.fill(T(3), T(3), T(3), T(3));
    HalfTone_Params tiny_scale = make_context(in, out);
    tiny_scale.downsample_x = {1, 4000000000u};  // one pixel is 4e9 layer pixels
    EXPECT_THROW(render_frame<T>(&tiny_scale), memory_exception);
    HalfTone_Params tiny_both = make_context(in, out);
    tiny_both.downsample_x = {1, 100000u};
    tiny_both.downsample_y = {1, 100000u};  // 2e6 x 2e6 cells
    EXPECT_THROW(render_frame<T>(&tiny_both), memory_exception);
    EXPECT_TRUE(all_pixels(out, T(3), T(3), T(3), T(3)));

    // An Offset near the float range loses the layer in rounding but still
    // renders inside the world.
    HalfTone_Params far_offset = make_context(in, out);
    far_offset.offset_x = 3e37f;
    far_offset.dot_size = 1.0f;
    render_frame<T>(&far_offset);
    EXPECT_TRUE(out.guards_intact());
}

// Not-a-number and infinite float pixels neither crash nor leak outside the
// output world, on any path.
TEST(FrameRenderFloat, NonFinitePixelsStayInsideTheWorld)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (int32_t shape : {1, 2, 3})
        for (int32_t sampling : {1, 2}) {
            TestWorld<float> in(36, 28, pixels_pad<float>(3)), out(36, 28, pixels_pad<float>(3));
            test_world::paint_test_layer(in);
            for (int32_t x = 0; x < 36; ++x) {
                in.set(x, 3, nan, nan, 0.5f, 0.5f);
                in.set(x, 10, 1.0f, inf, -inf, inf);
                in.set(x, 17, inf, 0.0f, 0.0f, 0.0f);
            }
            HalfTone_Params c = make_context(in, out);
            c.dot_size = 5.0f;
            c.shape = shape_from_popup(shape);
            c.sampling = sampling_from_popup(sampling);
            render_frame<float>(&c);
            EXPECT_TRUE(out.guards_intact());
            // Rows far from the damaged ones are ordinary pixels.
            EXPECT_FALSE(std::isnan(out.get(2, 27, 1)));
        }
}

// Sanitizers take over malloc, and glibc's statistics then see nothing.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define RUVIVEDU_SANITIZED_HEAP 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define RUVIVEDU_SANITIZED_HEAP 1
#endif

#if defined(__GLIBC__) && !defined(RUVIVEDU_SANITIZED_HEAP)
// When the cell grid cannot be had, the box image allocated before it is
// released. An 8000 x 2000 input at a horizontal downsample of 1/8 and DotSize
// 1 has a box image of 64002 x 2002 cells (1 GB, mapped, never touched: the
// failure comes before the first stage reads the input); turned by 45 degrees
// its cell grid would have more than 2^31 cells.
TEST(FrameRenderAllocation, ImagesAlreadyAllocatedAreReleasedOnFailure)
{
    std::vector<float> pixel(4, 1.0f);
    HalfTone_Params c{};
    c.in_layer.data = reinterpret_cast<char*>(pixel.data());
    c.in_layer.rowbytes = 16;
    c.in_layer.width = 8000;
    c.in_layer.height = 2000;
    c.in_layer.num_channels = 4;
    c.out_layer = c.in_layer;
    c.downsample_x = {1, 8};
    c.downsample_y = {1, 1};
    c.dot_size = 1.0f;
    c.rotation = 45.0f;
    c.shape = Shape::circle;
    c.sampling = Sampling::bilinear;
    const std::size_t mapped_before = mallinfo2().hblkhd;
    {
        // The measure sees an image of that size.
        Image<float> box(nullptr, 64002, 2002, 2);
        EXPECT_GE(mallinfo2().hblkhd, mapped_before + std::size_t{1025000000});
    }
    release_kept_image_memory();
    try {
        render_frame<float>(&c);
        FAIL() << "an unrepresentable cell grid must raise memory_exception";
    } catch (const memory_exception&) {
    }
    EXPECT_EQ(mallinfo2().hblkhd, mapped_before);
}
#endif

}  // namespace
