// The frame render driver: one filled render context in, the output world filled.
#pragma once

#include <cstdint>

#include "base/render_context.h"

namespace ruvivedu {

/// Renders one frame for host component type T (unsigned char, unsigned short,
/// float): derives the geometry, allocates the box image and the cell grid,
/// runs the stages in order (the sampling reads the input world, the dots write
/// the output world) and frees the images.
///
/// Throws memory_exception when an image cannot be allocated (or the geometry
/// asks for an image too large to represent) and std::system_error when a worker
/// thread cannot be started; in both cases every started worker has been joined
/// and every image already allocated has been freed. The output world is left
/// untouched on allocation failure and when either world is empty.
///
/// The worlds' origins place them in the layer (context->frame_width x
/// frame_height at (0, 0)): output pixel (x, y) is the layer's pixel
/// (x + out origin_x, y + out origin_y), drawn as the render of the whole
/// layer draws it, provided the input world holds every layer pixel within the
/// screen's reach of the output (screen_reach). Output pixels off the layer
/// are transparent black.
///
/// Between stages and chunks of rows it asks context->monitor whether to go on
/// and reports the rows done. Returns false when the frame was called off: every
/// worker has then finished and every image is freed; the output world is
/// untouched, except for the rows the dots had drawn into it when the frame
/// covers the whole layer (a host discards a cancelled frame's output).
template <typename T>
bool render_frame(HalfTone_Params* context);

/// The same render with its worker count fixed instead of taken as its share of
/// the processors (RenderShare), for tests and benchmarks that compare worker
/// counts; a value below 1 keeps the share. Both strategies divide the rows
/// among that many threads (the loop strategy as its OpenMP team's size).
template <typename T>
bool render_frame(HalfTone_Params* context, int32_t worker_count);

/// How far, in layer pixels at the downsample factors, a layer pixel can change
/// the dots of output pixels around it, for a DotSize and the two factors: the
/// input a part of the layer needs is that part grown by this on every side.
int32_t screen_reach(float dot_size, HalfTone_Ratio downsample_x, HalfTone_Ratio downsample_y);

}  // namespace ruvivedu
