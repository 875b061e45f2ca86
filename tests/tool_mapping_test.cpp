// The tool's mapping between file components and host pixels, compared value
// for value with the mapping it replaced, in both directions: every 8- and
// 16-bit value through every channel layout; for floats the specials and the
// neighbours of every rounding boundary through every layout, and the bit
// patterns, every one of the 2^32 in CI's run, through RGBA.
#include "component_mapping.h"
#include "image_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace {

using namespace ruvivedu::tool;
namespace host = ruvivedu::host;

// ---- the reference: the per-component mapping as the tool had it ------------

namespace reference {

template <class T>
constexpr double host_scale()
{
    if constexpr (std::is_same_v<T, std::uint8_t>)
        return 255.0;
    else if constexpr (std::is_same_v<T, std::uint16_t>)
        return 32768.0;
    else
        return 1.0;
}

double unit_clamp(double x)
{
    return x > 0.0 ? (x < 1.0 ? x : 1.0) : 0.0;
}

template <class To, class From>
To map_component(From v, double from, double to)
{
    if constexpr (std::is_floating_point_v<To>) {
        return To(double(v) / from * to);
    } else if constexpr (std::is_floating_point_v<From>) {
        return To(std::lround(unit_clamp(double(v)) * to));
    } else {
        const double limited = std::min(double(v), from);
        return To(std::lround(limited * to / from));
    }
}

template <class T>
struct HostPixelOf;
template <>
struct HostPixelOf<std::uint8_t> {
    using type = PF_Pixel8;
};
template <>
struct HostPixelOf<std::uint16_t> {
    using type = PF_Pixel16;
};
template <>
struct HostPixelOf<float> {
    using type = PF_PixelFloat;
};

struct ChannelMap {
    int red = 0, green = 0, blue = 0, alpha = -1;
};

ChannelMap channel_map(int channels, int alpha_channel)
{
    ChannelMap map;
    map.alpha = alpha_channel;
    if (channels >= 3) {
        map.red = 0;
        map.green = 1;
        map.blue = 2;
    } else {
        const int grey = map.alpha == 0 && channels == 2 ? 1 : 0;
        map.red = map.green = map.blue = grey;
    }
    return map;
}

template <class H, class F>
void fill_world(host::World& world, const std::vector<F>& data, int nchannels, double from, const ChannelMap& map)
{
    using Pixel = typename HostPixelOf<H>::type;
    const double to = host_scale<H>();
    for (A_long y = 0; y < world.height(); ++y) {
        const F* src = data.data() + std::size_t(y) * std::size_t(world.width()) * std::size_t(nchannels);
        for (A_long x = 0; x < world.width(); ++x, src += nchannels) {
            Pixel& p = world.at<Pixel>(x, y);
            p.red = map_component<H>(src[map.red], from, to);
            p.green = map_component<H>(src[map.green], from, to);
            p.blue = map_component<H>(src[map.blue], from, to);
            p.alpha = map.alpha >= 0 ? map_component<H>(src[map.alpha], from, to) : H(to);
        }
    }
}

template <class F, class H>
std::vector<F> pack_world(const host::World& world, int channels, double to)
{
    using Pixel = typename HostPixelOf<H>::type;
    const double from = host_scale<H>();
    std::vector<F> data(std::size_t(world.width()) * std::size_t(world.height()) * std::size_t(channels));
    F* dst = data.data();
    for (A_long y = 0; y < world.height(); ++y)
        for (A_long x = 0; x < world.width(); ++x) {
            const Pixel& p = world.at<Pixel>(x, y);
            *dst++ = map_component<F>(p.red, from, to);
            *dst++ = map_component<F>(p.green, from, to);
            *dst++ = map_component<F>(p.blue, from, to);
            if (channels == 4)
                *dst++ = map_component<F>(p.alpha, from, to);
        }
    return data;
}

}  // namespace reference

/// The scale as the tool had it, a value read from the file at run time:
/// with it a known constant, the compiler would fold the reference's
/// division by 1.0 away and pass signalling NaNs unchanged, which the tool's
/// own arithmetic never did.
double opaque(double scale)
{
    volatile double kept = scale;
    return kept;
}

// ---- the values -------------------------------------------------------------

float from_bits(std::uint32_t bits)
{
    float v;
    std::memcpy(&v, &bits, 4);
    return v;
}

