// Shared pieces of the robustness tests: the built module, test layers with
// something in every stage, and one render made through the substitute host.
#pragma once

#include "substitute_host.h"
#include "test_layer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace robust {

/// The plug-in module under test, loaded once per binary; aborts the test
/// binary with the loader's message when it cannot be loaded.
const ruvivedu::host::PluginModule& plugin_module();

/// The shared test layer (test_layer.h).
using test_layer::make_layer;

/// The six parameter values as the host stores them.
struct Settings {
    A_long shape = 1;
    PF_Fixed dot_size = 0x00100000;  // 16.0
    PF_Fixed rotation = 0x002D0000;  // 45.0
    PF_Fixed offset_x = 0x00100000;
    PF_Fixed offset_y = 0x00080000;
    A_long alpha = 0;
    A_long sampling = 1;
};

/// One render request: the layer, the worlds' layout, the parameters and the path.
struct Job {
    ruvivedu::host::Depth depth = ruvivedu::host::Depth::u8;
    A_long width = 64;
    A_long height = 48;
    A_long padding = 0;
    bool bottom_up = false;
    unsigned seed = 1;
    bool smart = true;
    Settings settings;
};

/// Applies `s` as the host's current parameter values.
void apply(ruvivedu::host::SubstituteHost& host, const Settings& s);

/// What one render left behind.
struct Rendered {
    PF_Err result = PF_Err_NONE;
    std::vector<unsigned char> pixels;  ///< the output's packed pixels
    bool guards_intact = false;
    std::vector<std::string> host_errors;
};

/// Sets up the effect on `host`, installs the job's worlds and renders it
/// (pre-render and render for the smart path, RENDER for the classic one).
Rendered render(ruvivedu::host::SubstituteHost& host, const Job& job);

/// The same on a fresh host of its own.
Rendered render_alone(const Job& job);

}  // namespace robust
