// The render context: views of the host's pixel worlds and the per-frame values.
#pragma once

#include <cstddef>
#include <cstdint>

struct SPBasicSuite;

namespace ruvivedu {

/// The Shape popup's choices, as the host numbers them (1-based).
enum class Shape : int32_t { circle = 1, square = 2, line = 3 };
/// The Sampling popup's choices, as the host numbers them (1-based).
enum class Sampling : int32_t { bilinear = 1, nearest = 2 };
/// The component type of the host's worlds.
enum class Depth : int32_t { u8 = 0, u16 = 1, f32 = 2 };

/// The host's popup value as the render sees it: a value no host sends (outside
/// 1-3) draws circles.
inline Shape shape_from_popup(int32_t value)
{
    return value == 2 ? Shape::square : value == 3 ? Shape::line : Shape::circle;
}

/// The host's popup value as the render sees it: anything but BiLinear (1)
/// samples the nearest pixel.
inline Sampling sampling_from_popup(int32_t value)
{
    return value == 1 ? Sampling::bilinear : Sampling::nearest;
}

/// A non-owning view of one host pixel world (ARGB, each component T).
/// data points at the top-left pixel; rowbytes may be padded beyond
/// width * bytes_per_pixel and may be negative for bottom-up worlds.
struct LayerParams {
    char* data;
    int32_t rowbytes;
    int32_t width;
    int32_t height;
    int32_t origin_x;
    int32_t origin_y;
    bool deep;
    int32_t num_channels;
    int32_t bytes_per_channel;
    int32_t bytes_per_pixel;
};

/// First byte of row y. The product is formed in 64 signed bits: a 30000-row
/// float world has rows 480000 bytes apart, beyond what 32 bits can offset.
inline char* layer_row(const LayerParams& layer, int32_t y)
{
    return layer.data + static_cast<std::ptrdiff_t>(y) * static_cast<std::ptrdiff_t>(layer.rowbytes);
}

/// First byte (the alpha component) of pixel (x, y).
inline char* layer_pixel(const LayerParams& layer, int32_t x, int32_t y)
{
    return layer_row(layer, y) + static_cast<std::ptrdiff_t>(x) * static_cast<std::ptrdiff_t>(layer.bytes_per_pixel);
}

/// Left, top, right, bottom as the host reports a rectangle.
struct HalfTone_Rect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

/// A host ratio: signed numerator over unsigned denominator.
struct HalfTone_Ratio {
    int32_t num;
    uint32_t den;
};

/// How a frame asks its host whether to go on, and tells it how far it got.
/// The shell fills it from the host's callbacks; a caller without a host
/// leaves it empty (null functions), and the frame then runs to its end.
/// Both functions are called on the thread that called the driver only,
/// between row chunks, never from a worker.
struct RenderMonitor {
    void* host;                                                 ///< handed back to both functions
    bool (*cancelled)(void* host);                              ///< true: stop the frame now
    void (*progress)(void* host, int32_t done, int32_t total);  ///< rows done of all the frame's rows
    /// Layer pixels of work between two questions; 0 for the driver's own
    /// choice (a few tenths of a second of the largest frames). Smaller values
    /// are for tests that cancel in the middle of a stage.
    int64_t check_pixels;
};

/// Everything one render call needs, filled by the shell on its own stack.
struct HalfTone_Params {
    LayerParams in_layer;
    /// The layer's size in buffer pixels, its top-left at (0, 0) of the frame in
    /// which the worlds' origins place them: a world may cover part of it. Not
    /// positive, or not holding the input world: the input world is the whole
    /// layer.
    int32_t frame_width;
    int32_t frame_height;
    HalfTone_Rect extent_hint;
    int32_t output_origin_x;
    int32_t output_origin_y;
    HalfTone_Ratio downsample_x;
    HalfTone_Ratio downsample_y;
    HalfTone_Ratio pixel_aspect_ratio;
    LayerParams out_layer;
    float dot_size;  ///< DotSize, layer pixels
    float rotation;  ///< Rotation, degrees
    float offset_x;  ///< Offset point, layer pixels
    float offset_y;
    bool alpha;  ///< Alpha checkbox: black ink on transparent paper
    Sampling sampling;
    Shape shape;
    Depth depth;
    SPBasicSuite* pica;
    RenderMonitor monitor;
};

}  // namespace ruvivedu
