// Numbered file names: "shot.####.png" and "shot.%04d.png" patterns, frame
// ranges, and the search for the frames of a pattern on disk.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ruvivedu::tool {

/// A file name with one frame-number field. `pad` is the minimum digit
/// count (zero-padded); larger numbers simply take more digits.
struct FramePattern {
    std::string prefix;
    std::string suffix;
    int pad = 1;
};

/// Inclusive range of frame numbers.
struct FrameRange {
    int first = 0;
    int last = 0;
    int count() const { return last - first + 1; }
};

/// Recognises the frame field in the file-name part of `path`: one run of
/// '#' (its length is the padding) or one printf field %d, %Nd or %0Nd.
/// Returns nothing for a plain file name; throws a usage error for a name
/// with two fields or a malformed printf field.
std::optional<FramePattern> parse_frame_pattern(const std::string& path);

/// The file name of `frame` (a non-negative number).
std::string frame_path(const FramePattern& pattern, int frame);

/// Parses "A-B" or a single "A"; both non-negative, A <= B.
FrameRange parse_frame_range(const std::string& text);

/// Frame numbers of the existing files that match `pattern`, in ascending
/// order. Digits are matched by count: a padded pattern matches exactly
/// `pad` digits, or more when the number needs them without a leading zero.
std::vector<int> find_frames(const FramePattern& pattern);

}  // namespace ruvivedu::tool
