// Render requests: the classic render, and the smart pre-render/render pair.
// Each render fills one HalfTone_Params from the host's records and hands it
// to the frame driver of its depth.
#include "effect_shell.h"

#include "params.h"
#include "params/effect_values.h"

#include "base/image.h"
#include "base/render_context.h"
#include "pipeline/frame_render.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <system_error>

namespace ruvivedu {
namespace {

constexpr char kHostArgumentsMessage[] = "AfterEffects_Params error!\n";
constexpr char kNoOutputMessage[] = "HalfTone_Params error!";
constexpr char kNoSuiteMessage[] = "Couldn't load suite.";

void fill_view(const PF_LayerDef& world, LayerParams& view)
{
    view.data = reinterpret_cast<char*>(world.data);
    view.rowbytes = world.rowbytes;
    view.width = world.width;
    view.height = world.height;
    view.origin_x = world.origin_x;
    view.origin_y = world.origin_y;
    view.deep = (world.world_flags & PF_WorldFlag_DEEP) != 0;
}

/// Everything but the depth: both views, the frame values of in_data and the
/// six parameters (indices 1 to 6 of `params`) as plain numbers.
void fill_context(const PF_InData& in_data, const PF_LayerDef& input, const PF_LayerDef& output,
                  PF_ParamDef* const params[kParamCount], HalfTone_Params& context)
{
    fill_view(input, context.in_layer);
    context.in_layer.num_channels = 4;
    context.frame_width = in_data.width;
    context.frame_height = in_data.height;
    context.extent_hint.left = in_data.extent_hint.left;
    context.extent_hint.top = in_data.extent_hint.top;
    context.extent_hint.right = in_data.extent_hint.right;
    context.extent_hint.bottom = in_data.extent_hint.bottom;
    context.output_origin_x = in_data.output_origin_x;
    context.output_origin_y = in_data.output_origin_y;
    context.downsample_x.num = in_data.downsample_x.num;
    context.downsample_x.den = in_data.downsample_x.den;
    context.downsample_y.num = in_data.downsample_y.num;
    context.downsample_y.den = in_data.downsample_y.den;
    context.pixel_aspect_ratio.num = in_data.pixel_aspect_ratio.num;
    context.pixel_aspect_ratio.den = in_data.pixel_aspect_ratio.den;
    fill_view(output, context.out_layer);

    read_effect_values(stored_values(params), context);
    context.depth = context.in_layer.deep ? Depth::u16 : Depth::u8;
    context.pica = in_data.pica_basicP;
}

/// The host's abort and progress callbacks as the driver's monitor. The first
/// non-zero code of either (the host's interrupt code, PF_Interrupt_CANCEL when
/// the user cancelled) calls the frame off and is what the render returns.
struct HostMonitor {
    PF_InData* in_data;
    PF_Err interrupt = PF_Err_NONE;

    static bool cancelled(void* self)
    {
        auto* m = static_cast<HostMonitor*>(self);
        if (m->interrupt == PF_Err_NONE && m->in_data->inter.abort != nullptr)
            m->interrupt = m->in_data->inter.abort(m->in_data->effect_ref);
        return m->interrupt != PF_Err_NONE;
    }

