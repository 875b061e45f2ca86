// The effect's six parameter values apart from any host's API: their defaults
// and ranges as the host stores them (16.16 fixed, 1-based popups), and their
// reading into the render context. The plug-in's shell and the frei0r filter
// both fill their render contexts through here, so both hand the frame driver
// the same numbers for the same stored values.
#pragma once

#include <cstdint>

namespace ruvivedu {

struct HalfTone_Params;

/// Popup values as the host stores them (1-based).
enum ShapeChoice : std::int32_t { kShapeCircle = 1, kShapeSquare = 2, kShapeLine = 3 };
enum SamplingChoice : std::int32_t { kSamplingBilinear = 1, kSamplingNearest = 2 };

constexpr std::int32_t kFixedOne = 65536;
constexpr std::int32_t fixed_from_int(std::int32_t whole)
{
    return whole * kFixedOne;
}

// Defaults and ranges in 16.16 fixed where the value is a fixed one. Saved
// projects rely on these: never change them.
constexpr std::int32_t kDotSizeDefault = fixed_from_int(32);
constexpr std::int32_t kDotSizeValidMin = fixed_from_int(1);
constexpr std::int32_t kDotSizeValidMax = fixed_from_int(1000);
constexpr std::int32_t kDotSizeSliderMin = fixed_from_int(1);
constexpr std::int32_t kDotSizeSliderMax = fixed_from_int(200);
constexpr std::int32_t kRotationDefault = fixed_from_int(45);
/// The host reads the point's defaults as percentages of the layer size.
constexpr std::int32_t kOffsetDefaultPercent = fixed_from_int(50);

/// The six values as a host stores them: DotSize, Rotation (degrees) and the
/// Offset point (layer pixels) in 16.16 fixed, the popups 1-based, the
/// checkbox as its raw value.
struct EffectValues {
    std::int32_t shape = kShapeCircle;
    std::int32_t dot_size = kDotSizeDefault;
    std::int32_t rotation = kRotationDefault;
    std::int32_t offset_x = 0;
    std::int32_t offset_y = 0;
    std::int32_t alpha = 0;
    std::int32_t sampling = kSamplingBilinear;
};

/// 16.16 fixed to float: through double, rounded once to the nearest float.
float fixed_to_float(std::int32_t value);

/// The nearest 16.16 fixed value to `value`, the way a host stores a typed
/// number; values beyond what 16.16 holds give its largest or smallest
/// value, and NaN gives 0.
std::int32_t fixed_from_double(double value);

/// The host may leave garbage in the upper bytes of a checkbox value; only
/// the lowest byte says whether it is set.
bool checkbox_is_on(std::int32_t value);

/// Writes the six parameter fields of the render context (dot_size, rotation,
/// offset_x, offset_y, alpha, sampling, shape) from the stored values.
void read_effect_values(const EffectValues& values, HalfTone_Params& context);

}  // namespace ruvivedu
