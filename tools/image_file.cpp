// Picture files as host worlds: the value mapping between file and host
// components, the choice of reader and writer by extension, and writing with
// no partial file ever left at the target.
#include "image_file.h"

#include "component_mapping.h"
#include "picture_codecs.h"
#include "tool_error.h"

#if RUVIVEDU_TOOL_WITH_OIIO
#include "picture_io.h"
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

namespace ruvivedu::tool {

namespace {

/// How a file picture's components sit, for the mapping into a world.
ComponentLayout layout_of(const FilePicture& picture)
{
    return ComponentLayout{picture.depth, picture.full_scale, picture.channels, picture.alpha_channel};
}

const void* components_of(const FilePicture& picture)
{
    switch (picture.depth) {
    case Depth::u8:
        return picture.u8.data();
    case Depth::u16:
        return picture.u16.data();
    case Depth::f32:
        break;
    }
    return picture.f32.data();
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
    void* data = nullptr;
    switch (layout.depth) {
    case Depth::u8:
        picture.u8.resize(picture.component_count());
        data = picture.u8.data();
        break;
    case Depth::u16:
        picture.u16.resize(picture.component_count());
        data = picture.u16.data();
        break;
    case Depth::f32:
        picture.f32.resize(picture.component_count());
        data = picture.f32.data();
        break;
    }
    WorldToFile(world.depth(), ComponentLayout{layout.depth, layout.full_scale, layout.channels, picture.alpha_channel})
        .convert(world, 0, world.height(), data);
    return picture;
}

// ---- formats ----------------------------------------------------------------

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

/// The temporary files being written, for the signal handler: one slot per
/// write in progress. A handler may only touch lock-free data and call
/// unlink, so the slots are plain char arrays, each armed by an atomic flag.
constexpr int kPendingSlots = 256;
constexpr std::size_t kPendingPathSize = 4096;
char g_pending_temp[kPendingSlots][kPendingPathSize];
std::atomic<int> g_pending[kPendingSlots];
enum : int { kSlotFree = 0, kSlotFilling = 1, kSlotArmed = 2 };

/// Writers on other threads may be creating their temporary files when an
/// interrupt comes: the handler stops new creations, waits for those under
/// way (so that their files exist and are marked), removes every marked file
/// and only then lets the signal end the process.
std::atomic<int> g_creating{0};
std::atomic<int> g_interrupted{0};
thread_local int t_creating = 0;

extern "C" void remove_pending_temp(int sig)
{
    g_interrupted.store(1);
    // A creation on this very thread cannot go on while the handler runs.
    while (g_creating.load() > t_creating) {
    }
    for (int slot = 0; slot < kPendingSlots; ++slot) {
        if (g_pending[slot].load(std::memory_order_acquire) == kSlotArmed) {
#if defined(_WIN32)
            ::_unlink(g_pending_temp[slot]);
#else
            ::unlink(g_pending_temp[slot]);
#endif
        }
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

/// Marks a temporary file for removal on interrupt for as long as it lives.
/// With every slot taken (more writes at once than the tool runs) the file
/// is simply not marked.
class PendingTemp {
public:
    explicit PendingTemp(const std::string& path)
    {
        if (path.size() >= kPendingPathSize)
            return;
        for (int slot = 0; slot < kPendingSlots; ++slot) {
            int expected = kSlotFree;
            if (g_pending[slot].compare_exchange_strong(expected, kSlotFilling, std::memory_order_acquire)) {
                std::memcpy(g_pending_temp[slot], path.c_str(), path.size() + 1);
                g_pending[slot].store(kSlotArmed, std::memory_order_release);
                slot_ = slot;
                return;
            }
        }
    }
    ~PendingTemp()
    {
        if (slot_ >= 0)
            g_pending[slot_].store(kSlotFree, std::memory_order_release);
    }
    PendingTemp(const PendingTemp&) = delete;
    PendingTemp& operator=(const PendingTemp&) = delete;

private:
    int slot_ = -1;
};

int process_id()
{
#if defined(_WIN32)
    return ::_getpid();
#else
    return int(::getpid());
#endif
}

#if RUVIVEDU_TOOL_WITH_OIIO
/// Rows per band: about a mebibyte of components, which stays in the cache
/// between the codec and the mapping.
int band_rows(std::size_t row_bytes, int height)
{
    return std::min(height, std::clamp(int((std::size_t(1) << 20) / std::max<std::size_t>(row_bytes, 1)), 16, 256));
}

host::World read_streamed(const std::string& path, std::optional<Depth> depth, FileInfo* info, host::World* recycle)
{
    std::string error;
    const std::unique_ptr<PictureReader> reader = codec_for(path, "read").open_reader(path, error);
    if (!reader)
        throw ToolError("cannot read '" + path + "': " + error);
    const PictureHeader& header = reader->header();
    if (header.width <= 0 || header.height <= 0 || header.layout.channels <= 0)
        throw ToolError("cannot read '" + path + "': not a flat two-dimensional picture");
    if (header.width > kMaxLayerSide || header.height > kMaxLayerSide)
        throw ToolError("cannot read '" + path + "': " + larger_than_a_layer(header.width, header.height));

    const Depth target = depth.value_or(header.layout.type);
    host::World world = world_for(target, header.width, header.height, recycle);
    const FileToWorld mapping(header.layout, target);
    const std::size_t row_bytes =
        std::size_t(header.width) * std::size_t(header.layout.channels) * component_bytes(header.layout.type);
    const int band = header.whole           ? header.height
                     : header.band_rows > 0 ? std::min(header.band_rows, header.height)
                                            : band_rows(row_bytes, header.height);
    std::vector<unsigned char> buffer(row_bytes * std::size_t(band));
    for (int y = 0; y < header.height; y += band) {
        const int rows = std::min(band, header.height - y);
        error = reader->read_rows(y, rows, buffer.data());
        if (!error.empty())
            throw ToolError("cannot read '" + path + "': " + error);
        mapping.convert(buffer.data(), world, y, rows);
    }
    error = reader->finish();
    if (!error.empty())
        throw ToolError("cannot read '" + path + "': " + error);
    if (info)
        *info = FileInfo{header.width,       header.height, header.channels, header.layout.alpha_channel >= 0,
                         header.layout.type, header.format, header.date_time};
    return world;
}

std::string write_streamed(const std::string& temp, const std::string& path, const host::World& world,
                           const OutputLayout& layout, const WriteSettings& settings)
{
    std::string error;
    std::unique_ptr<PictureWriter> writer;
    {
        const CreatingFile creating;
        writer = codec_for(path, "write").open_writer(temp, world.width(), world.height(), layout, settings, error);
    }
    if (!writer)
        return error;
    const WorldToFile mapping(world.depth(), ComponentLayout{layout.depth, layout.full_scale, layout.channels,
                                                             layout.channels == 4 ? 3 : -1});
    const std::size_t row_bytes =
        std::size_t(world.width()) * std::size_t(layout.channels) * component_bytes(layout.depth);
    const int band =
        layout.band_rows > 0 ? std::min<int>(layout.band_rows, world.height()) : band_rows(row_bytes, world.height());
    std::vector<unsigned char> buffer(row_bytes * std::size_t(band));
    for (int y = 0; y < world.height(); y += band) {
        const int rows = std::min(band, int(world.height()) - y);
        mapping.convert(world, y, rows, buffer.data());
        error = writer->write_rows(y, rows, buffer.data());
        if (!error.empty())
            return error;
    }
    return writer->finish();
}
#endif

}  // namespace

std::string lower_extension(const std::string& path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

CreatingFile::CreatingFile()
{
    ++t_creating;
    g_creating.fetch_add(1);
    if (g_interrupted.load()) {
        // The process is being interrupted: create nothing more, and wait
        // for the handler to end it.
        g_creating.fetch_sub(1);
        for (;;)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}

CreatingFile::~CreatingFile()
{
    g_creating.fetch_sub(1);
    --t_creating;
}

std::uint16_t file16_to_host16(std::uint16_t v)
{
    // round(v x 32768 / 65535), as the picture mapping rounds it.
    return std::uint16_t((std::uint64_t(v) * 65536 + 65535) / 131070);
}

std::uint16_t host16_to_file16(std::uint16_t c)
{
    const std::uint64_t limited = c < 32768 ? c : 32768;
    return std::uint16_t((limited * 131070 + 32768) / 65536);
}

host::World world_for(Depth depth, A_long width, A_long height, host::World* recycle)
{
    if (recycle && recycle->depth() == depth && recycle->width() == width && recycle->height() == height &&
        !recycle->is_bottom_up() &&
        std::size_t(recycle->rowbytes()) == std::size_t(width) * host::bytes_per_pixel(depth))
        return std::move(*recycle);
    return host::World(depth, width, height);
}

host::World read_image(const std::string& path, std::optional<Depth> depth, FileInfo* info, host::World* recycle)
{
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw ToolError("cannot read '" + path + "': it is a folder");
    const std::string builtin = builtin_format(path);
    FilePicture picture;
    if (builtin == "pam")
        picture = read_pam(path);
    else if (builtin == "tiff")
        picture = read_tiff(path);
    else {
#if RUVIVEDU_TOOL_WITH_OIIO
        return read_streamed(path, depth, info, recycle);
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
    host::World world = world_for(target, picture.width, picture.height, recycle);
    FileToWorld(layout_of(picture), target).convert(components_of(picture), world, 0, picture.height);
    return world;
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
    std::string error;
    if (!codec_for(path, "write").output_layout(path, render_depth, layout, error))
        throw ToolError("cannot write '" + path + "': " + error);
    return layout;
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

namespace {

std::string lower(std::string text)
{
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

/// "6" as a whole number from `low` to `high`, else -1.
int small_number(const std::string& digits, int low, int high)
{
    if (digits.empty() || digits.size() > 3 || !std::all_of(digits.begin(), digits.end(), ::isdigit))
        return -1;
    const int value = std::stoi(digits);
    return value >= low && value <= high ? value : -1;
}

/// "45" or "45.5": a positive finite quality for the DWA methods.
bool positive_number(const std::string& text)
{
    if (text.empty() || text.size() > 12 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) || c == '.'; }))
        return false;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && value > 0.0 && std::isfinite(value);
}

std::string check_exr_compression(const std::string& text)
{
    const std::string value = lower(text);
    const std::size_t colon = value.find(':');
    const std::string method = value.substr(0, colon);
    const std::string level = colon == std::string::npos ? std::string() : value.substr(colon + 1);
    const bool named = method == "none" || method == "rle" || method == "zips" || method == "zip" || method == "piz" ||
                       method == "pxr24" || method == "dwaa" || method == "dwab";
    bool fine = named && colon == std::string::npos;
    if (named && colon != std::string::npos) {
        if (method == "zip" || method == "zips")
            fine = small_number(level, 1, 9) >= 0;
        else if (method == "dwaa" || method == "dwab")
            fine = positive_number(level);
    }
    if (fine)
        return value;
    if (method == "b44" || method == "b44a")
        throw usage_error("--compression " + text +
                          " compresses half-float channels only, and OpenEXR files are written as 32-bit float: "
                          "choose none, rle, zips, zip, piz, pxr24, dwaa or dwab");
    throw usage_error("--compression '" + text +
                      "' is not an OpenEXR compression: choose none, rle, zips, zip, piz, pxr24 (lossy), dwaa or "
                      "dwab (lossy), zip and zips with a level 1 to 9 (zip:6), dwaa and dwab with a quality (dwaa:45)");
}

std::string check_tiff_compression(const std::string& text)
{
    const std::string value = lower(text);
#if RUVIVEDU_TOOL_WITH_OIIO
    if (value == "none" || value == "lzw" || value == "zip" || value == "packbits" ||
        (value.rfind("zip:", 0) == 0 && small_number(value.substr(4), 1, 9) >= 0))
        return value;
    throw usage_error("--compression '" + text +
                      "' is not a TIFF compression: choose none, lzw, zip (or zip:1 to zip:9) or packbits");
#else
    if (value == "none")
        return value;
    throw usage_error("--compression '" + text + "': this build writes uncompressed TIFF files only (none)");
#endif
}

}  // namespace

std::string check_compression(const std::string& path, const std::string& text)
{
    const std::string ext = lower_extension(path);
    if (ext == ".png") {
        if (small_number(text, 0, 9) < 0)
            throw usage_error("--compression '" + text +
                              "' is not a PNG compression: give a zlib level 0 to 9 (0 none, " +
                              "9 smallest; default " + std::to_string(kPngDefaultLevel) + ")");
        return std::to_string(small_number(text, 0, 9));
    }
    if (ext == ".exr")
        return check_exr_compression(text);
    if (ext == ".tif" || ext == ".tiff")
        return check_tiff_compression(text);
    if (ext == ".pam")
        throw usage_error("--compression: PAM files are always written uncompressed");
    throw usage_error("--compression applies to PNG, OpenEXR and TIFF files, not to '" + path + "'");
}

void write_image(const std::string& path, const host::World& world, [[maybe_unused]] const WriteSettings& settings)
{
    const OutputLayout layout = output_layout(path, world.depth());
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec))
        throw ToolError("cannot write '" + path + "': folder '" + folder.string() + "' does not exist");
    const std::string temp = temporary_path_for(path);

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
    if (layout.format == "pam") {
        const FilePicture picture = to_picture(world, layout);
        const CreatingFile creating;
        reason = write_pam(temp, picture);
    } else if (layout.format == "tiff" && !builtin_format(path).empty()) {
        const FilePicture picture = to_picture(world, layout);
        const CreatingFile creating;
        reason = write_tiff(temp, picture);
    } else {
#if RUVIVEDU_TOOL_WITH_OIIO
        reason = write_streamed(temp, path, world, layout, settings);
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

}  // namespace ruvivedu::tool
