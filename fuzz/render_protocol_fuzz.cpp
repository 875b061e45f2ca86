// libFuzzer target for what the host sends: one input decodes into a host
// (either application, any world suite answer), two tiny worlds of any depth
// and layout, parameter values in and out of range, and a run of commands
// (ABOUT, set-up, classic and smart renders, requests with arguments or
// extra records missing, codes the effect does not handle), each with
// perhaps one failed host call. The worlds are a few pixels a side, so a
// call costs the host protocol and not the pixels; the pixels have a
// target of their own (render_pixels_fuzz.cpp).
//
// After every command: the code is one the host knows; nothing outside the
// output world's pixels changed, nor the input; the host saw no misuse; an
// unhandled command left out_data as it was; a render that failed before
// its pixels wrote none; and what GLOBAL_SETUP and PARAMS_SETUP declare is
// what the effect always declares.
#include "fuzz_check.h"
#include "render_fuzz_util.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace render_fuzz;

namespace {

// Worlds stay tiny: each call is about the protocol, and a few pixels still
// reach every stage and both world edges.
constexpr A_long kMaxSide = 6;
constexpr int kMaxCommands = 6;

// The six parameters plus the input layer.
constexpr int kParamCount = 7;

struct Fault {
    HostOp op;
    PF_Err code;
    int nth;
};

/// The commands a run is made of.
enum class Step {
    about,
    global_setup,
    params_setup,
    render,
    render_missing_argument,  ///< in_data, out_data, the array, one array entry or the output missing
    smart,                    ///< pre-render, then smart render
    smart_render_alone,
    smart_missing_extra,  ///< either smart command with no extra record, or one without callbacks
    unhandled,
    count
};

// A fault on the calls that give back what the effect took leaves the host
// holding it, which the host notes; the failure is the host's own.
bool leaves_leftovers(const std::optional<Fault>& fault)
{
    return fault && (fault->op == HostOp::checkin_param || fault->op == HostOp::release_suite);
}

/// True when the host did fail a call as asked (the nth call may never come).
bool fault_fired(const SubstituteHost& host, const std::optional<Fault>& fault)
{
    if (!fault)
        return false;
    for (const HostCall& call : host.calls())
        if (call.op == fault->op && call.result == fault->code)
            return true;
    return false;
}

/// A popup or checkbox value: in the menu's range, or any 32-bit value.
A_long choice(FuzzedDataProvider& in, A_long count)
{
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<A_long>(1, count) : in.ConsumeIntegral<A_long>();
}

/// A 16.16 value: in a plausible range, or any 32-bit pattern.
PF_Fixed fixed(FuzzedDataProvider& in, int low, int high)
{
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<PF_Fixed>(low * 65536, high * 65536)
                            : in.ConsumeIntegral<PF_Fixed>();
}

PF_LRect any_rect(FuzzedDataProvider& in)
{
    auto coordinate = [&] {
        return in.ConsumeBool() ? in.ConsumeIntegralInRange<A_long>(-3, kMaxSide + 3) : in.ConsumeIntegral<A_long>();
    };
    PF_LRect r;
    r.left = coordinate();
    r.top = coordinate();
    r.right = coordinate();
    r.bottom = coordinate();
    return r;
}

std::optional<Fault> pick_fault(FuzzedDataProvider& in)
{
    if (in.ConsumeIntegralInRange(0, 2) != 0)
        return std::nullopt;
    static constexpr HostOp ops[] = {
        HostOp::ansi_sprintf,    HostOp::ansi_strcpy,           HostOp::add_param,
        HostOp::checkout_param,  HostOp::checkin_param,         HostOp::copy,
        HostOp::checkout_layer,  HostOp::checkout_layer_pixels, HostOp::checkin_layer_pixels,
        HostOp::checkout_output, HostOp::acquire_suite,         HostOp::release_suite,
        HostOp::get_pixel_format};
    static constexpr PF_Err codes[] = {PF_Err_OUT_OF_MEMORY,      PF_Err_INTERNAL_STRUCT_DAMAGED,
                                       PF_Err_BAD_CALLBACK_PARAM, PF_Err_INVALID_CALLBACK,
                                       sp_bad_parameter,          -1};
    return Fault{in.PickValueInArray(ops), in.PickValueInArray(codes), in.ConsumeIntegralInRange(0, 7)};
}

void set_params(FuzzedDataProvider& in, SubstituteHost& host)
{
    host.set_shape(choice(in, 3));
    // DotSize from the bottom of its range to a few worlds across, or any
    // 16.16 pattern. The box filter reads every pixel of a cell's footprint,
    // clamped to the layer, so a cell costs DotSize squared reads however
    // small the layer: a value beyond 64 pixels comes with a reduction of 1/8
    // on both axes, where a cell at the range's end (1000) spans 125 pixels.
    const PF_Fixed dot = fixed(in, 1, 16);
    host.set_dot_size(dot);
    if (dot > 64 * 65536)
        host.in_data().downsample_x = host.in_data().downsample_y = PF_RationalScale{1, 8};
    host.set_rotation(fixed(in, -720, 720));
    host.set_offset(fixed(in, -2 * kMaxSide, 2 * kMaxSide), fixed(in, -2 * kMaxSide, 2 * kMaxSide));
    host.set_alpha(in.ConsumeBool() ? in.ConsumeIntegralInRange<A_long>(0, 1) : in.ConsumeIntegral<A_long>());
    host.set_sampling(choice(in, 2));
}

/// RENDER with one of its arguments missing: a whole record, or one entry of
/// the parameter array. The effect must only report it.
PF_Err render_missing_argument(FuzzedDataProvider& in, SubstituteHost& host)
{
    const int missing = in.ConsumeIntegralInRange(0, 3 + kParamCount);
    if (missing < 4) {
        CallOptions options;
        options.no_in_data = missing == 0;
        options.no_out_data = missing == 1;
        options.no_params = missing == 2;
        options.no_output = missing == 3;
        return host.render(options);
    }
    PF_ParamDef defs[kParamCount];
    PF_ParamDef* array[kParamCount + 1] = {};
    for (int i = 0; i < kParamCount; ++i) {
        defs[i] = host.current_param(i);
        array[i] = i == missing - 4 ? nullptr : &defs[i];
    }
    PF_InData in_data = host.in_data();
    in_data.num_params = kParamCount;
    PF_OutData out_data = host.initial_out_data();
    return host.call(PF_Cmd_RENDER, &in_data, &out_data, array, host.output() ? host.output()->get() : nullptr,
                     nullptr);
}

/// A smart command whose extra record is missing or has no callbacks.
PF_Err smart_missing_extra(FuzzedDataProvider& in, SubstituteHost& host)
{
    CallOptions options;
    options.no_output = true;
    const bool pre_render = in.ConsumeBool();
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
        return host.send(pre_render ? PF_Cmd_SMART_PRE_RENDER : PF_Cmd_SMART_RENDER, nullptr, options);
    case 1: {
        PF_PreRenderInput input{};
        PF_PreRenderOutput output{};
        PF_PreRenderExtra extra{&input, &output, nullptr};
        PF_SmartRenderInput smart_input{};
        PF_SmartRenderExtra smart_extra{&smart_input, nullptr};
        return pre_render ? host.send(PF_Cmd_SMART_PRE_RENDER, &extra, options)
                          : host.send(PF_Cmd_SMART_RENDER, &smart_extra, options);
    }
    default: {
        PF_PreRenderOutput output{};
        PF_PreRenderExtra extra{nullptr, &output, nullptr};
        return host.send(PF_Cmd_SMART_PRE_RENDER, &extra, options);
    }
    }
}

