// The filter's parameters in frei0r's terms and the one mapping from them to
// the effect's six stored values.
//
// frei0r doubles, booleans and positions nominally run from 0 to 1. The
// filter's values, in the order hosts that pass values by position (ffmpeg)
// rely on:
//
//   0 shape     double    the nearest of 0 Circle, 0.5 Square, 1 Line
//   1 dot size  double    DotSize / 1000: 0.001 to 1 is 1 to 1000 pixels
//   2 rotation  double    turns: 0 to 1 is 0 to 360 degrees
//   3 offset    position  the lattice origin as a fraction of the frame's
//                         width and height, from its top-left corner; like
//                         the effect's Offset it may lie off the frame
//   4 alpha     bool      on from 0.5: black ink on transparent paper
//   5 sampling  double    the nearest of 0 BiLinear, 1 Nearest
//
// Every value turns into what the effect's host would store (16.16 fixed,
// 1-based popups) and reaches the render context through the same reading as
// the plug-in's, so the same values give the plug-in's pixels. The defaults
// are the effect's own defaults mapped back.
#pragma once

#include "params/effect_values.h"

namespace ruvivedu::frei0r {

/// Parameter indices. Stored host projects and command lines name them by
/// position: never reorder them.
enum ParamIndex : int {
    kParamShape = 0,
    kParamDotSize = 1,
    kParamRotation = 2,
    kParamOffset = 3,
    kParamAlpha = 4,
    kParamSampling = 5,
    kParamCount = 6
};

/// What f0r_get_param_info reports for one parameter.
struct ParamInfo {
    const char* name;
    int type;  ///< F0R_PARAM_*
    const char* explanation;
};

/// The description of parameter `index`, or null outside 0 to kParamCount - 1.
const ParamInfo* param_info(int index);

/// One instance's values in frei0r's terms, each within the range it takes.
struct Frei0rValues {
    double shape;
    double dot_size;
    double rotation;
    double offset_x;
    double offset_y;
    double alpha;
    double sampling;
};

/// The effect's defaults in frei0r's terms: Circle, 0.032 (32 pixels), 0.125
/// (45 degrees), the frame centre, off, BiLinear.
Frei0rValues default_values();

/// Sets parameter `index` from what the host passed (a double for the
/// doubles and the boolean, an f0r_param_position for the offset). A value
/// outside 0 to 1 (0.001 to 1 for the dot size) is brought to the nearest end
/// of that range, except the offset's, which is taken as it is; a value that
/// is not a number (NaN, an infinity) leaves the parameter as it was, as do
/// an unknown index and a null pointer.
void set_value(Frei0rValues& values, int index, const void* value);

/// Writes parameter `index` where the host asked (the same types as
/// set_value); an unknown index or a null pointer writes nothing.
void get_value(const Frei0rValues& values, int index, void* value);

/// The values a host of the effect would store for these, on a frame of
/// `width` x `height` pixels. An offset beyond what 16.16 fixed holds
/// (about 32768 pixels) stops at its limit.
EffectValues effect_values(const Frei0rValues& values, unsigned width, unsigned height);

}  // namespace ruvivedu::frei0r
