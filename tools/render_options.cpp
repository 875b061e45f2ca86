// Parsing and validation of the render options.
#include "render_options.h"

#include "tool_error.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace ruvivedu::tool {

namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

/// Largest and smallest values round(value x 65536) can hold in an int32.
constexpr double kFixedMax = (2147483647.0 + 0.5) / 65536.0;
constexpr double kFixedMin = (-2147483648.0 - 0.5) / 65536.0;

Ratio parse_ratio(const std::string& text)
{
    const std::size_t slash = text.find('/');
    auto whole_number = [](const std::string& digits) -> long {
        if (digits.empty() || digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), ::isdigit))
            return -1;
        return std::stol(digits);
    };
    const long num = slash == std::string::npos ? -1 : whole_number(text.substr(0, slash));
    const long den = slash == std::string::npos ? -1 : whole_number(text.substr(slash + 1));
    if (num <= 0 || den <= 0)
        throw usage_error("--downsample '" + text + "' is not a factor: write N/D with whole numbers, e.g. 1/2");
    if (num > den)
        throw usage_error("--downsample '" + text + "' enlarges the frame: the factor must be at most 1/1");
    return Ratio{std::int32_t(num), std::uint32_t(den)};
}

std::string format_range_value(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

}  // namespace

std::int32_t parse_shape(const std::string& text)
{
    const std::string name = lower(text);
    if (name == "circle")
        return kShapeCircle;
    if (name == "square")
        return kShapeSquare;
    if (name == "line")
        return kShapeLine;
    throw usage_error("--shape '" + text + "' is not a shape: choose circle, square or line");
}

std::int32_t parse_sampling(const std::string& text)
{
    const std::string name = lower(text);
    if (name == "bilinear")
        return kSamplingBilinear;
    if (name == "nearest")
        return kSamplingNearest;
    throw usage_error("--sampling '" + text + "' is not a sampling: choose bilinear or nearest");
}

RenderPath parse_path(const std::string& text)
{
    const std::string name = lower(text);
    if (name == "smart")
        return RenderPath::smart;
    if (name == "classic")
        return RenderPath::classic;
    throw usage_error("--path '" + text + "' is not a render path: choose smart or classic");
}

Depth parse_depth(const std::string& text)
{
    if (text == "8")
        return Depth::u8;
    if (text == "16")
        return Depth::u16;
    if (text == "32")
        return Depth::f32;
    throw usage_error("--depth '" + text + "' is not a depth: choose 8, 16 or 32");
}

double parse_number(const std::string& what, const std::string& text)
{
    // strtod alone would accept leading blanks, "inf", "nan" and hex floats.
    const bool plain = !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return std::isdigit(c) || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
    });
    char* end = nullptr;
    const double value = plain ? std::strtod(text.c_str(), &end) : 0.0;
    if (!plain || end != text.c_str() + text.size() || !std::isfinite(value))
        throw usage_error(what + " '" + text + "' is not a finite number");
    return value;
}

std::pair<double, double> parse_offset(const std::string& text)
{
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos || text.find(',', comma + 1) != std::string::npos)
        throw usage_error("--offset '" + text + "' is not a point: write X,Y in layer pixels");
    return {parse_number("--offset x", text.substr(0, comma)), parse_number("--offset y", text.substr(comma + 1))};
}

std::pair<Ratio, Ratio> parse_downsample(const std::string& text)
{
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos) {
        const Ratio both = parse_ratio(text);
        return {both, both};
    }
    return {parse_ratio(text.substr(0, comma)), parse_ratio(text.substr(comma + 1))};
}

Region parse_region(const std::string& text)
{
    const std::string usage = "--region '" + text + "' is not a part of the layer: write X,Y,W,H in pixels";
    long long v[4];
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t comma = i < 3 ? text.find(',', at) : text.size();
        if (comma == std::string::npos)
            throw usage_error(usage);
        const std::string part = text.substr(at, comma - at);
        const bool integer = !part.empty() && part.size() <= 11 &&
                             std::all_of(part.begin() + (part[0] == '-' ? 1 : 0), part.end(), ::isdigit) && part != "-";
        if (!integer)
            throw usage_error(usage);
        v[i] = std::stoll(part);
        at = comma + 1;
    }
    if (v[2] < 1 || v[3] < 1)
        throw usage_error("--region '" + text + "' is empty: its width and height must be at least 1");
    const long long lo = INT32_MIN, hi = INT32_MAX;
    if (v[0] < lo || v[1] < lo || v[0] + v[2] > hi || v[1] + v[3] > hi)
        throw usage_error("--region '" + text + "' reaches past what the host's rectangles hold");
    return Region{static_cast<std::int32_t>(v[0]), static_cast<std::int32_t>(v[1]), static_cast<std::int32_t>(v[2]),
                  static_cast<std::int32_t>(v[3])};
}

int parse_jobs(const std::string& text, int most)
{
    const bool digits = !text.empty() && text.size() <= 6 && std::all_of(text.begin(), text.end(), ::isdigit);
    const int jobs = digits ? std::stoi(text) : 0;
    if (jobs < 1 || jobs > most)
        throw usage_error("--jobs '" + text + "' is not a number of frames in flight: give a whole number 1 to " +
                          std::to_string(most));
    return jobs;
}

std::int32_t to_fixed(const std::string& what, double value)
{
    if (!std::isfinite(value) || value >= kFixedMax || value <= kFixedMin) {
        char text[64];
        std::snprintf(text, sizeof text, "%g", value);
        throw usage_error(what + " " + text + " cannot be stored: 16.16 fixed point holds -32768.0 to 32767.99998");
    }
    return std::int32_t(std::llround(value * 65536.0));
}

void validate(const RenderOptions& options)
{
    if (!(options.dot_size >= kDotSizeMin && options.dot_size <= kDotSizeMax)) {
        char value[64];
        std::snprintf(value, sizeof value, "%g", options.dot_size);
        throw usage_error(std::string("DotSize ") + value + " is out of range: valid values are " +
                          format_range_value(kDotSizeMin) + " to " + format_range_value(kDotSizeMax));
    }
    to_fixed("Rotation", options.rotation);
    if (options.offset) {
        // Scaling into downsampled pixels only shrinks the point (N/D <= 1),
        // so the typed value is the one that must fit.
        to_fixed("Offset x", options.offset->first);
        to_fixed("Offset y", options.offset->second);
    }
    if (options.path == RenderPath::classic && options.depth == Depth::f32)
        throw usage_error("--path classic cannot render --depth 32: the classic render only carries 8 and 16 bits "
                          "(use --path smart for float)");
    if (options.prescaled && options.downsample_x.is_one() && options.downsample_y.is_one())
        throw usage_error("--prescaled needs --downsample: it says the input already is the reduced frame");
    if (options.frames && options.frames->count() <= 0)
        throw usage_error("--frames: empty range");
}

std::pair<double, double> effective_offset(const RenderOptions& options, double full_width, double full_height)
{
    // The point's default is 50 % of the layer in each direction.
    const std::pair<double, double> point =
        options.offset.value_or(std::make_pair(full_width * 0.5, full_height * 0.5));
    return {point.first * options.downsample_x.value(), point.second * options.downsample_y.value()};
}

const char* depth_name(Depth depth)
{
    switch (depth) {
    case Depth::u8:
        return "8-bit";
    case Depth::u16:
        return "16-bit";
    case Depth::f32:
        return "32-bit float";
    }
    return "unknown";
}

}  // namespace ruvivedu::tool
