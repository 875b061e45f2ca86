// Rendering frames through the plug-in module, driven by the substitute host
// exactly as the compositing host drives it.
#pragma once

#include "pixel_world.h"
#include "plugin_module.h"
#include "render_options.h"
#include "substitute_host.h"

#include <memory>
#include <string>
#include <vector>

namespace ruvivedu::tool {

/// File name of the plug-in module on this platform.
extern const char kModuleFileName[];

/// The folder of the running executable ("" when it cannot be found).
std::string executable_dir();

/// The module to load: `explicit_path` when given (it must exist), else
/// kModuleFileName beside the executable, else in ../src/shell relative to
/// it (the build tree's layout), else in ../lib/ruvivedu (an installed
/// tree). Throws ToolError naming where it looked.
std::string find_plugin_module(const std::string& explicit_path, const std::string& exe_dir);

/// The host's name for a plug-in result code ("out of memory", "bad callback
/// parameter", ...); empty for a code without one.
std::string plugin_error_name(PF_Err code);

/// "plug-in error 4 (out of memory)", followed by the plug-in's own return
/// message when it wrote one.
std::string describe_plugin_error(PF_Err code, const std::string& return_msg);

/// The six parameter values as the host stores them, and the frame's
/// downsample factors and time.
struct FrameParams {
    A_long shape = 1;
    PF_Fixed dot_size = 0;
    PF_Fixed rotation = 0;
    PF_Fixed offset_x = 0;
    PF_Fixed offset_y = 0;
    A_long alpha = 0;
    A_long sampling = 1;
    Ratio downsample_x;
    Ratio downsample_y;
    RenderPath path = RenderPath::smart;
    A_long time = 0;
};

/// Host values for `options` on a layer whose full-resolution size is
/// `full_width` x `full_height`: DotSize and Rotation as 16.16, Offset
/// defaulting to the layer centre and scaled into downsampled pixels.
FrameParams frame_params(const RenderOptions& options, double full_width, double full_height, A_long time);

/// A plug-in module loaded behind one substitute host, set up once
/// (GLOBAL_SETUP, PARAMS_SETUP) and then asked for any number of frames.
class FrameRenderer {
public:
    /// Loads the module and sets the effect up; throws ToolError when the
    /// module does not load or a setup command fails.
    explicit FrameRenderer(const std::string& module_path);
    ~FrameRenderer();
    FrameRenderer(const FrameRenderer&) = delete;
    FrameRenderer& operator=(const FrameRenderer&) = delete;

    /// Renders `layer` (already at the plug-in's resolution) into a new
    /// output world of the same size and depth: SMART_PRE_RENDER and
    /// SMART_RENDER, or the classic RENDER. Throws ToolError with the
    /// plug-in's error and message when a command fails.
    host::World render(host::World layer, const FrameParams& params);

    /// Things worth telling the user that did not stop the render: messages
    /// the plug-in wrote while returning success, and misuse the host
    /// noticed. Each distinct text once.
    const std::vector<std::string>& warnings() const { return warnings_; }

    const std::string& module_path() const { return module_.path(); }

private:
    void check(PF_Err result, const char* command);
    void collect_warnings();

    host::PluginModule module_;
    std::unique_ptr<host::SubstituteHost> host_;
    std::vector<std::string> warnings_;
};

/// Reads `in_path`, reduces it as options.downsample says (unless
/// prescaled), renders it and writes `out_path`. `time` is the frame number.
void render_file(FrameRenderer& renderer, const RenderOptions& options, const std::string& in_path,
                 const std::string& out_path, A_long time);

} // namespace ruvivedu::tool
