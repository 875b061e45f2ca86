// The frei0r filter through its exported functions: what it tells a host, its
// parameters and their mapping to the effect's stored values, and its frames
// against the plug-in's.
#include "frei0r_module.h"

#include "frei0r_params.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>

using frei0r_test::Frame;
using frei0r_test::module;
using frei0r_test::Values;
namespace f0r = ruvivedu::frei0r;

namespace {

constexpr PF_Fixed fixed(double value)
{
    return PF_Fixed(value * 65536.0);
}

/// Stored values of the effect, field by field, for comparisons.
std::string describe(const ruvivedu::EffectValues& v)
{
    return "shape " + std::to_string(v.shape) + ", dot size " + std::to_string(v.dot_size) + ", rotation " +
           std::to_string(v.rotation) + ", offset " + std::to_string(v.offset_x) + "/" + std::to_string(v.offset_y) +
           ", alpha " + std::to_string(v.alpha) + ", sampling " + std::to_string(v.sampling);
}

f0r::Frei0rValues with(int index, double value)
{
    f0r::Frei0rValues values = f0r::default_values();
    f0r::set_value(values, index, &value);
    return values;
}

}  // namespace

TEST(Frei0rModule, DescribesAnRgbaFilterWithSixParameters)
{
    f0r_plugin_info_t info{};
    module().get_plugin_info(&info);
    EXPECT_STREQ(info.name, "k's Ruvivedu");
    EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
    EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_RGBA8888);
    EXPECT_EQ(info.frei0r_version, FREI0R_MAJOR_VERSION);
    EXPECT_EQ(info.major_version, 1);
    EXPECT_EQ(info.minor_version, 5);
    EXPECT_EQ(info.num_params, 6);
    ASSERT_NE(info.author, nullptr);
    ASSERT_NE(info.explanation, nullptr);

    // ffmpeg passes values by position and MLT by name: both are fixed.
    const struct {
        const char* name;
        int type;
        const char* range;  ///< the explanation must state it
    } expected[] = {
        {"shape", F0R_PARAM_DOUBLE, "0 circle, 0.5 square, 1 line"},
        {"dot size", F0R_PARAM_DOUBLE, "0.001 to 1 is 1 to 1000 pixels"},
        {"rotation", F0R_PARAM_DOUBLE, "0 to 1 is 0 to 360 degrees"},
        {"offset", F0R_PARAM_POSITION, "default 0.5/0.5, the centre"},
        {"alpha", F0R_PARAM_BOOL, "transparent paper"},
        {"sampling", F0R_PARAM_DOUBLE, "0 bilinear, 1 nearest"},
    };
    for (int i = 0; i < 6; ++i) {
        f0r_param_info_t param{};
        module().get_param_info(&param, i);
        SCOPED_TRACE(expected[i].name);
        EXPECT_STREQ(param.name, expected[i].name);
        EXPECT_EQ(param.type, expected[i].type);
        ASSERT_NE(param.explanation, nullptr);
        EXPECT_NE(std::string(param.explanation).find(expected[i].range), std::string::npos) << param.explanation;
    }
    // An index the filter does not have leaves the host's record alone.
    for (int index : {-1, 6, 1000}) {
        f0r_param_info_t untouched{"host", 77, "host"};
        module().get_param_info(&untouched, index);
        EXPECT_STREQ(untouched.name, "host");
        EXPECT_EQ(untouched.type, 77);
    }
}

