// The OpenImageIO side of the tool's file access (builds with OpenImageIO only).
#pragma once

#include "image_file.h"
#include "picture_codecs.h"

#include <optional>
#include <string>

namespace ruvivedu::tool {

/// read_image() for a file OpenImageIO reads: the first subimage with its
/// stored (unassociated) values, 8-bit files as u8, floating-point files as
/// f32, other integer widths as u16, mapped into a world of `depth` (the
/// file's own when empty) a band of rows at a time. Throws
/// ToolError("cannot read ...").
host::World read_world_oiio(const std::string& path, std::optional<Depth> depth, FileInfo* info,
                            host::World* recycle);

/// output_layout() for a format OpenImageIO writes. Throws ToolError for an
/// extension no writer knows.
OutputLayout output_layout_oiio(const std::string& path, Depth render_depth);

/// Writes `world` to `path` in `layout`, the format its extension names, a
/// band of rows at a time, as `settings` say. Returns OpenImageIO's reason
/// on failure, empty on success.
std::string write_world_oiio(const std::string& path, const host::World& world, const OutputLayout& layout,
                             const WriteSettings& settings);

} // namespace ruvivedu::tool
