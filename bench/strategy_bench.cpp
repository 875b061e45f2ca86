// Whole-frame render time of the linked row strategy: full HD and UHD frames,
// 8-bit and float, default parameters (Circle, DotSize 32, 45 degrees, BiLinear).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "base/render_context.h"
#include "pipeline/frame_render.h"

using namespace ruvivedu;

namespace {

template <typename T>
struct Frame {
    std::vector<T> in;
    std::vector<T> out;
    HalfTone_Params context{};

    Frame(int32_t width, int32_t height, int32_t sampling)
        : in(static_cast<std::size_t>(width) * height * 4), out(in.size())
    {
        const float full = sizeof(T) == 1 ? 255.0f : (sizeof(T) == 2 ? 32768.0f : 1.0f);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) {
                T* p = &in[(static_cast<std::size_t>(y) * width + x) * 4];
                p[0] = static_cast<T>(full);
                p[1] = static_cast<T>(full * static_cast<float>(x) / static_cast<float>(width));
                p[2] = static_cast<T>(full * static_cast<float>(y) / static_cast<float>(height));
                p[3] = static_cast<T>(full * 0.5f);
            }
        LayerParams view{};
        view.rowbytes = width * 4 * static_cast<int32_t>(sizeof(T));
        view.width = width;
        view.height = height;
        view.num_channels = 4;
        context.in_layer = view;
        context.in_layer.data = reinterpret_cast<char*>(in.data());
        context.out_layer = view;
        context.out_layer.data = reinterpret_cast<char*>(out.data());
        context.downsample_x = {1, 1};
        context.downsample_y = {1, 1};
        context.dot_size = 32.0f;
        context.rotation = 45.0f;
        context.offset_x = static_cast<float>(width) * 0.5f;
        context.offset_y = static_cast<float>(height) * 0.5f;
        context.sampling = sampling_from_popup(sampling);
        context.shape = Shape::circle;
    }
};

template <typename T>
void render(benchmark::State& state)
{
    Frame<T> frame(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)),
                   static_cast<int32_t>(state.range(2)));
    for (auto _ : state) {
        render_frame<T>(&frame.context);
        benchmark::DoNotOptimize(frame.out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

// Arguments: width, height, sampling (1 BiLinear, 2 Nearest).
void frame_sizes(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"w", "h", "sampling"});
    for (int64_t sampling : {1, 2}) {
        // The smallest frame shows what starting each stage's workers costs.
        b->Args({320, 240, sampling});
        b->Args({1920, 1080, sampling});
        b->Args({3840, 2160, sampling});
    }
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK_TEMPLATE(render, unsigned char)->Apply(frame_sizes);
BENCHMARK_TEMPLATE(render, float)->Apply(frame_sizes);

}  // namespace

BENCHMARK_MAIN();
