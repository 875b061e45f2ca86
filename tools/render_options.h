// What one `ruvivedu render` call asks for, and the checks that turn command
// line text into the values the host would hand the plug-in.
#pragma once

#include "frame_pattern.h"
#include "pixel_world.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace ruvivedu::tool {

using host::Depth;

/// Which of the host's two render roads the frame takes.
enum class RenderPath { smart, classic };

/// A downsample factor as the host stores it: numerator over denominator.
struct Ratio {
    std::int32_t num = 1;
    std::uint32_t den = 1;
    bool is_one() const { return std::int64_t(num) == std::int64_t(den); }
    double value() const { return double(num) / double(den); }
};

/// Popup values as the host stores them (1-based); the effect's saved
/// projects hold these numbers.
enum ShapeValue : std::int32_t { kShapeCircle = 1, kShapeSquare = 2, kShapeLine = 3 };
enum SamplingValue : std::int32_t { kSamplingBilinear = 1, kSamplingNearest = 2 };

/// The range the host's UI accepts for DotSize.
constexpr double kDotSizeMin = 1.0;
constexpr double kDotSizeMax = 1000.0;

/// Part of the layer, in pixels of the layer the plug-in renders (after any
/// downsampling): left, top, width, height. It may reach off the layer.
struct Region {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

/// Everything `render` was asked for, already validated.
struct RenderOptions {
    std::string input;
    std::string output;
    std::int32_t shape = kShapeCircle;
    double dot_size = 32.0;
    double rotation = 45.0;
    /// In full-resolution layer pixels; empty means the layer centre.
    std::optional<std::pair<double, double>> offset;
    bool alpha = false;
    std::int32_t sampling = kSamplingBilinear;
    RenderPath path = RenderPath::smart;
    /// Empty means the input file's own depth.
    std::optional<Depth> depth;
    Ratio downsample_x;
    Ratio downsample_y;
    bool prescaled = false;
    std::optional<FrameRange> frames;
    /// Empty means: search beside the executable.
    std::string plugin_path;
    /// --compression as typed; empty means the output format's default.
    std::string compression;
    /// Frames in flight for a sequence; empty means one per processor.
    std::optional<int> jobs;
    /// Report how long reading, rendering and writing took.
    bool timings = false;
    /// Render only this part of the layer, as a host asks for one; empty means the whole layer.
    std::optional<Region> region;
};

/// "circle", "square", "line" (any case) to the Shape popup value.
std::int32_t parse_shape(const std::string& text);
/// "bilinear", "nearest" (any case) to the Sampling popup value.
std::int32_t parse_sampling(const std::string& text);
RenderPath parse_path(const std::string& text);
Depth parse_depth(const std::string& text);
/// One finite decimal number filling the whole text.
double parse_number(const std::string& what, const std::string& text);
/// "X,Y" in layer pixels.
std::pair<double, double> parse_offset(const std::string& text);
/// "N/D", or "N/D,N/D" for x and y apart; 0 < N <= D.
std::pair<Ratio, Ratio> parse_downsample(const std::string& text);
/// "X,Y,W,H": whole numbers, W and H at least 1, the rectangle within the 32-bit range.
Region parse_region(const std::string& text);
/// A whole number of frames in flight, 1 to `most`.
int parse_jobs(const std::string& text, int most);

/// A value in the host's 16.16 fixed point: round(value x 65536). Throws a
/// usage error naming `what` when the value cannot be stored that way.
std::int32_t to_fixed(const std::string& what, double value);

/// Range checks the host's UI would make, and the combinations the tool
/// cannot honour. Throws a usage error with a one-line reason.
void validate(const RenderOptions& options);

/// The frame's Offset as the plug-in receives it: the given point, or the
/// centre of the full-resolution layer, scaled into downsampled pixels.
/// `full_width`/`full_height` are the layer's full-resolution size.
std::pair<double, double> effective_offset(const RenderOptions& options, double full_width, double full_height);

/// "8-bit", "16-bit", "32-bit float".
const char* depth_name(Depth depth);

}  // namespace ruvivedu::tool
