// What the codec targets check of every picture a reader accepts: the
// promises of FilePicture (tools/picture_codecs.h) that the tool's pixel
// mapping relies on, and that writing it and reading it back gives it again.
#pragma once

#include "fuzz_check.h"
#include "picture_codecs.h"
#include "tool_error.h"

#include <cstring>

namespace picture_check {

using ruvivedu::host::Depth;
using ruvivedu::tool::FilePicture;

/// Sizes within the readers' limits, one filled component vector of exactly
/// width x height x channels, and alpha only as a channel beyond the colours
/// (grey + alpha, RGB + alpha), which is where the pixel mapping looks.
inline void check_promises(const FilePicture& p)
{
    FUZZ_CHECK(p.width >= 1 && p.height >= 1 && p.width <= ruvivedu::tool::kMaxLayerSide &&
                   p.height <= ruvivedu::tool::kMaxLayerSide,
               "a %d x %d picture", p.width, p.height);
    FUZZ_CHECK(p.channels >= 1 && p.channels <= 4, "%d channels", p.channels);
    FUZZ_CHECK(p.alpha_channel == -1 || ((p.channels == 2 || p.channels == 4) && p.alpha_channel == p.channels - 1),
               "alpha in channel %d of %d", p.alpha_channel, p.channels);
    const std::size_t n = p.component_count();
    const std::size_t sizes[] = {p.u8.size(), p.u16.size(), p.f32.size()};
    const int filled = int(p.depth);
    for (int i = 0; i < 3; ++i)
        FUZZ_CHECK(sizes[i] == (i == filled ? n : 0), "%zu components in vector %d for %zu (depth %d)", sizes[i], i, n,
                   filled);
    FUZZ_CHECK(p.full_scale >= 1.0 && p.full_scale <= 65535.0, "full scale %g", p.full_scale);
}

/// Equal pictures: the same layout and the same component bits (NaN
/// payloads and negative zeros included).
inline bool same(const FilePicture& a, const FilePicture& b)
{
    return a.width == b.width && a.height == b.height && a.channels == b.channels &&
           a.alpha_channel == b.alpha_channel && a.depth == b.depth && a.full_scale == b.full_scale &&
           a.format == b.format && a.u8 == b.u8 && a.u16 == b.u16 && a.f32.size() == b.f32.size() &&
           (a.f32.empty() || std::memcmp(a.f32.data(), b.f32.data(), a.f32.size() * sizeof(float)) == 0);
}

/// Reads `data` with `decode`; an accepted picture must keep the promises,
/// and encoding it and decoding the result must give it back, bytes and all.
template <class Decode, class Encode>
void round_trip(const std::uint8_t* data, std::size_t size, Decode decode, Encode encode)
{
    const std::vector<std::uint8_t> bytes(data, data + size);
    FilePicture picture;
    try {
        picture = decode(bytes, "input");
    } catch (const ruvivedu::tool::ToolError&) {
        return;
    }
    check_promises(picture);
    std::vector<std::uint8_t> written;
    const std::string reason = encode(picture, written);
    FUZZ_CHECK(reason.empty(), "a picture read cannot be written: %s", reason.c_str());
    FilePicture again;
    try {
        again = decode(written, "written");
    } catch (const ruvivedu::tool::ToolError& e) {
        FUZZ_CHECK(false, "what was written cannot be read: %s", e.what());
    }
    FUZZ_CHECK(same(picture, again), "the picture read back differs from the one written");
    std::vector<std::uint8_t> rewritten;
    encode(again, rewritten);
    FUZZ_CHECK(rewritten == written, "writing the same picture twice gave different bytes");
}

}  // namespace picture_check
