// The largest frames: a 30000 x 30000 8-bit layer, and a float frame whose
// intermediate images pass 4 GiB. Either render completes and matches crops
// rendered alone, or it answers PF_Err_OUT_OF_MEMORY with the output untouched.
// Memory use is printed. Not part of the default test run (about 12 GB and a
// few minutes); `./dev test --large` runs this binary.
#include "robust_util.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

using namespace ruvivedu::host;

namespace {

constexpr double kGB = 1e9;

/// A field of /proc/meminfo or /proc/self/status, in bytes (the files count kB).
std::uint64_t proc_field(const char* file, const char* key)
{
    std::ifstream in(file);
    const std::string prefix = std::string(key) + ":";
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            return std::strtoull(line.c_str() + prefix.size(), nullptr, 10) * 1024;
    }
    return 0;
}

std::uint64_t mem_available()
{
    return proc_field("/proc/meminfo", "MemAvailable");
}

/// Starts a fresh peak-RSS count for this process.
void reset_peak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

std::uint64_t peak_rss()
{
    return proc_field("/proc/self/status", "VmHWM");
}

/// Skips the test when the machine cannot hold `need` bytes right now: a
/// render the kernel would have to kill is no test of the plug-in.
#define REQUIRE_MEMORY(need)                                                                                       \
    do {                                                                                                           \
        const std::uint64_t available = mem_available();                                                           \
        std::printf("memory: needs %.1f GB, MemAvailable %.1f GB\n", double(need) / kGB, double(available) / kGB); \
        if (available < (need))                                                                                    \
            GTEST_SKIP() << "needs " << double(need) / kGB << " GB, only " << double(available) / kGB              \
                         << " GB available";                                                                       \
    } while (0)

/// Fills a large world row by row with a picture cheap to make and to recompute:
/// a diagonal ramp with a fine hash texture, and a transparent band.
void paint(World& w)
{
    const bool f32 = w.depth() == Depth::f32;
    for (A_long y = 0; y < w.height(); ++y) {
        unsigned char* row = w.row(y);
        for (A_long x = 0; x < w.width(); ++x) {
            const unsigned ramp = (unsigned(x) / 97u + unsigned(y) / 89u) & 255u;
            const unsigned hash = ((unsigned(x) * 2654435761u) ^ (unsigned(y) * 40503u)) >> 27;
            const unsigned v = (ramp + hash) & 255u;
            const unsigned a = (y % 4096) < 200 ? 0u : 255u;
            if (f32) {
                const PF_PixelFloat p{a / 255.0f, v / 255.0f, (255 - v) / 255.0f, (v / 2) / 255.0f};
                std::memcpy(row + std::size_t(x) * sizeof p, &p, sizeof p);
            } else {
                const PF_Pixel8 p{A_u_char(a), A_u_char(v), A_u_char(255 - v), A_u_char(v / 2)};
                std::memcpy(row + std::size_t(x) * sizeof p, &p, sizeof p);
            }
        }
    }
}

/// A copy of the w x h block of `big` at (x0, y0).
World crop(const World& big, A_long x0, A_long y0, A_long w, A_long h)
{
    World c(big.depth(), w, h);
    const std::size_t px = bytes_per_pixel(big.depth());
    for (A_long y = 0; y < h; ++y)
        std::memcpy(c.row(y), big.row(y0 + y) + std::size_t(x0) * px, std::size_t(w) * px);
    return c;
}

/// True when `inner` (the crop's render) equals `big` (the whole render) on the
/// crop's interior, `margin` pixels in from each side: nearer the crop's edge
/// the cells see pixels the crop does not have.
::testing::AssertionResult interior_matches(const World& big, const World& inner, A_long x0, A_long y0, A_long margin)
{
    const std::size_t px = bytes_per_pixel(big.depth());
    for (A_long y = margin; y < inner.height() - margin; ++y) {
        const unsigned char* a = big.row(y0 + y) + std::size_t(x0 + margin) * px;
        const unsigned char* b = inner.row(y) + std::size_t(margin) * px;
        const std::size_t n = std::size_t(inner.width() - 2 * margin) * px;
        if (std::memcmp(a, b, n) != 0)
            return ::testing::AssertionFailure()
                   << "row " << y0 + y << " differs from the crop at (" << x0 << ", " << y0 << ")";
    }
    return ::testing::AssertionSuccess();
}

bool all_zero(const World& w)
{
    const std::size_t n = std::size_t(w.width()) * bytes_per_pixel(w.depth());
    for (A_long y = 0; y < w.height(); ++y) {
        const unsigned char* r = w.row(y);
        if (r[0] != 0 || std::memcmp(r, r + 1, n - 1) != 0)
            return false;
    }
    return true;
}

struct Frame {
    Depth depth;
    A_long width, height;
    PF_RationalScale downsample;
    robust::Settings settings;
};

/// Pre-render and render on `host`, timed; prints time and peak memory.
PF_Err render_timed(SubstituteHost& host, const Frame& f, const char* what)
{
    host.in_data().downsample_x = f.downsample;
    host.in_data().downsample_y = f.downsample;
    EXPECT_EQ(host.setup_effect(), PF_Err_NONE);
    robust::apply(host, f.settings);
    const auto start = std::chrono::steady_clock::now();
    PF_Err err = host.smart_pre_render();
    if (err == PF_Err_NONE)
        err = host.smart_render();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: result %d in %.1f s, peak resident %.2f GB\n", what, int(err), seconds, double(peak_rss()) / kGB);
    return err;
}

