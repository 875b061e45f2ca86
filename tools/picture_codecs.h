// Picture files the tool reads and writes by itself, with no image library:
// Netpbm PAM (8 and 16 bits) and uncompressed TIFF (8, 16 bits and float).
// A build without OpenImageIO (the Windows build) has only these; with it
// they serve the formats OpenImageIO lacks (PAM).
#pragma once

#include "pixel_world.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ruvivedu::tool {

using host::Depth;

/// Pixels as a file holds them: interleaved components of one type, rows
/// top to bottom, no padding.
struct FilePicture {
    int width = 0;
    int height = 0;
    int channels = 0;
    /// The channel that holds alpha, or -1. The codecs' pictures have alpha
    /// only as the channel after the colours: grey and alpha (2 channels),
    /// RGB and alpha (4); the tool's pixel mapping reads the colours from the
    /// channels before it.
    int alpha_channel = -1;
    /// Component type: u8, u16 or f32 (only the matching vector is filled).
    Depth depth = Depth::u8;
    /// The component value that means full intensity: 255 or 65535 for most
    /// integer files, a PAM's MAXVAL, 1.0 for float.
    double full_scale = 255.0;
    std::vector<std::uint8_t> u8;
    std::vector<std::uint16_t> u16;
    std::vector<float> f32;
    std::string format;  ///< "pam", "tiff"

    std::size_t component_count() const { return std::size_t(width) * std::size_t(height) * std::size_t(channels); }
};

/// The largest picture the codecs accept: a header announcing more is
/// refused before anything is allocated.
constexpr long long kMaxPictureDimension = 1 << 20;
constexpr long long kMaxPictureComponents = 1LL << 31;

/// The host's largest layer is 30000 pixels a side. A file announcing more
/// could only be read into memory the render cannot have (a 60000 x 60000
/// picture is 14 GB as read and again as the host's world), so every reader
/// refuses it from its header, before allocating.
constexpr long long kMaxLayerSide = 30000;

/// The refusal for such a size: "W x H pixels is larger than a layer can be (30000 x 30000)".
std::string larger_than_a_layer(long long width, long long height);

/// Reads a PAM file (P7; 1 to 4 channels: GRAYSCALE, GRAYSCALE_ALPHA, RGB,
/// RGB_ALPHA, told apart by the channel count; any MAXVAL up to 65535).
/// Throws ToolError("cannot read ...").
FilePicture read_pam(const std::string& path);

/// read_pam over bytes already in memory; `path` only names them in errors.
FilePicture decode_pam(const std::vector<std::uint8_t>& bytes, const std::string& path);

/// Writes `picture` (u8 or u16; full_scale is written as MAXVAL) as a PAM
/// file. Returns the reason on failure, empty on success.
std::string write_pam(const std::string& path, const FilePicture& picture);

/// The bytes write_pam writes, into `bytes`. Returns the reason on failure, empty on success.
std::string encode_pam(const FilePicture& picture, std::vector<std::uint8_t>& bytes);

/// Reads a baseline uncompressed TIFF in either byte order: strips,
/// contiguous samples, grey or RGB with an optional extra (alpha) sample,
/// 8- or 16-bit unsigned or 32-bit float components. Compressed, tiled and
/// planar files are refused with a reason. Throws ToolError("cannot read ...").
FilePicture read_tiff(const std::string& path);

/// read_tiff over bytes already in memory; `path` only names them in errors.
FilePicture decode_tiff(const std::vector<std::uint8_t>& bytes, const std::string& path);

/// Writes `picture` as a little-endian uncompressed TIFF in one strip; a
/// fourth channel is marked as unassociated alpha. Returns the reason on
/// failure, empty on success.
std::string write_tiff(const std::string& path, const FilePicture& picture);

/// The bytes write_tiff writes, into `bytes`. Returns the reason on failure, empty on success.
std::string encode_tiff(const FilePicture& picture, std::vector<std::uint8_t>& bytes);

}  // namespace ruvivedu::tool
