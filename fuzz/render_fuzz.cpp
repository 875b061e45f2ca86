// libFuzzer target: one input decodes into one whole host call (classic or
// smart render) and drives EntryPointFunc through the substitute host. After
// each call nothing outside the output world's pixel rows may have changed,
// the input must be as it was, the result must be a code the host knows and
// the host must have seen no misuse. Any breach aborts, which the fuzzer
// reports with the input that caused it.
#include "substitute_host.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

extern "C" PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                                 PF_LayerDef* output, void* extra);
extern "C" PF_Err PluginDataEntryFunction(PF_PluginDataPtr inPtr, PF_PluginDataCB inPluginDataCallBackPtr,
                                          SPBasicSuite* inSPBasicSuitePtr, const char* inHostName,
                                          const char* inHostVersion);

using namespace ruvivedu::host;

namespace {

#define FUZZ_CHECK(condition, ...)                          \
    do {                                                    \
        if (!(condition)) {                                 \
            std::fprintf(stderr, "render_fuzz: " __VA_ARGS__); \
            std::fprintf(stderr, "\n");                     \
            std::abort();                                   \
        }                                                   \
    } while (0)

// Largest world side: big enough for every stage to split rows among workers,
// small enough for thousands of calls a second.
constexpr A_long kMaxSide = 300;

std::size_t component_bytes(Depth depth) { return bytes_per_pixel(depth) / 4; }

/// A world of fuzzed size and layout: padded rows, a multiple of the component
/// size (as hosts align them), stored top-down or bottom-up.
World make_world(FuzzedDataProvider& in, Depth depth, A_long width, A_long height)
{
    const A_long padding = in.ConsumeIntegralInRange<A_long>(0, 8) * static_cast<A_long>(component_bytes(depth));
    World w = in.ConsumeBool() ? World::bottom_up(depth, width, height, padding)
                               : World::padded(depth, width, height, padding);
    if (in.ConsumeBool())
        w.set_origin(in.ConsumeIntegral<A_long>(), in.ConsumeIntegral<A_long>());
    return w;
}

/// A downsample factor: usually one a host sends (1/1 .. 1/8), sometimes a
/// ratio no host sends (zero, negative, enlarging, extreme). Reductions far
/// below 1/8 are left out on purpose except where the render's size limits
/// refuse them outright: a 300-pixel world at 1/4096 stands for a layer of a
/// million pixels a side, whose cell grid the render then builds in full, up
/// to its limit of 2^31 cells (seconds and gigabytes of legitimate work per
/// call, which would only slow the search down).
PF_RationalScale downsample(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        return {1, 1};
    case 1:
        return {1, in.ConsumeIntegralInRange<A_u_long>(1, 8)};
    case 2:
        return {in.ConsumeIntegralInRange<A_long>(1, 4), in.ConsumeIntegralInRange<A_u_long>(1, 4)};
    default: {
        static constexpr PF_RationalScale odd[] = {
            {0, 1}, {0, 0}, {1, 0}, {-1, 2}, {-7, 3}, {std::numeric_limits<A_long>::min(), 1},
            {1 << 20, 1}, {std::numeric_limits<A_long>::max(), 1},
            {std::numeric_limits<A_long>::max(), std::numeric_limits<A_u_long>::max()},
            {1, std::numeric_limits<A_u_long>::max()}};
        return in.PickValueInArray(odd);
    }
    }
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

/// Fills the input's pixels from the rest of the input (cycled); float worlds
/// also get NaN, infinities, negative zero and huge values sprinkled in.
void paint(FuzzedDataProvider& in, World& world)
{
    const std::size_t row_bytes = static_cast<std::size_t>(world.width()) * bytes_per_pixel(world.depth());
    const std::size_t sprinkle_every = in.ConsumeIntegralInRange<std::size_t>(0, 16);
    const std::vector<std::uint8_t> bytes = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 4096));
    if (row_bytes == 0 || world.height() == 0)
        return;
    std::size_t k = 0;
    for (A_long y = 0; y < world.height(); ++y) {
        unsigned char* row = world.row(y);
        for (std::size_t i = 0; i < row_bytes; ++i, ++k)
            row[i] = bytes.empty() ? static_cast<unsigned char>(k * 37) : bytes[k % bytes.size()];
    }
    if (world.depth() != Depth::f32 || sprinkle_every == 0)
        return;
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(), -0.0f, 3.0e38f, -3.0e38f, 1e-45f};
    std::size_t n = 0;
    for (A_long y = 0; y < world.height(); ++y) {
        float* c = reinterpret_cast<float*>(world.row(y));
        for (A_long i = 0; i < world.width() * 4; ++i, ++n) {
            if (n % sprinkle_every == 0)
                c[i] = specials[(n / sprinkle_every) % (sizeof specials / sizeof specials[0])];
        }
    }
}

