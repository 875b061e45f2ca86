// Picture files as host pixel worlds: reading into packed ARGB worlds (through
// OpenImageIO where the build has it, and the built-in PAM and TIFF codecs),
// the writers' settings, and writing with no partial file ever left at the
// target. The value mapping between file and host components is in
// component_mapping.h.
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
    std::string format;  ///< the format's name ("png", "tiff", "openexr", "jpeg", "pam", ...)
    /// When the picture was taken or made, as the file records it
    /// ("2024:05:17 09:30:00"); empty when it records none.
    std::string date_time;
};

/// How a world of some render depth lands in a file of a given format.
struct OutputLayout {
    std::string format;
    Depth depth = Depth::u8;  ///< the component type written
    int channels = 4;         ///< 4 (RGBA) where the format holds alpha, else 3 (RGB)
    /// The file value of a full host component: 255 (8-bit), 65535 (16-bit
    /// files in general), 32768 (16-bit PAM, which stores host values as
    /// they are), 1.0 (float).
    double full_scale = 255.0;
    /// Rows a band should have when the writer is faster with larger ones
    /// (OpenEXR compresses the chunks of one call on its threads); 0: the tool picks.
    int band_rows = 0;
};

/// Reads the first subimage of `path` into a packed ARGB world of `depth`
/// (the file's own depth when empty). RGBA maps straight to ARGB with the
/// alpha left unassociated; files without alpha get opaque alpha; one- and
/// two-channel files are grey (R = G = B). Throws ToolError when the file
/// cannot be read.
///
/// `recycle`, when given, is a world an earlier frame is done with: if it
/// has the depth and size this file needs, its buffer takes the pixels
/// instead of a new one (every pixel is overwritten), which spares the
/// system clearing fresh memory for each frame of a sequence.
host::World read_image(const std::string& path, std::optional<Depth> depth, FileInfo* info = nullptr,
                       host::World* recycle = nullptr);

/// A packed world of `depth` and this size: `recycle`'s buffer when it
/// matches (its pixels are left as they were, to be overwritten), else a new one.
host::World world_for(Depth depth, A_long width, A_long height, host::World* recycle);

/// The layout write_image uses for `path` (its extension picks the format):
/// PNG 8 or 16 bits (float renders are written as 16 bits), TIFF 8, 16 or
/// float, OpenEXR always float, JPEG always 8 bits and RGB, PAM 8 or 16 bits
/// (float renders as 16 bits). Other formats get the render depth and alpha
/// where OpenImageIO says they support it. A build without OpenImageIO
/// writes PAM and TIFF only. Throws ToolError for an extension no writer
/// knows.
OutputLayout output_layout(const std::string& path, Depth render_depth);

/// The zlib level PNG files are written with unless --compression says
/// otherwise. The tool's pictures are flat paper and ink, which the fast
/// levels pack well: on a UHD halftone, level 6 (OpenImageIO's default)
/// saves an eighth of level 1's size at three times its time.
constexpr int kPngDefaultLevel = 1;

/// How the writers compress. `compression` is --compression as
/// check_compression() returned it; empty means the format's default (PNG
/// at kPngDefaultLevel, OpenEXR zip, TIFF zip, as OpenImageIO writes them).
struct WriteSettings {
    std::string compression;
    /// The date and time the file records, as FileInfo::date_time: a render
    /// carries its input's, so that a frame written twice is the same file.
    /// Empty records none (rather than the time of writing, which the OpenEXR
    /// and TIFF writers would put in otherwise).
    std::string date_time;
};

/// Checks --compression `text` against the format `path` is written in and
/// returns it as the writers take it: PNG a zlib level 0 to 9; OpenEXR none,
/// rle, zips, zip, piz, pxr24, dwaa or dwab, zip and zips with an optional
/// level (zip:6), dwaa and dwab with an optional quality (dwaa:45); TIFF
/// none, lzw, zip (or zip:1 to zip:9) or packbits. Names are taken in any
/// case. Throws a usage error naming the choices for that format, or saying
/// that the format takes no setting.
std::string check_compression(const std::string& path, const std::string& text);

/// Writes `world` to `path` in output_layout(path, world.depth()). The bytes
/// go to a temporary file beside the target, which is renamed over it only
/// when complete; on any failure the temporary file is removed and ToolError
/// is thrown, leaving an existing target untouched.
void write_image(const std::string& path, const host::World& world, const WriteSettings& settings = {});

/// The extension of `path` in lower case, with its dot (".png"); empty when it has none.
std::string lower_extension(const std::string& path);

/// The temporary name write_image uses for `path`: a hidden file in the same
/// folder with the same extension (so the same writer is picked).
std::string temporary_path_for(const std::string& path);

/// Removes the half-written temporary files if the process is interrupted
/// (SIGINT, SIGTERM, SIGHUP) while write_image runs, on any number of
/// threads at once.
void install_interrupt_cleanup();

/// Held by a writer around the call that creates its temporary file (an
/// open, or a whole write that opens and writes in one call). An interrupt
/// waits for creations under way, so their files exist when it removes
/// them, and lets no new one start: a thread that would start one then
/// waits for the process to end.
class CreatingFile {
public:
    CreatingFile();
    ~CreatingFile();
    CreatingFile(const CreatingFile&) = delete;
    CreatingFile& operator=(const CreatingFile&) = delete;
};

/// Host 16-bit components run 0..32768; files use 0..65535.
std::uint16_t file16_to_host16(std::uint16_t v);
std::uint16_t host16_to_file16(std::uint16_t c);

}  // namespace ruvivedu::tool