/// Floats worth comparing: zeros, infinities, quiet and signalling NaNs,
/// denormals, the values just around 0 and 1, the two floats on each side of
/// every rounding boundary (k + 1/2) / scale of the integer scales, and every
/// 65537th bit pattern of all 2^32.
std::vector<float> float_values()
{
    std::vector<float> values;
    for (std::uint32_t bits :
         {0x00000000u, 0x80000000u, 0x7F800000u, 0xFF800000u, 0x7FC00000u, 0xFFC00001u, 0x7F800001u, 0xFF8ABCDEu,
          0x7FBFFFFFu, 0x00000001u, 0x807FFFFFu, 0x3F800000u, 0x3F7FFFFFu, 0x3F800001u, 0x7F7FFFFFu})
        values.push_back(from_bits(bits));
    for (double scale : {255.0, 32768.0, 65535.0})
        for (int k = -1; k <= int(scale); ++k) {
            const float boundary = float((k + 0.5) / scale);
            float below = boundary, above = boundary;
            values.push_back(boundary);
            for (int step = 0; step < 2; ++step) {
                below = std::nextafter(below, -1.0f);
                above = std::nextafter(above, 2.0f);
                values.push_back(below);
                values.push_back(above);
            }
        }
    for (std::uint64_t bits = 0; bits <= 0xFFFFFFFFu; bits += 65537)
        values.push_back(from_bits(std::uint32_t(bits)));
    return values;
}

template <class T>
std::vector<T> integer_values()
{
    std::vector<T> values(std::size_t(std::numeric_limits<T>::max()) + 1);
    for (std::size_t v = 0; v < values.size(); ++v)
        values[v] = T(v);
    return values;
}

template <class T>
std::vector<T> values_of()
{
    if constexpr (std::is_floating_point_v<T>)
        return float_values();
    else
        return integer_values<T>();
}

/// Pictures are this many pixels wide; as many rows as the values need.
constexpr A_long kWidth = 4096;

A_long rows_for(std::size_t values)
{
    return A_long((values + kWidth - 1) / kWidth);
}

/// The value channel `c` of pixel `p` holds: each channel runs through all
/// values once, each from another start.
template <class T>
T value_at(const std::vector<T>& values, std::size_t p, int c)
{
    return values[(p + std::size_t(c) * 7919) % values.size()];
}

/// Interleaved components in which every value lands in every channel.
template <class T>
std::vector<T> spread(const std::vector<T>& values, int channels)
{
    const std::size_t pixels = std::size_t(rows_for(values.size())) * kWidth;
    std::vector<T> data(pixels * std::size_t(channels));
    for (std::size_t p = 0; p < pixels; ++p)
        for (int c = 0; c < channels; ++c)
            data[p * std::size_t(channels) + std::size_t(c)] = value_at(values, p, c);
    return data;
}

Depth depth_of_type(const std::vector<std::uint8_t>&)
{
    return Depth::u8;
}
Depth depth_of_type(const std::vector<std::uint16_t>&)
{
    return Depth::u16;
}
Depth depth_of_type(const std::vector<float>&)
{
    return Depth::f32;
}

template <class T>
std::string first_difference(const std::vector<T>& expected, const std::vector<T>& actual)
{
    if (expected.size() != actual.size())
        return "sizes differ";
    for (std::size_t i = 0; i < expected.size(); ++i)
        if (std::memcmp(&expected[i], &actual[i], sizeof(T)) != 0) {
            std::uint32_t want = 0, got = 0;  // the bits, which tell NaNs apart
            std::memcpy(&want, &expected[i], sizeof(T));
            std::memcpy(&got, &actual[i], sizeof(T));
            return "component " + std::to_string(i) + ": expected " + std::to_string(double(expected[i])) + " (bits " +
                   std::to_string(want) + "), got " + std::to_string(double(actual[i])) + " (bits " +
                   std::to_string(got) + ")";
        }
    return {};
}

std::vector<unsigned char> world_bytes(const host::World& world)
{
    return world.packed_pixels();
}

// ---- file to world ----------------------------------------------------------

struct Layout {
    int channels;
    int alpha;
};
const Layout kFileLayouts[] = {{4, 3}, {3, -1}, {2, 1}, {2, 0}, {1, -1}, {1, 0}, {4, 0}, {5, 4}};

