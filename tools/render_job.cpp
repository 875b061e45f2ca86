// Frame planning, the render loop, progress and summary.
#include "render_job.h"

#include "frame_renderer.h"
#include "image_file.h"
#include "tool_error.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <ostream>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace ruvivedu::tool {

std::vector<FrameJob> plan_frames(const RenderOptions& options)
{
    const std::optional<FramePattern> in = parse_frame_pattern(options.input);
    const std::optional<FramePattern> out = parse_frame_pattern(options.output);
    if (!in && !out) {
        if (options.frames)
            throw usage_error("--frames needs IN and OUT to be frame patterns such as shot.####.png");
        return {FrameJob{options.input, options.output, 0}};
    }
    if (!in)
        throw usage_error("OUT '" + options.output + "' is a frame pattern but IN '" + options.input + "' is not");
    if (!out)
        throw usage_error("IN '" + options.input +
                          "' is a frame pattern: OUT needs one too, or every frame would "
                          "overwrite the same file");

    std::vector<int> frames;
    if (options.frames) {
        for (int frame = options.frames->first; frame <= options.frames->last; ++frame)
            frames.push_back(frame);
    } else {
        frames = find_frames(*in);
        if (frames.empty())
            throw ToolError("no input frames match '" + options.input + "'");
    }
    std::vector<FrameJob> jobs;
    for (int frame : frames)
        jobs.push_back(FrameJob{frame_path(*in, frame), frame_path(*out, frame), frame});
    return jobs;
}

std::string format_progress(int done, int total, double elapsed_seconds, int columns)
{
    char tail[96];
    const double rate = elapsed_seconds > 0.0 ? done / elapsed_seconds : 0.0;
    if (done > 0 && done < total && rate > 0.0) {
        // Rounded up, so the bar never claims nothing is left while frames are.
        const long left = long(std::ceil((total - done) / rate));
        if (left < 60)
            std::snprintf(tail, sizeof tail, "  %d/%d frames  %.1f fps  %ld s left", done, total, rate, left);
        else
            std::snprintf(tail, sizeof tail, "  %d/%d frames  %.1f fps  %ld:%02ld left", done, total, rate, left / 60,
                          left % 60);
    } else {
        std::snprintf(tail, sizeof tail, "  %d/%d frames  %.1f fps", done, total, rate);
    }
    const int bar = std::clamp(columns - int(std::string(tail).size()) - 3, 10, 50);
    const int filled = total > 0 ? int(double(bar) * done / total) : bar;
    return "[" + std::string(std::size_t(filled), '#') + std::string(std::size_t(bar - filled), '.') + "]" + tail;
}

std::string format_summary(int frames, double seconds)
{
    char text[128];
    std::snprintf(text, sizeof text, "rendered %d frame%s in %.2f s (%.2f frames per second)", frames,
                  frames == 1 ? "" : "s", seconds, seconds > 0.0 ? frames / seconds : 0.0);
    return text;
}

namespace {

/// Width of the terminal stderr goes to; 80 when it cannot be told.
int terminal_columns()
{
#if defined(TIOCGWINSZ)
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#endif
    return 80;
}

}  // namespace

std::string format_times(const FrameTimes& times, int frames)
{
    char text[160];
    std::snprintf(text, sizeof text, "time spent: reading %.1f ms, rendering %.1f ms, writing %.1f ms",
                  times.read * 1e3, times.render * 1e3, times.write * 1e3);
    return text + (frames > 1 ? " (sums over " + std::to_string(frames) + " frames)" : std::string());
}

std::string format_stop(const SequenceResult& result, int total)
{
    std::vector<int> failed;
    for (const auto& failure : result.failures)
        failed.push_back(failure.first.frame);
    std::string text =
        "stopped after frame" + std::string(failed.size() == 1 ? " " : "s ") + format_frame_list(failed) + " failed: ";
    if (result.written.empty())
        return text + "no frame of " + std::to_string(total) + " written";
    return text + std::to_string(result.written.size()) + " of " + std::to_string(total) + " frames written (" +
           format_frame_list(result.written) + ")";
}

void run_render(const RenderOptions& options, std::ostream& err, bool interactive)
{
    validate(options);
    WriteSettings settings;
    if (!options.compression.empty())
        settings.compression = check_compression(options.output, options.compression);
    const std::vector<FrameJob> jobs = plan_frames(options);
    // A format no writer knows is refused before any frame is read.
    output_layout(jobs.front().output, Depth::u8);
    FrameRenderer renderer(find_plugin_module(options.plugin_path, executable_dir()));

    const bool sequence = jobs.size() > 1 || parse_frame_pattern(options.input).has_value();
    const bool bar = interactive && sequence;
    bool bar_shown = false;  // a progress bar is on the current line
    auto warn = [&](const std::string& text) {
        err << (bar_shown ? "\n" : "") << "ruvivedu: warning: " << text << "\n";
        bar_shown = false;
    };
    for (const std::string& text : renderer.warnings())
        warn(text);

    if (!sequence) {
        const FrameJob& job = jobs.front();
        std::unique_ptr<RenderContext> context = renderer.new_context();
        FrameBuffers buffers;
        FrameTimes times;
        auto report = [&] {
            for (const std::string& text : context->take_warnings())
                warn(text);
        };
        try {
            render_file(*context, options, settings, job.input, job.output, job.frame, buffers, times);
        } catch (...) {
            report();
            throw;
        }
        report();
        if (options.timings)
            err << "ruvivedu: " << format_times(times, 1) << "\n";
        return;
    }

    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    SequenceWatcher watcher;
    watcher.warning = warn;
    watcher.frame_written = [&](int written) {
        if (!bar)
            return;
        // Carriage return, the bar, then clear what a longer earlier bar left.
        err << "\r" << format_progress(written, int(jobs.size()), elapsed(), terminal_columns()) << "\x1b[K"
            << std::flush;
        bar_shown = true;
    };
    const int in_flight = options.jobs.value_or(std::min(processor_count(), kMaxJobs));
    const SequenceResult result = render_sequence(renderer, options, settings, jobs, in_flight, watcher);
    if (bar_shown)
        err << "\n";  // leave the progress bar's line
    if (result.failures.empty()) {
        err << "ruvivedu: " << format_summary(int(result.written.size()), elapsed()) << "\n";
        if (options.timings)
            err << "ruvivedu: " << format_times(result.times, int(result.written.size())) << "\n";
        return;
    }
    for (const auto& failure : result.failures)
        err << "ruvivedu: " << failure.second.what() << "\n";
    throw ToolError(format_stop(result, int(jobs.size())), result.failures.front().second.status());
}

}  // namespace ruvivedu::tool