TEST(Frei0rParams, DefaultsAreTheEffectsDefaults)
{
    // On a 640 x 360 frame: Circle, DotSize 32.0, Rotation 45.0, Offset at
    // the centre (320, 180), Alpha off, BiLinear.
    const ruvivedu::EffectValues v = f0r::effect_values(f0r::default_values(), 640, 360);
    EXPECT_EQ(v.shape, 1);
    EXPECT_EQ(v.dot_size, 0x00200000);
    EXPECT_EQ(v.rotation, 0x002D0000);
    EXPECT_EQ(v.offset_x, 320 << 16);
    EXPECT_EQ(v.offset_y, 180 << 16);
    EXPECT_EQ(v.alpha, 0);
    EXPECT_EQ(v.sampling, 1);

    // A new instance holds them, and a host that reads them and sets them
    // again (as MLT does with what it shows) changes nothing.
    f0r_instance_t instance = module().construct(640, 360);
    ASSERT_NE(instance, nullptr);
    double shape = -1, dot_size = -1, rotation = -1, alpha = -1, sampling = -1;
    f0r_param_position_t offset{-1, -1};
    module().get_param_value(instance, &shape, 0);
    module().get_param_value(instance, &dot_size, 1);
    module().get_param_value(instance, &rotation, 2);
    module().get_param_value(instance, &offset, 3);
    module().get_param_value(instance, &alpha, 4);
    module().get_param_value(instance, &sampling, 5);
    module().destruct(instance);
    EXPECT_EQ(shape, 0.0);
    EXPECT_EQ(dot_size, 0.032);
    EXPECT_EQ(rotation, 0.125);
    EXPECT_EQ(offset.x, 0.5);
    EXPECT_EQ(offset.y, 0.5);
    EXPECT_EQ(alpha, 0.0);
    EXPECT_EQ(sampling, 0.0);

    f0r::Frei0rValues again = f0r::default_values();
    f0r::set_value(again, f0r::kParamDotSize, &dot_size);
    f0r::set_value(again, f0r::kParamRotation, &rotation);
    f0r::set_value(again, f0r::kParamOffset, &offset);
    EXPECT_EQ(describe(f0r::effect_values(again, 640, 360)), describe(v));
}

TEST(Frei0rParams, ChoicesTakeTheNearestEntryAndValuesStayInTheirRanges)
{
    // Shape: three entries at 0, 0.5 and 1; halfway goes to the later one.
    const std::pair<double, int32_t> shapes[] = {{0.0, 1},  {0.24, 1}, {0.25, 2}, {0.5, 2}, {0.74, 2},
                                                 {0.75, 3}, {1.0, 3},  {-3.0, 1}, {7.0, 3}};
    for (const auto& [value, shape] : shapes)
        EXPECT_EQ(f0r::effect_values(with(f0r::kParamShape, value), 64, 64).shape, shape) << value;
    const std::pair<double, int32_t> samplings[] = {{0.0, 1}, {0.49, 1}, {0.5, 2}, {1.0, 2}, {-1.0, 1}, {9.0, 2}};
    for (const auto& [value, sampling] : samplings)
        EXPECT_EQ(f0r::effect_values(with(f0r::kParamSampling, value), 64, 64).sampling, sampling) << value;
    // frei0r's boolean: on from 0.5.
    EXPECT_EQ(f0r::effect_values(with(f0r::kParamAlpha, 0.49), 64, 64).alpha, 0);
    EXPECT_EQ(f0r::effect_values(with(f0r::kParamAlpha, 0.5), 64, 64).alpha, 1);
    EXPECT_EQ(f0r::effect_values(with(f0r::kParamAlpha, 3.0), 64, 64).alpha, 1);

    // The dot size is DotSize / 1000: 0.0125 is 12.5 pixels; below 0.001 it
    // is the effect's smallest DotSize, 1 pixel, and beyond 1 its largest.
    EXPECT_EQ(f0r::effect_values(with(f0r::kParamDotSize, 0.0125), 64, 64).dot_size, fixed(12.5));
    EXPECT_EQ(f0r::effect_values(with(f0r::kParamDotSize, 0.0), 64, 64).dot_size, fixed(1.0));
    EXPECT_EQ(f0r::effect_values(with(f0r::kParamDotSize, -5.0), 64, 64).dot_size, fixed(1.0));
    EXPECT_EQ(f0r::effect_values(with(f0r::kParamDotSize, 2.0), 64, 64).dot_size, fixed(1000.0));
    // Rotation in turns, 0 to 1.
    EXPECT_EQ(f0r::effect_values(with(f0r::kParamRotation, 0.25), 64, 64).rotation, fixed(90.0));
    EXPECT_EQ(f0r::effect_values(with(f0r::kParamRotation, -1.0), 64, 64).rotation, 0);
    EXPECT_EQ(f0r::effect_values(with(f0r::kParamRotation, 1.5), 64, 64).rotation, fixed(360.0));
    // 0.1 turn is 36.000000000000001 degrees in doubles, stored as 36.0.
    EXPECT_EQ(f0r::effect_values(with(f0r::kParamRotation, 0.1), 64, 64).rotation, fixed(36.0));

    // The offset in pixels of this frame, and off the frame as the effect
    // allows; beyond what 16.16 fixed holds it stops at its limits.
    f0r::Frei0rValues values = f0r::default_values();
    f0r_param_position_t point{0.25, 1.5};
    f0r::set_value(values, f0r::kParamOffset, &point);
    ruvivedu::EffectValues v = f0r::effect_values(values, 200, 100);
    EXPECT_EQ(v.offset_x, fixed(50.0));
    EXPECT_EQ(v.offset_y, fixed(150.0));
    // 0.3 x 317 = 95.1 pixels, stored as round(95.1 x 65536) = 6232474.
    point = {0.3, -2.0};
    f0r::set_value(values, f0r::kParamOffset, &point);
    v = f0r::effect_values(values, 317, 100);
    EXPECT_EQ(v.offset_x, 6232474);
    EXPECT_EQ(v.offset_y, fixed(-200.0));
    point = {1e9, -1e9};
    f0r::set_value(values, f0r::kParamOffset, &point);
    v = f0r::effect_values(values, 64, 64);
    EXPECT_EQ(v.offset_x, std::numeric_limits<int32_t>::max());
    EXPECT_EQ(v.offset_y, std::numeric_limits<int32_t>::min());
}