template <class F, class H>
void compare_reading(double file_scale)
{
    const std::vector<F> values = values_of<F>();
    for (const Layout& layout : kFileLayouts) {
        const std::vector<F> data = spread(values, layout.channels);
        const A_long width = kWidth, height = rows_for(values.size());
        const Depth depth = depth_of_type(std::vector<H>{});

        host::World expected(depth, width, height);
        reference::fill_world<H>(expected, data, layout.channels, opaque(file_scale),
                                 reference::channel_map(layout.channels, layout.alpha));
        host::World actual(depth, width, height);
        const FileToWorld mapping(ComponentLayout{depth_of_type(data), file_scale, layout.channels, layout.alpha},
                                  depth);
        // Two bands, as the readers convert them.
        const A_long first = height / 2;
        mapping.convert(data.data(), actual, 0, first);
        mapping.convert(data.data() + std::size_t(first) * std::size_t(width) * std::size_t(layout.channels), actual,
                        first, height - first);
        const std::string where = first_difference(world_bytes(expected), world_bytes(actual));
        EXPECT_TRUE(where.empty()) << "scale " << file_scale << ", " << layout.channels << " channels, alpha "
                                   << layout.alpha << ": byte " << where;
    }
}

TEST(ToolMapping, EightBitFilesReadLikeBefore)
{
    compare_reading<std::uint8_t, std::uint8_t>(255.0);
    compare_reading<std::uint8_t, std::uint16_t>(255.0);
    compare_reading<std::uint8_t, float>(255.0);
    // A PAM file's MAXVAL below 255.
    compare_reading<std::uint8_t, std::uint8_t>(100.0);
    compare_reading<std::uint8_t, std::uint16_t>(15.0);
    compare_reading<std::uint8_t, float>(200.0);
}

TEST(ToolMapping, SixteenBitFilesReadLikeBefore)
{
    for (double scale : {65535.0, 32768.0, 1000.0, 256.0}) {
        compare_reading<std::uint16_t, std::uint8_t>(scale);
        compare_reading<std::uint16_t, std::uint16_t>(scale);
        compare_reading<std::uint16_t, float>(scale);
    }
}

TEST(ToolMapping, FloatFilesReadLikeBefore)
{
    compare_reading<float, std::uint8_t>(1.0);
    compare_reading<float, std::uint16_t>(1.0);
    compare_reading<float, float>(1.0);
}

// ---- world to file ----------------------------------------------------------

template <class H>
host::World world_of_every_value(std::vector<H>& values)
{
    using Pixel = typename reference::HostPixelOf<H>::type;
    values = values_of<H>();
    host::World world(depth_of_type(values), kWidth, rows_for(values.size()));
    for (A_long y = 0; y < world.height(); ++y)
        for (A_long x = 0; x < kWidth; ++x) {
            Pixel& p = world.at<Pixel>(x, y);
            const std::size_t i = std::size_t(y) * kWidth + std::size_t(x);
            p.alpha = value_at(values, i, 0);
            p.red = value_at(values, i, 1);
            p.green = value_at(values, i, 2);
            p.blue = value_at(values, i, 3);
        }
    return world;
}

template <class H, class F>
void compare_writing(double file_scale)
{
    std::vector<H> values;
    const host::World world = world_of_every_value(values);
    for (int channels : {4, 3}) {
        const std::vector<F> expected = reference::pack_world<F, H>(world, channels, opaque(file_scale));
        std::vector<F> actual(expected.size());
        const WorldToFile mapping(world.depth(),
                                  ComponentLayout{depth_of_type(actual), file_scale, channels, channels == 4 ? 3 : -1});
        const A_long first = world.height() / 2;
        mapping.convert(world, 0, first, actual.data());
        mapping.convert(world, first, world.height() - first,
                        actual.data() + std::size_t(first) * std::size_t(world.width()) * std::size_t(channels));
        const std::string where = first_difference(expected, actual);
        EXPECT_TRUE(where.empty()) << "scale " << file_scale << ", " << channels << " channels: " << where;
    }
}

TEST(ToolMapping, EightBitWorldsWriteLikeBefore)
{
    compare_writing<std::uint8_t, std::uint8_t>(255.0);
    compare_writing<std::uint8_t, std::uint16_t>(65535.0);
    compare_writing<std::uint8_t, std::uint16_t>(32768.0);  // 16-bit PAM
    compare_writing<std::uint8_t, float>(1.0);
}

