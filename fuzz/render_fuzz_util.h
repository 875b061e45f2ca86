// What the two render targets share: the effect compiled into the fuzzer and
// driven through the substitute host, pixel worlds of a fuzzed layout, input
// pixels taken from the fuzz input, and the checks every render must pass.
#pragma once

#include "substitute_host.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <optional>
#include <vector>

extern "C" PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                                 PF_LayerDef* output, void* extra);
extern "C" PF_Err PluginDataEntryFunction(PF_PluginDataPtr inPtr, PF_PluginDataCB inPluginDataCallBackPtr,
                                          SPBasicSuite* inSPBasicSuitePtr, const char* inHostName,
                                          const char* inHostVersion);

namespace render_fuzz {

using namespace ruvivedu::host;

/// Makes the pixel stages run on the calling thread alone: the fuzz build uses
/// the loop strategy, whose parallel loops then start no thread team. A team
/// per stage would cost more than the small frames it renders, and the row
/// split is the concurrency tests' business.
void use_one_worker();

/// A world of `width` x `height` whose layout comes from the input: row
/// padding in whole components (as hosts align rows), top-down or bottom-up
/// rows, and sometimes an origin.
World make_world(FuzzedDataProvider& in, Depth depth, A_long width, A_long height);

/// How input pixels are made from the fuzz input's bytes.
struct Paint {
    /// Components stay within the host's range: 16-bit at most 32768, float
    /// in 0..1 (except the specials below). Otherwise any stored value.
    bool in_range = true;
    /// Every n-th float component becomes NaN, an infinity, -0, a huge or a
    /// denormal value; 0 for none.
    std::size_t specials_every = 0;
};

/// Fills every pixel of `world` from `bytes` (cycled; a fixed pattern when
/// empty).
void paint(World& world, const std::vector<std::uint8_t>& bytes, const Paint& how);

/// A downsample factor: usually one a host sends (1/1 .. 1/8), sometimes one
/// no host sends (zero, negative, enlarging, extreme). Reductions far below
/// 1/8 are left out except where the render's size limits refuse them
/// outright: a small world at 1/4096 stands for a layer a hundred thousand
/// pixels wide, whose cell grid the render would build in full (seconds and
/// gigabytes of legitimate work that only slow the search down).
PF_RationalScale downsample(FuzzedDataProvider& in);

/// Result codes a render may end with: success, the effect's own memory and
/// callback errors, and whatever code the host failed a call with.
bool known_render_result(PF_Err result, std::optional<PF_Err> fault_code);

}  // namespace render_fuzz
