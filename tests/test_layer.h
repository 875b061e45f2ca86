// A host layer for tests that drive the built module: a diagonal gradient, a
// transparent corner, partial alpha and a per-seed pattern, so every stage
// has something to do and frames of different seeds differ everywhere.
#pragma once

#include "substitute_host.h"

namespace test_layer {

/// A `width` x `height` layer of `depth` with `padding` extra pixels per row,
/// top-down or bottom-up.
ruvivedu::host::World make_layer(ruvivedu::host::Depth depth, A_long width, A_long height, A_long padding,
                                 unsigned seed = 0, bool bottom_up = false);

}  // namespace test_layer
