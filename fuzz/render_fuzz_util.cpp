// Worlds, pixels and factors for the render targets.
#include "render_fuzz_util.h"

#include "fuzz_check.h"

#include <omp.h>

#include <cstring>
#include <limits>

namespace render_fuzz {

void use_one_worker()
{
    omp_set_dynamic(0);
    omp_set_num_threads(1);
    FUZZ_CHECK(omp_get_max_threads() == 1, "the OpenMP runtime keeps %d threads", omp_get_max_threads());
}

World make_world(FuzzedDataProvider& in, Depth depth, A_long width, A_long height)
{
    const auto component = static_cast<A_long>(bytes_per_pixel(depth) / 4);
    const A_long padding = in.ConsumeIntegralInRange<A_long>(0, 3) * component;
    World world = in.ConsumeBool() ? World::bottom_up(depth, width, height, padding)
                                   : World::padded(depth, width, height, padding);
    if (in.ConsumeIntegralInRange(0, 7) == 0)
        world.set_origin(in.ConsumeIntegral<A_long>(), in.ConsumeIntegral<A_long>());
    return world;
}

void paint(World& world, const std::vector<std::uint8_t>& bytes, const Paint& how)
{
    const std::size_t components = static_cast<std::size_t>(world.width()) * 4;
    std::size_t k = 0;
    auto next = [&] { return bytes.empty() ? static_cast<std::uint8_t>(k++ * 37) : bytes[k++ % bytes.size()]; };
    for (A_long y = 0; y < world.height(); ++y) {
        unsigned char* row = world.row(y);
        for (std::size_t c = 0; c < components; ++c) {
            switch (world.depth()) {
            case Depth::u8:
                row[c] = next();
                break;
            case Depth::u16: {
                unsigned value = static_cast<unsigned>(next()) << 8 | next();
                if (how.in_range)
                    value %= 32769;
                const auto stored = static_cast<std::uint16_t>(value);
                std::memcpy(row + 2 * c, &stored, 2);
                break;
            }
            case Depth::f32: {
                float value;
                if (how.in_range) {
                    value = static_cast<float>(next()) / 255.0f;
                } else {
                    const std::uint32_t bits = static_cast<std::uint32_t>(next()) << 24 |
                                               static_cast<std::uint32_t>(next()) << 16 |
                                               static_cast<std::uint32_t>(next()) << 8 | next();
                    std::memcpy(&value, &bits, 4);
                }
                std::memcpy(row + 4 * c, &value, 4);
                break;
            }
            }
        }
    }
    if (world.depth() != Depth::f32 || how.specials_every == 0)
        return;
    static const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                                     std::numeric_limits<float>::infinity(),
                                     -std::numeric_limits<float>::infinity(),
                                     -0.0f,
                                     3.0e38f,
                                     -3.0e38f,
                                     1e-45f};
    std::size_t n = 0;
    for (A_long y = 0; y < world.height(); ++y) {
        auto* c = reinterpret_cast<float*>(world.row(y));
        for (std::size_t i = 0; i < components; ++i, ++n)
            if (n % how.specials_every == 0)
                c[i] = specials[(n / how.specials_every) % (sizeof specials / sizeof specials[0])];
    }
}

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
            {0, 1},
            {0, 0},
            {1, 0},
            {-1, 2},
            {-7, 3},
            {std::numeric_limits<A_long>::min(), 1},
            {1 << 20, 1},
            {std::numeric_limits<A_long>::max(), 1},
            {std::numeric_limits<A_long>::max(), std::numeric_limits<A_u_long>::max()},
            {1, std::numeric_limits<A_u_long>::max()}};
        return in.PickValueInArray(odd);
    }
    }
}

bool known_render_result(PF_Err result, std::optional<PF_Err> fault_code)
{
    return result == PF_Err_NONE || result == PF_Err_OUT_OF_MEMORY || result == PF_Err_BAD_CALLBACK_PARAM ||
           (fault_code && result == *fault_code);
}

}  // namespace render_fuzz
