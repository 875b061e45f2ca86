// Instances of the filter on many host threads at once: frei0r lets a host
// run different instances side by side (MLT keeps one per render thread),
// each frame with the core's own worker threads inside.
#include "frei0r_module.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using frei0r_test::Frame;
using frei0r_test::module;
using frei0r_test::Values;

namespace {

constexpr int kHostThreads = 8;
constexpr int kFramesPerThread = 6;

/// Thread t's frame size and values: no two threads share either.
Values values_of(int t)
{
    Values v;
    v.shape = (t % 3) * 0.5;
    v.dot_size = 0.004 + 0.003 * t;
    v.rotation = 0.07 * t;
    v.offset_x = 0.1 * t;
    v.alpha = t % 2 == 1;
    v.sampling = (t / 2) % 2;
    return v;
}

unsigned width_of(int t)
{
    return 24u + 13u * unsigned(t);
}
unsigned height_of(int t)
{
    return 40u - 3u * unsigned(t);
}

}  // namespace

TEST(Frei0rConcurrency, InstancesOnEightThreadsMatchFramesMadeAlone)
{
    // The frames each thread will render, made one after the other first.
    std::vector<std::vector<Frame>> inputs(kHostThreads), alone(kHostThreads);
    for (int t = 0; t < kHostThreads; ++t) {
        for (int f = 0; f < kFramesPerThread; ++f) {
            inputs[t].push_back(frei0r_test::test_frame(width_of(t), height_of(t), unsigned(t * 100 + f)));
            alone[t].push_back(frei0r_test::render_filter(inputs[t].back(), values_of(t)));
        }
    }

    std::vector<std::vector<Frame>> together(kHostThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kHostThreads; ++t) {
        threads.emplace_back([&, t] {
            // One instance per thread, constructed there, reused for every frame.
            f0r_instance_t instance = module().construct(width_of(t), height_of(t));
            if (instance == nullptr)
                return;
            frei0r_test::set_values(instance, values_of(t));
            for (int f = 0; f < kFramesPerThread; ++f) {
                Frame out{width_of(t), height_of(t), std::vector<uint32_t>(inputs[t][f].pixels.size())};
                module().update(instance, f / 25.0, inputs[t][f].pixels.data(), out.pixels.data());
                together[t].push_back(std::move(out));
            }
            module().destruct(instance);
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    for (int t = 0; t < kHostThreads; ++t) {
        ASSERT_EQ(together[t].size(), std::size_t(kFramesPerThread)) << "thread " << t << " had no instance";
        for (int f = 0; f < kFramesPerThread; ++f)
            EXPECT_EQ(together[t][f].pixels, alone[t][f].pixels) << "thread " << t << ", frame " << f;
    }
}
