// Reading and writing picture files through OpenImageIO.
#include "image_file.h"

#include "tool_error.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include <unistd.h>

namespace ruvivedu::tool {

namespace {

using OIIO::TypeDesc;

/// OpenImageIO error texts may run over several lines; the tool reports one.
std::string one_line(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    return text.empty() ? "unknown error" : text;
}

// ---- component mapping ------------------------------------------------------

/// Full scale of a component as stored in a file, and as the host holds it.
template <class T>
constexpr double file_scale()
{
    if constexpr (std::is_same_v<T, std::uint8_t>)
        return 255.0;
    else if constexpr (std::is_same_v<T, std::uint16_t>)
        return 65535.0;
    else
        return 1.0;
}

template <class T>
constexpr double host_scale()
{
    if constexpr (std::is_same_v<T, std::uint8_t>)
        return 255.0;
    else if constexpr (std::is_same_v<T, std::uint16_t>)
        return 32768.0; // this host's 16-bit full scale, not 65535
    else
        return 1.0;
}

/// Clamps to [0, 1] with NaN going to 0, so integer rounding is always defined.
double unit_clamp(double x)
{
    return x > 0.0 ? (x < 1.0 ? x : 1.0) : 0.0;
}

/// One component from scale `from` to type `To` of scale `to`. Integer to
/// integer is round(v x to / from) computed in double, which is exact for
/// these scales: no product of the form v x 32768 / 65535 lands on a half.
/// Floats pass unchanged when they stay floats.
template <class To, class From>
To map_component(From v, double from, double to)
{
    if constexpr (std::is_floating_point_v<To>) {
        return To(double(v) / from * to);
    } else if constexpr (std::is_floating_point_v<From>) {
        return To(std::lround(unit_clamp(double(v)) * to));
    } else {
        const double limited = std::min(double(v), from); // a 16-bit host value above 32768 is out of range
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

/// Which file channels feed red, green, blue and alpha (-1: opaque).
struct ChannelMap {
    int red = 0, green = 0, blue = 0, alpha = -1;
};

ChannelMap channel_map(const OIIO::ImageSpec& spec)
{
    const int n = spec.nchannels;
    ChannelMap map;
    map.alpha = spec.alpha_channel >= 0 && spec.alpha_channel < n ? spec.alpha_channel : (n == 2 ? 1 : n >= 4 ? 3 : -1);
    if (n >= 3) {
        map.red = 0;
        map.green = 1;
        map.blue = 2;
    } else {
        const int grey = map.alpha == 0 ? 1 : 0;
        map.red = map.green = map.blue = grey;
    }
    return map;
}

/// Fills `world` (host type H) from interleaved file components of type F.
template <class H, class F>
void fill_world(host::World& world, const std::vector<F>& data, int nchannels, const ChannelMap& map)
{
    using Pixel = typename HostPixelOf<H>::type;
    const double from = file_scale<F>(), to = host_scale<H>();
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

template <class F>
host::World read_as(OIIO::ImageInput& in, const std::string& path, Depth depth, TypeDesc type)
{
    const OIIO::ImageSpec& spec = in.spec();
    std::vector<F> data(std::size_t(spec.width) * std::size_t(spec.height) * std::size_t(spec.nchannels));
    if (!in.read_image(0, 0, 0, spec.nchannels, type, data.data()))
        throw ToolError("cannot read '" + path + "': " + one_line(in.geterror()));
    host::World world(depth, spec.width, spec.height);
    const ChannelMap map = channel_map(spec);
    switch (depth) {
    case Depth::u8:
        fill_world<std::uint8_t>(world, data, spec.nchannels, map);
        break;
    case Depth::u16:
        fill_world<std::uint16_t>(world, data, spec.nchannels, map);
        break;
    case Depth::f32:
        fill_world<float>(world, data, spec.nchannels, map);
        break;
    }
    return world;
}

Depth depth_of(TypeDesc format)
{
    switch (format.basetype) {
    case TypeDesc::UINT8:
    case TypeDesc::INT8:
        return Depth::u8;
    case TypeDesc::HALF:
    case TypeDesc::FLOAT:
    case TypeDesc::DOUBLE:
        return Depth::f32;
    default:
        return Depth::u16;
    }
}

TypeDesc type_of(Depth depth)
{
    switch (depth) {
    case Depth::u8:
        return TypeDesc::UINT8;
    case Depth::u16:
        return TypeDesc::UINT16;
    case Depth::f32:
        break;
    }
    return TypeDesc::FLOAT;
}

/// Interleaved file components of type F from `world` (host type H).
template <class F, class H>
std::vector<F> pack_world(const host::World& world, int channels)
{
    using Pixel = typename HostPixelOf<H>::type;
    const double from = host_scale<H>(), to = file_scale<F>();
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

template <class F>
std::vector<F> pack_for_file(const host::World& world, int channels)
{
    switch (world.depth()) {
    case Depth::u8:
        return pack_world<F, std::uint8_t>(world, channels);
    case Depth::u16:
        return pack_world<F, std::uint16_t>(world, channels);
    case Depth::f32:
        break;
    }
    return pack_world<F, float>(world, channels);
}

// ---- interrupt cleanup ------------------------------------------------------

/// The temporary file being written, for the signal handler. A plain char
/// array: a handler may only touch lock-free data and call unlink.
char g_pending_temp[4096];
volatile std::sig_atomic_t g_pending = 0;

extern "C" void remove_pending_temp(int sig)
{
    if (g_pending)
        ::unlink(g_pending_temp);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

/// Marks a temporary file for removal on interrupt for as long as it lives.
class PendingTemp {
public:
    explicit PendingTemp(const std::string& path)
    {
        if (path.size() < sizeof g_pending_temp) {
            std::memcpy(g_pending_temp, path.c_str(), path.size() + 1);
            g_pending = 1;
        }
    }
    ~PendingTemp() { g_pending = 0; }
    PendingTemp(const PendingTemp&) = delete;
    PendingTemp& operator=(const PendingTemp&) = delete;
};

} // namespace

std::uint16_t file16_to_host16(std::uint16_t v)
{
    return map_component<std::uint16_t>(v, 65535.0, 32768.0);
}

std::uint16_t host16_to_file16(std::uint16_t c)
{
    return map_component<std::uint16_t>(c, 32768.0, 65535.0);
}

host::World read_image(const std::string& path, std::optional<Depth> depth, FileInfo* info)
{
    // Keep stored values as they are: without this hint OpenImageIO would
    // premultiply PNG and TIFF colour by alpha on reading.
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::open(path, &config);
    if (!in)
        throw ToolError("cannot read '" + path + "': " + one_line(OIIO::geterror()));
    const OIIO::ImageSpec& spec = in->spec();
    if (spec.deep)
        throw ToolError("cannot read '" + path + "': deep images are not supported");
    if (spec.width <= 0 || spec.height <= 0 || spec.nchannels <= 0 || spec.depth > 1)
        throw ToolError("cannot read '" + path + "': not a flat two-dimensional picture");

    FileInfo found;
    found.width = spec.width;
    found.height = spec.height;
    found.channels = spec.nchannels;
    found.has_alpha = channel_map(spec).alpha >= 0;
    found.depth = depth_of(spec.format);
    found.format = in->format_name();
    if (info)
        *info = found;

    const Depth target = depth.value_or(found.depth);
    host::World world = [&] {
        switch (found.depth) {
        case Depth::u8:
            return read_as<std::uint8_t>(*in, path, target, TypeDesc::UINT8);
        case Depth::u16:
            return read_as<std::uint16_t>(*in, path, target, TypeDesc::UINT16);
        case Depth::f32:
            break;
        }
        return read_as<float>(*in, path, target, TypeDesc::FLOAT);
    }();
    in->close();
    return world;
}

OutputLayout output_layout(const std::string& path, Depth render_depth)
{
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path);
    if (!out)
        throw ToolError("cannot write '" + path + "': " + one_line(OIIO::geterror()));
    OutputLayout layout;
    layout.format = out->format_name();
    layout.depth = render_depth;
    layout.channels = out->supports("alpha") ? 4 : 3;
    if (layout.format == "png" && render_depth == Depth::f32)
        layout.depth = Depth::u16; // PNG holds no float; 16 bits is the closest
    else if (layout.format == "jpeg") {
        layout.depth = Depth::u8;
        layout.channels = 3;
    } else if (layout.format == "openexr")
        layout.depth = Depth::f32; // float holds 8- and 16-bit values exactly; half would not
    return layout;
}

std::string temporary_path_for(const std::string& path)
{
    namespace fs = std::filesystem;
    static std::atomic<unsigned> counter{0};
    const fs::path target(path);
    const std::string name = "." + target.stem().string() + ".ruvivedu-" + std::to_string(::getpid()) + "-" +
                             std::to_string(counter++) + target.extension().string();
    return (target.parent_path() / name).string();
}

void write_image(const std::string& path, const host::World& world)
{
    const OutputLayout layout = output_layout(path, world.depth());
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec))
        throw ToolError("cannot write '" + path + "': folder '" + folder.string() + "' does not exist");
    const std::string temp = temporary_path_for(path);
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(temp);
    if (!out)
        throw ToolError("cannot write '" + path + "': " + one_line(OIIO::geterror()));

    OIIO::ImageSpec spec(world.width(), world.height(), layout.channels, type_of(layout.depth));
    if (layout.channels == 4) {
        spec.alpha_channel = 3;
        // The values are straight (unassociated) alpha; tell the writer so it
        // neither divides colour by alpha nor marks the file premultiplied.
        spec.attribute("oiio:UnassociatedAlpha", 1);
    }

    PendingTemp pending(temp);
    auto fail = [&](std::string reason) {
        out.reset();
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        // The writer's messages name the temporary file; the user knows the target.
        for (std::size_t at; (at = reason.find(temp)) != std::string::npos;)
            reason.replace(at, temp.size(), path);
        return ToolError("cannot write '" + path + "': " + one_line(reason));
    };
    if (!out->open(temp, spec))
        throw fail(out->geterror());
    bool written = false;
    switch (layout.depth) {
    case Depth::u8:
        written = out->write_image(TypeDesc::UINT8, pack_for_file<std::uint8_t>(world, layout.channels).data());
        break;
    case Depth::u16:
        written = out->write_image(TypeDesc::UINT16, pack_for_file<std::uint16_t>(world, layout.channels).data());
        break;
    case Depth::f32:
        written = out->write_image(TypeDesc::FLOAT, pack_for_file<float>(world, layout.channels).data());
        break;
    }
    if (!written || !out->close())
        throw fail(out->geterror());
    out.reset();

    std::filesystem::rename(temp, path, ec);
    if (ec)
        throw fail(ec.message());
}

void install_interrupt_cleanup()
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        std::signal(sig, remove_pending_temp);
}

} // namespace ruvivedu::tool
