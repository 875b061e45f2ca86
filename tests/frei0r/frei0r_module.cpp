// Loading the built filter, and frames through it and through the plug-in.
#include "frei0r_module.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

using namespace ruvivedu::host;

namespace frei0r_test {
namespace {

template <typename F>
void resolve(void* handle, const char* name, F& entry)
{
    entry = reinterpret_cast<F>(dlsym(handle, name));
    if (entry == nullptr) {
        std::fprintf(stderr, "%s does not export %s\n", RUVIVEDU_FREI0R_PATH, name);
        std::abort();
    }
}

Frame rgba_from_argb(const std::vector<unsigned char>& argb, unsigned width, unsigned height)
{
    Frame frame{width, height, std::vector<uint32_t>(std::size_t(width) * height)};
    unsigned char* out = frame.bytes();
    for (std::size_t i = 0; i + 3 < argb.size(); i += 4) {
        out[i + 0] = argb[i + 1];
        out[i + 1] = argb[i + 2];
        out[i + 2] = argb[i + 3];
        out[i + 3] = argb[i + 0];
    }
    return frame;
}

}  // namespace

const Frei0rModule& module()
{
    static const Frei0rModule loaded = [] {
        void* handle = dlopen(RUVIVEDU_FREI0R_PATH, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            std::fprintf(stderr, "cannot load %s: %s\n", RUVIVEDU_FREI0R_PATH, dlerror());
            std::abort();
        }
        // Every function of the API is exported, as frei0r asks of a filter.
        Frei0rModule m{};
        resolve(handle, "f0r_init", m.init);
        resolve(handle, "f0r_deinit", m.deinit);
        resolve(handle, "f0r_get_plugin_info", m.get_plugin_info);
        resolve(handle, "f0r_get_param_info", m.get_param_info);
        resolve(handle, "f0r_construct", m.construct);
        resolve(handle, "f0r_destruct", m.destruct);
        resolve(handle, "f0r_set_param_value", m.set_param_value);
        resolve(handle, "f0r_get_param_value", m.get_param_value);
        resolve(handle, "f0r_update", m.update);
        resolve(handle, "f0r_update2", m.update2);
        if (m.init() != 1) {
            std::fprintf(stderr, "f0r_init failed\n");
            std::abort();
        }
        return m;
    }();
    return loaded;
}

Frame test_frame(unsigned width, unsigned height, unsigned seed)
{
    const World layer = robust::make_layer(Depth::u8, A_long(width), A_long(height), 0, seed);
    return rgba_from_argb(layer.packed_pixels(), width, height);
}

void set_values(f0r_instance_t instance, const Values& values)
{
    const Frei0rModule& m = module();
    double shape = values.shape, dot_size = values.dot_size, rotation = values.rotation;
    double alpha = values.alpha ? 1.0 : 0.0, sampling = values.sampling;
    f0r_param_position_t offset{values.offset_x, values.offset_y};
    m.set_param_value(instance, &shape, 0);
    m.set_param_value(instance, &dot_size, 1);
    m.set_param_value(instance, &rotation, 2);
    m.set_param_value(instance, &offset, 3);
    m.set_param_value(instance, &alpha, 4);
    m.set_param_value(instance, &sampling, 5);
}

Frame render_filter(const Frame& in, const Values& values)
{
    const Frei0rModule& m = module();
    f0r_instance_t instance = m.construct(in.width, in.height);
    if (instance == nullptr)
        return {};
    set_values(instance, values);
    Frame out{in.width, in.height, std::vector<uint32_t>(in.pixels.size(), 0xA5A5A5A5u)};
    m.update(instance, 0.0, in.pixels.data(), out.pixels.data());
    m.destruct(instance);
    return out;
}

Frame render_plugin(unsigned width, unsigned height, unsigned seed, const robust::Settings& settings)
{
    robust::Job job;
    job.depth = Depth::u8;
    job.width = A_long(width);
    job.height = A_long(height);
    job.seed = seed;
    job.settings = settings;
    const robust::Rendered rendered = robust::render_alone(job);
    if (rendered.result != PF_Err_NONE)
        return {};
    return rgba_from_argb(rendered.pixels, width, height);
}

}  // namespace frei0r_test
