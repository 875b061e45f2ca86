// `ruvivedu render` from validated options to files on disk: one picture or
// a numbered sequence, with progress on a terminal and a closing summary.
#pragma once

#include "frame_sequence.h"
#include "render_options.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace ruvivedu::tool {

/// The frames a render covers: a single IN to OUT, or for frame patterns
/// every frame of --frames (or, without it, every input frame found on
/// disk). Throws a usage error when only one of IN and OUT is a pattern, or
/// --frames is given for plain file names; ToolError when a pattern matches
/// no file.
std::vector<FrameJob> plan_frames(const RenderOptions& options);

/// "[#######.............]  7/20 frames  3.5 fps  4 s left", fitted to `columns`.
std::string format_progress(int done, int total, double elapsed_seconds, int columns);

/// "rendered 20 frames in 5.71 s (3.50 frames per second)".
std::string format_summary(int frames, double seconds);

/// "time spent: reading 120.5 ms, rendering 35.2 ms, writing 80.1 ms", and
/// for more than one frame " (sums over 24 frames)".
std::string format_times(const FrameTimes& times, int frames);

/// "stopped after frame 5 failed: 4 of 24 frames written (1-4)".
std::string format_stop(const SequenceResult& result, int total);

/// Validates `options`, loads the plug-in, renders every planned frame and
/// writes it; a sequence with options.jobs frames in flight (by default one
/// per processor). With `interactive` a progress bar of the frames written is
/// redrawn on `err` as they finish; a sequence ends with the summary line on
/// `err`, and with options.timings format_times()'s line after it. Warnings
/// go to `err` prefixed "ruvivedu: warning: ". Throws
/// ToolError when a frame fails: for one picture that failure; for a
/// sequence, after a "ruvivedu: " line for each failed frame, format_stop()'s
/// account of what was written, with the first failure's exit status.
void run_render(const RenderOptions& options, std::ostream& err, bool interactive);

}  // namespace ruvivedu::tool
