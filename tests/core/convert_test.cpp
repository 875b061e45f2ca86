// Pixel conversion: host worlds of each depth to the source image and back.
#include <cmath>
#include <limits>

#include "pipeline/convert.h"
#include "pixel_test_util.h"

using namespace ruvivedu;

namespace {

using namespace pixel_test;

template <typename T>
class ConvertTest : public ::testing::Test {};
TYPED_TEST_SUITE(ConvertTest, ComponentTypes);

/// Luminance of full red (R = white, G = B = 0) per depth.
template <typename T>
float red_luminance();
// 255 * 0.298912 = 76.22256, truncated to 76.
template <>
float red_luminance<unsigned char>()
{
    return 76.0f / 255.0f;
}
// 32768 * 0.298912 = 9794.748, truncated to 9794.
template <>
float red_luminance<unsigned short>()
{
    return 9794.0f / 32768.0f;
}
// 1 * 0.298912, not rounded.
template <>
float red_luminance<float>()
{
    return 0.298912f;
}

/// Source image of a w x h world, converted over all rows.
template <typename T>
void convert_all(TestWorld<T>& world, Image<float>& src)
{
    auto params = conversion_params<T>();
    convert_input<T>(&world.view, &src, &params, 0, world.view.height);
}

TYPED_TEST(ConvertTest, InputLuminanceAndAlpha)
{
    using T = TypeParam;
    const T w = white_of<T>();
    TestWorld<T> world(3, 1);
    world.set(0, 0, w, w, w, w);        // opaque white
    world.set(1, 0, T(0), w, w, w);     // transparent: alpha 0 whatever the colour
    world.set(2, 0, w, w, T(0), T(0));  // full red
    Image<float> src(nullptr, 3, 1, 2);
    convert_all(world, src);

    if constexpr (std::is_floating_point_v<T>) {
        // (1 * 0.586611 + 1 * 0.298912) + 1 * 0.114478 = 1.000001: float keeps the sum as it is.
        EXPECT_GT(at(src, 0, 0, 0), 1.0f);
        EXPECT_NEAR(at(src, 0, 0, 0), 1.000001f, 1e-7f);
    } else {
        // 255.00024 and 32768.031 truncate back to full scale.
        EXPECT_EQ(at(src, 0, 0, 0), 1.0f);
    }
    EXPECT_EQ(at(src, 0, 0, 1), 1.0f);
    EXPECT_EQ(at(src, 1, 0, 1), 0.0f);
    EXPECT_FLOAT_EQ(at(src, 2, 0, 0), red_luminance<T>());
}

TEST(ConvertFloat, InputValuesOutsideTheRangePassThrough)
{
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    TestWorld<float> world(3, 1);
    world.set(0, 0, 1.5f, 2.0f, 2.0f, 2.0f);
    world.set(1, 0, 1.0f, -1.0f, -1.0f, -1.0f);
    world.set(2, 0, nan, nan, 0.5f, 0.5f);
    Image<float> src(nullptr, 3, 1, 2);
    convert_all(world, src);
    EXPECT_NEAR(at(src, 0, 0, 0), 2.000002f, 1e-6f);
    EXPECT_EQ(at(src, 0, 0, 1), 1.5f);
    EXPECT_NEAR(at(src, 1, 0, 0), -1.000001f, 1e-6f);
    // NaN is carried along as a value, not rejected.
    EXPECT_TRUE(std::isnan(at(src, 2, 0, 0)));
    EXPECT_TRUE(std::isnan(at(src, 2, 0, 1)));
}

TYPED_TEST(ConvertTest, GreyOutputKeepsTheInputAlpha)
{
    using T = TypeParam;
    const T w = white_of<T>();
    // One input alpha per column; for 8-bit every value 0..255, which must survive
    // the round trip (a * (1/255)) * 255 exactly.
    const int n = std::is_same_v<T, unsigned char> ? 256 : 5;
    auto alpha_of = [&](int x) {
        return std::is_same_v<T, unsigned char> ? T(x) : T(static_cast<float>(w) * static_cast<float>(x) / 4.0f);
    };
    TestWorld<T> in(n, 1), out(n, 1);
    for (int x = 0; x < n; ++x) {
        in.set(x, 0, alpha_of(x), T(0), T(0), T(0));
    }
    Image<float> v(nullptr, n, 1, 1);
    fill(v, 1.0f);
    auto params = conversion_params<T>();
    convert_output_grey<T>(&v, &in.view, &out.view, &params, 0, 1);
    for (int x = 0; x < n; ++x) {
        EXPECT_EQ(out.get(x, 0, 0), alpha_of(x)) << "column " << x;
        EXPECT_EQ(out.get(x, 0, 1), w);
    }
    if constexpr (std::is_same_v<T, unsigned char>) {
        // Alpha off, v = 1, input alpha 200: (200, 255, 255, 255).
        EXPECT_EQ(out.get(200, 0, 0), 200);
        EXPECT_EQ(out.get(200, 0, 3), 255);
    }
}

TYPED_TEST(ConvertTest, GreyLevels)
{
    using T = TypeParam;
    const T w = white_of<T>();
    TestWorld<T> in(2, 1), out(2, 1);
    in.fill(w, T(0), T(0), T(0));
    Image<float> v(nullptr, 2, 1, 1);
    at(v, 0, 0) = 0.5f;
    at(v, 1, 0) = 0.25f;
    auto params = conversion_params<T>();
    convert_output_grey<T>(&v, &in.view, &out.view, &params, 0, 1);
    // 16-bit v = 0.5: 32768 * 0.5 = 16384; float v = 0.25: 0.25; 8-bit: 127.5 and 63.75 truncate.
    const T half = std::is_same_v<T, unsigned char> ? T(127) : std::is_same_v<T, unsigned short> ? T(16384) : T(0.5f);
    const T quarter = std::is_same_v<T, unsigned char> ? T(63) : std::is_same_v<T, unsigned short> ? T(8192) : T(0.25f);
    for (int c = 1; c < 4; ++c) {
        EXPECT_EQ(out.get(0, 0, c), half);
        EXPECT_EQ(out.get(1, 0, c), quarter);
    }
}

TYPED_TEST(ConvertTest, AlphaOutputIsBlackInkOnTransparentPaper)
{
    using T = TypeParam;
    const T w = white_of<T>();
    TestWorld<T> in(3, 1), out(3, 1);
    in.fill(w, w, w, w);
    Image<float> v(nullptr, 3, 1, 1);
    at(v, 0, 0) = 1.0f;  // no ink: alpha 0
    at(v, 1, 0) = 0.0f;  // full ink on an opaque layer: (white, 0, 0, 0)
    at(v, 2, 0) = 0.5f;
    auto params = conversion_params<T>();
    convert_output_alpha<T>(&v, &in.view, &out.view, &params, 0, 1);
    EXPECT_EQ(out.get(0, 0, 0), T(0));
    EXPECT_EQ(out.get(1, 0, 0), w);
    // ((1 - 0.5) * white) * (white * (1 / white)): 127.5 -> 127, 16384, 0.5.
    const T half = std::is_same_v<T, unsigned char> ? T(127) : std::is_same_v<T, unsigned short> ? T(16384) : T(0.5f);
    EXPECT_EQ(out.get(2, 0, 0), half);
    for (int x = 0; x < 3; ++x) {
        for (int c = 1; c < 4; ++c) {
            EXPECT_EQ(out.get(x, 0, c), T(0));
        }
    }
}

TYPED_TEST(ConvertTest, PaddedAndBottomUpWorldsAreAddressedThroughRowbytes)
{
    using T = TypeParam;
    const T w = white_of<T>();
    // A pad of 5 bytes also leaves the rows off the component alignment.
    for (const bool bottom_up : {false, true}) {
        TestWorld<T> in(3, 2, 5, bottom_up), out(3, 2, 5, bottom_up);
        auto level = [&](int x, int y) { return T(static_cast<float>(w) * static_cast<float>(1 + x + 3 * y) / 8.0f); };
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 3; ++x) {
                in.set(x, y, level(x, y), T(0), T(0), T(0));
            }
        }
        Image<float> src(nullptr, 3, 2, 2);
        convert_all(in, src);
        Image<float> v(nullptr, 3, 2, 1);
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 3; ++x) {
                EXPECT_FLOAT_EQ(at(src, x, y, 1), static_cast<float>(level(x, y)) / static_cast<float>(w))
                    << x << "," << y;
                // Eighths are exact, so the grey is the same truncation of white * k / 8 as the level.
                at(v, x, y) = static_cast<float>(1 + x + 3 * y) / 8.0f;
            }
        }
        auto params = conversion_params<T>();
        convert_output_grey<T>(&v, &in.view, &out.view, &params, 0, 2);
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 3; ++x) {
                EXPECT_EQ(out.get(x, y, 0), level(x, y));
                EXPECT_EQ(out.get(x, y, 2), level(x, y));
            }
        }
        EXPECT_TRUE(out.guards_intact());
    }
}