    static void progress(void* self, int32_t done, int32_t total)
    {
        auto* m = static_cast<HostMonitor*>(self);
        if (m->interrupt == PF_Err_NONE && m->in_data->inter.progress != nullptr)
            m->interrupt = m->in_data->inter.progress(m->in_data->effect_ref, done, total);
    }
};

/// Runs the driver of the context's depth, asking the host through in_data's
/// abort callback whether to go on and telling it the progress. No exception
/// leaves: the host called us through C. Out of memory (an image or the
/// standard library) becomes PF_Err_OUT_OF_MEMORY; so does a worker thread the
/// system cannot start, which is the same exhaustion of resources as far as the
/// host is concerned; anything unforeseen becomes PF_Err_INTERNAL_STRUCT_DAMAGED.
/// A frame the host called off returns the host's interrupt code.
PF_Err run_driver(PF_InData& in_data, HalfTone_Params& context)
{
    HostMonitor monitor{&in_data};
    context.monitor = RenderMonitor{&monitor, &HostMonitor::cancelled, &HostMonitor::progress, 0};
    bool finished = true;
    try {
        switch (context.depth) {
        case Depth::u8:
            finished = render_frame<unsigned char>(&context);
            break;
        case Depth::u16:
            finished = render_frame<unsigned short>(&context);
            break;
        case Depth::f32:
            finished = render_frame<float>(&context);
            break;
        default:
            break;
        }
    } catch (const memory_exception&) {
        return PF_Err_OUT_OF_MEMORY;
    } catch (const std::bad_alloc&) {
        return PF_Err_OUT_OF_MEMORY;
    } catch (const std::system_error&) {
        return PF_Err_OUT_OF_MEMORY;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    return finished ? PF_Err_NONE : monitor.interrupt;
}

/// `r` grown by `by` on every side, within the 32-bit range.
PF_LRect grown(const PF_LRect& r, int32_t by)
{
    auto add = [](A_long v, int64_t d) {
        return static_cast<A_long>(std::clamp<int64_t>(int64_t{v} + d, INT32_MIN, INT32_MAX));
    };
    return PF_LRect{add(r.left, -by), add(r.top, -by), add(r.right, by), add(r.bottom, by)};
}

/// The part of `a` within `b`; an empty `a` stays as it is, since the union
/// below copies even an empty rectangle into an empty one.
PF_LRect intersection(const PF_LRect& a, const PF_LRect& b)
{
    if (a.left >= a.right || a.top >= a.bottom)
        return a;
    PF_LRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
               std::min(a.bottom, b.bottom)};
    if (r.left >= r.right || r.top >= r.bottom)
        r = PF_LRect{0, 0, 0, 0};
    return r;
}

/// Merges src into dst: an empty dst becomes src (even an empty src); a
/// non-empty src widens dst to the bounding box of both.
void union_rect(PF_LRect& dst, const PF_LRect& src)
{
    auto empty = [](const PF_LRect& r) { return r.left >= r.right || r.top >= r.bottom; };
    if (empty(dst)) {
        dst = src;
    } else if (!empty(src)) {
        dst.left = std::min(dst.left, src.left);
        dst.top = std::min(dst.top, src.top);
        dst.right = std::max(dst.right, src.right);
        dst.bottom = std::max(dst.bottom, src.bottom);
    }
}

/// The smart render's host checkouts, owned in one place so that every path
/// out of the command checks the parameters back in and releases the suite.
class SmartCheckouts {
public:
    explicit SmartCheckouts(PF_InData* in_data) : in_data_(in_data) { std::memset(defs_, 0, sizeof defs_); }
    SmartCheckouts(const SmartCheckouts&) = delete;
    SmartCheckouts& operator=(const SmartCheckouts&) = delete;

    /// Returns the first non-zero code of the check-ins and the release, or
    /// PF_Err_NONE.
    PF_Err release()
    {
        PF_Err first = PF_Err_NONE;
        for (int i = kParamShape; i < kParamCount; ++i) {
            if (!checked_out_[i])
                continue;
            checked_out_[i] = false;
            const PF_Err err = in_data_->inter.checkin_param(in_data_->effect_ref, &defs_[i]);
            if (first == PF_Err_NONE)
                first = err;
        }
        if (suite != nullptr) {
            const SPErr err = in_data_->pica_basicP->ReleaseSuite(kPFWorldSuite, kPFWorldSuiteVersion2);
            suite = nullptr;
            if (first == PF_Err_NONE)
                first = err;
        }
        return first;
    }
    ~SmartCheckouts() { release(); }

    PF_Err checkout_param(A_long index)
    {
        const PF_Err err = in_data_->inter.checkout_param(in_data_->effect_ref, index, in_data_->current_time,
                                                          in_data_->time_step, in_data_->time_scale, &defs_[index]);
        checked_out_[index] = err == PF_Err_NONE;
        return err;
    }

