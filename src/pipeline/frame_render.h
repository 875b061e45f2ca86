// The frame render driver: one filled render context in, the output world filled.
#pragma once

#include <cstdint>

#include "pipeline/render_context.h"

/// Renders one frame for host component type T (unsigned char, unsigned short,
/// float): derives the geometry, allocates the source image, box image, cell
/// grid and output image, runs the stages in order and frees the images.
///
/// Throws memory_exception when an image cannot be allocated (or the geometry
/// asks for an image too large to represent) and std::system_error when a worker
/// thread cannot be started; in both cases every started worker has been joined
/// and every image already allocated has been freed. The output world is left
/// untouched on allocation failure and when either world is empty.
template <typename T>
void render_frame(HalfTone_Params* context);

/// The same render with the thread-block strategy's worker count fixed instead
/// of taken from the processor count, for tests and benchmarks that compare
/// worker counts (a value below 1 keeps the processor count). The loop strategy's team size
/// belongs to the OpenMP runtime (omp_set_num_threads) and is not affected.
template <typename T>
void render_frame(HalfTone_Params* context, int32_t worker_count);
