// Conversions of stored parameter values into the render context's numbers.
#include "params/effect_values.h"

#include "base/render_context.h"

#include <cmath>

namespace ruvivedu {

float fixed_to_float(std::int32_t value)
{
    return static_cast<float>(static_cast<double>(value) * (1.0 / 65536.0));
}

std::int32_t fixed_from_double(double value)
{
    const double scaled = value * 65536.0;
    if (std::isnan(scaled))
        return 0;
    // Compared before the conversion: a double beyond the int32 range has no
    // defined conversion.
    if (scaled >= 2147483647.0)
        return INT32_MAX;
    if (scaled <= -2147483648.0)
        return INT32_MIN;
    return static_cast<std::int32_t>(std::llround(scaled));
}

bool checkbox_is_on(std::int32_t value)
{
    return (static_cast<std::uint32_t>(value) & 0xFFu) != 0;
}

void read_effect_values(const EffectValues& values, HalfTone_Params& context)
{
    context.dot_size = fixed_to_float(values.dot_size);
    context.rotation = fixed_to_float(values.rotation);
    context.offset_x = fixed_to_float(values.offset_x);
    context.offset_y = fixed_to_float(values.offset_y);
    context.alpha = checkbox_is_on(values.alpha);
    context.sampling = sampling_from_popup(values.sampling);
    context.shape = shape_from_popup(values.shape);
}

}  // namespace ruvivedu
