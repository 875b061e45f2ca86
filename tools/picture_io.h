// Picture codecs that stream rows: a file is opened once, then read or
// written a band of rows at a time, so that the tool maps components between
// a buffer that stays in the cache and the host's world. PNG goes through
// libpng and OpenEXR through the OpenEXR library, both linked into the tool;
// every other format goes through OpenImageIO, in a module of its own
// (ruvivedu_oiio) that is loaded only when such a file comes up: linking
// OpenImageIO's 260 libraries cost every run of the tool 0.2 s of dynamic
// symbol lookup before it did anything.
#pragma once

#include "component_mapping.h"
#include "image_file.h"

#include <memory>
#include <string>

namespace ruvivedu::tool {

/// What an opened picture holds.
struct PictureHeader {
    int width = 0;
    int height = 0;
    /// The channels the file has (those past colour and alpha included).
    int channels = 0;
    /// The components read_rows() delivers: `layout.channels` of them per
    /// pixel, which may leave out channels past colour and alpha.
    ComponentLayout layout;
    std::string format;  ///< "png", "openexr", "tiff", ...
    std::string date_time;
    /// The rows can only be read all at once (a tiled or interlaced file):
    /// read_rows() then takes rows 0 .. height - 1 in one call.
    bool whole = false;
    /// Rows a band should have when the codec reads faster in larger ones
    /// (OpenEXR decodes the chunks of one call on its threads); 0: the tool picks.
    int band_rows = 0;
};

/// A picture file opened for reading.
class PictureReader {
public:
    virtual ~PictureReader() = default;
    virtual const PictureHeader& header() const = 0;
    /// Reads rows `y` .. y + rows - 1, in order from the top, into `dst`
    /// (packed: rows x width x layout.channels components). Returns the
    /// reason when they cannot be read, else empty.
    virtual std::string read_rows(int y, int rows, void* dst) = 0;
    /// After the last row: the reason when the file turned out damaged,
    /// else empty. May complete the header (a date recorded after the pixels).
    virtual std::string finish() = 0;
};

/// A picture file created for writing.
class PictureWriter {
public:
    virtual ~PictureWriter() = default;
    /// Writes rows `y` .. y + rows - 1, in order from the top, from `src`
    /// (packed, as the OutputLayout says). Returns the reason on failure.
    virtual std::string write_rows(int y, int rows, const void* src) = 0;
    /// Completes and closes the file. Returns the reason on failure.
    virtual std::string finish() = 0;
};

/// One codec's entry points. None throws: each reports failure by its
/// result and the reason in `error`.
struct PictureCodec {
    /// The opened file, or null when it cannot be read.
    std::unique_ptr<PictureReader> (*open_reader)(const std::string& path, std::string& error);
    /// How a world of `render_depth` is written to `path`; false when no
    /// writer of this codec knows the format.
    bool (*output_layout)(const std::string& path, Depth render_depth, OutputLayout& layout, std::string& error);
    /// The created file, or null when it cannot be created.
    std::unique_ptr<PictureWriter> (*open_writer)(const std::string& path, int width, int height,
                                                  const OutputLayout& layout, const WriteSettings& settings,
                                                  std::string& error);
};

/// The exported entry of the OpenImageIO module (a C function of this name):
/// its codec, or null when the module was built for another version of
/// these declarations than `interface_version`.
using OiioCodecEntry = const PictureCodec* (*)(int interface_version);
inline constexpr char kOiioCodecEntry[] = "ruvivedu_oiio_codec";
inline constexpr int kPictureCodecVersion = 1;

/// The codec for `path` by its extension: PNG, OpenEXR, or OpenImageIO for
/// the rest. Loads the OpenImageIO module the first time it is needed;
/// throws ToolError naming what it looked for when it cannot ("cannot
/// <doing> '<path>': ...").
const PictureCodec& codec_for(const std::string& path, const char* doing);

/// The PNG and OpenEXR codecs.
const PictureCodec& png_codec();
const PictureCodec& exr_codec();

/// OpenImageIO's codec, the module loaded the first time it is asked for
/// (from any thread); null with the reason in `problem` when it cannot be.
const PictureCodec* find_oiio_codec(std::string& problem);

/// File name of the OpenImageIO module on this platform.
extern const char kOiioModuleFileName[];

}  // namespace ruvivedu::tool
