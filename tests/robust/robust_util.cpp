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
