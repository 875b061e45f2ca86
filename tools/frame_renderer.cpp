// One frame through the plug-in: module search, host set-up, the render
// commands and their result codes.
#include "frame_renderer.h"

#include "downsample.h"
#include "image_file.h"
#include "tool_error.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace ruvivedu::tool {

#if defined(_WIN32)
const char kModuleFileName[] = "Ruvivedu.aex";
#elif defined(__APPLE__)
const char kModuleFileName[] = "Ruvivedu.plugin";
#else
const char kModuleFileName[] = "Ruvivedu.so";
#endif

namespace {

/// Return messages end in a newline or two; a report line must not.
std::string trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

}  // namespace

std::string executable_dir()
{
#if defined(_WIN32)
    // The buffer grows until the whole path fits (paths may exceed MAX_PATH).
    std::wstring buffer(260, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return std::filesystem::path(buffer).parent_path().string();
        }
        if (buffer.size() > 32768)
            return {};
        buffer.resize(buffer.size() * 2);
    }
#elif defined(__linux__)
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        return exe.parent_path().string();
#endif
    return {};
}

std::string find_plugin_module(const std::string& explicit_path, const std::string& exe_dir)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!explicit_path.empty()) {
        if (!fs::is_regular_file(explicit_path, ec) && !fs::is_directory(explicit_path, ec))
            throw ToolError("plug-in module '" + explicit_path + "' does not exist");
        return explicit_path;
    }
    std::vector<fs::path> candidates;
    if (!exe_dir.empty()) {
        candidates.push_back(fs::path(exe_dir) / kModuleFileName);
        candidates.push_back((fs::path(exe_dir) / ".." / "src" / "shell" / kModuleFileName).lexically_normal());
        // An installed tool (bin/) beside an installed module (lib/ruvivedu/).
        candidates.push_back((fs::path(exe_dir) / ".." / "lib" / "ruvivedu" / kModuleFileName).lexically_normal());
    }
    std::string looked;
    for (const fs::path& candidate : candidates) {
        if (fs::exists(candidate, ec))
            return candidate.string();
        looked += (looked.empty() ? "" : " and ") + candidate.string();
    }
    throw ToolError(std::string("cannot find the plug-in module ") + kModuleFileName +
                    (looked.empty() ? "" : " (looked for " + looked + ")") + "; name it with --plugin PATH");
}

std::string plugin_error_name(PF_Err code)
{
    switch (code) {
    case PF_Err_OUT_OF_MEMORY:
        return "out of memory";
    case PF_Err_INTERNAL_STRUCT_DAMAGED:
        return "internal structure damaged";
    case PF_Err_INVALID_INDEX:
        return "invalid index";
    case PF_Err_UNRECOGNIZED_PARAM_TYPE:
        return "unrecognized parameter type";
    case PF_Err_INVALID_CALLBACK:
        return "invalid callback";
    case PF_Err_BAD_CALLBACK_PARAM:
        return "bad callback parameter";
    default:
        return {};
    }
}

std::string describe_plugin_error(PF_Err code, const std::string& return_msg)
{
    const std::string name = plugin_error_name(code);
    std::string text = "plug-in error " + std::to_string(code) + (name.empty() ? "" : " (" + name + ")");
    const std::string message = trimmed(return_msg);
    if (!message.empty())
        text += ": " + message;
    return text;
}

FrameParams frame_params(const RenderOptions& options, double full_width, double full_height, A_long time)
{
    FrameParams params;
    params.shape = options.shape;
    params.dot_size = to_fixed("DotSize", options.dot_size);
    params.rotation = to_fixed("Rotation", options.rotation);
    const std::pair<double, double> offset = effective_offset(options, full_width, full_height);
    params.offset_x = to_fixed("Offset x", offset.first);
    params.offset_y = to_fixed("Offset y", offset.second);
    params.alpha = options.alpha ? 1 : 0;
    params.sampling = options.sampling;
    params.downsample_x = options.downsample_x;
    params.downsample_y = options.downsample_y;
    params.path = options.path;
    params.time = time;
    params.region = options.region;
    return params;
}

