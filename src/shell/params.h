// The effect's six parameters: their declaration to the host and the reading
// of their values into plain numbers.
#pragma once

#include "host_api.h"
#include "params/effect_values.h"

namespace ruvivedu {

/// Parameter indices, equal to their ids. Saved projects find their values by
/// these numbers: never reorder or renumber them.
enum ParamIndex : A_long {
    kParamInput = 0,  ///< the layer itself, supplied by the host
    kParamShape = 1,
    kParamDotSize = 2,
    kParamRotation = 3,
    kParamOffset = 4,
    kParamAlpha = 5,
    kParamSampling = 6,
    kParamCount = 7  ///< num_params: the input layer and the six above
};

/// Declares parameters 1 to 6 through add_param. Returns the first non-zero
/// host result at once (later parameters are not declared and num_params is
/// not written); on success sets num_params to 7.
PF_Err setup_params(PF_InData* in_data, PF_OutData* out_data);

/// The six current values of a definition array (indices 1 to 6) as the
/// host stores them.
EffectValues stored_values(PF_ParamDef* const params[kParamCount]);

}  // namespace ruvivedu
