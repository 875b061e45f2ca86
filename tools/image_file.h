// Picture files as host pixel worlds: reading into packed ARGB worlds (through
// OpenImageIO where the build has it, and the built-in PAM and TIFF codecs),
// the value mapping between file and host components, and writing with no
// partial file ever left at the target.
#pragma once

#include "pixel_world.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ruvivedu::tool {

using host::Depth;

/// What a file holds, as read.
struct FileInfo {
    int width = 0;
    int height = 0;
    int channels = 0;
    bool has_alpha = false;
    /// The depth the file's components map to: 8-bit files 8, 16-bit files 16,
    /// floating-point files float (other integer widths: 16).
    Depth depth = Depth::u8;
    std::string format; ///< the format's name ("png", "tiff", "openexr", "jpeg", "pam", ...)
};

/// How a world of some render depth lands in a file of a given format.
struct OutputLayout {
    std::string format;
    Depth depth = Depth::u8; ///< the component type written
    int channels = 4;        ///< 4 (RGBA) where the format holds alpha, else 3 (RGB)
    /// The file value of a full host component: 255 (8-bit), 65535 (16-bit
    /// files in general), 32768 (16-bit PAM, which stores host values as
    /// they are), 1.0 (float).
    double full_scale = 255.0;
};

/// Reads the first subimage of `path` into a packed ARGB world of `depth`
/// (the file's own depth when empty). RGBA maps straight to ARGB with the
/// alpha left unassociated; files without alpha get opaque alpha; one- and
/// two-channel files are grey (R = G = B). Throws ToolError when the file
/// cannot be read.
host::World read_image(const std::string& path, std::optional<Depth> depth, FileInfo* info = nullptr);

/// The layout write_image uses for `path` (its extension picks the format):
/// PNG 8 or 16 bits (float renders are written as 16 bits), TIFF 8, 16 or
/// float, OpenEXR always float, JPEG always 8 bits and RGB, PAM 8 or 16 bits
/// (float renders as 16 bits). Other formats get the render depth and alpha
/// where OpenImageIO says they support it. A build without OpenImageIO
/// writes PAM and TIFF only. Throws ToolError for an extension no writer
/// knows.
OutputLayout output_layout(const std::string& path, Depth render_depth);

/// Writes `world` to `path` in output_layout(path, world.depth()). The bytes
/// go to a temporary file beside the target, which is renamed over it only
/// when complete; on any failure the temporary file is removed and ToolError
/// is thrown, leaving an existing target untouched.
void write_image(const std::string& path, const host::World& world);

/// The temporary name write_image uses for `path`: a hidden file in the same
/// folder with the same extension (so the same writer is picked).
std::string temporary_path_for(const std::string& path);

/// Removes a half-written temporary file if the process is interrupted
/// (SIGINT, SIGTERM, SIGHUP) while write_image runs.
void install_interrupt_cleanup();

/// Host 16-bit components run 0..32768; files use 0..65535.
std::uint16_t file16_to_host16(std::uint16_t v);
std::uint16_t host16_to_file16(std::uint16_t c);

} // namespace ruvivedu::tool
