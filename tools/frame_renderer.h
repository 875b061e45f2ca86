// Rendering frames through the plug-in module, driven by the substitute host
// exactly as the compositing host drives it.
#pragma once

#include "image_file.h"
#include "pixel_world.h"
#include "plugin_module.h"
#include "render_options.h"
#include "substitute_host.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
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
    /// The part of the layer asked for; empty for the whole layer.
    std::optional<Region> region;
};

/// Host values for `options` on a layer whose full-resolution size is
/// `full_width` x `full_height`: DotSize and Rotation as 16.16, Offset
/// defaulting to the layer centre and scaled into downsampled pixels.
FrameParams frame_params(const RenderOptions& options, double full_width, double full_height, A_long time);

/// One render thread of the effect: its own substitute host, with its own
/// in_data, parameter array and worlds, over the module and the parameter
/// definitions of the FrameRenderer that made it. Contexts of one renderer
/// may render on different threads at once, as a host renders frames under
/// multi-frame rendering; each context one frame at a time.
class RenderContext {
public:
    /// `serial`, when given, is held around every render command: the
    /// effect did not declare threaded rendering, so a host would send it one
    /// frame at a time (the files of other frames are still read and written
    /// meanwhile).
    RenderContext(const host::PluginModule& module, const host::SubstituteHost& setup, std::mutex* serial = nullptr);
    ~RenderContext();
    RenderContext(const RenderContext&) = delete;
    RenderContext& operator=(const RenderContext&) = delete;

    /// Renders `layer` (already at the plug-in's resolution) into an output
    /// world of the same size and depth (`recycle`'s buffer when it fits, as
    /// world_for() says): SMART_PRE_RENDER and SMART_RENDER, or the classic
    /// RENDER. With a region, the output world is the region within the
    /// layer, placed there by its origin: the smart render's is the result the
    /// pre-render answered for the region's request. Throws ToolError with the plug-in's error and message when a
    /// command fails.
    host::World render(host::World layer, const FrameParams& params, host::World* recycle = nullptr);

    /// The input world of the last render, handed back for a later frame's
    /// pixels (empty before the first render and after this was taken).
    std::optional<host::World> take_input();

    /// What is worth telling the user from the renders since the last call,
    /// though it did not stop them: messages the plug-in wrote while
    /// returning success, and misuse the host noticed. Each distinct text once.
    std::vector<std::string> take_warnings();

private:
    std::unique_ptr<host::SubstituteHost> host_;
    std::mutex* serial_;
    std::vector<std::string> warnings_;
};

/// A plug-in module loaded and the effect set up once (GLOBAL_SETUP,
/// PARAMS_SETUP), as a host sets up an effect; its contexts then render any
/// number of frames.
class FrameRenderer {
public:
    /// Loads the module and sets the effect up; throws ToolError when the
    /// module does not load or a setup command fails.
    explicit FrameRenderer(const std::string& module_path);
    ~FrameRenderer();
    FrameRenderer(const FrameRenderer&) = delete;
    FrameRenderer& operator=(const FrameRenderer&) = delete;

    /// Another render thread of this effect. The renderer must outlive it.
    /// Unless the effect declared PF_OutFlag2_SUPPORTS_THREADED_RENDERING at
    /// GLOBAL_SETUP, the contexts take turns at the render commands.
    std::unique_ptr<RenderContext> new_context() const;

    /// Whether the effect said it renders on several threads at once.
    bool threaded() const { return threaded_; }

    /// Things worth telling the user that did not stop the setup: messages
    /// the plug-in wrote while returning success, and misuse the host
    /// noticed. Each distinct text once.
    const std::vector<std::string>& warnings() const { return warnings_; }

    const std::string& module_path() const { return module_.path(); }

private:
    host::PluginModule module_;
    std::unique_ptr<host::SubstituteHost> setup_;
    bool threaded_ = false;
    mutable std::mutex serial_;  // the render commands' turns, for an effect that is not threaded
    std::vector<std::string> warnings_;
};

/// The worlds a frame leaves to the next one rendered on the same context,
/// so that a sequence reuses its buffers instead of clearing fresh memory.
struct FrameBuffers {
    std::optional<host::World> input;   ///< a spent input world, for the next frame's pixels
    std::optional<host::World> output;  ///< a written output world, for the next frame's render
};

/// Seconds spent on the three steps of frames, summed over them.
struct FrameTimes {
    double read = 0.0;    ///< decoding, mapping into the world and any downsampling
    double render = 0.0;  ///< the plug-in's render commands
    double write = 0.0;   ///< mapping out of the world, encoding, and the rename
    FrameTimes& operator+=(const FrameTimes& other);
};

/// Reads `in_path`, reduces it as options.downsample says (unless
/// prescaled), renders it on `context` and writes `out_path` with
/// `settings`. `time` is the frame number. `buffers` lends and takes back
/// the worlds of earlier frames; the steps' times are added to `times`.
/// `go_on`, asked before the render and before the write, may call the
/// frame off (it is then neither rendered further nor written); returns
/// false when it did.
bool render_file(RenderContext& context, const RenderOptions& options, const WriteSettings& settings,
                 const std::string& in_path, const std::string& out_path, A_long time, FrameBuffers& buffers,
                 FrameTimes& times, const std::function<bool()>& go_on = {});

}  // namespace ruvivedu::tool