TEST(ToolMapping, SixteenBitWorldsWriteLikeBefore)
{
    // Every value, the ones above the host's 32768 included.
    compare_writing<std::uint16_t, std::uint8_t>(255.0);
    compare_writing<std::uint16_t, std::uint16_t>(65535.0);
    compare_writing<std::uint16_t, std::uint16_t>(32768.0);
    compare_writing<std::uint16_t, float>(1.0);
}

TEST(ToolMapping, FloatWorldsWriteLikeBefore)
{
    compare_writing<float, std::uint8_t>(255.0);
    compare_writing<float, std::uint16_t>(65535.0);
    compare_writing<float, std::uint16_t>(32768.0);
    compare_writing<float, float>(1.0);
}

// ---- every float --------------------------------------------------------------

/// Every how many bit patterns EveryFloatMapsLikeBeforeBothWays compares: 1
/// (all 2^32, about two minutes of both processors) when RUVIVEDU_EVERY_FLOAT
/// is set, as CI runs it once, else every 61st, which also walks every
/// exponent and both signs.
std::uint64_t float_stride()
{
    const char* every = std::getenv("RUVIVEDU_EVERY_FLOAT");
    return every && *every && std::string(every) != "0" ? 1 : 61;
}

/// Components per piece of the comparison: a 1024 x 1024 RGBA picture.
constexpr A_long kPieceSide = 1024;
constexpr std::size_t kPieceComponents = std::size_t(kPieceSide) * kPieceSide * 4;

template <class T>
std::uint32_t bits_of(T v)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, sizeof(T));
    return bits;
}

template <class T>
std::string mismatch(const char* what, float v, T expected, T actual)
{
    char text[160];
    std::snprintf(text, sizeof text, "%s: the float of bits 0x%08x gives bits 0x%x, the old mapping 0x%x", what,
                  unsigned(bits_of(v)), unsigned(bits_of(actual)), unsigned(bits_of(expected)));
    return text;
}

/// The piece's floats read from an RGBA file into a world of host type H,
/// against the reference one by one; the first difference, or empty.
template <class H>
std::string read_piece(const char* what, const std::vector<float>& data, host::World& world)
{
    using Pixel = typename reference::HostPixelOf<H>::type;
    FileToWorld(ComponentLayout{Depth::f32, 1.0, 4, 3}, world.depth()).convert(data.data(), world, 0, world.height());
    const double from = opaque(1.0), to = reference::host_scale<H>();
    for (A_long y = 0; y < world.height(); ++y) {
        const auto* pixels = reinterpret_cast<const Pixel*>(world.row(y));
        for (A_long x = 0; x < world.width(); ++x) {
            const float* p = data.data() + (std::size_t(y) * std::size_t(world.width()) + std::size_t(x)) * 4;
            const H got[4] = {pixels[x].red, pixels[x].green, pixels[x].blue, pixels[x].alpha};
            for (int c = 0; c < 4; ++c) {
                const H want = reference::map_component<H>(p[c], from, to);
                if (bits_of(want) != bits_of(got[c]))
                    return mismatch(what, p[c], want, got[c]);
            }
        }
    }
    return {};
}

/// A float world's floats written into RGBA components of type F at
/// `scale`, against the reference one by one; the first difference, or empty.
template <class F>
std::string write_piece(const char* what, const host::World& world, double scale, std::vector<F>& file)
{
    file.resize(kPieceComponents);
    WorldToFile(Depth::f32, ComponentLayout{depth_of_type(file), scale, 4, 3})
        .convert(world, 0, world.height(), file.data());
    const double from = opaque(1.0), to = opaque(scale);
    const F* got = file.data();
    for (A_long y = 0; y < world.height(); ++y) {
        const auto* pixels = reinterpret_cast<const PF_PixelFloat*>(world.row(y));
        for (A_long x = 0; x < world.width(); ++x, got += 4) {
            const float v[4] = {pixels[x].red, pixels[x].green, pixels[x].blue, pixels[x].alpha};
            for (int c = 0; c < 4; ++c) {
                const F want = reference::map_component<F>(v[c], from, to);
                if (bits_of(want) != bits_of(got[c]))
                    return mismatch(what, v[c], want, got[c]);
            }
        }
    }
    return {};
}

