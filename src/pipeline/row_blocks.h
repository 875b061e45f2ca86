// The thread-block strategy's worker loop, shared by the executor and its tests.
#pragma once

#include <new>
#include <thread>
#include <vector>

#include "base/image.h"
#include "pipeline/parallel.h"

namespace ruvivedu {

/// Starts one thread per row block through launch(begin, end), which returns
/// the started std::thread, and joins them all in start order.
///
/// If a worker cannot be started (launch throws), every worker already started
/// is joined before the exception leaves, so no thread outlives the buffers it
/// works on: a thread library failure propagates as its std::system_error, and
/// running out of memory for the thread bookkeeping becomes memory_exception.
template <typename Launch>
void run_row_blocks(int rows, int workers, Launch&& launch)
{
    if (workers < 1)
        workers = 1;
    std::vector<std::thread> started;
    try {
        started.reserve(static_cast<std::size_t>(workers));
        for (int i = 0; i < workers; ++i) {
            const RowBlock block = row_block(rows, workers, i);
            started.push_back(launch(block.begin, block.end));
        }
    } catch (...) {
        for (std::thread& worker : started)
            worker.join();
        try {
            throw;
        } catch (const std::bad_alloc&) {
            throw memory_exception();
        }
    }
    for (std::thread& worker : started)
        worker.join();
}

}  // namespace ruvivedu
