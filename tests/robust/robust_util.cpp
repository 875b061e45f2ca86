// Shared pieces of the robustness tests.
#include "robust_util.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace ruvivedu::host;

namespace robust {

const PluginModule& plugin_module()
{
    static PluginModule module;
    if (!module.loaded() && !module.load(RUVIVEDU_PLUGIN_PATH)) {
        std::fprintf(stderr, "cannot load %s: %s\n", RUVIVEDU_PLUGIN_PATH, module.error().c_str());
        std::abort();
    }
    return module;
}

World make_layer(Depth depth, A_long width, A_long height, A_long padding, unsigned seed, bool bottom_up)
{
    World world = bottom_up ? World::bottom_up(depth, width, height, padding)
                            : World::padded(depth, width, height, padding);
    for (A_long y = 0; y < height; ++y) {
        for (A_long x = 0; x < width; ++x) {
            const double lum = double(x + y) / double(width + height);
            // A cheap hash per pixel and seed: frames of different seeds differ.
            const unsigned h = (unsigned(x) * 73856093u) ^ (unsigned(y) * 19349663u) ^ (seed * 83492791u);
            const double wobble = double(h % 97) / 970.0;
            const double alpha = (x < width / 4 && y < height / 4) ? 0.0 : ((x + seed) % 7 == 0 ? 0.5 : 1.0);
            const double r = std::min(1.0, lum + wobble), g = 1.0 - lum, b = 0.5 * lum + wobble;
            switch (depth) {
            case Depth::u8:
                world.pixel8(x, y) = PF_Pixel8{A_u_char(alpha * 255), A_u_char(r * 255), A_u_char(g * 255),
                                               A_u_char(b * 255)};
                break;
            case Depth::u16:
                world.pixel16(x, y) = PF_Pixel16{A_u_short(alpha * 32768), A_u_short(r * 32768),
                                                 A_u_short(g * 32768), A_u_short(b * 32768)};
                break;
            case Depth::f32:
                world.pixel32(x, y) = PF_PixelFloat{float(alpha), float(r), float(g), float(b)};
                break;
            }
        }
    }
    return world;
}

void apply(SubstituteHost& host, const Settings& s)
{
    host.set_shape(s.shape);
    host.set_dot_size(s.dot_size);
    host.set_rotation(s.rotation);
    host.set_offset(s.offset_x, s.offset_y);
    host.set_alpha(s.alpha);
    host.set_sampling(s.sampling);
}

Rendered render(SubstituteHost& host, const Job& job)
{
    Rendered out;
    host.set_input(make_layer(job.depth, job.width, job.height, job.padding, job.seed, job.bottom_up));
    host.set_output(job.bottom_up ? World::bottom_up(job.depth, job.width, job.height, job.padding)
                                  : World::padded(job.depth, job.width, job.height, job.padding));
    out.result = host.setup_effect();
    if (out.result == PF_Err_NONE) {
        apply(host, job.settings);
        if (job.smart) {
            out.result = host.smart_pre_render();
            if (out.result == PF_Err_NONE) {
                out.result = host.smart_render();
            }
        } else {
            out.result = host.render();
        }
    }
    out.pixels = host.output()->packed_pixels();
    out.guards_intact = host.input()->guards_intact() && host.output()->guards_intact();
    out.host_errors = host.errors();
    return out;
}

Rendered render_alone(const Job& job)
{
    SubstituteHost host(plugin_module());
    return render(host, job);
}

}  // namespace robust
