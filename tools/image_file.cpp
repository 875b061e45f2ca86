// Picture files as host worlds: the value mapping between file and host
// components, the choice of reader and writer by extension, and writing with
// no partial file ever left at the target.
#include "image_file.h"

#include "picture_codecs.h"
#include "tool_error.h"

#if RUVIVEDU_TOOL_WITH_OIIO
#include "image_file_oiio.h"
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

namespace ruvivedu::tool {

namespace {

// ---- component mapping ------------------------------------------------------

/// Full scale of a component as the host holds it.
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

/// Three or more channels are RGB; one or two are grey (R = G = B), taken
/// from whichever channel is not alpha. A lone channel that is alpha (a matte
/// such as an OpenEXR file of channel A alone) is its own grey: there is no
/// other channel to read.
ChannelMap channel_map(const FilePicture& picture)
{
    ChannelMap map;
    map.alpha = picture.alpha_channel;
    if (picture.channels >= 3) {
        map.red = 0;
        map.green = 1;
        map.blue = 2;
    } else {
        const int grey = map.alpha == 0 && picture.channels == 2 ? 1 : 0;
        map.red = map.green = map.blue = grey;
    }
    return map;
}

/// Fills `world` (host type H) from interleaved file components of type F
/// whose full scale is `from`.
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

template <class F>
host::World to_world(const FilePicture& picture, const std::vector<F>& data, Depth depth)
{
    host::World world(depth, picture.width, picture.height);
    const ChannelMap map = channel_map(picture);
    switch (depth) {
    case Depth::u8:
        fill_world<std::uint8_t>(world, data, picture.channels, picture.full_scale, map);
        break;
    case Depth::u16:
        fill_world<std::uint16_t>(world, data, picture.channels, picture.full_scale, map);
        break;
    case Depth::f32:
        fill_world<float>(world, data, picture.channels, picture.full_scale, map);
        break;
    }
    return world;
}

/// Interleaved file components of type F and full scale `to` from `world`
/// (host type H).
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

template <class F>
std::vector<F> pack_for_file(const host::World& world, int channels, double to)
{
    switch (world.depth()) {
    case Depth::u8:
        return pack_world<F, std::uint8_t>(world, channels, to);
    case Depth::u16:
        return pack_world<F, std::uint16_t>(world, channels, to);
    case Depth::f32:
        break;
    }
    return pack_world<F, float>(world, channels, to);
}

FilePicture to_picture(const host::World& world, const OutputLayout& layout)
{
    FilePicture picture;
    picture.width = world.width();
    picture.height = world.height();
    picture.channels = layout.channels;
    picture.alpha_channel = layout.channels == 4 ? 3 : -1;
    picture.depth = layout.depth;
    picture.full_scale = layout.full_scale;
    picture.format = layout.format;
    switch (layout.depth) {
    case Depth::u8:
        picture.u8 = pack_for_file<std::uint8_t>(world, layout.channels, layout.full_scale);
        break;
    case Depth::u16:
        picture.u16 = pack_for_file<std::uint16_t>(world, layout.channels, layout.full_scale);
        break;
    case Depth::f32:
        picture.f32 = pack_for_file<float>(world, layout.channels, layout.full_scale);
        break;
    }
    return picture;
}

// ---- formats ----------------------------------------------------------------

std::string lower_extension(const std::string& path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

/// The built-in codec for `path`: PAM always (OpenImageIO has no PAM), TIFF
/// only where OpenImageIO is missing, since it reads what ours does not.
std::string builtin_format(const std::string& path)
{
    const std::string ext = lower_extension(path);
    if (ext == ".pam")
        return "pam";
#if !RUVIVEDU_TOOL_WITH_OIIO
    if (ext == ".tif" || ext == ".tiff")
        return "tiff";
#endif
    return {};
}

#if !RUVIVEDU_TOOL_WITH_OIIO
constexpr char kBuiltinFormats[] = "this build reads and writes PAM (.pam) and uncompressed TIFF (.tif, .tiff) only";
#endif

// ---- interrupt cleanup ------------------------------------------------------

/// The temporary file being written, for the signal handler. A plain char
/// array: a handler may only touch lock-free data and call unlink.
char g_pending_temp[4096];
volatile std::sig_atomic_t g_pending = 0;

extern "C" void remove_pending_temp(int sig)
{
    if (g_pending) {
#if defined(_WIN32)
        ::_unlink(g_pending_temp);
#else
        ::unlink(g_pending_temp);
#endif
    }
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

int process_id()
{
#if defined(_WIN32)
    return ::_getpid();
#else
    return int(::getpid());
#endif
}

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
    const std::string builtin = builtin_format(path);
    FilePicture picture;
    if (builtin == "pam")
        picture = read_pam(path);
    else if (builtin == "tiff")
        picture = read_tiff(path);
    else {
#if RUVIVEDU_TOOL_WITH_OIIO
        picture = read_picture_oiio(path);
#else
        throw ToolError("cannot read '" + path + "': " + kBuiltinFormats);
#endif
    }

    FileInfo found;
    found.width = picture.width;
    found.height = picture.height;
    found.channels = picture.channels;
    found.has_alpha = picture.alpha_channel >= 0;
    found.depth = picture.depth;
    found.format = picture.format;
    if (info)
        *info = found;

    const Depth target = depth.value_or(found.depth);
    switch (picture.depth) {
    case Depth::u8:
        return to_world(picture, picture.u8, target);
    case Depth::u16:
        return to_world(picture, picture.u16, target);
    case Depth::f32:
        break;
    }
    return to_world(picture, picture.f32, target);
}

OutputLayout output_layout(const std::string& path, Depth render_depth)
{
    const std::string builtin = builtin_format(path);
    OutputLayout layout;
    layout.format = builtin;
    layout.channels = 4;
    if (builtin == "pam") {
        // PAM holds no float; 16 bits is the closest. Its MAXVAL is free, so
        // 16-bit files carry the host's own 0..32768 values unchanged.
        layout.depth = render_depth == Depth::u8 ? Depth::u8 : Depth::u16;
        layout.full_scale = layout.depth == Depth::u8 ? 255.0 : 32768.0;
        return layout;
    }
    if (builtin == "tiff") {
        layout.depth = render_depth;
        layout.full_scale = render_depth == Depth::u8 ? 255.0 : render_depth == Depth::u16 ? 65535.0 : 1.0;
        return layout;
    }
#if RUVIVEDU_TOOL_WITH_OIIO
    return output_layout_oiio(path, render_depth);
#else
    throw ToolError("cannot write '" + path + "': " + kBuiltinFormats);
#endif
}

std::string temporary_path_for(const std::string& path)
{
    namespace fs = std::filesystem;
    static std::atomic<unsigned> counter{0};
    const fs::path target(path);
    const std::string name = "." + target.stem().string() + ".ruvivedu-" + std::to_string(process_id()) + "-" +
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
    const FilePicture picture = to_picture(world, layout);

    PendingTemp pending(temp);
    auto fail = [&](std::string reason) {
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        // The writer's messages name the temporary file; the user knows the target.
        for (std::size_t at; (at = reason.find(temp)) != std::string::npos;)
            reason.replace(at, temp.size(), path);
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' '))
            reason.pop_back();
        std::replace(reason.begin(), reason.end(), '\n', ' ');
        return ToolError("cannot write '" + path + "': " + (reason.empty() ? "unknown error" : reason));
    };
    std::string reason;
    if (layout.format == "pam")
        reason = write_pam(temp, picture);
    else if (layout.format == "tiff" && !builtin_format(path).empty())
        reason = write_tiff(temp, picture);
    else {
#if RUVIVEDU_TOOL_WITH_OIIO
        reason = write_picture_oiio(temp, picture);
#endif
    }
    if (!reason.empty())
        throw fail(reason);

    std::filesystem::rename(temp, path, ec);
    if (ec)
        throw fail(ec.message());
}

void install_interrupt_cleanup()
{
    for (int sig : {SIGINT, SIGTERM})
        std::signal(sig, remove_pending_temp);
#if defined(SIGHUP)
    std::signal(SIGHUP, remove_pending_temp);
#endif
}

} // namespace ruvivedu::tool