TEST(Frei0rParams, ANumberThatIsNoNumberLeavesTheParameterAsItWas)
{
    // ffmpeg parses values with strtod, which takes "nan" and "-inf".
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const ruvivedu::EffectValues defaults = f0r::effect_values(f0r::default_values(), 64, 48);
    for (int index : {0, 1, 2, 4, 5}) {
        for (double value : {nan, inf, -inf}) {
            SCOPED_TRACE("parameter " + std::to_string(index) + " = " + std::to_string(value));
            EXPECT_EQ(describe(f0r::effect_values(with(index, value), 64, 48)), describe(defaults));
        }
    }
    // The offset takes its coordinates one by one.
    f0r::Frei0rValues values = f0r::default_values();
    f0r_param_position_t point{nan, 0.25};
    f0r::set_value(values, f0r::kParamOffset, &point);
    EXPECT_EQ(values.offset_x, 0.5);
    EXPECT_EQ(values.offset_y, 0.25);
    point = {-inf, inf};
    f0r::set_value(values, f0r::kParamOffset, &point);
    EXPECT_EQ(values.offset_x, 0.5);
    EXPECT_EQ(values.offset_y, 0.25);

    // Unknown indices and null pointers are ignored, also through the module.
    const f0r::Frei0rValues before = values;
    double one = 1.0;
    f0r::set_value(values, 6, &one);
    f0r::set_value(values, -1, &one);
    f0r::set_value(values, 0, nullptr);
    f0r::get_value(values, 0, nullptr);
    EXPECT_EQ(std::memcmp(&before, &values, sizeof values), 0);
    f0r_instance_t instance = module().construct(16, 16);
    ASSERT_NE(instance, nullptr);
    module().set_param_value(instance, &one, 99);
    module().set_param_value(instance, nullptr, 1);
    double out = 42.0;
    module().get_param_value(instance, &out, 99);
    EXPECT_EQ(out, 42.0);
    module().destruct(instance);
}

