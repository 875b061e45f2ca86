// File components to host pixels and back, a row at a time.
#include "component_mapping.h"

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <type_traits>

namespace ruvivedu::tool {

namespace {

/// Full scale of a component as the host holds it.
double host_scale(Depth depth)
{
    switch (depth) {
    case Depth::u8:
        return 255.0;
    case Depth::u16:
        return 32768.0;  // this host's 16-bit full scale, not 65535
    case Depth::f32:
        break;
    }
    return 1.0;
}

template <class T>
struct PixelOf;
template <>
struct PixelOf<std::uint8_t> {
    using type = PF_Pixel8;
};
template <>
struct PixelOf<std::uint16_t> {
    using type = PF_Pixel16;
};
template <>
struct PixelOf<float> {
    using type = PF_PixelFloat;
};

/// round(min(v, from) x to / from) for whole-number scales, in integers:
/// floor((2 m to + from) / 2 from) is the quotient rounded half up, which is
/// what rounding the double quotient gives (no quotient of these scales
/// lies within a rounding step of a half without being one).
std::uint32_t scale_integer(std::uint32_t v, std::uint32_t from, std::uint32_t to)
{
    const std::uint64_t m = v < from ? v : from;
    return std::uint32_t((2 * m * to + from) / (2 * std::uint64_t(from)));
}

std::uint32_t whole_scale(double scale)
{
    if (!(scale >= 1.0 && scale <= 65535.0 && scale == std::floor(scale)))
        throw std::invalid_argument("an integer component's full scale must be a whole number from 1 to 65535");
    return std::uint32_t(scale);
}

/// A table from every value of an integer component (256 or 65536 of them)
/// to its value at another scale: integers rounded and clamped, floats as
/// double(v) / from x to.
template <class To>
std::vector<To> value_table(std::size_t values, double from, double to)
{
    std::vector<To> table(values);
    if constexpr (std::is_floating_point_v<To>) {
        for (std::size_t v = 0; v < values; ++v)
            table[v] = To(double(v) / from * to);
    } else {
        const std::uint32_t f = whole_scale(from), t = whole_scale(to);
        for (std::size_t v = 0; v < values; ++v)
            table[v] = To(scale_integer(std::uint32_t(v), f, t));
    }
    return table;
}

std::size_t values_of(Depth type)
{
    return type == Depth::u8 ? 256 : 65536;
}

/// A float clamped to [0, 1] (NaN to 0) and rounded half up at `scale`.
/// The product of a float and a scale below 2^16 is exact in double, and so
/// is adding the half, so truncating is the rounding of the exact product.
template <class T>
T float_to_integer(float v, double scale)
{
    const double x = double(v);
    const double clamped = x > 0.0 ? (x < 1.0 ? x : 1.0) : 0.0;
    return T(std::int32_t(clamped * scale + 0.5));
}

/// A float as it comes back from double: unchanged, except that a
/// signalling NaN comes back quiet. Done on the bits, as a compiler may
/// drop a conversion to double and back.
float through_double(float v)
{
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    if ((bits & 0x7F800000u) == 0x7F800000u && (bits & 0x007FFFFFu) != 0)
        bits |= 0x00400000u;
    std::memcpy(&v, &bits, 4);
    return v;
}

/// Which file channels feed red, green, blue and alpha (-1: opaque).
struct ChannelMap {
    int red = 0, green = 1, blue = 2, alpha = -1;
};

ChannelMap channel_map(const ComponentLayout& file)
{
    ChannelMap map;
    map.alpha = file.alpha_channel >= 0 && file.alpha_channel < file.channels ? file.alpha_channel : -1;
    if (file.channels < 3) {
        // A lone channel that is alpha (an OpenEXR matte of channel A alone)
        // is its own grey: there is no other channel to read.
        const int grey = map.alpha == 0 && file.channels == 2 ? 1 : 0;
        map.red = map.green = map.blue = grey;
    }
    return map;
}

// ---- reading ----------------------------------------------------------------

/// One row of file components into host pixels through `map` (a component
/// to a host value). The two usual layouts get loops of their own that the
/// compiler can unroll and vectorise.
template <class F, class H, class Map>
void row_in(const F* src, typename PixelOf<H>::type* dst, A_long width, int channels, const ChannelMap& at, H opaque,
            const Map& map)
{
    if (channels == 4 && at.alpha == 3) {
        for (A_long x = 0; x < width; ++x, src += 4) {
            dst[x].alpha = map(src[3]);
            dst[x].red = map(src[0]);
            dst[x].green = map(src[1]);
            dst[x].blue = map(src[2]);
        }
    } else if (channels == 3 && at.alpha < 0) {
        for (A_long x = 0; x < width; ++x, src += 3) {
            dst[x].alpha = opaque;
            dst[x].red = map(src[0]);
            dst[x].green = map(src[1]);
            dst[x].blue = map(src[2]);
        }
    } else {
        for (A_long x = 0; x < width; ++x, src += channels) {
            dst[x].alpha = at.alpha >= 0 ? map(src[at.alpha]) : opaque;
            dst[x].red = map(src[at.red]);
            dst[x].green = map(src[at.green]);
            dst[x].blue = map(src[at.blue]);
        }
    }
}

/// 8-bit RGBA at full scale 255 into 8-bit ARGB: each pixel's four bytes
/// turned by one place, on whole 32-bit words.
void rgba8_to_argb8(const std::uint8_t* src, PF_Pixel8* dst, A_long width)
{
    static_assert(sizeof(PF_Pixel8) == 4, "an 8-bit pixel is four bytes");
    for (A_long x = 0; x < width; ++x) {
        std::uint32_t p;
        std::memcpy(&p, src + 4 * std::size_t(x), 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        p = (p >> 8) | (p << 24);
#else
        p = (p << 8) | (p >> 24);  // bytes r g b a become a r g b
#endif
        std::memcpy(dst + x, &p, 4);
    }
}

template <class F, class H, class Map>
void rows_in(const void* src, const ComponentLayout& file, host::World& world, A_long first_row, A_long rows,
             const Map& map)
{
    const ChannelMap at = channel_map(file);
    const A_long width = world.width();
    const std::size_t row_components = std::size_t(width) * std::size_t(file.channels);
    const H opaque = H(host_scale(world.depth()));
    for (A_long r = 0; r < rows; ++r) {
        const F* row = static_cast<const F*>(src) + std::size_t(r) * row_components;
        auto* pixels = reinterpret_cast<typename PixelOf<H>::type*>(world.row(first_row + r));
        row_in<F, H>(row, pixels, width, file.channels, at, opaque, map);
    }
}

template <class T>
struct Lookup {
    const T* table;
    template <class F>
    T operator()(F v) const
    {
        return table[v];
    }
};

struct Quiet {
    float operator()(float v) const { return through_double(v); }
};

struct Rescale {
    double from, to;
    float operator()(float v) const { return float(double(v) / from * to); }
};

template <class T>
struct FloatToInteger {
    double scale;
    T operator()(float v) const { return float_to_integer<T>(v, scale); }
};

/// Float components into a world of host type H.
template <class H>
void float_rows_in(const void* src, const ComponentLayout& file, host::World& world, A_long first_row, A_long rows)
{
    if constexpr (std::is_floating_point_v<H>) {
        if (file.full_scale == 1.0)
            rows_in<float, float>(src, file, world, first_row, rows, Quiet{});
        else
            rows_in<float, float>(src, file, world, first_row, rows, Rescale{file.full_scale, 1.0});
    } else {
        // A float file's full scale is 1.0 by definition: its values are clamped to [0, 1] as they are.
        rows_in<float, H>(src, file, world, first_row, rows, FloatToInteger<H>{host_scale(world.depth())});
    }
}

template <class F>
void integer_rows_in(const void* src, const ComponentLayout& file, host::World& world, A_long first_row, A_long rows,
                     const std::vector<std::uint8_t>& to8, const std::vector<std::uint16_t>& to16,
                     const std::vector<float>& tof)
{
    switch (world.depth()) {
    case Depth::u8:
        rows_in<F, std::uint8_t>(src, file, world, first_row, rows, Lookup<std::uint8_t>{to8.data()});
        break;
    case Depth::u16:
        rows_in<F, std::uint16_t>(src, file, world, first_row, rows, Lookup<std::uint16_t>{to16.data()});
        break;
    case Depth::f32:
        rows_in<F, float>(src, file, world, first_row, rows, Lookup<float>{tof.data()});
        break;
    }
}

// ---- writing ----------------------------------------------------------------

template <class H, class F, class Map>
void row_out(const typename PixelOf<H>::type* src, F* dst, A_long width, int channels, const Map& map)
{
    if (channels == 4) {
        for (A_long x = 0; x < width; ++x, dst += 4) {
            dst[0] = map(src[x].red);
            dst[1] = map(src[x].green);
            dst[2] = map(src[x].blue);
            dst[3] = map(src[x].alpha);
        }
    } else {
        for (A_long x = 0; x < width; ++x, dst += 3) {
            dst[0] = map(src[x].red);
            dst[1] = map(src[x].green);
            dst[2] = map(src[x].blue);
        }
    }
}

/// 8-bit ARGB into 8-bit RGBA at full scale 255: the turn of rgba8_to_argb8 undone.
void argb8_to_rgba8(const PF_Pixel8* src, std::uint8_t* dst, A_long width)
{
    for (A_long x = 0; x < width; ++x) {
        std::uint32_t p;
        std::memcpy(&p, src + x, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        p = (p << 8) | (p >> 24);
#else
        p = (p >> 8) | (p << 24);
#endif
        std::memcpy(dst + 4 * std::size_t(x), &p, 4);
    }
}

template <class H, class F, class Map>
void rows_out(const host::World& world, A_long first_row, A_long rows, int channels, void* dst, const Map& map)
{
    const A_long width = world.width();
    const std::size_t row_components = std::size_t(width) * std::size_t(channels);
    for (A_long r = 0; r < rows; ++r) {
        const auto* pixels = reinterpret_cast<const typename PixelOf<H>::type*>(world.row(first_row + r));
        row_out<H>(pixels, static_cast<F*>(dst) + std::size_t(r) * row_components, width, channels, map);
    }
}

template <class H>
void rows_out_from(const host::World& world, A_long first_row, A_long rows, const ComponentLayout& file, void* dst,
                   const std::vector<std::uint8_t>& to8, const std::vector<std::uint16_t>& to16,
                   const std::vector<float>& tof)
{
    if constexpr (std::is_floating_point_v<H>) {
        switch (file.type) {
        case Depth::u8:
            rows_out<float, std::uint8_t>(world, first_row, rows, file.channels, dst,
                                          FloatToInteger<std::uint8_t>{file.full_scale});
            break;
        case Depth::u16:
            rows_out<float, std::uint16_t>(world, first_row, rows, file.channels, dst,
                                           FloatToInteger<std::uint16_t>{file.full_scale});
            break;
        case Depth::f32:
            if (file.full_scale == 1.0)
                rows_out<float, float>(world, first_row, rows, file.channels, dst, Quiet{});
            else
                rows_out<float, float>(world, first_row, rows, file.channels, dst, Rescale{1.0, file.full_scale});
            break;
        }
    } else {
        switch (file.type) {
        case Depth::u8:
            rows_out<H, std::uint8_t>(world, first_row, rows, file.channels, dst, Lookup<std::uint8_t>{to8.data()});
            break;
        case Depth::u16:
            rows_out<H, std::uint16_t>(world, first_row, rows, file.channels, dst, Lookup<std::uint16_t>{to16.data()});
            break;
        case Depth::f32:
            rows_out<H, float>(world, first_row, rows, file.channels, dst, Lookup<float>{tof.data()});
            break;
        }
    }
}

/// Fills the one table an integer source of `values` values needs for a
/// target of type `to_type` at scale `to`.
void build_table(Depth to_type, std::size_t values, double from, double to, std::vector<std::uint8_t>& to8,
                 std::vector<std::uint16_t>& to16, std::vector<float>& tof)
{
    switch (to_type) {
    case Depth::u8:
        to8 = value_table<std::uint8_t>(values, from, to);
        break;
    case Depth::u16:
        to16 = value_table<std::uint16_t>(values, from, to);
        break;
    case Depth::f32:
        tof = value_table<float>(values, from, to);
        break;
    }
}

}  // namespace

std::size_t component_bytes(Depth type)
{
    return type == Depth::u8 ? 1 : type == Depth::u16 ? 2 : 4;
}

FileToWorld::FileToWorld(const ComponentLayout& file, Depth world_depth) : file_(file), world_(world_depth)
{
    if (file.channels < 1)
        throw std::invalid_argument("a picture has at least one channel");
    if (file.type != Depth::f32)
        build_table(world_depth, values_of(file.type), file.full_scale, host_scale(world_depth), to8_, to16_, tof_);
}

void FileToWorld::convert(const void* src, host::World& world, A_long first_row, A_long rows) const
{
    if (world.depth() != world_)
        throw std::invalid_argument("the world's depth is not the one the mapping was made for");
    switch (file_.type) {
    case Depth::u8:
        if (world_ == Depth::u8 && file_.full_scale == 255.0 && file_.channels == 4 && file_.alpha_channel == 3) {
            const std::size_t row_bytes = std::size_t(world.width()) * 4;
            for (A_long r = 0; r < rows; ++r)
                rgba8_to_argb8(static_cast<const std::uint8_t*>(src) + std::size_t(r) * row_bytes,
                               reinterpret_cast<PF_Pixel8*>(world.row(first_row + r)), world.width());
        } else {
            integer_rows_in<std::uint8_t>(src, file_, world, first_row, rows, to8_, to16_, tof_);
        }
        break;
    case Depth::u16:
        integer_rows_in<std::uint16_t>(src, file_, world, first_row, rows, to8_, to16_, tof_);
        break;
    case Depth::f32:
        switch (world_) {
        case Depth::u8:
            float_rows_in<std::uint8_t>(src, file_, world, first_row, rows);
            break;
        case Depth::u16:
            float_rows_in<std::uint16_t>(src, file_, world, first_row, rows);
            break;
        case Depth::f32:
            float_rows_in<float>(src, file_, world, first_row, rows);
            break;
        }
        break;
    }
}

WorldToFile::WorldToFile(Depth world_depth, const ComponentLayout& file) : world_(world_depth), file_(file)
{
    if (file.channels != 3 && file.channels != 4)
        throw std::invalid_argument("a world is written as 3 or 4 channels");
    if (world_depth != Depth::f32)
        build_table(file.type, values_of(world_depth), host_scale(world_depth), file.full_scale, to8_, to16_, tof_);
}

void WorldToFile::convert(const host::World& world, A_long first_row, A_long rows, void* dst) const
{
    if (world.depth() != world_)
        throw std::invalid_argument("the world's depth is not the one the mapping was made for");
    switch (world_) {
    case Depth::u8:
        if (file_.type == Depth::u8 && file_.full_scale == 255.0 && file_.channels == 4) {
            const std::size_t row_bytes = std::size_t(world.width()) * 4;
            for (A_long r = 0; r < rows; ++r)
                argb8_to_rgba8(reinterpret_cast<const PF_Pixel8*>(world.row(first_row + r)),
                               static_cast<std::uint8_t*>(dst) + std::size_t(r) * row_bytes, world.width());
        } else {
            rows_out_from<std::uint8_t>(world, first_row, rows, file_, dst, to8_, to16_, tof_);
        }
        break;
    case Depth::u16:
        rows_out_from<std::uint16_t>(world, first_row, rows, file_, dst, to8_, to16_, tof_);
        break;
    case Depth::f32:
        rows_out_from<float>(world, first_row, rows, file_, dst, to8_, to16_, tof_);
        break;
    }
}

}  // namespace ruvivedu::tool
