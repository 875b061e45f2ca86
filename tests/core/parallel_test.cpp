// Parallel row execution: the block division, coverage of every row exactly
// once, empty ranges, and a worker that cannot be started.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

#include "pipeline/parallel.h"
#include "pipeline/row_blocks.h"

#if defined(RUVIVEDU_PARALLEL_OPENMP) && RUVIVEDU_PARALLEL_OPENMP
#include <omp.h>
constexpr bool loop_strategy = true;
#else
constexpr bool loop_strategy = false;
#endif

using namespace ruvivedu;

namespace {

using Range = std::pair<int, int>;

std::vector<Range> blocks(int rows, int workers)
{
    std::vector<Range> out;
    for (int i = 0; i < workers; ++i) {
        const RowBlock b = row_block(rows, workers, i);
        out.emplace_back(b.begin, b.end);
    }
    return out;
}

TEST(RowBlocks, EqualBlocksOfCeilRowsOverWorkers)
{
    const std::vector<Range> hd = blocks(1080, 8);  // B = 135
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(hd[i], Range(i * 135, (i + 1) * 135));
    EXPECT_EQ(blocks(10, 4), (std::vector<Range>{{0, 3}, {3, 6}, {6, 9}, {9, 10}}));
}

TEST(RowBlocks, SurplusWorkersGetEmptyOrInvertedRanges)
{
    EXPECT_EQ(blocks(10, 8),
              (std::vector<Range>{{0, 2}, {2, 4}, {4, 6}, {6, 8}, {8, 10}, {10, 10}, {12, 10}, {14, 10}}));
    for (const Range& r : blocks(0, 5))
        EXPECT_EQ(r, Range(0, 0));
    // One worker takes everything; a worker count below one counts as one.
    EXPECT_EQ(blocks(7, 1), (std::vector<Range>{{0, 7}}));
    EXPECT_EQ(row_block(7, 0, 0).end, 7);
}

TEST(RowBlocks, RowCountsBeyondSinglePrecisionStayCovered)
{
    // 2^24 + 1 rows: a float division would round the block down and lose the last row.
    const int rows = (1 << 24) + 1;
    EXPECT_EQ(row_block(rows, 1, 0).end, rows);
    EXPECT_EQ(row_block(rows, 3, 2).end, rows);
}

// A row job over a one-channel image that adds one to every pixel of its rows
// and records the range it was handed.
struct Recorder {
    static std::mutex lock;
    static std::vector<Range> ranges;
};
std::mutex Recorder::lock;
std::vector<Range> Recorder::ranges;

void count_rows(Image<float>*, Image<float>* dst, HalfTone_Inner_Params<float>*, int begin, int end)
{
    {
        std::lock_guard<std::mutex> guard(Recorder::lock);
        Recorder::ranges.emplace_back(begin, end);
    }
    if (begin >= end)
        return;
    RUVIVEDU_PARALLEL_FOR
    for (int y = begin; y < end; ++y)
        for (uint32_t x = 0; x < dst->width; ++x)
            dst->row(static_cast<uint32_t>(y))[x] += 1.0f;
}

struct Executor : ::testing::TestWithParam<int> {
    void SetUp() override { Recorder::ranges.clear(); }
};

TEST_P(Executor, EveryRowExactlyOnceAndTheCallerWaits)
{
    const int workers = GetParam();
    Image<float> dst(nullptr, 5, 10, 1);
    std::fill(dst.data, dst.data + 50, 0.0f);
    HalfTone_Inner_Params<float> params{};
    params.worker_count = workers;
#if defined(RUVIVEDU_PARALLEL_OPENMP) && RUVIVEDU_PARALLEL_OPENMP
    omp_set_num_threads(workers);
#endif
    run_rows_parallel(count_rows, static_cast<Image<float>*>(nullptr), &dst, 10, &params);
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(dst.data[i], 1.0f) << "pixel " << i;

    std::sort(Recorder::ranges.begin(), Recorder::ranges.end());
    if (loop_strategy) {
        EXPECT_EQ(Recorder::ranges, (std::vector<Range>{{0, 10}}));
    } else {
        std::vector<Range> expected = blocks(10, workers);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Recorder::ranges, expected);  // every worker started, empty blocks too
    }
}

