// The effect's six parameters: their declaration to the host and the reading
// of their values into plain numbers.
#pragma once

#include "host_api.h"

namespace ruvivedu {

/// Parameter indices, equal to their ids. Saved projects find their values by
/// these numbers: never reorder or renumber them.
enum ParamIndex : A_long {
    kParamInput = 0, ///< the layer itself, supplied by the host
    kParamShape = 1,
    kParamDotSize = 2,
    kParamRotation = 3,
    kParamOffset = 4,
    kParamAlpha = 5,
    kParamSampling = 6,
    kParamCount = 7 ///< num_params: the input layer and the six above
};

/// Popup values as the host stores them (1-based).
enum ShapeChoice : A_long { kShapeCircle = 1, kShapeSquare = 2, kShapeLine = 3 };
enum SamplingChoice : A_long { kSamplingBilinear = 1, kSamplingNearest = 2 };

/// Declares parameters 1 to 6 through add_param. Returns the first non-zero
/// host result at once (later parameters are not declared and num_params is
/// not written); on success sets num_params to 7.
PF_Err setup_params(PF_InData* in_data, PF_OutData* out_data);

/// 16.16 fixed to float: through double, rounded once to the nearest float.
float fixed_to_float(PF_Fixed value);

/// The host may leave garbage in the upper bytes of a checkbox value; only
/// the lowest byte says whether it is set.
bool checkbox_is_on(PF_ParamValue value);

} // namespace ruvivedu