/// Renders `f` whole, then checks crops at the top left, the middle and the
/// bottom right (where row offsets pass 2^31 bytes) against renders of the
/// crop alone. Rotation 0 and power-of-two cell sizes keep every position
/// exact in float, so the interiors must match bit for bit.
void render_and_spot_check(const Frame& f, A_long crop_size, A_long margin, A_long align)
{
    reset_peak();
    SubstituteHost host(robust::plugin_module());
    World& in = host.set_input(World(f.depth, f.width, f.height));
    paint(in);
    host.set_output(World(f.depth, f.width, f.height));
    const PF_Err err = render_timed(host, f, "whole frame");
    ASSERT_TRUE(host.input()->guards_intact() && host.output()->guards_intact());
    EXPECT_TRUE(host.errors().empty()) << host.errors().front();
    if (err == PF_Err_OUT_OF_MEMORY) {
        EXPECT_TRUE(all_zero(*host.output())) << "an out-of-memory render writes no pixel";
        std::printf("whole frame: out of memory, answered cleanly\n");
        return;
    }
    ASSERT_EQ(err, PF_Err_NONE);
    ASSERT_FALSE(all_zero(*host.output()));

    const A_long far_x = (f.width - crop_size) / align * align;
    const A_long far_y = (f.height - crop_size) / align * align;
    const A_long points[3][2] = {{0, 0}, {far_x / 2 / align * align, far_y / 2 / align * align}, {far_x, far_y}};
    for (const auto& p : points) {
        SubstituteHost part(robust::plugin_module());
        part.set_input(crop(*host.input(), p[0], p[1], crop_size, crop_size));
        part.set_output(World(f.depth, crop_size, crop_size));
        Frame shifted = f;
        // The crop's pixel (x, y) is the frame's (x + x0, y + y0): moving the
        // Offset by the same amount puts the lattice where it was.
        shifted.settings.offset_x -= p[0] << 16;
        shifted.settings.offset_y -= p[1] << 16;
        part.in_data().downsample_x = f.downsample;
        part.in_data().downsample_y = f.downsample;
        ASSERT_EQ(part.setup_effect(), PF_Err_NONE);
        robust::apply(part, shifted.settings);
        ASSERT_EQ(part.smart_pre_render(), PF_Err_NONE);
        ASSERT_EQ(part.smart_render(), PF_Err_NONE);
        EXPECT_TRUE(interior_matches(*host.output(), *part.output(), p[0], p[1], margin));
    }
}

}  // namespace

TEST(LargeFrames, EightBit30000Square)
{
    // Input and output worlds 3.6 GB each; at DotSize 32 the box image and the
    // cell grid take some 15 MB, and the crops' worlds little more.
    const std::uint64_t pixels = 30000ull * 30000ull;
    REQUIRE_MEMORY(pixels * (4 + 4) + 1'000'000'000ull);
    Frame f{Depth::u8, 30000, 30000, {1, 1}, {}};
    f.settings.dot_size = 32 << 16;
    f.settings.rotation = 0;
    f.settings.offset_x = 16 << 16;
    f.settings.offset_y = 16 << 16;
    render_and_spot_check(f, 512, 96, 32);
}

TEST(LargeFrames, FloatFrameWithImagesBeyondFourGiB)
{
    // A 12000 x 12000 float frame at half resolution and DotSize 1: each cell
    // is half a pixel, so the box image is 24002 x 24002 x 2 floats = 4.6 GB and
    // the cell grid 2.3 GB. Worlds 2.3 GB each.
    REQUIRE_MEMORY(12'500'000'000ull);
    Frame f{Depth::f32, 12000, 12000, {1, 2}, {}};
    f.settings.dot_size = 1 << 16;
    f.settings.rotation = 0;
    f.settings.offset_x = 8 << 16;
    f.settings.offset_y = 8 << 16;
    render_and_spot_check(f, 256, 16, 16);
}

TEST(LargeFrames, ShortMemoryIsOutOfMemoryNotACrash)
{
    // The 30000 x 30000 worlds fit, the plug-in's 7.2 GB box image of DotSize 1
    // does not: the address space is capped a little above what the process
    // holds.
    REQUIRE_MEMORY(30000ull * 30000ull * 8 + 1'000'000'000ull);
    SubstituteHost host(robust::plugin_module());
    World& in = host.set_input(World(Depth::u8, 30000, 30000));
    paint(in);
    host.set_output(World(Depth::u8, 30000, 30000));
    ASSERT_EQ(host.setup_effect(), PF_Err_NONE);
    host.set_dot_size(1 << 16);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
    const std::uint64_t in_use = proc_field("/proc/self/status", "VmSize");
    rlimit capped = saved;
    capped.rlim_cur = in_use + 2'000'000'000ull;
    ASSERT_EQ(setrlimit(RLIMIT_AS, &capped), 0);
    const PF_Err err = host.smart_render();
    ASSERT_EQ(setrlimit(RLIMIT_AS, &saved), 0);

    std::printf("capped at %.1f GB of address space: result %d\n", double(capped.rlim_cur) / kGB, int(err));
    EXPECT_EQ(err, PF_Err_OUT_OF_MEMORY);
    EXPECT_TRUE(all_zero(*host.output()));
    EXPECT_TRUE(host.output()->guards_intact());
    EXPECT_TRUE(host.errors().empty()) << host.errors().front() << " (check-ins and release are still made)";
}
