// The built frei0r filter loaded the way frei0r hosts load it (dlopen and the
// f0r_* symbols), and frames rendered through it and through the plug-in.
#pragma once

#include "robust_util.h"

#include <frei0r.h>

#include <cstdint>
#include <vector>

namespace frei0r_test {

/// The filter's entry points, resolved from the built module once per binary;
/// aborts the binary with the loader's message when one is missing.
struct Frei0rModule {
    int (*init)();
    void (*deinit)();
    void (*get_plugin_info)(f0r_plugin_info_t*);
    void (*get_param_info)(f0r_param_info_t*, int);
    f0r_instance_t (*construct)(unsigned, unsigned);
    void (*destruct)(f0r_instance_t);
    void (*set_param_value)(f0r_instance_t, f0r_param_t, int);
    void (*get_param_value)(f0r_instance_t, f0r_param_t, int);
    void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*);
    void (*update2)(f0r_instance_t, double, const uint32_t*, const uint32_t*, const uint32_t*, uint32_t*);
};
const Frei0rModule& module();

/// A frame as frei0r holds it: packed RGBA rows. uint32_t keeps it as
/// aligned as hosts keep theirs.
struct Frame {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<uint32_t> pixels;
    const unsigned char* bytes() const { return reinterpret_cast<const unsigned char*>(pixels.data()); }
    unsigned char* bytes() { return reinterpret_cast<unsigned char*>(pixels.data()); }
};

/// The shared test layer of the plug-in's tests (8-bit, packed) as a frei0r frame.
Frame test_frame(unsigned width, unsigned height, unsigned seed);

/// The effect's stored values for one render, and the frei0r values that
/// stand for them.
struct Values {
    double shape = 0.0;
    double dot_size = 0.016;
    double rotation = 0.125;
    double offset_x = 0.25;
    double offset_y = 0.5;
    bool alpha = false;
    double sampling = 0.0;
};

/// Sets every parameter of `instance`.
void set_values(f0r_instance_t instance, const Values& values);

/// One frame through a fresh instance of the filter.
Frame render_filter(const Frame& in, const Values& values);

/// test_frame(width, height, seed) through the plug-in on the substitute
/// host (smart render) with `settings` as the host's stored values, in RGBA.
Frame render_plugin(unsigned width, unsigned height, unsigned seed, const robust::Settings& settings);

}  // namespace frei0r_test