struct Fault {
    HostOp op;
    PF_Err code;
    int nth;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);

    SubstituteHost host(&EntryPointFunc, &PluginDataEntryFunction);
    const bool smart = in.ConsumeBool();
    static constexpr Depth depths[] = {Depth::u8, Depth::u16, Depth::f32};
    const Depth depth = in.PickValueInArray(depths);

    const A_long in_w = in.ConsumeIntegralInRange<A_long>(0, kMaxSide);
    const A_long in_h = in.ConsumeIntegralInRange<A_long>(0, kMaxSide);
    const bool same_size = in.ConsumeBool();
    const A_long out_w = same_size ? in_w : in.ConsumeIntegralInRange<A_long>(0, kMaxSide);
    const A_long out_h = same_size ? in_h : in.ConsumeIntegralInRange<A_long>(0, kMaxSide);
    host.set_input(make_world(in, depth, in_w, in_h));
    host.set_output(make_world(in, depth, out_w, out_h));

    PF_InData& in_data = host.in_data();
    in_data.downsample_x = downsample(in);
    in_data.downsample_y = in.ConsumeBool() ? in_data.downsample_x : downsample(in);
    if (in.ConsumeBool()) {
        in_data.output_origin_x = in.ConsumeIntegral<A_long>();
        in_data.output_origin_y = in.ConsumeIntegral<A_long>();
    }

    FUZZ_CHECK(host.setup_effect() == PF_Err_NONE, "the effect could not be set up");
    host.set_shape(choice(in, 3));
    host.set_dot_size(fixed(in, 1, 200));
    host.set_rotation(fixed(in, -720, 720));
    host.set_offset(fixed(in, -400, 400), fixed(in, -400, 400));
    host.set_alpha(in.ConsumeBool() ? in.ConsumeIntegralInRange<A_long>(0, 1) : in.ConsumeIntegral<A_long>());
    host.set_sampling(choice(in, 2));
    if (in.ConsumeIntegralInRange(0, 15) == 0)
        host.give_no_output(true);

    std::optional<Fault> fault;
    if (in.ConsumeIntegralInRange(0, 3) == 0) {
        static constexpr HostOp ops[] = {HostOp::copy,           HostOp::checkout_layer, HostOp::checkout_layer_pixels,
                                         HostOp::checkout_output, HostOp::checkout_param, HostOp::checkin_param,
                                         HostOp::acquire_suite,  HostOp::release_suite,  HostOp::get_pixel_format,
                                         HostOp::ansi_sprintf};
        static constexpr PF_Err codes[] = {PF_Err_OUT_OF_MEMORY, PF_Err_INTERNAL_STRUCT_DAMAGED,
                                           PF_Err_BAD_CALLBACK_PARAM, PF_Err_INVALID_CALLBACK, sp_bad_parameter};
        fault = Fault{in.PickValueInArray(ops), in.PickValueInArray(codes), in.ConsumeIntegralInRange(1, 6)};
        host.fail(fault->op, fault->code, fault->nth);
    }

    const PF_LRect request{in.ConsumeIntegralInRange<A_long>(-50, kMaxSide), in.ConsumeIntegralInRange<A_long>(-50, kMaxSide),
                           in.ConsumeIntegralInRange<A_long>(-50, kMaxSide + 50),
                           in.ConsumeIntegralInRange<A_long>(-50, kMaxSide + 50)};
    paint(in, *host.input());
    const std::vector<unsigned char> input_before = host.input()->packed_pixels();

    // Set RUVIVEDU_FUZZ_VERBOSE to see what an input decodes to (when replaying one).
    static const bool verbose = std::getenv("RUVIVEDU_FUZZ_VERBOSE") != nullptr;
    if (verbose) {
        const PF_ParamDef dot = host.current_param(2), rot = host.current_param(3), off = host.current_param(4);
        std::fprintf(stderr,
                     "%s depth %d, input %dx%d rowbytes %d, output %dx%d rowbytes %d, downsample %d/%u x %d/%u, "
                     "shape %d, dot 0x%08X, rotation 0x%08X, offset 0x%08X 0x%08X, alpha %d, sampling %d, "
                     "fault %s #%d code %d\n",
                     smart ? "smart" : "classic", int(depth), int(in_w), int(in_h), int(host.input()->rowbytes()),
                     int(out_w), int(out_h), int(host.output()->rowbytes()), int(in_data.downsample_x.num),
                     unsigned(in_data.downsample_x.den), int(in_data.downsample_y.num),
                     unsigned(in_data.downsample_y.den), int(host.current_param(1).u.pd.value),
                     unsigned(dot.u.fd.value), unsigned(rot.u.ad.value), unsigned(off.u.td.x_value),
                     unsigned(off.u.td.y_value), int(host.current_param(5).u.bd.value),
                     int(host.current_param(6).u.pd.value), fault ? op_name(fault->op) : "none",
                     fault ? fault->nth : 0, fault ? int(fault->code) : 0);
    }

    PF_Err result = PF_Err_NONE;
    if (smart) {
        result = host.smart_pre_render(request);
        FUZZ_CHECK(result == PF_Err_NONE || (fault && result == fault->code), "pre-render returned %d", int(result));
        result = host.smart_render();
    } else {
        result = host.render();
    }

    // Codes the host knows: success, its memory and callback errors, and
    // whatever code it failed a call with itself.
    FUZZ_CHECK(result == PF_Err_NONE || result == PF_Err_OUT_OF_MEMORY || result == PF_Err_BAD_CALLBACK_PARAM ||
                   (fault && result == fault->code),
               "render returned %d", int(result));
    FUZZ_CHECK(host.input()->guards_intact(), "input guard damage: %s", host.input()->guard_damage().c_str());
    FUZZ_CHECK(host.output()->guards_intact(), "output guard damage: %s", host.output()->guard_damage().c_str());
    FUZZ_CHECK(host.input()->packed_pixels() == input_before, "the input layer was written");
    // A failed check-in or release leaves the host holding what the effect
    // tried to give back, which it notes; anything else is misuse.
    const bool leftovers_expected = fault && (fault->op == HostOp::checkin_param || fault->op == HostOp::release_suite);
    FUZZ_CHECK(host.errors().empty() || leftovers_expected, "the host saw misuse: %s", host.errors().front().c_str());
    FUZZ_CHECK(host.outstanding_param_checkouts() == 0 || leftovers_expected, "parameters left checked out");
    return 0;
}
