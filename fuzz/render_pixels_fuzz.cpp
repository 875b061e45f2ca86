// libFuzzer target for the pixels: one input decodes into a small frame
// (any depth, sizes up to 40 pixels, padded or bottom-up rows, an output
// world of its own size), a reduction a host sends, the six parameters in
// their ranges and the layer's pixels, and renders it twice through the
// effect: on the widest instruction-set path this processor runs (or SSE2)
// and on the portable one. The host side is kept plain; the protocol has a
// target of its own (render_protocol_fuzz.cpp).
//
// Checked: the render succeeds without host misuse; guards and input stay as
// they were; both paths give the same bytes, starting from differently
// filled output worlds, so every output pixel is written; and each pixel is
// what the output conversion can make: grey (R = G = B) or black, the
// layer's own alpha with Alpha off and at most the layer's alpha with it on,
// no component beyond full scale, and alpha 0 where no layer pixel lies
// under it. The output lies where the input does.
#include "fuzz_check.h"
#include "render_fuzz_util.h"

#include "base/pixel_path.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <vector>

using namespace ruvivedu;

using namespace render_fuzz;

namespace {

constexpr A_long kMaxSide = 40;
// The work of a frame is bounded through the DotSizes allowed. The cell
// grid: the layer at full resolution spans at most (w + h) / DotSize cells
// along each grid axis, kept below kMaxGridSide. The box filter: it reads
// every pixel of a cell's footprint, clamped to the layer, so a cell costs
// DotSize squared reads however small the layer; dots stay within
// kMaxDotOverLayer times the layer's full-resolution w + h (larger ones draw
// the same single cell over it).
constexpr double kMaxGridSide = 64.0;
constexpr double kMaxDotOverLayer = 2.0;

struct Frame {
    bool smart;
    bool alpha;
    A_long in_w, in_h;
};

PF_Fixed to_fixed(double value)
{
    return static_cast<PF_Fixed>(std::lround(value * 65536.0));
}

/// A DotSize from `smallest` to `largest` (within 1 .. 1000), spread over
/// small, middle, large and huge dots so each is tried about as often.
PF_Fixed dot_size(FuzzedDataProvider& in, double smallest, double largest)
{
    static constexpr double bounds[] = {1.0, 4.0, 16.0, 64.0, 1000.0};
    const int bucket = in.ConsumeIntegralInRange(0, 3);
    const double high = std::clamp(std::min(bounds[bucket + 1], largest), smallest, 1000.0);
    const double low = std::clamp(bounds[bucket], smallest, high);
    return in.ConsumeIntegralInRange<PF_Fixed>(to_fixed(low), to_fixed(high));
}

/// Rotation: the axes and diagonals (where the walks have special cases), or
/// any angle of a turn either way.
PF_Fixed rotation(FuzzedDataProvider& in)
{
    if (in.ConsumeBool())
        return in.ConsumeIntegralInRange(-8, 8) * 45 * 65536;
    return in.ConsumeIntegralInRange<PF_Fixed>(-360 * 65536, 360 * 65536);
}

/// An Offset coordinate: near the layer, or far away, where grid positions
/// carry large rounding errors.
PF_Fixed offset(FuzzedDataProvider& in, A_long side)
{
    if (in.ConsumeIntegralInRange(0, 4) == 0)
        return in.ConsumeIntegralInRange<PF_Fixed>(-30000 * 65536, 30000 * 65536);
    return in.ConsumeIntegralInRange<PF_Fixed>(-side * 65536, 2 * side * 65536);
}

template <class T>
struct Pixel;
template <>
struct Pixel<std::uint8_t> {
    using type = PF_Pixel8;
    static constexpr double white = 255;
};
template <>
struct Pixel<std::uint16_t> {
    using type = PF_Pixel16;
    static constexpr double white = 32768;
};
template <>
struct Pixel<float> {
    using type = PF_PixelFloat;
    static constexpr double white = 1;
};

/// What the output conversion can make of each pixel (see the file comment).
template <class T>
void check_pixels(const World& input, const World& output, const Frame& f)
{
    using P = typename Pixel<T>::type;
    const double white = Pixel<T>::white;
    for (A_long y = 0; y < output.height(); ++y) {
        for (A_long x = 0; x < output.width(); ++x) {
            const P& p = output.at<P>(x, y);
            const bool covered = x < f.in_w && y < f.in_h;
            const double a_in = covered ? double(input.at<P>(x, y).alpha) : 0.0;
            FUZZ_CHECK(p.red == p.green && p.green == p.blue, "pixel %d,%d is not grey", int(x), int(y));
            if (f.alpha) {
                FUZZ_CHECK(p.red == 0, "Alpha on: pixel %d,%d is not black", int(x), int(y));
                if (std::isfinite(a_in) && a_in >= 0)
                    FUZZ_CHECK(double(p.alpha) >= 0 && double(p.alpha) <= a_in,
                               "Alpha on: pixel %d,%d has alpha %g over the layer's %g", int(x), int(y),
                               double(p.alpha), a_in);
            } else {
                const double grey = double(p.red);
                FUZZ_CHECK(grey >= 0 && grey <= white, "pixel %d,%d has grey %g, outside 0..%g", int(x), int(y), grey,
                           white);
                if (std::isnan(a_in))
                    FUZZ_CHECK(std::isnan(double(p.alpha)), "pixel %d,%d lost the layer's NaN alpha", int(x), int(y));
                else
                    FUZZ_CHECK(double(p.alpha) == a_in, "pixel %d,%d has alpha %g, the layer %g", int(x), int(y),
                               double(p.alpha), a_in);
            }
        }
    }
}

void fill_pixels(World& world, unsigned char byte)
{
    const std::size_t row_bytes = static_cast<std::size_t>(world.width()) * bytes_per_pixel(world.depth());
    for (A_long y = 0; y < world.height(); ++y)
        std::memset(world.row(y), byte, row_bytes);
}

PF_Err render(SubstituteHost& host, bool smart)
{
    if (!smart)
        return host.render();
    const PF_Err err = host.smart_pre_render();
    return err != PF_Err_NONE ? err : host.smart_render();
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

    static constexpr Depth depths[] = {Depth::u8, Depth::u16, Depth::f32};
    const Depth depth = in.PickValueInArray(depths);
    Frame f{};
    // The classic render takes its depth from the deep flag, which float
    // worlds do not set: hosts send float layers through the smart render only.
    f.smart = depth == Depth::f32 || in.ConsumeBool();
    f.in_w = in.ConsumeIntegralInRange<A_long>(1, kMaxSide);
    f.in_h = in.ConsumeIntegralInRange<A_long>(1, kMaxSide);
    const bool same_size = in.ConsumeIntegralInRange(0, 3) != 0;
    const A_long out_w = same_size ? f.in_w : in.ConsumeIntegralInRange<A_long>(1, kMaxSide);
    const A_long out_h = same_size ? f.in_h : in.ConsumeIntegralInRange<A_long>(1, kMaxSide);

    SubstituteHost host(&EntryPointFunc, &PluginDataEntryFunction);
    World& input = host.set_input(make_world(in, depth, f.in_w, f.in_h));
    World& output = host.set_output(make_world(in, depth, out_w, out_h));
    // The worlds' origins say where each lies in the layer, and an output
    // elsewhere than the input is a part of the layer, which the protocol
    // target covers: here the output lies where the input does (both may sit
    // anywhere, which must not change a pixel), so that each output pixel
    // stands over the input pixel of the same place.
    output.set_origin(input.def().origin_x, input.def().origin_y);
    PF_InData& in_data = host.in_data();
    const auto den_x = in.ConsumeIntegralInRange<A_u_long>(1, 4);
    const auto den_y = in.ConsumeBool() ? den_x : in.ConsumeIntegralInRange<A_u_long>(1, 4);
    in_data.downsample_x = {1, den_x};
    in_data.downsample_y = {1, den_y};

    FUZZ_CHECK(host.setup_effect() == PF_Err_NONE, "the effect could not be set up");
    const double full_side = double(f.in_w) * den_x + double(f.in_h) * den_y;
    host.set_shape(in.ConsumeIntegralInRange<A_long>(1, 3));
    host.set_dot_size(dot_size(in, full_side / kMaxGridSide, full_side * kMaxDotOverLayer));
    host.set_rotation(rotation(in));
    host.set_offset(offset(in, f.in_w), offset(in, f.in_h));
    f.alpha = in.ConsumeBool();
    host.set_alpha(f.alpha ? 1 : 0);
    host.set_sampling(in.ConsumeIntegralInRange<A_long>(1, 2));
    const bool middle_path = in.ConsumeBool();
    Paint how;
    how.in_range = in.ConsumeIntegralInRange(0, 3) != 0;
    how.specials_every = in.ConsumeBool() ? 0 : in.ConsumeIntegralInRange<std::size_t>(1, 32);
    paint(input, in.ConsumeRemainingBytes<std::uint8_t>(), how);
    const std::vector<unsigned char> input_before = input.packed_pixels();
    // Set RUVIVEDU_FUZZ_VERBOSE to see what an input decodes to (when replaying one).
    static const bool verbose = std::getenv("RUVIVEDU_FUZZ_VERBOSE") != nullptr;
    if (verbose) {
        const PF_ParamDef dot = host.current_param(2), rot = host.current_param(3), off = host.current_param(4);
        std::fprintf(stderr,
                     "%s depth %d, input %dx%d rowbytes %d, output %dx%d rowbytes %d, downsample 1/%u x 1/%u, "
                     "shape %d, dot 0x%08X, rotation 0x%08X, offset 0x%08X 0x%08X, alpha %d, sampling %d, "
                     "pixels %s, specials every %zu\n",
                     f.smart ? "smart" : "classic", int(depth), int(f.in_w), int(f.in_h), int(input.rowbytes()),
                     int(out_w), int(out_h), int(output.rowbytes()), unsigned(den_x), unsigned(den_y),
                     int(host.current_param(1).u.pd.value), unsigned(dot.u.fd.value), unsigned(rot.u.ad.value),
                     unsigned(off.u.td.x_value), unsigned(off.u.td.y_value), int(f.alpha),
                     int(host.current_param(6).u.pd.value), how.in_range ? "in range" : "any", how.specials_every);
    }

    // The widest path first (or SSE2, which converts four pixels at a time
    // and draws the dots with the portable code), then the portable path
    // into an output filled the other way.
    const PixelPath wide = middle_path && best_pixel_path() == PixelPath::avx2 ? PixelPath::sse2 : best_pixel_path();
    set_pixel_path(wide);
    PF_Err err = render(host, f.smart);
    FUZZ_CHECK(err == PF_Err_NONE, "the render returned %d", int(err));
    FUZZ_CHECK(host.errors().empty(), "the host saw misuse: %s", host.errors().front().c_str());
    FUZZ_CHECK(input.guards_intact(), "input guard damage: %s", input.guard_damage().c_str());
    FUZZ_CHECK(output.guards_intact(), "output guard damage: %s", output.guard_damage().c_str());
    FUZZ_CHECK(input.packed_pixels() == input_before, "the input layer was written");
    const std::vector<unsigned char> picture = output.packed_pixels();
    switch (depth) {
    case Depth::u8:
        check_pixels<std::uint8_t>(input, output, f);
        break;
    case Depth::u16:
        check_pixels<std::uint16_t>(input, output, f);
        break;
    case Depth::f32:
        check_pixels<float>(input, output, f);
        break;
    }

    if (wide != PixelPath::scalar) {
        fill_pixels(output, 0xFF);
        set_pixel_path(PixelPath::scalar);
        err = render(host, f.smart);
        FUZZ_CHECK(err == PF_Err_NONE, "the portable render returned %d", int(err));
        FUZZ_CHECK(output.guards_intact(), "output guard damage (portable path): %s", output.guard_damage().c_str());
        FUZZ_CHECK(output.packed_pixels() == picture, "path %d and the portable path differ", int(wide));
    }
    return 0;
}
