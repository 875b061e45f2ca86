// run_rows_parallel: the thread-block and the loop strategy behind one interface.
#include "pipeline/parallel.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>

#include "pipeline/row_blocks.h"

#if defined(RUVIVEDU_PARALLEL_OPENMP) && RUVIVEDU_PARALLEL_OPENMP
#include <omp.h>
#endif

namespace ruvivedu {

namespace {

std::atomic<int32_t>& in_flight()
{
    static std::atomic<int32_t> count{0};
    return count;
}

}  // namespace

int32_t render_workers(int32_t processors)
{
#if defined(RUVIVEDU_PARALLEL_OPENMP) && RUVIVEDU_PARALLEL_OPENMP
    (void)processors;
    return std::max(1, omp_get_max_threads());
#else
    return std::max(1, processors);
#endif
}

RenderShare::RenderShare(int32_t workers)
{
    const int32_t renders = in_flight().fetch_add(1) + 1;
    workers_ = std::max(1, std::max(workers, 1) / renders);
}

RenderShare::~RenderShare()
{
    in_flight().fetch_sub(1);
}

int32_t RenderShare::renders_in_flight()
{
    return in_flight().load();
}

RowBlock row_block(int rows, int workers, int index)
{
    if (workers < 1)
        workers = 1;
    const int64_t total = std::max(rows, 0);
    // ceil(rows / workers) in integers: the same block as a single-precision
    // division below 2^24 rows, and still exact above it.
    const int64_t block = (total + workers - 1) / workers;
    const int64_t begin = static_cast<int64_t>(index) * block;
    const int64_t end = std::min(begin + block, total);
    const int64_t int_max = std::numeric_limits<int>::max();
    // Workers past the last row keep their (empty or inverted) block as the
    // jobs expect it: 10 rows on 8 workers hand out [10,10) [12,10) [14,10).
    return {static_cast<int>(std::min(begin, int_max)), static_cast<int>(end)};
}

#if defined(RUVIVEDU_PARALLEL_OPENMP) && RUVIVEDU_PARALLEL_OPENMP

// Loop strategy: one call over every row; the job's own row loop is the
// OpenMP parallel loop, and the calling thread works as one of its team.

template <typename T>
void run_rows_parallel(typename row_job_of<LayerToImageJob<T>>::type job, LayerParams* src, Image<float>* dst, int rows,
                       HalfTone_Inner_Params<T>* params)
{
    job(src, dst, params, 0, rows);
}

template <typename T>
void run_rows_parallel(typename row_job_of<ImageToImageJob<T>>::type job, Image<float>* src, Image<float>* dst,
                       int rows, HalfTone_Inner_Params<T>* params)
{
    job(src, dst, params, 0, rows);
}

template <typename T>
void run_rows_parallel(typename row_job_of<ImageToLayerJob<T>>::type job, Image<float>* src, LayerParams* in_layer,
                       LayerParams* out_layer, int rows, HalfTone_Inner_Params<T>* params)
{
    job(src, in_layer, out_layer, params, 0, rows);
}

#else

// Thread-block strategy: worker_count threads, one block of rows each, started
// and joined within the call; the calling thread only waits. Each thread gets
// its own copy of the job and of every argument.

template <typename T>
void run_rows_parallel(typename row_job_of<LayerToImageJob<T>>::type job, LayerParams* src, Image<float>* dst, int rows,
                       HalfTone_Inner_Params<T>* params)
{
    run_row_blocks(rows, params->worker_count,
                   [&](int begin, int end) { return std::thread(job, src, dst, params, begin, end); });
}

template <typename T>
void run_rows_parallel(typename row_job_of<ImageToImageJob<T>>::type job, Image<float>* src, Image<float>* dst,
                       int rows, HalfTone_Inner_Params<T>* params)
{
    run_row_blocks(rows, params->worker_count,
                   [&](int begin, int end) { return std::thread(job, src, dst, params, begin, end); });
}

template <typename T>
void run_rows_parallel(typename row_job_of<ImageToLayerJob<T>>::type job, Image<float>* src, LayerParams* in_layer,
                       LayerParams* out_layer, int rows, HalfTone_Inner_Params<T>* params)
{
    run_row_blocks(rows, params->worker_count,
                   [&](int begin, int end) { return std::thread(job, src, in_layer, out_layer, params, begin, end); });
}

#endif

#define RUVIVEDU_INSTANTIATE_EXECUTOR(T)                                                                        \
    template void run_rows_parallel<T>(row_job_of<LayerToImageJob<T>>::type, LayerParams*, Image<float>*, int,  \
                                       HalfTone_Inner_Params<T>*);                                              \
    template void run_rows_parallel<T>(row_job_of<ImageToImageJob<T>>::type, Image<float>*, Image<float>*, int, \
                                       HalfTone_Inner_Params<T>*);                                              \
    template void run_rows_parallel<T>(row_job_of<ImageToLayerJob<T>>::type, Image<float>*, LayerParams*,       \
                                       LayerParams*, int, HalfTone_Inner_Params<T>*);

RUVIVEDU_INSTANTIATE_EXECUTOR(unsigned char)
RUVIVEDU_INSTANTIATE_EXECUTOR(unsigned short)
RUVIVEDU_INSTANTIATE_EXECUTOR(float)

}  // namespace ruvivedu