/// A command code the effect does not handle: every other code up to 60,
/// or any 32-bit value.
PF_Cmd unhandled_code(FuzzedDataProvider& in)
{
    for (;;) {
        const PF_Cmd cmd = in.ConsumeBool() ? in.ConsumeIntegralInRange<PF_Cmd>(-2, 60) : in.ConsumeIntegral<PF_Cmd>();
        if (cmd != PF_Cmd_ABOUT && cmd != PF_Cmd_GLOBAL_SETUP && cmd != PF_Cmd_PARAMS_SETUP && cmd != PF_Cmd_RENDER &&
            cmd != PF_Cmd_SMART_PRE_RENDER && cmd != PF_Cmd_SMART_RENDER)
            return cmd;
        if (in.remaining_bytes() == 0)
            return 2;  // PF_Cmd_UNUSED_0: the input ran out
    }
}

const char* const kStepNames[] = {"ABOUT",
                                  "GLOBAL_SETUP",
                                  "PARAMS_SETUP",
                                  "RENDER",
                                  "RENDER with an argument missing",
                                  "pre-render + SMART_RENDER",
                                  "SMART_RENDER",
                                  "smart command without extra",
                                  "unhandled command"};

/// With RUVIVEDU_FUZZ_VERBOSE set (replaying an input), each command is
/// printed with the worlds and values it is sent with.
bool verbose()
{
    static const bool on = std::getenv("RUVIVEDU_FUZZ_VERBOSE") != nullptr;
    return on;
}

