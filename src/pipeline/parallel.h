// Parallel row execution: runs one row job over all rows of its destination.
#pragma once

#include <cstdint>
#include <functional>

#include "base/image.h"
#include "base/render_context.h"
#include "base/rows.h"
#include "halftone/halftone_params.h"

namespace ruvivedu {

/// The workers a render may use before it shares them: in the loop build the
/// OpenMP runtime's default team size, which a host or user may have set; in
/// the thread-block build `processors`, the processor count of the geometry.
int32_t render_workers(int32_t processors);

/// One render's share of the workers while it runs. Renders that overlap on
/// the host's threads (the host renders several frames at once) divide the
/// workers evenly among themselves, each getting at least one: two renders on
/// two processors take one each instead of two teams of two crowding two
/// processors, where every stage's end would wait for a thread that is not
/// running (or spin on a processor another render needs). A render keeps the
/// count it started with, so its row division is fixed for its whole frame.
class RenderShare {
public:
    explicit RenderShare(int32_t workers);
    ~RenderShare();
    RenderShare(const RenderShare&) = delete;
    RenderShare& operator=(const RenderShare&) = delete;

    int32_t workers() const { return workers_; }

    /// Renders in flight in this process now.
    static int32_t renders_in_flight();

private:
    int32_t workers_;
};

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
void run_rows_parallel(typename row_job_of<LayerToImageJob<T>>::type job, LayerParams* src, Image<float>* dst, int rows,
                       HalfTone_Inner_Params<T>* params);
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

}  // namespace ruvivedu