TYPED_TEST(ConvertTest, OutputBeyondTheInputWorldIsTransparent)
{
    using T = TypeParam;
    const T w = white_of<T>();
    // The input is the top-left 2 x 2 of a larger opaque buffer, so any read
    // outside the input world would find full alpha there.
    TestWorld<T> buffer(4, 4);
    buffer.fill(w, T(0), T(0), T(0));
    LayerParams in = buffer.view;
    in.width = 2;
    in.height = 2;
    TestWorld<T> grey(3, 3), ink(3, 3);
    Image<float> v(nullptr, 3, 3, 1);
    fill(v, 0.5f);
    auto params = conversion_params<T>();
    convert_output_grey<T>(&v, &in, &grey.view, &params, 0, 3);
    convert_output_alpha<T>(&v, &in, &ink.view, &params, 0, 3);
    const T half = std::is_same_v<T, unsigned char> ? T(127) : std::is_same_v<T, unsigned short> ? T(16384) : T(0.5f);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 3; ++x) {
            const bool inside = x < 2 && y < 2;
            EXPECT_EQ(grey.get(x, y, 0), inside ? w : T(0)) << x << "," << y;
            EXPECT_EQ(grey.get(x, y, 1), half);
            EXPECT_EQ(ink.get(x, y, 0), inside ? half : T(0)) << x << "," << y;
        }
    }
}