namespace {

/// Adds what `host` noticed during its last commands to `warnings`, each
/// distinct text once, and clears the host's records.
void collect_warnings(host::SubstituteHost& host, std::vector<std::string>& warnings)
{
    auto add = [&](const std::string& text) {
        if (std::find(warnings.begin(), warnings.end(), text) == warnings.end())
            warnings.push_back(text);
    };
    // A message with a success code means the plug-in declined the work
    // without failing (it then leaves the output as the host gave it).
    const std::string message = trimmed(host.return_msg());
    if (!message.empty())
        add("the plug-in says: " + message);
    for (const std::string& error : host.errors())
        add("the host noticed: " + error);
    host.reset_records();
}

void clear(host::World& world)
{
    switch (world.depth()) {
    case host::Depth::u8:
        world.fill(PF_Pixel8{});
        break;
    case host::Depth::u16:
        world.fill(PF_Pixel16{});
        break;
    case host::Depth::f32:
        world.fill(PF_PixelFloat{});
        break;
    }
}

void check_command(const host::SubstituteHost& host, PF_Err result, const char* command)
{
    if (result != PF_Err_NONE)
        throw ToolError(std::string(command) + " returned " + describe_plugin_error(result, host.return_msg()));
}

}  // namespace

FrameRenderer::FrameRenderer(const std::string& module_path)
{
    if (!module_.load(module_path))
        throw ToolError(module_.error());  // it names the module and the loader's reason
    setup_ = std::make_unique<host::SubstituteHost>(module_);
    // A host sends these two once, before any frame, however many threads then render.
    check_command(*setup_, setup_->global_setup(), "GLOBAL_SETUP");
    threaded_ = (setup_->out_data().out_flags2 & PF_OutFlag2_SUPPORTS_THREADED_RENDERING) != 0;
    check_command(*setup_, setup_->params_setup(), "PARAMS_SETUP");
    collect_warnings(*setup_, warnings_);
}

FrameRenderer::~FrameRenderer() = default;

std::unique_ptr<RenderContext> FrameRenderer::new_context() const
{
    return std::make_unique<RenderContext>(module_, *setup_, threaded_ ? nullptr : &serial_);
}

RenderContext::RenderContext(const host::PluginModule& module, const host::SubstituteHost& setup, std::mutex* serial)
    : host_(std::make_unique<host::SubstituteHost>(module)), serial_(serial)
{
    host_->adopt_params(setup);
}

RenderContext::~RenderContext() = default;

std::vector<std::string> RenderContext::take_warnings()
{
    return std::exchange(warnings_, {});
}

std::optional<host::World> RenderContext::take_input()
{
    host::World* input = host_->input();
    if (!input || input->width() == 0)
        return std::nullopt;
    return std::move(*input);
}

