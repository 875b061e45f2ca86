// Pixel pipeline benchmarks: every stage alone, the whole frame through the
// module's EntryPointFunc on the substitute host, and the memory floor (one
// pass that reads the input world and writes the output world) with the same
// threads, for 8-bit, 16-bit and float at full HD and UHD, on one worker and
// on all of them; and UHD frames rendered by several host threads at once.
//
// Names are slash-separated fields that bench/report.py reads back:
//     kind/what/depth/WxH/workers
// kind is stage, frame, floor or concurrent; workers is 1 or all (for
// concurrent: the number of host threads, each rendering its own frames).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#if defined(RUVIVEDU_PARALLEL_OPENMP) && RUVIVEDU_PARALLEL_OPENMP
#include <omp.h>
#endif
#if defined(__linux__)
#include <sched.h>
#endif

#include "base/image.h"
#include "base/processor_count.h"
#include "base/render_context.h"
#include "halftone/dots.h"
#include "halftone/halftone_params.h"
#include "halftone/sampling.h"
#include "pipeline/parallel.h"
#include "substitute_host.h"

using namespace ruvivedu;

namespace {

using ruvivedu::host::Depth;
using ruvivedu::host::PluginModule;
using ruvivedu::host::SubstituteHost;
using ruvivedu::host::World;

template <typename T>
constexpr const char* depth_name()
{
    return sizeof(T) == 1 ? "u8" : (sizeof(T) == 2 ? "u16" : "f32");
}

template <typename T>
constexpr float full_scale()
{
    return sizeof(T) == 1 ? 255.0f : (sizeof(T) == 2 ? 32768.0f : 1.0f);
}

// Colour ramps across the frame, so dot sizes vary from none to full ink, and
// a transparent band along the top so the alpha rule is exercised too.
template <typename T>
void fill_layer(char* data, int32_t rowbytes, int32_t width, int32_t height)
{
    const float full = full_scale<T>();
    for (int32_t y = 0; y < height; ++y) {
        T* row = reinterpret_cast<T*>(data + static_cast<std::ptrdiff_t>(y) * rowbytes);
        for (int32_t x = 0; x < width; ++x) {
            T* p = row + 4 * x;
            p[0] = static_cast<T>(y < height / 16 ? 0.0f : full);
            p[1] = static_cast<T>(full * static_cast<float>(x) / static_cast<float>(width));
            p[2] = static_cast<T>(full * static_cast<float>(y) / static_cast<float>(height));
            p[3] = static_cast<T>(full * 0.5f);
        }
    }
}

int all_workers()
{
    return processor_count();
}

// Worker count of the linked row strategy: the thread-block executor reads it
// from the params record, the loop strategy from the OpenMP runtime.
template <typename T>
void set_workers(HalfTone_Inner_Params<T>& params, int workers)
{
    params.worker_count = workers;
#if defined(RUVIVEDU_PARALLEL_OPENMP) && RUVIVEDU_PARALLEL_OPENMP
    omp_set_num_threads(workers);
#endif
}

// The module decides its own worker count: the processors the thread may run
// on (thread blocks) or the OpenMP default team. Both follow from here.
class ModuleWorkers {
public:
    explicit ModuleWorkers(int workers)
    {
#if defined(__linux__)
        sched_getaffinity(0, sizeof saved_, &saved_);
        if (workers < all_workers()) {
            cpu_set_t one;
            CPU_ZERO(&one);
            for (int cpu = 0, kept = 0; cpu < CPU_SETSIZE && kept < workers; ++cpu)
                if (CPU_ISSET(cpu, &saved_)) {
                    CPU_SET(cpu, &one);
                    ++kept;
                }
            sched_setaffinity(0, sizeof one, &one);
        }
#endif
#if defined(RUVIVEDU_PARALLEL_OPENMP) && RUVIVEDU_PARALLEL_OPENMP
        omp_set_num_threads(workers);
#endif
    }
    ~ModuleWorkers()
    {
#if defined(__linux__)
        sched_setaffinity(0, sizeof saved_, &saved_);
#endif
#if defined(RUVIVEDU_PARALLEL_OPENMP) && RUVIVEDU_PARALLEL_OPENMP
        omp_set_num_threads(all_workers());
#endif
    }
    ModuleWorkers(const ModuleWorkers&) = delete;
    ModuleWorkers& operator=(const ModuleWorkers&) = delete;

private:
#if defined(__linux__)
    cpu_set_t saved_{};
#endif
};

// A frame's worlds, geometry, box image and cell grid, filled once by running
// every stage, so each stage can then be timed alone on realistic inputs.
template <typename T>
struct Pipeline {
    std::vector<char> in_pixels;
    std::vector<char> out_pixels;
    HalfTone_Params context{};
    HalfTone_Inner_Params<T> params{};
    std::unique_ptr<Image<float>> box, grid;