TYPED_TEST(ConvertTest, JobsWriteOnlyTheirRows)
{
    using T = TypeParam;
    const T w = white_of<T>();
    TestWorld<T> in(4, 5);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 4; ++x) {
            in.set(x, y, T(w / T(1 + x)), w, T(w / T(2 + y)), T(0));
        }
    }
    auto params = conversion_params<T>();
    Image<float> reference(nullptr, 4, 5, 2), src(nullptr, 4, 5, 2);
    convert_input<T>(&in.view, &reference, &params, 0, 5);
    fill(src, -3.0f);
    const std::vector<float> before = snapshot(src);
    convert_input<T>(&in.view, &src, &params, 3, 3);
    convert_input<T>(&in.view, &src, &params, 4, 1);
    EXPECT_TRUE(only_rows_written(src, before, snapshot(reference), 0, 0));
    convert_input<T>(&in.view, &src, &params, 1, 3);
    EXPECT_TRUE(only_rows_written(src, before, snapshot(reference), 1, 3));

    Image<float> v(nullptr, 4, 5, 1);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 4; ++x) {
            at(v, x, y) = static_cast<float>(x + y) / 8.0f;
        }
    }
    for (auto job : {&convert_output_grey<T>, &convert_output_alpha<T>}) {
        TestWorld<T> full(4, 5, 3), part(4, 5, 3);
        job(&v, &in.view, &full.view, &params, 0, 5);
        job(&v, &in.view, &part.view, &params, 2, 2);
        job(&v, &in.view, &part.view, &params, 5, 0);
        job(&v, &in.view, &part.view, &params, 2, 4);
        const int row_bytes = 4 * part.view.bytes_per_pixel;
        for (int y = 0; y < 5; ++y) {
            const bool written = y >= 2 && y < 4;
            const char* row = layer_row(part.view, y);
            if (written) {
                EXPECT_EQ(std::memcmp(row, layer_row(full.view, y), row_bytes), 0) << "row " << y;
            } else {
                const std::vector<char> untouched(row_bytes, static_cast<char>(guard_byte));
                EXPECT_EQ(std::memcmp(row, untouched.data(), row_bytes), 0) << "row " << y;
            }
        }
        EXPECT_TRUE(part.guards_intact());
    }
}

TEST(ConvertNonFinite, IntegerWorldsGetDefinedComponentsFromAnyValue)
{
    // The dot stage only produces 0..1, but a NaN or infinite value must still
    // not reach an undefined float-to-integer conversion: NaN and negative
    // values give 0, values past the type's limit give the limit.
    constexpr float inf = std::numeric_limits<float>::infinity();
    const float values[] = {std::numeric_limits<float>::quiet_NaN(), inf, -inf, 300.0f, -2.0f};
    const unsigned short grey16[] = {0, 65535, 0, 65535, 0};
    const unsigned char grey8[] = {0, 255, 0, 255, 0};
    Image<float> v(nullptr, 5, 1, 1);
    for (int x = 0; x < 5; ++x) {
        at(v, x, 0) = values[x];
    }
    TestWorld<unsigned char> in8(5, 1), out8(5, 1), ink8(5, 1);
    TestWorld<unsigned short> in16(5, 1), out16(5, 1);
    in8.fill(255, 0, 0, 0);
    in16.fill(32768, 0, 0, 0);
    auto p8 = conversion_params<unsigned char>();
    auto p16 = conversion_params<unsigned short>();
    convert_output_grey<unsigned char>(&v, &in8.view, &out8.view, &p8, 0, 1);
    convert_output_alpha<unsigned char>(&v, &in8.view, &ink8.view, &p8, 0, 1);
    convert_output_grey<unsigned short>(&v, &in16.view, &out16.view, &p16, 0, 1);
    // Alpha on: (1 - v) * 255 is NaN, -inf, +inf, -76245, 765.
    const unsigned char ink_alpha8[] = {0, 0, 255, 0, 255};
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(out8.get(x, 0, 1), grey8[x]) << "value " << values[x];
        EXPECT_EQ(out8.get(x, 0, 0), 255);
        EXPECT_EQ(ink8.get(x, 0, 0), ink_alpha8[x]) << "value " << values[x];
        EXPECT_EQ(out16.get(x, 0, 1), grey16[x]) << "value " << values[x];
    }
}

}  // namespace
