// The host's reduced-resolution preview: a frame shrunk by a rational factor
// with an area average.
#pragma once

#include "pixel_world.h"
#include "render_options.h"

namespace ruvivedu::tool {

/// Size of a layer of `full` pixels at factor `ratio` (N/D <= 1): ceil(full x N / D),
/// at least one pixel.
A_long downsampled_size(A_long full, const Ratio& ratio);

/// A world of downsampled_size() in each direction whose every pixel is the
/// area average of the source pixels it covers (partial pixels weighted by
/// the part covered). Colour is averaged weighted by alpha, so the colour of
/// fully transparent pixels does not bleed into their neighbours; alpha is
/// the plain area average. Same depth as the source, integer results
/// rounded to nearest.
host::World downsample_area(const host::World& source, const Ratio& ratio_x, const Ratio& ratio_y);

}  // namespace ruvivedu::tool
