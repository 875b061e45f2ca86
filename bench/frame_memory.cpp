// What one frame costs in memory beyond the host's worlds: a fresh process
// loads the module, makes the worlds and sets the effect up, then renders one
// frame through EntryPointFunc; the figure is the peak resident set during the
// render minus the resident set just before it (Linux: VmHWM after resetting
// it, and VmRSS, from /proc/self/status).
//
//     frame_memory DEPTH WIDTH HEIGHT DOTSIZE [SHAPE SAMPLING]
//
// DEPTH is 8, 16 or 32; prints one line that bench/report.py reads back:
//     memory/<case>/<depth>/<W>x<H>: extra <bytes> peak <bytes> before <bytes> ms <time>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "substitute_host.h"

namespace {

using namespace ruvivedu::host;

// A field of /proc/self/status in bytes (the file counts kB); 0 where there is none.
std::uint64_t status_field(const char* key)
{
    std::ifstream in("/proc/self/status");
    const std::string prefix = std::string(key) + ":";
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            return std::strtoull(line.c_str() + prefix.size(), nullptr, 10) * 1024;
    }
    return 0;
}

// Fills the world with a cheap ramp (one row made, then copied), so that every
// page of both worlds is resident before the measure starts.
template <typename C>
void fill(World& w, float full)
{
    std::vector<C> row(static_cast<std::size_t>(w.width()) * 4);
    for (A_long x = 0; x < w.width(); ++x) {
        row[4 * x] = static_cast<C>(full);
        row[4 * x + 1] = static_cast<C>(full * static_cast<float>(x) / static_cast<float>(w.width()));
        row[4 * x + 2] = static_cast<C>(full * 0.25f);
        row[4 * x + 3] = static_cast<C>(full * 0.5f);
    }
    for (A_long y = 0; y < w.height(); ++y)
        std::memcpy(w.row(y), row.data(), row.size() * sizeof(C));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: frame_memory DEPTH WIDTH HEIGHT DOTSIZE [SHAPE SAMPLING]\n");
        return 2;
    }
    const int bits = std::atoi(argv[1]);
    const A_long width = std::atol(argv[2]), height = std::atol(argv[3]);
    const double dot_size = std::atof(argv[4]);
    const A_long shape = argc > 5 ? std::atol(argv[5]) : 1;
    const A_long sampling = argc > 6 ? std::atol(argv[6]) : 1;
    const Depth depth = bits == 8 ? Depth::u8 : (bits == 16 ? Depth::u16 : Depth::f32);

    PluginModule module;
    if (!module.load(RUVIVEDU_PLUGIN_PATH)) {
        std::fprintf(stderr, "frame_memory: %s\n", module.error().c_str());
        return 1;
    }
    SubstituteHost host(module);
    World& in = host.set_input(World(depth, width, height));
    World& out = host.set_output(World(depth, width, height));
    if (depth == Depth::u8) {
        fill<A_u_char>(in, 255.0f);
        fill<A_u_char>(out, 0.0f);
    } else if (depth == Depth::u16) {
        fill<A_u_short>(in, 32768.0f);
        fill<A_u_short>(out, 0.0f);
    } else {
        fill<PF_FpShort>(in, 1.0f);
        fill<PF_FpShort>(out, 0.0f);
    }
    if (host.setup_effect() != PF_Err_NONE || host.smart_pre_render() != PF_Err_NONE) {
        std::fprintf(stderr, "frame_memory: effect setup failed\n");
        return 1;
    }
    host.set_shape(shape);
    host.set_sampling(sampling);
    host.set_dot_size(static_cast<PF_Fixed>(dot_size * 65536.0));
    host.set_rotation(45 << 16);

    // From here on the peak counts anew (writing 5 resets VmHWM to VmRSS).
    std::ofstream("/proc/self/clear_refs") << "5";
    const std::uint64_t before = status_field("VmRSS");
    const auto start = std::chrono::steady_clock::now();
    const PF_Err err = host.smart_render();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const std::uint64_t peak = status_field("VmHWM");
    if (err != PF_Err_NONE) {
        std::fprintf(stderr, "frame_memory: render returned %d\n", static_cast<int>(err));
        return 1;
    }
    if (before == 0 || peak == 0) {
        std::fprintf(stderr, "frame_memory: no resident-set figures on this system\n");
        return 1;
    }
    const char* shapes[] = {"circle", "circle", "square", "line"};
    std::printf("memory/%s-%s-%d/%s/%ldx%ld: extra %llu peak %llu before %llu ms %.1f\n",
                shapes[shape >= 1 && shape <= 3 ? shape : 0], sampling == 1 ? "bilinear" : "nearest",
                static_cast<int>(dot_size), bits == 8 ? "u8" : (bits == 16 ? "u16" : "f32"), static_cast<long>(width),
                static_cast<long>(height), static_cast<unsigned long long>(peak > before ? peak - before : 0),
                static_cast<unsigned long long>(peak), static_cast<unsigned long long>(before), ms);
    return 0;
}