TEST(ToolMapping, EveryFloatMapsLikeBeforeBothWays)
{
    // Bit patterns through a float file into 8-bit, 16-bit and float worlds,
    // and out of a float world into 8-bit, 16-bit (full scale 65535, and
    // PAM's 32768) and float files, on every processor.
    const std::uint64_t stride = float_stride();
    const std::uint64_t values = ((std::uint64_t(1) << 32) + stride - 1) / stride;
    std::atomic<std::uint64_t> next{0};
    std::mutex mutex;
    std::string failure;
    auto work = [&] {
        std::vector<float> data(kPieceComponents);
        host::World world8(Depth::u8, kPieceSide, kPieceSide), world16(Depth::u16, kPieceSide, kPieceSide),
            worldf(Depth::f32, kPieceSide, kPieceSide);
        std::vector<std::uint8_t> file8;
        std::vector<std::uint16_t> file16;
        std::vector<float> filef;
        for (std::uint64_t first; (first = next.fetch_add(kPieceComponents)) < values;) {
            // The last piece wraps round to patterns compared already.
            for (std::size_t i = 0; i < kPieceComponents; ++i)
                data[i] = from_bits(std::uint32_t((first + i) * stride));
            // The float world holds the same floats (as alpha, red, green, blue).
            for (A_long y = 0; y < kPieceSide; ++y)
                std::memcpy(worldf.row(y), data.data() + std::size_t(y) * kPieceSide * 4,
                            std::size_t(kPieceSide) * 4 * sizeof(float));
            std::string where = write_piece("float world to 8-bit file", worldf, 255.0, file8);
            if (where.empty())
                where = write_piece("float world to 16-bit file", worldf, 65535.0, file16);
            if (where.empty())
                where = write_piece("float world to 16-bit PAM", worldf, 32768.0, file16);
            if (where.empty())
                where = write_piece("float world to float file", worldf, 1.0, filef);
            if (where.empty())
                where = read_piece<std::uint8_t>("float file to 8-bit world", data, world8);
            if (where.empty())
                where = read_piece<std::uint16_t>("float file to 16-bit world", data, world16);
            if (where.empty())
                where = read_piece<float>("float file to float world", data, worldf);
            if (!where.empty()) {
                const std::lock_guard<std::mutex> lock(mutex);
                failure = where;
                next.store(values);
            }
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < std::max(1u, std::thread::hardware_concurrency()); ++t)
        pool.emplace_back(work);
    work();
    for (std::thread& thread : pool)
        thread.join();
    EXPECT_TRUE(failure.empty()) << failure;
}

TEST(ToolMapping, WholeWorldsRoundTripThroughTheFileFunctions)
{
    // The sixteen-bit helpers the tool's other tests predict alpha with agree
    // with the mapping.
    for (int v = 0; v <= 65535; ++v)
        ASSERT_EQ(file16_to_host16(std::uint16_t(v)),
                  reference::map_component<std::uint16_t>(std::uint16_t(v), 65535.0, 32768.0))
            << v;
    for (int c = 0; c <= 65535; ++c)
        ASSERT_EQ(host16_to_file16(std::uint16_t(c)),
                  reference::map_component<std::uint16_t>(std::uint16_t(c), 32768.0, 65535.0))
            << c;
}

TEST(ToolMapping, RecycledWorldsAreTakenOnlyWhenTheyFit)
{
    host::World spare(Depth::u16, 8, 4);
    const auto* buffer = spare.buffer_begin();
    host::World other = world_for(Depth::u16, 8, 5, &spare);
    EXPECT_NE(other.buffer_begin(), buffer);
    EXPECT_EQ(spare.buffer_begin(), buffer) << "a world of another size is left where it was";
    EXPECT_NE(world_for(Depth::u8, 8, 4, &spare).buffer_begin(), buffer);
    host::World reused = world_for(Depth::u16, 8, 4, &spare);
    EXPECT_EQ(reused.buffer_begin(), buffer);
    EXPECT_EQ(reused.width(), 8);
    host::World padded = host::World::padded(Depth::u8, 8, 4, 16);
    const auto* padded_buffer = padded.buffer_begin();
    EXPECT_NE(world_for(Depth::u8, 8, 4, &padded).buffer_begin(), padded_buffer) << "only packed rows are reused";
}

}  // namespace
