// Parallel row execution: runs one row job over all rows of its destination.
#pragma once

#include <functional>

#include "halftone/halftone_params.h"
#include "pipeline/image.h"
#include "pipeline/render_context.h"

/// Placed directly before a stage's row loop. In the loop-strategy build the
/// loop itself is split over the OpenMP team (static schedule, one contiguous
/// band per thread); in the thread-block build the executor has already split
/// the rows and the loop runs sequentially over its own band. MSVC's OpenMP is
/// version 2.0 (a signed int loop index, no collapse), and inside a macro it
/// takes a pragma in every version as __pragma.
#if defined(RUVIVEDU_PARALLEL_OPENMP) && RUVIVEDU_PARALLEL_OPENMP && defined(_MSC_VER) && !defined(__clang__)
#define RUVIVEDU_PARALLEL_FOR __pragma(omp parallel for schedule(static))
#elif defined(RUVIVEDU_PARALLEL_OPENMP) && RUVIVEDU_PARALLEL_OPENMP
#define RUVIVEDU_PARALLEL_FOR _Pragma("omp parallel for schedule(static)")
#else
#define RUVIVEDU_PARALLEL_FOR
#endif

/// Row job shapes. A job processes rows [begin, end) of its destination (the
/// last pointer operand before the params, or the output layer), returns at once
/// when begin >= end, reads its sources and the params only, and never throws.
template <typename T>
using LayerToImageJob = std::function<void(LayerParams*, Image<float>*, HalfTone_Inner_Params<T>*, int, int)>;
template <typename T>
using ImageToImageJob = std::function<void(Image<float>*, Image<float>*, HalfTone_Inner_Params<T>*, int, int)>;
template <typename T>
using ImageToLayerJob =
    std::function<void(Image<float>*, LayerParams*, LayerParams*, HalfTone_Inner_Params<T>*, int, int)>;

/// Keeps T deducible from the params pointer alone, so a plain stage function
/// can be passed as the job.
template <typename J>
struct row_job_of {
    using type = J;
};

/// Runs job over rows [0, rows) and returns when every row is done.
///
/// Thread-block build: params->worker_count threads (at least one) each get one
/// block of ceil(rows / workers) rows, empty or inverted blocks included. If a
/// thread cannot be started, every thread already started is joined and the
/// std::system_error of the thread library is rethrown.
/// Loop build: the job is called once with [0, rows) on the calling thread and
/// its own row loop is the parallel loop.
template <typename T>
void run_rows_parallel(typename row_job_of<LayerToImageJob<T>>::type job, LayerParams* src, Image<float>* dst,
                       int rows, HalfTone_Inner_Params<T>* params);
template <typename T>
void run_rows_parallel(typename row_job_of<ImageToImageJob<T>>::type job, Image<float>* src, Image<float>* dst,
                       int rows, HalfTone_Inner_Params<T>* params);
template <typename T>
void run_rows_parallel(typename row_job_of<ImageToLayerJob<T>>::type job, Image<float>* src, LayerParams* in_layer,
                       LayerParams* out_layer, int rows, HalfTone_Inner_Params<T>* params);

/// One row block of the thread-block strategy: [begin, end) for worker `index`
/// of `workers`, with block = ceil(rows / workers). Blocks past the last row
/// come out empty or inverted (begin >= end), as the jobs expect.
struct RowBlock {
    int begin;
    int end;
};
RowBlock row_block(int rows, int workers, int index);
