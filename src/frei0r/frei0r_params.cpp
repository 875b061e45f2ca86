// The frei0r parameters: their descriptions, their values and the mapping to
// the effect's stored values.
#include "frei0r_params.h"

#include <frei0r.h>

#include <algorithm>
#include <cmath>

namespace ruvivedu::frei0r {
namespace {

// frei0r's description has no place for a range, so each explanation states it.
constexpr ParamInfo kParams[kParamCount] = {
    {"shape", F0R_PARAM_DOUBLE, "Dot shape: 0 circle, 0.5 square, 1 line (the nearest of the three)"},
    {"dot size", F0R_PARAM_DOUBLE,
     "Lattice spacing in pixels / 1000: 0.001 to 1 is 1 to 1000 pixels (default 0.032, 32 pixels)"},
    {"rotation", F0R_PARAM_DOUBLE, "Lattice angle in turns: 0 to 1 is 0 to 360 degrees (default 0.125, 45 degrees)"},
    {"offset", F0R_PARAM_POSITION,
     "Lattice origin as a fraction of the frame from its top-left corner (default 0.5/0.5, the centre); "
     "values outside 0 to 1 lie off the frame"},
    {"alpha", F0R_PARAM_BOOL, "Black ink on transparent paper instead of a grey picture keeping the frame's alpha"},
    {"sampling", F0R_PARAM_DOUBLE, "Ink sampling: 0 bilinear, 1 nearest (the nearest of the two)"},
};

// frei0r's dot size is DotSize in thousandths, so that the effect's whole
// valid range (1 to 1000 pixels) lies within frei0r's 0 to 1.
constexpr double kPixelsPerDotSizeUnit = 1000.0;
constexpr double kDegreesPerTurn = 360.0;
constexpr double kPercent = 100.0;

double fixed_value(std::int32_t fixed)
{
    return double(fixed) / double(kFixedOne);
}

const double kDotSizeMin = fixed_value(kDotSizeValidMin) / kPixelsPerDotSizeUnit;
const double kDotSizeMax = fixed_value(kDotSizeValidMax) / kPixelsPerDotSizeUnit;

/// Choice `n` of `count`, from a value within 0 to 1 that spreads the choices
/// evenly over it: the nearest, a value halfway going to the later one.
std::int32_t choice(double value, std::int32_t count)
{
    return static_cast<std::int32_t>(std::lround(value * double(count - 1)));
}

/// Stores `value` in `*target` brought into [lo, hi]; NaN and the infinities
/// leave it as it is.
void set_within(double* target, double value, double lo, double hi)
{
    if (std::isfinite(value))
        *target = std::clamp(value, lo, hi);
}

}  // namespace

const ParamInfo* param_info(int index)
{
    return index >= 0 && index < kParamCount ? &kParams[index] : nullptr;
}

Frei0rValues default_values()
{
    Frei0rValues values{};
    values.shape = 0.0;  // Circle, the first choice
    values.dot_size = fixed_value(kDotSizeDefault) / kPixelsPerDotSizeUnit;
    values.rotation = fixed_value(kRotationDefault) / kDegreesPerTurn;
    values.offset_x = fixed_value(kOffsetDefaultPercent) / kPercent;
    values.offset_y = fixed_value(kOffsetDefaultPercent) / kPercent;
    values.alpha = 0.0;
    values.sampling = 0.0;  // BiLinear, the first choice
    return values;
}

void set_value(Frei0rValues& values, int index, const void* value)
{
    if (value == nullptr)
        return;
    // Read only once the index says what the host passed.
    auto number = [value] { return *static_cast<const double*>(value); };
    switch (index) {
    case kParamShape:
        set_within(&values.shape, number(), 0.0, 1.0);
        break;
    case kParamDotSize:
        set_within(&values.dot_size, number(), kDotSizeMin, kDotSizeMax);
        break;
    case kParamRotation:
        set_within(&values.rotation, number(), 0.0, 1.0);
        break;
    case kParamOffset: {
        // The point keeps its place off the frame, as the effect's Offset
        // does; only one that is not a number is refused, coordinate by
        // coordinate.
        const auto* position = static_cast<const f0r_param_position_t*>(value);
        set_within(&values.offset_x, position->x, -HUGE_VAL, HUGE_VAL);
        set_within(&values.offset_y, position->y, -HUGE_VAL, HUGE_VAL);
        break;
    }
    case kParamAlpha:
        set_within(&values.alpha, number(), 0.0, 1.0);
        break;
    case kParamSampling:
        set_within(&values.sampling, number(), 0.0, 1.0);
        break;
    default:
        break;
    }
}

void get_value(const Frei0rValues& values, int index, void* value)
{
    if (value == nullptr)
        return;
    auto* number = static_cast<double*>(value);
    switch (index) {
    case kParamShape:
        *number = values.shape;
        break;
    case kParamDotSize:
        *number = values.dot_size;
        break;
    case kParamRotation:
        *number = values.rotation;
        break;
    case kParamOffset: {
        auto* position = static_cast<f0r_param_position_t*>(value);
        position->x = values.offset_x;
        position->y = values.offset_y;
        break;
    }
    case kParamAlpha:
        *number = values.alpha;
        break;
    case kParamSampling:
        *number = values.sampling;
        break;
    default:
        break;
    }
}

EffectValues effect_values(const Frei0rValues& values, unsigned width, unsigned height)
{
    EffectValues effect;
    effect.shape = kShapeCircle + choice(values.shape, kShapeLine - kShapeCircle + 1);
    effect.dot_size = fixed_from_double(values.dot_size * kPixelsPerDotSizeUnit);
    effect.rotation = fixed_from_double(values.rotation * kDegreesPerTurn);
    // The effect's Offset is in layer pixels, from the top-left corner, as
    // frei0r's frames are laid out.
    effect.offset_x = fixed_from_double(values.offset_x * double(width));
    effect.offset_y = fixed_from_double(values.offset_y * double(height));
    effect.alpha = values.alpha >= 0.5 ? 1 : 0;
    effect.sampling = kSamplingBilinear + choice(values.sampling, kSamplingNearest - kSamplingBilinear + 1);
    return effect;
}

}  // namespace ruvivedu::frei0r
