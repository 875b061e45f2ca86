// The frames of a sequence on several threads, and where they stop.
#include "frame_sequence.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

namespace ruvivedu::tool {

int processor_count()
{
#if defined(__linux__)
    // The processors this process is allowed, which a container or taskset
    // may make fewer than the machine's.
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0)
        return CPU_COUNT(&allowed);
#endif
    const unsigned count = std::thread::hardware_concurrency();
    return count > 0 ? int(count) : 1;
}

std::string format_frame_list(const std::vector<int>& frames)
{
    std::string text;
    for (std::size_t i = 0; i < frames.size();) {
        std::size_t last = i;
        while (last + 1 < frames.size() && frames[last + 1] == frames[last] + 1)
            ++last;
        text += (text.empty() ? "" : ", ") + std::to_string(frames[i]);
        if (last > i)
            text += "-" + std::to_string(frames[last]);
        i = last + 1;
    }
    return text;
}

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

/// The state the threads of one run share. Frames are handed out in
/// sequence order; `first_failed_` is the lowest index that failed.
class Sequence {
public:
    Sequence(const RenderOptions& options, const WriteSettings& settings, const std::vector<FrameJob>& jobs,
             const SequenceWatcher& watcher)
        : options_(options), settings_(settings), jobs_(jobs), watcher_(watcher)
    {}

    /// Takes frames until there are none left or one has failed.
    void work(RenderContext& context)
    {
        FrameBuffers buffers;
        FrameTimes times;
        for (;;) {
            const std::size_t index = next_.fetch_add(1);
            if (index >= jobs_.size() || index > first_failed_.load())
                break;
            const FrameJob& job = jobs_[index];
            // Frames after a failed one are called off; frames before it finish.
            auto go_on = [&] { return index < first_failed_.load(); };
            try {
                const bool written =
                    render_file(context, options_, settings_, job.input, job.output, job.frame, buffers, times, go_on);
                finished(context, written ? &job : nullptr);
            } catch (const ToolError& error) {
                failed(context, index, error);
            } catch (const std::exception& error) {
                failed(context, index, ToolError("'" + job.input + "': " + error.what()));
            } catch (...) {
                failed(context, index, ToolError("'" + job.input + "': unknown error"));
            }
        }
        std::lock_guard<std::mutex> lock(mutex_);
        result_.times += times;
    }

    SequenceResult result()
    {
        std::sort(result_.written.begin(), result_.written.end());
        std::sort(failed_.begin(), failed_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& [index, error] : failed_)
            result_.failures.emplace_back(jobs_[index], error);
        return result_;
    }

private:
    void warn(RenderContext& context)
    {
        for (const std::string& text : context.take_warnings()) {
            if (std::find(warned_.begin(), warned_.end(), text) != warned_.end())
                continue;
            warned_.push_back(text);
            if (watcher_.warning)
                watcher_.warning(text);
        }
    }

    void finished(RenderContext& context, const FrameJob* written)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        warn(context);
        if (!written)
            return;
        result_.written.push_back(written->frame);
        if (watcher_.frame_written)
            watcher_.frame_written(int(result_.written.size()));
    }

    void failed(RenderContext& context, std::size_t index, const ToolError& error)
    {
        std::size_t seen = first_failed_.load();
        while (index < seen && !first_failed_.compare_exchange_weak(seen, index)) {
        }
        std::lock_guard<std::mutex> lock(mutex_);
        warn(context);
        failed_.emplace_back(index, error);
    }

    const RenderOptions& options_;
    const WriteSettings& settings_;
    const std::vector<FrameJob>& jobs_;
    const SequenceWatcher& watcher_;

    std::atomic<std::size_t> next_{0};
    std::atomic<std::size_t> first_failed_{kNone};

    std::mutex mutex_;  // guards what follows and the watcher's calls
    SequenceResult result_;
    std::vector<std::pair<std::size_t, ToolError>> failed_;
    std::vector<std::string> warned_;
};

}  // namespace

SequenceResult render_sequence(const FrameRenderer& renderer, const RenderOptions& options,
                               const WriteSettings& settings, const std::vector<FrameJob>& jobs, int in_flight,
                               const SequenceWatcher& watcher)
{
    const std::size_t workers = std::min<std::size_t>(std::size_t(std::clamp(in_flight, 1, kMaxJobs)), jobs.size());
    std::vector<std::unique_ptr<RenderContext>> contexts;
    for (std::size_t i = 0; i < workers; ++i)
        contexts.push_back(renderer.new_context());

    Sequence sequence(options, settings, jobs, watcher);
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < contexts.size(); ++i) {
        try {
            threads.emplace_back([&sequence, context = contexts[i].get()] { sequence.work(*context); });
        } catch (const std::system_error&) {
            break;  // the system gives no more threads: the ones started and this one take every frame
        }
    }
    if (!contexts.empty())
        sequence.work(*contexts[0]);
    for (std::thread& thread : threads)
        thread.join();
    return sequence.result();
}

}  // namespace ruvivedu::tool
