// The row loop every stage runs: the OpenMP loop in the loop-strategy build, a
// plain loop over the executor's block in the thread-block build.
#pragma once

/// Placed directly before a stage's row loop, with the render's worker count
/// (row_workers). In the loop-strategy build the loop itself is split over an
/// OpenMP team of that many threads (static schedule, one contiguous band per
/// thread); in the thread-block build the executor has already split the rows
/// among that many threads and the loop runs sequentially over its own band.
/// RUVIVEDU_PARALLEL_FOR is the same loop on the runtime's default team.
/// MSVC's OpenMP is version 2.0 (a signed int loop index, no collapse), and
/// inside a macro it takes a pragma in every version as __pragma.
#if defined(RUVIVEDU_PARALLEL_OPENMP) && RUVIVEDU_PARALLEL_OPENMP
#if defined(_MSC_VER) && !defined(__clang__)
#define RUVIVEDU_PRAGMA(text) __pragma(text)
#else
#define RUVIVEDU_PRAGMA(text) _Pragma(#text)
#endif
#define RUVIVEDU_PARALLEL_ROWS(workers) RUVIVEDU_PRAGMA(omp parallel for schedule(static) num_threads(workers))
#define RUVIVEDU_PARALLEL_FOR RUVIVEDU_PRAGMA(omp parallel for schedule(static))
#else
#define RUVIVEDU_PARALLEL_ROWS(workers)
#define RUVIVEDU_PARALLEL_FOR
#endif

namespace ruvivedu {

/// The number of threads a stage of this render divides its rows among: the
/// render's worker count (the `worker_count` of its frame record), at least one.
template <typename FrameParams>
int row_workers(const FrameParams& params)
{
    return params.worker_count > 0 ? params.worker_count : 1;
}

}  // namespace ruvivedu
