// The frei0r filter: the exported f0r_* functions over the effect's frame
// driver. Each instance owns its frame size, its parameter values and its
// input buffer; nothing is shared between instances, so hosts may run
// different instances on different threads at once.
#include "frei0r_params.h"

#include "base/image.h"
#include "base/render_context.h"
#include "pipeline/frame_render.h"
#include "shell/effect_identity.h"

// frei0r.h declares the functions without C linkage of its own.
extern "C" {
#include <frei0r.h>
}

#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <utility>

#define RUVIVEDU_F0R_EXPORT extern "C" __attribute__((visibility("default")))

namespace ruvivedu::frei0r {
namespace {

constexpr int kBytesPerPixel = 4;

constexpr char kExplanation[] =
    "Monochrome halftone screen: a rotated lattice of circle, square or line dots whose size follows the "
    "frame's darkness";

struct Instance {
    unsigned width;
    unsigned height;
    Frei0rValues values;
    /// The input frame in the effect's component order (alpha, red, green,
    /// blue), kept from frame to frame.
    std::unique_ptr<uint32_t[]> argb;
};

/// A view of a packed frame of `width` x `height` in the effect's order.
LayerParams frame_view(uint32_t* data, unsigned width, unsigned height)
{
    LayerParams view{};
    view.data = reinterpret_cast<char*>(data);
    view.rowbytes = static_cast<std::int32_t>(width * kBytesPerPixel);
    view.width = static_cast<std::int32_t>(width);
    view.height = static_cast<std::int32_t>(height);
    view.deep = false;
    return view;
}

// frei0r's RGBA8888 is red, green, blue, alpha in memory; the effect's 8-bit
// pixels are alpha, red, green, blue. Straight alpha in both. Moving a
// pixel's last byte to the front (or its first to the back) is one rotation
// of its 32-bit word, which the compiler does several pixels at a time; the
// direction depends on the processor's byte order.
constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

void rgba_to_argb(const uint32_t* rgba, uint32_t* argb, std::size_t pixels)
{
    for (std::size_t i = 0; i < pixels; ++i) {
        const uint32_t p = rgba[i];
        argb[i] = kLittleEndian ? (p << 8) | (p >> 24) : (p >> 8) | (p << 24);
    }
}

void argb_to_rgba(const uint32_t* argb, uint32_t* rgba, std::size_t pixels)
{
    for (std::size_t i = 0; i < pixels; ++i) {
        const uint32_t p = argb[i];
        rgba[i] = kLittleEndian ? (p >> 8) | (p << 24) : (p << 8) | (p >> 24);
    }
}

/// The render context the plug-in's shell fills for a layer of this frame's
/// size at full resolution, with the frame in `in` and the result to go to
/// `out`.
HalfTone_Params frame_context(const Instance& instance, uint32_t* in, uint32_t* out)
{
    HalfTone_Params context{};
    context.in_layer = frame_view(in, instance.width, instance.height);
    context.in_layer.num_channels = 4;
    context.frame_width = static_cast<std::int32_t>(instance.width);
    context.frame_height = static_cast<std::int32_t>(instance.height);
    context.extent_hint = {0, 0, context.frame_width, context.frame_height};
    context.downsample_x = {1, 1};
    context.downsample_y = {1, 1};
    context.pixel_aspect_ratio = {1, 1};
    context.out_layer = frame_view(out, instance.width, instance.height);
    read_effect_values(effect_values(instance.values, instance.width, instance.height), context);
    context.depth = Depth::u8;
    context.pica = nullptr;
    return context;
}

/// frei0r gives a filter no way to report a failed frame. The frame passes
/// through unchanged, so the host shows the picture instead of whatever its
/// output buffer held, and stderr, where hosts' logs go, says why.
void pass_through(const Instance& instance, uint32_t* outframe, const char* reason)
{
    argb_to_rgba(instance.argb.get(), outframe, std::size_t(instance.width) * instance.height);
    std::fprintf(stderr, "%s: frame passed through unchanged: %s\n", kDisplayName, reason);
}

void update(Instance& instance, const uint32_t* inframe, uint32_t* outframe)
{
    const std::size_t pixels = std::size_t(instance.width) * instance.height;
    // Read the whole input first: a host may hand the same buffer as output.
    rgba_to_argb(inframe, instance.argb.get(), pixels);
    HalfTone_Params context = frame_context(instance, instance.argb.get(), outframe);
    // No exception may leave: the host called us through C.
    try {
        render_frame<unsigned char>(&context);
    } catch (const memory_exception&) {
        pass_through(instance, outframe, "out of memory");
        return;
    } catch (const std::bad_alloc&) {
        pass_through(instance, outframe, "out of memory");
        return;
    } catch (const std::exception& error) {
        pass_through(instance, outframe, error.what());
        return;
    } catch (...) {
        pass_through(instance, outframe, "unexpected failure");
        return;
    }
    // The driver wrote every pixel of the output in the effect's order;
    // turn it into frei0r's where it lies.
    argb_to_rgba(outframe, outframe, pixels);
}

}  // namespace
}  // namespace ruvivedu::frei0r

