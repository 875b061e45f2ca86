// Pixels between picture files and host worlds: interleaved file components
// of one type and full scale on one side, the host's ARGB pixels on the
// other. Every value maps as round(v x to / from) (integers), clamped to the
// target's range where it is an integer; floats stay floats. The mappings
// run at the speed of a pass over the pixels: the per-value results of
// integer sources come from tables, the rest from integer or double
// arithmetic that the compiler vectorises, never from a library call per
// component.
#pragma once

#include "pixel_world.h"

#include <cstdint>
#include <vector>

namespace ruvivedu::tool {

using host::Depth;

/// How a file's components sit in memory: one type, the value that means
/// full intensity (255 or 65535 for most integer files, a PAM's MAXVAL, 1.0
/// for float), how many make a pixel and which of them is alpha (-1: none).
struct ComponentLayout {
    Depth type = Depth::u8;
    double full_scale = 255.0;
    int channels = 4;
    int alpha_channel = -1;
};

/// Reading: rows of packed, interleaved file components into world rows.
/// Three or more channels are red, green and blue in that order (any past
/// colour and alpha are passed over); one or two are grey (R = G = B) from
/// whichever is not alpha, a lone alpha channel being its own grey. Without
/// alpha the pixels are opaque. Built once per picture (the tables of a
/// 16-bit file take a millisecond) and then used for any number of rows,
/// from any thread.
class FileToWorld {
public:
    FileToWorld(const ComponentLayout& file, Depth world_depth);

    /// Converts `rows` rows of world.width() pixels each, starting at `src`,
    /// into world rows `first_row` .. first_row + rows - 1.
    void convert(const void* src, host::World& world, A_long first_row, A_long rows) const;

private:
    ComponentLayout file_;
    Depth world_;
    std::vector<std::uint8_t> to8_;    // integer files into 8-bit worlds
    std::vector<std::uint16_t> to16_;  // integer files into 16-bit worlds
    std::vector<float> tof_;           // integer files into float worlds
};

/// Writing: world rows into rows of packed, interleaved file components,
/// red, green, blue and, with four channels, alpha (3 or 4 channels).
class WorldToFile {
public:
    WorldToFile(Depth world_depth, const ComponentLayout& file);

    /// Converts world rows `first_row` .. first_row + rows - 1 into `dst`
    /// (rows x world.width() x channels components).
    void convert(const host::World& world, A_long first_row, A_long rows, void* dst) const;

private:
    Depth world_;
    ComponentLayout file_;
    std::vector<std::uint8_t> to8_;
    std::vector<std::uint16_t> to16_;
    std::vector<float> tof_;
};

/// Bytes of one component of `type`: 1, 2 or 4.
std::size_t component_bytes(Depth type);

}  // namespace ruvivedu::tool