host::World RenderContext::render(host::World layer, const FrameParams& params, host::World* recycle)
{
    const host::Depth depth = layer.depth();
    const A_long width = layer.width(), height = layer.height();
    host_->set_input(std::move(layer));
    const unsigned char* lent = recycle ? recycle->buffer_begin() : nullptr;
    // A region's output is the part of it within the layer (the result the
    // effect's pre-render answers for it); the request goes as asked.
    PF_LRect request{0, 0, width, height};
    PF_LRect part = request;
    if (params.region) {
        const Region& r = *params.region;
        request = PF_LRect{r.x, r.y, r.x + r.width, r.y + r.height};
        part = PF_LRect{std::max<A_long>(request.left, 0), std::max<A_long>(request.top, 0),
                        std::min<A_long>(request.right, width), std::min<A_long>(request.bottom, height)};
        if (part.left >= part.right || part.top >= part.bottom)
            throw ToolError("--region " + std::to_string(r.x) + "," + std::to_string(r.y) + "," +
                                std::to_string(r.width) + "," + std::to_string(r.height) + " lies outside the " +
                                std::to_string(width) + " x " + std::to_string(height) + " layer",
                            kExitUsage);
    }
    host_->set_output(world_for(depth, part.right - part.left, part.bottom - part.top, recycle));
    host_->output()->set_origin(part.left, part.top);
    const bool recycled = lent && host_->output()->buffer_begin() == lent;

    PF_InData& in_data = host_->in_data();
    in_data.downsample_x = PF_RationalScale{params.downsample_x.num, params.downsample_x.den};
    in_data.downsample_y = PF_RationalScale{params.downsample_y.num, params.downsample_y.den};
    in_data.current_time = params.time * in_data.time_step;

    host_->set_shape(params.shape);
    host_->set_dot_size(params.dot_size);
    host_->set_rotation(params.rotation);
    host_->set_offset(params.offset_x, params.offset_y);
    host_->set_alpha(params.alpha);
    host_->set_sampling(params.sampling);

    try {
        std::unique_lock<std::mutex> turn;
        if (serial_)
            turn = std::unique_lock<std::mutex>(*serial_);
        if (params.path == RenderPath::smart) {
            check_command(*host_, host_->smart_pre_render(request), "SMART_PRE_RENDER");
            check_command(*host_, host_->smart_render(request), "SMART_RENDER");
        } else {
            check_command(*host_, host_->render(), "RENDER");
        }
    } catch (const ToolError&) {
        host_->reset_records();
        throw;
    }
    // A message with a success code means the plug-in declined the frame
    // and left the output as the host gave it: as a new world, all zero, not
    // as the last frame's pixels in a reused one.
    if (recycled && !trimmed(host_->return_msg()).empty())
        clear(*host_->output());
    collect_warnings(*host_, warnings_);
    return std::move(*host_->output());
}

FrameTimes& FrameTimes::operator+=(const FrameTimes& other)
{
    read += other.read;
    render += other.render;
    write += other.write;
    return *this;
}

bool render_file(RenderContext& context, const RenderOptions& options, const WriteSettings& settings,
                 const std::string& in_path, const std::string& out_path, A_long time, FrameBuffers& buffers,
                 FrameTimes& times, const std::function<bool()>& go_on)
{
    using Clock = std::chrono::steady_clock;
    auto since = [](Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); };
    auto lend = [](std::optional<host::World>& spare) { return spare ? &*spare : nullptr; };
    auto started = Clock::now();
    FileInfo info;
    host::World layer = read_image(in_path, options.depth, &info, lend(buffers.input));
    buffers.input.reset();
    if (options.path == RenderPath::classic && layer.depth() == Depth::f32)
        throw usage_error("'" + in_path +
                          "' is a float picture and the classic render only carries 8 and 16 bits: "
                          "add --depth 16 or use --path smart");

    double full_width = layer.width(), full_height = layer.height();
    const bool reduced = !options.downsample_x.is_one() || !options.downsample_y.is_one();
    if (reduced && options.prescaled) {
        // The file is the reduced frame; the layer it stands for is larger.
        full_width = layer.width() / options.downsample_x.value();
        full_height = layer.height() / options.downsample_y.value();
    } else if (reduced) {
        layer = downsample_area(layer, options.downsample_x, options.downsample_y);
    }
    times.read += since(started);
    if (go_on && !go_on())
        return false;

    const FrameParams params = frame_params(options, full_width, full_height, time);
    std::optional<host::World> output;
    started = Clock::now();
    try {
        output.emplace(context.render(std::move(layer), params, lend(buffers.output)));
    } catch (const ToolError& error) {
        throw ToolError("rendering '" + in_path + "' failed: " + error.what(), error.status());
    }
    times.render += since(started);
    buffers.output.reset();
    buffers.input = context.take_input();
    if (go_on && !go_on()) {
        buffers.output = std::move(output);
        return false;
    }
    WriteSettings frame_settings = settings;
    frame_settings.date_time = info.date_time;
    started = Clock::now();
    write_image(out_path, *output, frame_settings);
    times.write += since(started);
    buffers.output = std::move(output);
    return true;
}

}  // namespace ruvivedu::tool