using namespace ruvivedu::frei0r;

RUVIVEDU_F0R_EXPORT int f0r_init()
{
    return 1;
}

RUVIVEDU_F0R_EXPORT void f0r_deinit()
{
    // ffmpeg calls this as each of its filters using the module closes, while
    // others may still render: only the image memory kept for later frames
    // goes back, which is safe at any time.
    ruvivedu::release_kept_image_memory();
}

RUVIVEDU_F0R_EXPORT void f0r_get_plugin_info(f0r_plugin_info_t* info)
{
    if (info == nullptr)
        return;
    info->name = ruvivedu::kDisplayName;
    info->author = ruvivedu::kCategory;
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = ruvivedu::kVersionMajor;
    info->minor_version = ruvivedu::kVersionSub;
    info->num_params = kParamCount;
    info->explanation = kExplanation;
}

RUVIVEDU_F0R_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int param_index)
{
    const ParamInfo* param = param_info(param_index);
    if (info == nullptr || param == nullptr)
        return;
    info->name = param->name;
    info->type = param->type;
    info->explanation = param->explanation;
}

RUVIVEDU_F0R_EXPORT f0r_instance_t f0r_construct(unsigned int width, unsigned int height)
{
    // Rows must be addressable by the effect's 32-bit row bytes.
    if (width == 0 || height == 0 || width > INT32_MAX / kBytesPerPixel || height > INT32_MAX)
        return nullptr;
    // A null instance is the host's to report ("Impossible to load frei0r
    // instance", says ffmpeg).
    std::unique_ptr<uint32_t[]> argb(new (std::nothrow) uint32_t[std::size_t(width) * height]);
    if (argb == nullptr)
        return nullptr;
    return new (std::nothrow) Instance{width, height, default_values(), std::move(argb)};
}

RUVIVEDU_F0R_EXPORT void f0r_destruct(f0r_instance_t instance)
{
    delete static_cast<Instance*>(instance);
}

RUVIVEDU_F0R_EXPORT void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int param_index)
{
    if (instance != nullptr)
        set_value(static_cast<Instance*>(instance)->values, param_index, param);
}

RUVIVEDU_F0R_EXPORT void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int param_index)
{
    if (instance != nullptr)
        get_value(static_cast<Instance*>(instance)->values, param_index, param);
}

RUVIVEDU_F0R_EXPORT void f0r_update(f0r_instance_t instance, double /*time*/, const uint32_t* inframe,
                                    uint32_t* outframe)
{
    if (instance != nullptr && inframe != nullptr && outframe != nullptr)
        update(*static_cast<Instance*>(instance), inframe, outframe);
}

RUVIVEDU_F0R_EXPORT void f0r_update2(f0r_instance_t instance, double time, const uint32_t* inframe1,
                                     const uint32_t* /*inframe2*/, const uint32_t* /*inframe3*/, uint32_t* outframe)
{
    f0r_update(instance, time, inframe1, outframe);
}