void describe(SubstituteHost& host, Step step, const std::optional<Fault>& fault)
{
    const World* in = host.input();
    const World* out = host.output();
    const PF_ParamDef dot = host.current_param(2), rot = host.current_param(3), off = host.current_param(4);
    std::fprintf(stderr,
                 "%s: depth %d, input %dx%d rowbytes %d, output %dx%d rowbytes %d, downsample %d/%u x %d/%u, "
                 "shape %d, dot 0x%08X, rotation 0x%08X, offset 0x%08X 0x%08X, alpha %d, sampling %d, fault %s #%d "
                 "code %d\n",
                 kStepNames[static_cast<int>(step)], int(in->depth()), int(in->width()), int(in->height()),
                 int(in->rowbytes()), int(out->width()), int(out->height()), int(out->rowbytes()),
                 int(host.in_data().downsample_x.num), unsigned(host.in_data().downsample_x.den),
                 int(host.in_data().downsample_y.num), unsigned(host.in_data().downsample_y.den),
                 int(host.current_param(1).u.pd.value), unsigned(dot.u.fd.value), unsigned(rot.u.ad.value),
                 unsigned(off.u.td.x_value), unsigned(off.u.td.y_value), int(host.current_param(5).u.bd.value),
                 int(host.current_param(6).u.pd.value), fault ? op_name(fault->op) : "none", fault ? fault->nth : 0,
                 fault ? int(fault->code) : 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    use_one_worker();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);

    SubstituteHost host(&EntryPointFunc, &PluginDataEntryFunction);
    host.set_application(in.ConsumeBool() ? HostApp::after_effects : HostApp::premiere_pro);
    static constexpr Depth depths[] = {Depth::u8, Depth::u16, Depth::f32};
    const Depth depth = in.PickValueInArray(depths);
    const A_long in_w = in.ConsumeIntegralInRange<A_long>(0, kMaxSide);
    const A_long in_h = in.ConsumeIntegralInRange<A_long>(0, kMaxSide);
    const bool same_size = in.ConsumeBool();
    const A_long out_w = same_size ? in_w : in.ConsumeIntegralInRange<A_long>(0, kMaxSide);
    const A_long out_h = same_size ? in_h : in.ConsumeIntegralInRange<A_long>(0, kMaxSide);
    World& input = host.set_input(make_world(in, depth, in_w, in_h));
    World& output = host.set_output(make_world(in, depth, out_w, out_h));
    // The format the host reports: the world's own, another layout of the
    // same size (8-bit BGRA), or a format the effect does not know.
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0:
        if (depth == Depth::u8)
            input.set_pixel_format(PF_PixelFormat_BGRA32);
        break;
    case 1:
        input.set_pixel_format(in.ConsumeIntegral<PF_PixelFormat>());
        break;
    default:
        break;
    }

    PF_InData& in_data = host.in_data();
    in_data.downsample_x = downsample(in);
    in_data.downsample_y = in.ConsumeBool() ? in_data.downsample_x : downsample(in);
    if (in.ConsumeIntegralInRange(0, 3) == 0) {
        in_data.output_origin_x = in.ConsumeIntegral<A_long>();
        in_data.output_origin_y = in.ConsumeIntegral<A_long>();
    }
    if (in.ConsumeIntegralInRange(0, 7) == 0) {
        // A frame size and extent the worlds do not have. A layer larger than
        // the input world is a part render, which costs the layer's size: any
        // value up to 64 pixels a side.
        in_data.width = std::min<A_long>(in.ConsumeIntegral<A_long>(), 64);
        in_data.height = std::min<A_long>(in.ConsumeIntegral<A_long>(), 64);
        in_data.extent_hint = PF_Rect{in.ConsumeIntegral<A_long>(), in.ConsumeIntegral<A_long>(),
                                      in.ConsumeIntegral<A_long>(), in.ConsumeIntegral<A_long>()};
    }
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0:
        host.set_suite_offer(SuiteOffer::null_pointer, in.ConsumeBool() ? sp_suite_not_found : 0);
        break;
    case 1:
        host.set_suite_offer(SuiteOffer::untouched, sp_unimplemented);
        break;
    case 2:
        host.set_suite_offer(SuiteOffer::give, in.ConsumeIntegral<SPErr>());
        break;
    default:
        break;
    }
    if (in.ConsumeIntegralInRange(0, 7) == 0) {
        PF_CheckoutResult result{};
        result.result_rect = any_rect(in);
        result.max_result_rect = any_rect(in);
        host.set_checkout_result(result);
    }
    if (in.ConsumeIntegralInRange(0, 15) == 0)
        host.give_no_output(true);
    // A recognisable out_data, so that a byte written where it should not be shows.
    std::memset(&host.initial_out_data(), 0x5A, sizeof(PF_OutData));
    host.initial_out_data().out_flags = 0;
    host.initial_out_data().return_msg[0] = '\0';
    const std::vector<unsigned char> untouched_out_data = host.initial_out_data_bytes();

    FUZZ_CHECK(host.setup_effect() == PF_Err_NONE, "the effect could not be set up");
    set_params(in, host);
    Paint how;
    how.in_range = in.ConsumeBool();
    how.specials_every = in.ConsumeIntegralInRange<std::size_t>(0, 5);
    paint(input, in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 64)), how);
    const std::vector<unsigned char> input_before = input.packed_pixels();

    const int commands = in.ConsumeIntegralInRange(1, kMaxCommands);
    for (int n = 0; n < commands; ++n) {
        const auto step = static_cast<Step>(in.ConsumeIntegralInRange(0, static_cast<int>(Step::count) - 1));
        if (in.ConsumeIntegralInRange(0, 3) == 0)
            set_params(in, host);
        const std::optional<Fault> fault = pick_fault(in);
        host.clear_faults();
        host.reset_records();
        if (fault)
            host.fail(fault->op, fault->code, fault->nth);
        const std::optional<PF_Err> fault_code = fault ? std::optional<PF_Err>(fault->code) : std::nullopt;
        const std::vector<unsigned char> output_before = output.packed_pixels();
        if (verbose())
            describe(host, step, fault);

        PF_Err result = PF_Err_NONE;
        bool renders = false;  // the command may write pixels
        switch (step) {
        case Step::about:
            result = host.about();
            FUZZ_CHECK(result == PF_Err_NONE, "ABOUT returned %d", int(result));
            if (!fault || fault->op != HostOp::ansi_sprintf)
                FUZZ_CHECK(host.return_msg() == "Ruvivedu, v1.5.2\nDezuz,Ezori", "ABOUT wrote '%s'",
                           host.return_msg().c_str());
            break;
        case Step::global_setup:
            result = host.global_setup();
            FUZZ_CHECK(result == PF_Err_NONE, "GLOBAL_SETUP returned %d", int(result));
            FUZZ_CHECK(host.out_data().my_version == 693760 && host.out_data().out_flags == 0x02000440 &&
                           host.out_data().out_flags2 == 0x08001400,
                       "GLOBAL_SETUP declared version %u, flags 0x%08X 0x%08X", unsigned(host.out_data().my_version),
                       unsigned(host.out_data().out_flags), unsigned(host.out_data().out_flags2));
            break;
        case Step::params_setup:
            result = host.params_setup();
            FUZZ_CHECK(result == PF_Err_NONE || result == fault_code, "PARAMS_SETUP returned %d", int(result));
            if (result != PF_Err_NONE)
                return 0;  // a host does not use an effect whose set-up failed
            FUZZ_CHECK(host.declared_params().size() == 6 && host.out_data().num_params == 7,
                       "PARAMS_SETUP declared %zu parameters, num_params %d", host.declared_params().size(),
                       int(host.out_data().num_params));
            break;
        case Step::render:
            result = host.render();
            renders = true;
            break;
        case Step::render_missing_argument:
            result = render_missing_argument(in, host);
            FUZZ_CHECK(result == PF_Err_NONE, "RENDER with an argument missing returned %d", int(result));
            break;
        case Step::smart:
            result = host.smart_pre_render(any_rect(in));
            FUZZ_CHECK(result == PF_Err_NONE || result == fault_code, "pre-render returned %d", int(result));
            if (result == PF_Err_NONE) {
                result = host.smart_render();
                renders = true;
            }
            break;
        case Step::smart_render_alone:
            result = host.smart_render();
            renders = true;
            break;
        case Step::smart_missing_extra:
            result = smart_missing_extra(in, host);
            FUZZ_CHECK(result == PF_Err_BAD_CALLBACK_PARAM, "a smart command without its extra record returned %d",
                       int(result));
            break;
        case Step::unhandled: {
            const PF_Cmd cmd = unhandled_code(in);
            result = host.send(cmd);
            FUZZ_CHECK(result == PF_Err_NONE, "unhandled command %d returned %d", int(cmd), int(result));
            FUZZ_CHECK(host.out_data_bytes() == untouched_out_data, "unhandled command %d wrote out_data", int(cmd));
            FUZZ_CHECK(host.calls().empty(), "unhandled command %d called the host", int(cmd));
            break;
        }
        case Step::count:
            break;
        }

        FUZZ_CHECK(known_render_result(result, fault_code), "command returned %d", int(result));
        FUZZ_CHECK(input.guards_intact(), "input guard damage: %s", input.guard_damage().c_str());
        FUZZ_CHECK(output.guards_intact(), "output guard damage: %s", output.guard_damage().c_str());
        FUZZ_CHECK(input.packed_pixels() == input_before, "the input layer was written");
        FUZZ_CHECK(host.errors().empty() || leaves_leftovers(fault), "the host saw misuse: %s",
                   host.errors().front().c_str());
        // A failure the host caused before the pixels (anything but giving
        // back what was taken) leaves the output as it was.
        const bool failed_before_pixels = fault_fired(host, fault) && result == fault->code && !leaves_leftovers(fault);
        if (!renders || failed_before_pixels)
            FUZZ_CHECK(output.packed_pixels() == output_before, "the output was written by a command that %s",
                       renders ? "failed before its pixels" : "does not render");
    }
    return 0;
}