TEST(Frei0rFilter, EqualsThePlugInByteForByte)
{
    // A frame whose sides are not multiples of 8: frei0r asks hosts for
    // those, ffmpeg and MLT send any size. The values on both sides: dot
    // size 0.016 is 16 pixels, rotation 0.125 is 45 degrees, the offset
    // (0.25, 0.5) of 61 x 37 is (15.25, 18.5) pixels.
    const unsigned width = 61, height = 37;
    int compared = 0;
    for (int shape = 0; shape < 3; ++shape) {
        for (int sampling = 0; sampling < 2; ++sampling) {
            for (bool alpha : {false, true}) {
                const unsigned seed = unsigned(compared);
                Values values;
                values.shape = shape * 0.5;
                values.sampling = sampling;
                values.alpha = alpha;
                robust::Settings settings;
                settings.shape = 1 + shape;
                settings.dot_size = fixed(16.0);
                settings.rotation = fixed(45.0);
                settings.offset_x = fixed(15.25);
                settings.offset_y = fixed(18.5);
                settings.alpha = alpha;
                settings.sampling = 1 + sampling;
                SCOPED_TRACE("shape " + std::to_string(shape) + ", sampling " + std::to_string(sampling) + ", alpha " +
                             std::to_string(alpha));
                const Frame filtered = frei0r_test::render_filter(frei0r_test::test_frame(width, height, seed), values);
                const Frame plugin = frei0r_test::render_plugin(width, height, seed, settings);
                ASSERT_FALSE(plugin.pixels.empty());
                EXPECT_EQ(filtered.pixels, plugin.pixels);
                ++compared;
            }
        }
    }

    // Geometries of their own: a small cell (the per-pixel walk), a large
    // turned one, DotSize 1, a point off the frame. The offsets as the host
    // stores the pixels typed: the nearest 16.16 value (0.1 x 61 = 6.1 is
    // not a whole one).
    auto stored_offset = [](double fraction, unsigned side) {
        return PF_Fixed(std::llround(fraction * side * 65536.0));
    };
    struct Case {
        Values values;
        robust::Settings settings;
    } cases[] = {
        {{0.5, 0.0045, 0.3, 0.1, 0.9, false, 1.0}, {2, fixed(4.5), fixed(108.0), 0, 0, 0, 2}},
        {{1.0, 0.2, 0.95, 0.5, 0.5, true, 0.0}, {3, fixed(200.0), fixed(342.0), 0, 0, 1, 1}},
        {{0.0, 0.001, 0.0, 0.5, 0.5, false, 0.0}, {1, fixed(1.0), 0, 0, 0, 0, 1}},
        {{0.0, 0.03, 0.625, -0.5, 1.25, false, 0.0}, {1, fixed(30.0), fixed(225.0), 0, 0, 0, 1}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE("case with dot size " + std::to_string(c.values.dot_size));
        c.settings.offset_x = stored_offset(c.values.offset_x, width);
        c.settings.offset_y = stored_offset(c.values.offset_y, height);
        const Frame filtered = frei0r_test::render_filter(frei0r_test::test_frame(width, height, 7), c.values);
        const Frame plugin = frei0r_test::render_plugin(width, height, 7, c.settings);
        ASSERT_FALSE(plugin.pixels.empty());
        EXPECT_EQ(filtered.pixels, plugin.pixels);
    }
}

TEST(Frei0rFilter, WritesEveryOutputPixelAndLeavesTheInputAlone)
{
    // Hosts hand over output buffers as they find them; the frame must not
    // depend on what they held. Some hosts filter in place.
    const Frame in = frei0r_test::test_frame(40, 24, 3);
    const Frame before = in;
    f0r_instance_t instance = module().construct(40, 24);
    ASSERT_NE(instance, nullptr);
    frei0r_test::set_values(instance, Values{});
    std::vector<uint32_t> zeros(in.pixels.size(), 0u), ones(in.pixels.size(), ~0u);
    module().update(instance, 0.0, in.pixels.data(), zeros.data());
    module().update(instance, 1.0, in.pixels.data(), ones.data());
    EXPECT_EQ(zeros, ones);
    EXPECT_EQ(in.pixels, before.pixels);

    std::vector<uint32_t> in_place = in.pixels;
    module().update(instance, 2.0, in_place.data(), in_place.data());
    EXPECT_EQ(in_place, zeros);

    // f0r_update2, which MLT may call, gives the same frame.
    std::vector<uint32_t> second(in.pixels.size(), 0x12345678u);
    module().update2(instance, 3.0, in.pixels.data(), nullptr, nullptr, second.data());
    EXPECT_EQ(second, zeros);
    module().destruct(instance);
}

TEST(Frei0rFilter, InstancesKeepTheirOwnSizeAndValues)
{
    // Two instances used in turn, as a host with two filters in one graph
    // uses them: each frame equals the one its instance renders alone.
    const Frame a_in = frei0r_test::test_frame(48, 32, 1), b_in = frei0r_test::test_frame(29, 53, 2);
    Values a_values, b_values;
    b_values.shape = 1.0;
    b_values.dot_size = 0.009;
    b_values.rotation = 0.6;
    b_values.alpha = true;
    const Frame a_alone = frei0r_test::render_filter(a_in, a_values);
    const Frame b_alone = frei0r_test::render_filter(b_in, b_values);
    ASSERT_NE(a_alone.pixels, std::vector<uint32_t>(a_alone.pixels.size(), 0xA5A5A5A5u));

    f0r_instance_t a = module().construct(48, 32), b = module().construct(29, 53);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    frei0r_test::set_values(a, a_values);
    frei0r_test::set_values(b, b_values);
    for (int round = 0; round < 2; ++round) {
        std::vector<uint32_t> a_out(a_in.pixels.size()), b_out(b_in.pixels.size());
        module().update(a, round, a_in.pixels.data(), a_out.data());
        module().update(b, round, b_in.pixels.data(), b_out.data());
        EXPECT_EQ(a_out, a_alone.pixels) << "round " << round;
        EXPECT_EQ(b_out, b_alone.pixels) << "round " << round;
    }
    module().destruct(b);
    // ffmpeg calls f0r_deinit and f0r_init again as each of its filters
    // closes and opens, while others go on.
    module().deinit();
    ASSERT_EQ(module().init(), 1);
    std::vector<uint32_t> a_out(a_in.pixels.size());
    module().update(a, 2.0, a_in.pixels.data(), a_out.data());
    EXPECT_EQ(a_out, a_alone.pixels);
    module().destruct(a);
}

TEST(Frei0rModule, RefusesFramesItCannotAddressAndIgnoresMissingBuffers)
{
    EXPECT_EQ(module().construct(0, 16), nullptr);
    EXPECT_EQ(module().construct(16, 0), nullptr);
    // A row of 2^31 / 4 pixels is beyond the effect's 32-bit row bytes.
    EXPECT_EQ(module().construct(0x20000000u, 1), nullptr);

    // Hosts that lose a buffer must not take the process down with them.
    f0r_instance_t instance = module().construct(8, 8);
    ASSERT_NE(instance, nullptr);
    std::vector<uint32_t> frame(64, 0x11223344u);
    module().update(instance, 0.0, nullptr, frame.data());
    module().update(instance, 0.0, frame.data(), nullptr);
    module().update(nullptr, 0.0, frame.data(), frame.data());
    EXPECT_EQ(frame, std::vector<uint32_t>(64, 0x11223344u));
    module().destruct(instance);
    module().destruct(nullptr);
    module().get_plugin_info(nullptr);
    module().get_param_info(nullptr, 0);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define RUVIVEDU_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define RUVIVEDU_SANITIZED 1
#endif
#endif

namespace {

std::uint64_t address_space_in_use()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmSize:", 0) == 0)
            return std::stoull(line.substr(7)) * 1024;
    }
    return 0;
}

}  // namespace