    Pipeline(int32_t width, int32_t height, int32_t shape, int32_t sampling, float dot_size)
    {
        const int32_t rowbytes = width * 4 * static_cast<int32_t>(sizeof(T));
        in_pixels.resize(static_cast<std::size_t>(rowbytes) * height);
        out_pixels.resize(in_pixels.size(), 1);
        fill_layer<T>(in_pixels.data(), rowbytes, width, height);

        LayerParams view{};
        view.rowbytes = rowbytes;
        view.width = width;
        view.height = height;
        view.num_channels = 4;
        context.in_layer = view;
        context.in_layer.data = in_pixels.data();
        context.out_layer = view;
        context.out_layer.data = out_pixels.data();
        context.frame_width = width;
        context.frame_height = height;
        context.downsample_x = {1, 1};
        context.downsample_y = {1, 1};
        context.pixel_aspect_ratio = {1, 1};
        context.dot_size = dot_size;
        context.rotation = 45.0f;
        context.offset_x = static_cast<float>(width) * 0.5f;
        context.offset_y = static_cast<float>(height) * 0.5f;
        context.sampling = sampling_from_popup(sampling);
        context.shape = shape_from_popup(shape);
        context.depth =
            sizeof(T) == 1 ? ruvivedu::Depth::u8 : (sizeof(T) == 2 ? ruvivedu::Depth::u16 : ruvivedu::Depth::f32);

        init_inner_params(context, params);

        auto side = [](float extent) { return static_cast<uint32_t>(std::ceil(extent)); };
        box = std::make_unique<Image<float>>(nullptr, side(params.box_width), side(params.box_height), 2);
        grid = std::make_unique<Image<float>>(nullptr, side(params.grid_width), side(params.grid_height), 1);

        set_workers(params, all_workers());
        run(box_filter_layer<T>, box.get());
        run(resample_bilinear<T>, box.get(), grid.get());
        run(render_circle_grey<T>);
    }

