// A numbered sequence rendered with several frames in flight: each frame is
// read, rendered and written on a thread and render context of its own, so
// the decoding and encoding of one frame overlap the render of its
// neighbours, and the plug-in is called as a host calls it under multi-frame
// rendering.
#pragma once

#include "frame_renderer.h"
#include "tool_error.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace ruvivedu::tool {

/// One input file and the output it becomes.
struct FrameJob {
    std::string input;
    std::string output;
    int frame = 0;
};

/// The most frames a run keeps in flight.
constexpr int kMaxJobs = 256;

/// The processors this process may run on (at least 1): the default number
/// of frames in flight.
int processor_count();

/// What a sequence run did.
struct SequenceResult {
    /// Frame numbers written, ascending.
    std::vector<int> written;
    /// The frames that failed, in sequence order, and why.
    std::vector<std::pair<FrameJob, ToolError>> failures;
    /// The steps' times, summed over all frames (frames in flight overlap).
    FrameTimes times;
};

/// Told about a run as it goes, one call at a time (never two at once),
/// from whichever thread finished the frame.
struct SequenceWatcher {
    /// A frame was written; `written` frames are now.
    std::function<void(int written)> frame_written;
    /// Something worth telling the user that did not stop the frame; each
    /// distinct text once per run.
    std::function<void(const std::string& text)> warning;
};

/// Renders `jobs` in order with at most `in_flight` frames at once (1 to
/// kMaxJobs), each through render_file() on a context of `renderer`. Output
/// files land as their frames finish, each written whole under its own name.
///
/// A failed frame stops the sequence there: no frame after it starts, those
/// in flight after it are called off before they are written, and those
/// before it finish. Unless frames fail on their own, the frames written are
/// then exactly the ones before the first failure, however many are in
/// flight; a frame after it that was already written stays.
SequenceResult render_sequence(const FrameRenderer& renderer, const RenderOptions& options,
                               const WriteSettings& settings, const std::vector<FrameJob>& jobs, int in_flight,
                               const SequenceWatcher& watcher = {});

/// "1-4, 6, 9-10": ascending frame numbers, runs of neighbours joined.
std::string format_frame_list(const std::vector<int>& frames);

}  // namespace ruvivedu::tool
