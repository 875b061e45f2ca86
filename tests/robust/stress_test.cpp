// Renders from many host threads at once: 16 threads share 200 renders of
// different frames, parameters, depths, layouts and paths, and every output
// must equal the same render made alone on a quiet process.
#include "robust_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

using namespace ruvivedu::host;

namespace {

constexpr int kHostThreads = 16;
constexpr int kRenders = 200;

/// Job i of the run: every field varies with i at its own period, so no two
/// neighbouring jobs share depth, size, layout and parameters.
robust::Job job(int i)
{
    robust::Job j;
    const Depth depths[3] = {Depth::u8, Depth::u16, Depth::f32};
    j.depth = depths[i % 3];
    j.width = 24 + (i * 37) % 73;
    j.height = 16 + (i * 53) % 61;
    j.padding = (i % 4) * 16;
    j.bottom_up = i % 5 == 2;
    j.seed = static_cast<unsigned>(i);
    // The classic path only ever sees 8- and 16-bit worlds.
    j.smart = j.depth == Depth::f32 || i % 2 == 0;
    j.settings.shape = 1 + i % 3;
    j.settings.dot_size = (4 + (i * 7) % 29) * 65536;
    j.settings.rotation = ((i * 29) % 360 - 180) * 65536;
    j.settings.offset_x = ((i * 11) % 50) * 65536;
    j.settings.offset_y = ((i * 13) % 40) * 32768;
    j.settings.alpha = (i / 3) % 2;
    j.settings.sampling = 1 + (i / 2) % 2;
    return j;
}

}  // namespace

TEST(Concurrency, SixteenHostThreadsMatchRendersMadeAlone)
{
    std::vector<robust::Rendered> alone(kRenders);
    for (int i = 0; i < kRenders; ++i) {
        alone[static_cast<std::size_t>(i)] = robust::render_alone(job(i));
        ASSERT_EQ(alone[static_cast<std::size_t>(i)].result, PF_Err_NONE) << "job " << i;
    }

    std::vector<robust::Rendered> together(kRenders);
    std::atomic<int> next{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kHostThreads; ++t) {
        threads.emplace_back([&] {
            // Each thread keeps one host, as a host keeps one per render thread.
            SubstituteHost host(robust::plugin_module());
            for (int i = next++; i < kRenders; i = next++)
                together[static_cast<std::size_t>(i)] = robust::render(host, job(i));
        });
    }
    for (std::thread& t : threads)
        t.join();

    int compared = 0;
    for (int i = 0; i < kRenders; ++i) {
        const robust::Rendered& a = alone[static_cast<std::size_t>(i)];
        const robust::Rendered& b = together[static_cast<std::size_t>(i)];
        SCOPED_TRACE("job " + std::to_string(i));
        EXPECT_EQ(b.result, PF_Err_NONE);
        EXPECT_TRUE(b.guards_intact);
        EXPECT_TRUE(b.host_errors.empty()) << b.host_errors.front();
        EXPECT_EQ(a.pixels, b.pixels);
        compared += a.pixels == b.pixels;
    }
    std::printf("concurrency: %d renders on %d host threads, %d identical to the render made alone\n", kRenders,
                kHostThreads, compared);
}

TEST(Concurrency, OneFrameOnAllThreadsAtOnce)
{
    // The same frame from every thread at the same moment: the effect keeps no
    // state, so nothing one call does can reach another.
    const robust::Job j = job(7);
    const robust::Rendered alone = robust::render_alone(j);
    ASSERT_EQ(alone.result, PF_Err_NONE);
    std::vector<robust::Rendered> got(kHostThreads);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kHostThreads; ++t) {
        threads.emplace_back([&, t] {
            SubstituteHost host(robust::plugin_module());
            ++ready;
            while (ready.load() < kHostThreads)
                std::this_thread::yield();
            got[static_cast<std::size_t>(t)] = robust::render(host, j);
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (const robust::Rendered& r : got) {
        EXPECT_EQ(r.result, PF_Err_NONE);
        EXPECT_EQ(r.pixels, alone.pixels);
    }
}