    void run(typename row_job_of<LayerToImageJob<T>>::type job, Image<float>* dst)
    {
        run_rows_parallel<T>(job, &context.in_layer, dst, static_cast<int>(dst->height), &params);
    }
    void run(typename row_job_of<ImageToImageJob<T>>::type job, Image<float>* src, Image<float>* dst)
    {
        run_rows_parallel<T>(job, src, dst, static_cast<int>(dst->height), &params);
    }
    // A stage that draws into the output world: from the cell grid, or (the
    // floor) from nothing.
    void run(typename row_job_of<ImageToLayerJob<T>>::type job)
    {
        run_rows_parallel<T>(job, grid.get(), &context.in_layer, &context.out_layer, context.out_layer.height, &params);
    }
};

// The floor: every row of the input world read and written to the output
// world once, on the executor and threads the stages use.
template <typename T>
void floor_pass(Image<float>*, LayerParams* in, LayerParams* out, [[maybe_unused]] HalfTone_Inner_Params<T>* params,
                int begin, int end)
{
    if (begin >= end)
        return;
    const std::size_t bytes = static_cast<std::size_t>(out->width) * 4 * sizeof(T);
    RUVIVEDU_PARALLEL_ROWS(row_workers(*params))
    for (int y = begin; y < end; ++y)
        std::memcpy(layer_row(*out, y), layer_row(*in, y), bytes);
}

struct Size {
    int32_t width;
    int32_t height;
};

std::string size_name(Size s)
{
    return std::to_string(s.width) + "x" + std::to_string(s.height);
}

std::string workers_name(int workers)
{
    return workers == 1 ? "1" : "all";
}

void finish(benchmark::internal::Benchmark* b)
{
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

template <typename T>
void register_stages(Size size, int workers)
{
    const std::string tail = std::string("/") + depth_name<T>() + "/" + size_name(size) + "/" + workers_name(workers);
    // One pipeline per size and depth, shared by its stage benchmarks and
    // built on first use, so only the benchmarks that run pay for it.
    auto pipeline = std::make_shared<std::unique_ptr<Pipeline<T>>>();
    auto get = [pipeline, size]() -> Pipeline<T>& {
        if (!*pipeline)
            *pipeline = std::make_unique<Pipeline<T>>(size.width, size.height, 1, 1, 32.0f);
        return **pipeline;
    };
    auto add = [&](const char* stage, std::function<void(Pipeline<T>&)> call) {
        finish(benchmark::RegisterBenchmark((std::string("stage/") + stage + tail).c_str(),
                                            [get, call, workers, size](benchmark::State& state) {
                                                Pipeline<T>& p = get();
                                                set_workers(p.params, workers);
                                                for (auto _ : state) {
                                                    call(p);
                                                    benchmark::ClobberMemory();
                                                }
                                                set_workers(p.params, all_workers());
                                                state.SetItemsProcessed(state.iterations() * size.width * size.height);
                                            }));
    };
    add("box_filter_layer", [](Pipeline<T>& p) { p.run(box_filter_layer<T>, p.box.get()); });
    add("resample_bilinear", [](Pipeline<T>& p) { p.run(resample_bilinear<T>, p.box.get(), p.grid.get()); });
    add("sample_nearest_layer", [](Pipeline<T>& p) { p.run(sample_nearest_layer<T>, p.grid.get()); });
    add("render_circle_grey", [](Pipeline<T>& p) { p.run(render_circle_grey<T>); });
    add("render_square_grey", [](Pipeline<T>& p) { p.run(render_square_grey<T>); });
    add("render_line_grey", [](Pipeline<T>& p) { p.run(render_line_grey<T>); });
    add("render_circle_alpha", [](Pipeline<T>& p) { p.run(render_circle_alpha<T>); });

    finish(benchmark::RegisterBenchmark((std::string("floor/pass") + tail).c_str(),
                                        [get, workers, size](benchmark::State& state) {
                                            Pipeline<T>& p = get();
                                            set_workers(p.params, workers);
                                            for (auto _ : state) {
                                                p.run(floor_pass<T>);
                                                benchmark::ClobberMemory();
                                            }
                                            set_workers(p.params, all_workers());
                                            state.SetItemsProcessed(state.iterations() * size.width * size.height);
                                        }));
}

const PluginModule& module()
{
    // Loaded once, also when the first callers are several host threads.
    static const PluginModule& loaded = []() -> const PluginModule& {
        static PluginModule m;
        if (!m.load(RUVIVEDU_PLUGIN_PATH))
            throw std::runtime_error(m.error());
        return m;
    }();
    return loaded;
}

Depth host_depth(int depth)
{
    return depth == 0 ? Depth::u8 : (depth == 1 ? Depth::u16 : Depth::f32);
}

const char* depth_label(int depth)
{
    return depth == 0 ? "u8" : (depth == 1 ? "u16" : "f32");
}

template <typename P>
void fill_world(World& world)
{
    using C = decltype(P{}.alpha);
    fill_layer<C>(reinterpret_cast<char*>(world.row(0)), world.rowbytes(), world.width(), world.height());
}

struct FrameCase {
    const char* shape_name;
    A_long shape;
    A_long sampling;
    double dot_size;
};

std::string case_name(const FrameCase& c)
{
    return std::string(c.shape_name) + "-" + (c.sampling == 1 ? "bilinear" : "nearest") + "-" +
           std::to_string(static_cast<int>(c.dot_size));
}

// A host with its own worlds of one frame, the effect set up and its
// parameters set.
bool prepare(SubstituteHost& host, int depth, Size size, const FrameCase& c)
{
    World& in = host.set_input(World(host_depth(depth), size.width, size.height));
    if (depth == 0)
        fill_world<PF_Pixel8>(in);
    else if (depth == 1)
        fill_world<PF_Pixel16>(in);
    else
        fill_world<PF_PixelFloat>(in);
    host.set_output(World(host_depth(depth), size.width, size.height));
    if (host.setup_effect() != PF_Err_NONE)
        return false;
    host.set_shape(c.shape);
    host.set_sampling(c.sampling);
    host.set_dot_size(static_cast<PF_Fixed>(c.dot_size * 65536.0));
    host.set_rotation(45 << 16);
    return true;
}

// Renders frames on `host` for as long as the benchmark asks: a smart render
// through the module's EntryPointFunc, the way the host sends it, pre-render
// then render, into a world the host owns.
void render_frames(benchmark::State& state, SubstituteHost& host)
{
    for (auto _ : state) {
        if (host.smart_pre_render() != PF_Err_NONE || host.smart_render() != PF_Err_NONE) {
            state.SkipWithError("render failed");
            break;
        }
        host.reset_records();
    }
}

void register_frame(int depth, Size size, int workers, FrameCase c)
{
    const std::string name =
        "frame/" + case_name(c) + "/" + depth_label(depth) + "/" + size_name(size) + "/" + workers_name(workers);
    finish(benchmark::RegisterBenchmark(name.c_str(), [depth, size, workers, c](benchmark::State& state) {
        SubstituteHost host(module());
        if (!prepare(host, depth, size, c)) {
            state.SkipWithError("effect setup failed");
            return;
        }
        ModuleWorkers pinned(workers);
        render_frames(state, host);
        state.SetItemsProcessed(state.iterations() * size.width * size.height);
    }));
}

// Multi-frame rendering: `threads` host threads at once, each rendering its
// own frames (its own worlds) through EntryPointFunc, as a host does when it
// renders several frames of a composition at the same time. The module
// chooses its workers itself. The time is the wall-clock time per frame of
// one thread, so all threads together render threads / time frames a second.
void register_concurrent(Size size, int threads, FrameCase c)
{
    const std::string name =
        "concurrent/" + case_name(c) + "/" + depth_label(0) + "/" + size_name(size) + "/" + std::to_string(threads);
    benchmark::RegisterBenchmark(name.c_str(),
                                 [size, c](benchmark::State& state) {
                                     SubstituteHost host(module());
                                     if (!prepare(host, 0, size, c)) {
                                         state.SkipWithError("effect setup failed");
                                         return;
                                     }
                                     render_frames(state, host);
                                     state.SetItemsProcessed(state.iterations());
                                 })
        ->Threads(threads)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

void register_all()
{
    const Size sizes[] = {{1920, 1080}, {3840, 2160}};
    const int all = all_workers();
    const int worker_counts[] = {1, all};
    for (int workers : worker_counts) {
        for (Size size : sizes) {
            register_stages<unsigned char>(size, workers);
            register_stages<unsigned short>(size, workers);
            register_stages<float>(size, workers);
        }
        if (all == 1)
            break;
    }

    const FrameCase standard{"circle", 1, 1, 32.0};
    for (int workers : worker_counts) {
        for (Size size : sizes)
            for (int depth = 0; depth < 3; ++depth)
                register_frame(depth, size, workers, standard);
        if (all == 1)
            break;
    }
    // Every shape and both samplings, small cells (DotSize 1 to 8, where the
    // cell grid is as large as the frame or larger) and a very small cell grid,
    // a small frame where starting the workers of each stage shows, and
    // several host threads rendering at once.
    const Size uhd{3840, 2160};
    for (FrameCase c :
         {FrameCase{"circle", 1, 2, 32.0}, FrameCase{"square", 2, 1, 32.0}, FrameCase{"square", 2, 2, 32.0},
          FrameCase{"line", 3, 1, 32.0}, FrameCase{"line", 3, 2, 32.0}, FrameCase{"circle", 1, 1, 1.0},
          FrameCase{"circle", 1, 1, 2.0}, FrameCase{"circle", 1, 1, 4.0}, FrameCase{"circle", 1, 1, 6.0},
          FrameCase{"circle", 1, 1, 8.0}, FrameCase{"circle", 1, 1, 500.0}})
        register_frame(0, uhd, all, c);
    register_frame(0, {320, 240}, all, standard);
    register_stages<unsigned char>({320, 240}, all);
    for (int threads : {1, 2, 4, 8})
        register_concurrent(uhd, threads, standard);
    register_concurrent({320, 240}, 2, standard);
}

}  // namespace

int main(int argc, char** argv)
{
    register_all();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