TEST(Frei0rFilter, AFrameWithoutMemoryPassesThroughUnchanged)
{
#ifdef RUVIVEDU_SANITIZED
    GTEST_SKIP() << "the sanitizers' shadow memory does not live under a capped address space";
#else
    // A 2048 x 2048 frame (the largest frei0r names) at DotSize 1 has a box
    // image and a cell grid of over 32 MiB each; the address space is capped
    // 16 MiB above what the process holds once its instance and a first frame
    // (which starts the worker threads) are there.
    const Frame in = frei0r_test::test_frame(2048, 2048, 5);
    f0r_instance_t instance = module().construct(2048, 2048);
    ASSERT_NE(instance, nullptr);
    Values one_pixel_cells;
    one_pixel_cells.dot_size = 0.001;
    frei0r_test::set_values(instance, one_pixel_cells);
    std::vector<uint32_t> out(in.pixels.size(), 0u);
    module().update(instance, 0.0, in.pixels.data(), out.data());
    ASSERT_NE(out, in.pixels);
    // The memory the first frame kept for the next one goes, so the second
    // must ask the system.
    module().deinit();
    ASSERT_EQ(module().init(), 1);
    std::fill(out.begin(), out.end(), 0u);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
    rlimit capped = saved;
    capped.rlim_cur = address_space_in_use() + (16u << 20);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &capped), 0);
    module().update(instance, 1.0, in.pixels.data(), out.data());
    ASSERT_EQ(setrlimit(RLIMIT_AS, &saved), 0);
    module().destruct(instance);
    EXPECT_EQ(out, in.pixels);
#endif
}
