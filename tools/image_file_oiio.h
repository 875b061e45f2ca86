// The OpenImageIO side of the tool's file access (builds with OpenImageIO only).
#pragma once

#include "image_file.h"
#include "picture_codecs.h"

#include <string>

namespace ruvivedu::tool {

/// Reads the first subimage of `path` with its stored (unassociated) values,
/// 8-bit files as u8, floating-point files as f32, other integer widths as
/// u16. Throws ToolError("cannot read ...").
FilePicture read_picture_oiio(const std::string& path);

/// output_layout() for a format OpenImageIO writes. Throws ToolError for an
/// extension no writer knows.
OutputLayout output_layout_oiio(const std::string& path, Depth render_depth);

/// Writes `picture` to `path` in the format its extension names. Returns
/// OpenImageIO's reason on failure, empty on success.
std::string write_picture_oiio(const std::string& path, const FilePicture& picture);

} // namespace ruvivedu::tool