INSTANTIATE_TEST_SUITE_P(WorkerCounts, Executor, ::testing::Values(1, 2, 3, 4, 8, 16));

TEST(Executor, ZeroRowsWritesNothing)
{
    Recorder::ranges.clear();
    Image<float> dst(nullptr, 3, 2, 1);
    std::fill(dst.data, dst.data + 6, 5.0f);
    HalfTone_Inner_Params<float> params{};
    params.worker_count = 4;
    run_rows_parallel(count_rows, static_cast<Image<float>*>(nullptr), &dst, 0, &params);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(dst.data[i], 5.0f);
    for (const Range& r : Recorder::ranges)
        EXPECT_EQ(r, Range(0, 0));
}

// Layer-shaped jobs reach the executor with their own operand lists.
void fill_layer_row_numbers(Image<float>*, LayerParams*, LayerParams* out, HalfTone_Inner_Params<unsigned char>*,
                            int begin, int end)
{
    if (begin >= end)
        return;
    RUVIVEDU_PARALLEL_FOR
    for (int y = begin; y < end; ++y)
        for (int x = 0; x < out->width; ++x)
            layer_pixel(*out, x, y)[0] = static_cast<char>(y);
}

TEST(Executor, LayerJobsCoverEveryRowOfABottomUpWorld)
{
    char buffer[6 * 8];
    std::fill(buffer, buffer + sizeof(buffer), char(-1));
    LayerParams out{};
    out.data = buffer + 5 * 8;
    out.rowbytes = -8;
    out.width = 2;
    out.height = 6;
    out.bytes_per_pixel = 4;
    HalfTone_Inner_Params<unsigned char> params{};
    params.worker_count = 4;
    run_rows_parallel(fill_layer_row_numbers, static_cast<Image<float>*>(nullptr), &out, &out, 6, &params);
    for (int y = 0; y < 6; ++y) {
        EXPECT_EQ(buffer[(5 - y) * 8], y);
        EXPECT_EQ(buffer[(5 - y) * 8 + 4], y);
        EXPECT_EQ(buffer[(5 - y) * 8 + 1], char(-1));  // only the written component
    }
}

// Renders that overlap share the workers evenly, each keeping at least one,
// and a render keeps the count it started with.
TEST(RenderShare, OverlappingRendersDivideTheWorkers)
{
    ASSERT_EQ(RenderShare::renders_in_flight(), 0);
    {
        RenderShare first(4);
        EXPECT_EQ(first.workers(), 4);
        {
            RenderShare second(4);
            RenderShare third(4);
            EXPECT_EQ(RenderShare::renders_in_flight(), 3);
            EXPECT_EQ(second.workers(), 2);
            EXPECT_EQ(third.workers(), 1);  // 4 / 3, rounded down
            RenderShare lone(1);
            EXPECT_EQ(lone.workers(), 1);
            EXPECT_EQ(first.workers(), 4);
        }
        RenderShare later(4);
        EXPECT_EQ(later.workers(), 2);
    }
    EXPECT_EQ(RenderShare::renders_in_flight(), 0);
}

// The thread library refuses the third worker: the two started ones must have
// finished (been joined) before the failure reaches the caller, since they
// work on buffers the caller frees next.
TEST(WorkerStartFailure, StartedWorkersAreJoinedBeforeTheErrorLeaves)
{
    std::atomic<int> finished{0};
    int launched = 0;
    auto launch = [&](int, int) {
        if (launched == 2)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        ++launched;
        return std::thread([&finished] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ++finished;
        });
    };
    EXPECT_THROW(run_row_blocks(12, 4, launch), std::system_error);
    EXPECT_EQ(finished.load(), 2);
}

TEST(WorkerStartFailure, NoMemoryForAThreadBecomesMemoryException)
{
    std::atomic<int> finished{0};
    int launched = 0;
    auto launch = [&](int, int) {
        if (launched == 1)
            throw std::bad_alloc();
        ++launched;
        return std::thread([&finished] { ++finished; });
    };
    EXPECT_THROW(run_row_blocks(12, 3, launch), memory_exception);
    EXPECT_EQ(finished.load(), 1);
}

}  // namespace