    const PF_WorldSuite2* suite = nullptr;
    PF_ParamDef* param(A_long index) { return &defs_[index]; }

private:
    PF_InData* in_data_;
    PF_ParamDef defs_[kParamCount];
    bool checked_out_[kParamCount] = {};
};

}  // namespace

PF_Err render_classic(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output)
{
    bool params_present = params != nullptr;
    for (int i = kParamInput; params_present && i < kParamCount; ++i)
        params_present = params[i] != nullptr;
    if (in_data == nullptr || out_data == nullptr || !params_present || output == nullptr) {
        // The message needs both records; without them there is nowhere to say it.
        if (in_data != nullptr && out_data != nullptr)
            report_message(in_data, out_data, kHostArgumentsMessage);
        return PF_Err_NONE;
    }

    PF_LayerDef* input = &params[kParamInput]->u.ld;
    HalfTone_Params context{};
    fill_context(*in_data, *input, *output, params, context);

    const PF_Err err = in_data->utils->copy(in_data->effect_ref, input, output, nullptr, nullptr);
    if (err != PF_Err_NONE)
        return err;
    return run_driver(*in_data, context);
}

PF_Err smart_pre_render(PF_InData* in_data, PF_OutData* /*out_data*/, PF_PreRenderExtra* extra)
{
    if (in_data == nullptr || extra == nullptr || extra->input == nullptr || extra->output == nullptr ||
        extra->cb == nullptr)
        return PF_Err_BAD_CALLBACK_PARAM;
    // The dots of the requested part read the layer around it, as far as the
    // screen reaches: ask for the input over the output request grown by that
    // reach (so that a part renders as that part of the whole layer), with
    // alpha, and with the colour of fully transparent pixels kept. The reach
    // depends on DotSize alone, at the frame's downsample factors.
    PF_ParamDef dot_size;
    std::memset(&dot_size, 0, sizeof dot_size);
    PF_Err err = in_data->inter.checkout_param(in_data->effect_ref, kParamDotSize, in_data->current_time,
                                               in_data->time_step, in_data->time_scale, &dot_size);
    if (err != PF_Err_NONE)
        return err;
    const float dot = fixed_to_float(dot_size.u.fd.value);
    // A check-in the host refuses leaves nothing of ours behind: the request goes on.
    in_data->inter.checkin_param(in_data->effect_ref, &dot_size);
    const HalfTone_Ratio down_x{in_data->downsample_x.num, in_data->downsample_x.den};
    const HalfTone_Ratio down_y{in_data->downsample_y.num, in_data->downsample_y.den};

    const PF_LRect wanted = extra->input->output_request.rect;
    PF_RenderRequest request = extra->input->output_request;
    request.rect = grown(wanted, screen_reach(dot, down_x, down_y));
    request.channel_mask |= PF_ChannelMask_ALPHA;
    request.preserve_rgb_of_zero_alpha = 1;

    PF_CheckoutResult checkout;
    std::memset(&checkout, 0, sizeof checkout);
    err = extra->cb->checkout_layer(in_data->effect_ref, kParamInput, 0, &request, in_data->current_time,
                                    in_data->time_step, in_data->time_scale, &checkout);
    if (err != PF_Err_NONE)
        return err;

    // The result is the part asked for, as far as the layer has it: the input
    // beyond it feeds the dots at its edges, it is not output.
    union_rect(extra->output->result_rect, intersection(checkout.result_rect, wanted));
    union_rect(extra->output->max_result_rect, checkout.max_result_rect);
    return PF_Err_NONE;
}

PF_Err smart_render(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra)
{
    if (in_data == nullptr || out_data == nullptr || extra == nullptr || extra->cb == nullptr)
        return PF_Err_BAD_CALLBACK_PARAM;
    SmartCheckouts checkouts(in_data);
    PF_Err err = PF_Err_NONE;

    // The suite pointer starts empty: a host may leave it untouched on
    // failure, and only the pointer says whether we got one.
    if (in_data->pica_basicP != nullptr) {
        const void* suite = nullptr;
        in_data->pica_basicP->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &suite);
        checkouts.suite = static_cast<const PF_WorldSuite2*>(suite);
    }
    if (checkouts.suite == nullptr) {
        out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
        in_data->utils->ansi.sprintf(out_data->return_msg, "%s", kNoSuiteMessage);
        err = PF_Err_BAD_CALLBACK_PARAM;
    }

    PF_EffectWorld* input = nullptr;
    PF_EffectWorld* output = nullptr;
    if (err == PF_Err_NONE)
        err = extra->cb->checkout_layer_pixels(in_data->effect_ref, 0, &input);
    if (err == PF_Err_NONE)
        err = extra->cb->checkout_output(in_data->effect_ref, &output);

    for (A_long i = kParamShape; i < kParamCount && err == PF_Err_NONE; ++i)
        err = checkouts.checkout_param(i);

    // A host that hands out no input world must not get a null world back
    // in the format query; the missing world is reported like a missing output.
    PF_PixelFormat format = PF_PixelFormat_INVALID;
    if (err == PF_Err_NONE && input != nullptr)
        err = checkouts.suite->PF_GetPixelFormat(input, &format);

    if (err != PF_Err_NONE)
        return err;

    if (output == nullptr || input == nullptr) {
        report_message(in_data, out_data, kNoOutputMessage);
        checkouts.release();
        return PF_Err_NONE;
    }

    PF_ParamDef* params[kParamCount] = {nullptr};
    for (A_long i = kParamShape; i < kParamCount; ++i)
        params[i] = checkouts.param(i);
    HalfTone_Params context{};
    fill_context(*in_data, *input, *output, params, context);
    switch (format) {
    case PF_PixelFormat_ARGB32:
        context.depth = Depth::u8;
        break;
    case PF_PixelFormat_ARGB64:
        context.depth = Depth::u16;
        break;
    case PF_PixelFormat_ARGB128:
        context.depth = Depth::f32;
        break;
    default:
        break;  // another layout keeps the depth of the deep bit
    }

    // The frame's code is the render's own: once its pixels are in the output
    // world, a parameter the host will not take back or a suite it will not
    // release is the host's bookkeeping, not a failure of the frame (the host
    // would throw away a good frame), and the basic suite's codes are no effect
    // codes at all.
    err = run_driver(*in_data, context);
    checkouts.release();
    return err;
}

}  // namespace ruvivedu
