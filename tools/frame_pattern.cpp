// Numbered file names: pattern recognition, expansion and discovery.
#include "frame_pattern.h"

#include "tool_error.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace ruvivedu::tool {

namespace {

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

/// Reads a non-negative decimal number that fills `text` completely and fits
/// an int.
std::optional<int> parse_count(const std::string& text)
{
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), is_digit))
        return std::nullopt;
    return std::stoi(text);
}

}  // namespace

std::optional<FramePattern> parse_frame_pattern(const std::string& path)
{
    // Only the file name may carry the field: a folder called "take#2" is
    // not a frame number.
    const std::size_t name_start = path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1;
    std::optional<FramePattern> found;
    auto take = [&](std::size_t begin, std::size_t end, int pad) {
        if (found)
            throw usage_error("'" + path + "' has more than one frame-number field");
        found = FramePattern{path.substr(0, begin), path.substr(end), pad};
    };
    for (std::size_t i = name_start; i < path.size();) {
        if (path[i] == '#') {
            std::size_t j = i;
            while (j < path.size() && path[j] == '#')
                ++j;
            take(i, j, int(j - i));
            i = j;
        } else if (path[i] == '%') {
            std::size_t j = i + 1;
            if (j < path.size() && path[j] == '%') {  // a literal percent sign
                i = j + 1;
                continue;
            }
            while (j < path.size() && is_digit(path[j]))
                ++j;
            if (j >= path.size() || path[j] != 'd')
                throw usage_error("'" + path + "': only %d, %Nd and %0Nd frame fields are understood");
            const std::string digits = path.substr(i + 1, j - i - 1);
            int pad = 1;
            if (!digits.empty()) {
                const std::optional<int> width = parse_count(digits);
                if (!width || *width > 32)
                    throw usage_error("'" + path + "': frame field width out of range");
                pad = std::max(1, *width);
            }
            take(i, j + 1, pad);
            i = j + 1;
        } else {
            ++i;
        }
    }
    return found;
}

std::string frame_path(const FramePattern& pattern, int frame)
{
    std::string digits = std::to_string(frame);
    if (int(digits.size()) < pattern.pad)
        digits.insert(0, std::size_t(pattern.pad) - digits.size(), '0');
    return pattern.prefix + digits + pattern.suffix;
}

FrameRange parse_frame_range(const std::string& text)
{
    const std::size_t dash = text.find('-');
    const std::optional<int> first = parse_count(text.substr(0, dash));
    const std::optional<int> last = dash == std::string::npos ? first : parse_count(text.substr(dash + 1));
    if (!first || !last)
        throw usage_error("--frames '" + text + "' is not a frame range: write A-B or A (non-negative numbers)");
    if (*last < *first)
        throw usage_error("--frames '" + text + "': the last frame comes before the first");
    return FrameRange{*first, *last};
}

std::vector<int> find_frames(const FramePattern& pattern)
{
    namespace fs = std::filesystem;
    const std::size_t slash = pattern.prefix.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : pattern.prefix.substr(0, slash + 1);
    const std::string name_prefix = slash == std::string::npos ? pattern.prefix : pattern.prefix.substr(slash + 1);

    std::vector<int> frames;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= name_prefix.size() + pattern.suffix.size() ||
            name.compare(0, name_prefix.size(), name_prefix) != 0 ||
            name.compare(name.size() - pattern.suffix.size(), pattern.suffix.size(), pattern.suffix) != 0)
            continue;
        const std::string digits =
            name.substr(name_prefix.size(), name.size() - name_prefix.size() - pattern.suffix.size());
        const std::optional<int> frame = parse_count(digits);
        // Accept only the spelling frame_path would produce, so "shot.01.png"
        // is not taken for frame 1 of "shot.###.png".
        if (frame && frame_path(pattern, *frame) == pattern.prefix + digits + pattern.suffix)
            frames.push_back(*frame);
    }
    std::sort(frames.begin(), frames.end());
    return frames;
}

}  // namespace ruvivedu::tool
