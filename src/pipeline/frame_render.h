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
template <typename T>
void render_frame(HalfTone_Params* context);

/// The same render with its worker count fixed instead of taken as its share of
/// the processors (RenderShare), for tests and benchmarks that compare worker
/// counts; a value below 1 keeps the share. Both strategies divide the rows
/// among that many threads (the loop strategy as its OpenMP team's size).
template <typename T>
void render_frame(HalfTone_Params* context, int32_t worker_count);

}  // namespace ruvivedu
