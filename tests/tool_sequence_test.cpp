// Sequences through the ruvivedu tool with several frames in flight: every
// frame lands under its own name whatever the number of jobs, a failing frame
// stops the rest the same way, progress counts finished frames, and an
// interrupt leaves no half-written file. These tests render on several
// threads at once (in this process, or in the tool's), hence the concurrency
// label.
#include "frame_renderer.h"
#include "frame_sequence.h"
#include "image_file.h"
#include "picture_codecs.h"
#include "render_job.h"
#include "render_options.h"
#include "tool_error.h"
#include "tool_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace ruvivedu::tool;
using namespace ruvivedu::tool_tests;
namespace host = ruvivedu::host;

std::string frame_name(const std::string& stem, int frame, const std::string& extension)
{
    char number[16];
    std::snprintf(number, sizeof number, "%04d", frame);
    return stem + "." + number + extension;
}

/// `count` 8-bit RGBA PAM frames, each of its own picture, named in.0001.pam ...
void write_frames(const TempDir& dir, int count, int width = 40, int height = 28)
{
    for (int frame = 1; frame <= count; ++frame) {
        FilePicture picture;
        picture.width = width;
        picture.height = height;
        picture.channels = 4;
        picture.alpha_channel = 3;
        picture.depth = Depth::u8;
        picture.full_scale = 255.0;
        picture.u8.resize(picture.component_count());
        for (std::size_t i = 0; i < picture.u8.size(); ++i)
            picture.u8[i] = std::uint8_t(i % 4 == 3 ? 255 : (i * 7 + std::size_t(frame) * 41) % 256);
        ASSERT_EQ(write_pam(dir.file(frame_name("in", frame, ".pam")), picture), "");
    }
}

RenderOptions sequence_options(const TempDir& dir, const std::string& out_stem, int jobs)
{
    RenderOptions options;
    options.input = dir.file("in.####.pam");
    options.output = dir.file(out_stem + ".####.pam");
    options.dot_size = 6.0;
    options.plugin_path = RUVIVEDU_PLUGIN_MODULE;
    options.jobs = jobs;
    return options;
}

/// Temporary files left in `dir`: write_image's hidden ".<name>.ruvivedu-..." names.
std::vector<std::string> temporaries(const TempDir& dir)
{
    std::vector<std::string> found;
    for (const std::string& name : dir.entries())
        if (name.find(".ruvivedu-") != std::string::npos)
            found.push_back(name);
    return found;
}

struct Outcome {
    bool failed = false;
    int status = 0;
    std::string message;  // the thrown error's, if any
    std::string err;      // what the run wrote to its error stream
};

Outcome run(const RenderOptions& options, bool interactive = false)
{
    std::ostringstream err;
    Outcome outcome;
    try {
        run_render(options, err, interactive);
    } catch (const ToolError& error) {
        outcome.failed = true;
        outcome.status = error.status();
        outcome.message = error.what();
    }
    outcome.err = err.str();
    return outcome;
}

TEST(ToolSequence, EveryFrameLandsUnderItsOwnNameWhateverTheJobs)
{
    TempDir dir;
    constexpr int kFrames = 12;
    write_frames(dir, kFrames);
    for (int jobs : {1, 4, 12}) {
        const Outcome outcome = run(sequence_options(dir, "jobs" + std::to_string(jobs), jobs));
        ASSERT_FALSE(outcome.failed) << outcome.message;
        EXPECT_NE(outcome.err.find("rendered 12 frames"), std::string::npos) << outcome.err;
    }
    EXPECT_TRUE(temporaries(dir).empty());
    for (int frame = 1; frame <= kFrames; ++frame) {
        // Each frame rendered alone is the reference for its name.
        RenderOptions alone = sequence_options(dir, "", 1);
        alone.input = dir.file(frame_name("in", frame, ".pam"));
        alone.output = dir.file(frame_name("alone", frame, ".pam"));
        ASSERT_FALSE(run(alone).failed);
        const std::string expected = slurp(alone.output);
        ASSERT_FALSE(expected.empty());
        for (int jobs : {1, 4, 12})
            EXPECT_EQ(slurp(dir.file(frame_name("jobs" + std::to_string(jobs), frame, ".pam"))), expected)
                << "frame " << frame << " with --jobs " << jobs;
    }
}

TEST(ToolSequence, AFailingFrameStopsTheRestAndNoneIsHalfWritten)
{
    TempDir dir;
    constexpr int kFrames = 10;
    write_frames(dir, kFrames);
    std::ofstream(dir.file("in.0005.pam")) << "P7\nWIDTH 40\nHEIGHT 28\n";  // cut short in its header

    for (int jobs : {1, 4}) {
        const std::string stem = "out" + std::to_string(jobs);
        const Outcome outcome = run(sequence_options(dir, stem, jobs));
        ASSERT_TRUE(outcome.failed) << "jobs " << jobs;
        EXPECT_EQ(outcome.status, kExitFailure);
        EXPECT_NE(outcome.err.find("ruvivedu: cannot read '" + dir.file("in.0005.pam") + "'"), std::string::npos)
            << outcome.err;
        EXPECT_EQ(outcome.message.rfind("stopped after frame 5 failed: ", 0), 0u) << outcome.message;
        EXPECT_TRUE(temporaries(dir).empty()) << temporaries(dir).front();
        // The frames before the failed one are all there, whole.
        for (int frame = 1; frame <= 4; ++frame) {
            EXPECT_TRUE(fs::exists(dir.file(frame_name(stem, frame, ".pam")))) << frame << ", jobs " << jobs;
            EXPECT_EQ(slurp(dir.file(frame_name(stem, frame, ".pam"))),
                      slurp(dir.file(frame_name("out1", frame, ".pam"))));
        }
        EXPECT_FALSE(fs::exists(dir.file(frame_name(stem, 5, ".pam"))));
    }
    // One frame at a time stops exactly there.
    EXPECT_EQ(run(sequence_options(dir, "again", 1)).message,
              "stopped after frame 5 failed: 4 of 10 frames written (1-4)");
    for (int frame = 5; frame <= kFrames; ++frame)
        EXPECT_FALSE(fs::exists(dir.file(frame_name("out1", frame, ".pam")))) << frame;
}

TEST(ToolSequence, AFailedRenderInTheMiddleIsReportedWithThePluginsError)
{
    TempDir dir;
    write_frames(dir, 6);
    ::setenv("RUVIVEDU_FAILING_FRAME", "3", 1);
    RenderOptions options = sequence_options(dir, "out", 3);
    options.plugin_path = RUVIVEDU_FAILING_MODULE;
    const Outcome outcome = run(options);
    ::unsetenv("RUVIVEDU_FAILING_FRAME");
    ASSERT_TRUE(outcome.failed);
    EXPECT_EQ(outcome.status, kExitFailure);
    EXPECT_NE(outcome.err.find("rendering '" + dir.file("in.0003.pam") +
                               "' failed: SMART_RENDER returned plug-in "
                               "error 4 (out of memory)"),
              std::string::npos)
        << outcome.err;
    EXPECT_EQ(outcome.message.rfind("stopped after frame 3 failed: ", 0), 0u) << outcome.message;
    EXPECT_TRUE(fs::exists(dir.file("out.0001.pam")));
    EXPECT_TRUE(fs::exists(dir.file("out.0002.pam")));
    EXPECT_FALSE(fs::exists(dir.file("out.0003.pam")));
    EXPECT_TRUE(temporaries(dir).empty());
}

TEST(ToolSequence, AnEffectNotDeclaredThreadedGetsOneRenderAtATime)
{
    EXPECT_TRUE(FrameRenderer(RUVIVEDU_PLUGIN_MODULE).threaded());
    TempDir dir;
    constexpr int kFrames = 12;
    write_frames(dir, kFrames);
    // Every frame succeeds, unless the fixture finds another render running beside its own.
    ::setenv("RUVIVEDU_FAILING_FRAME", "999", 1);
    ::setenv("RUVIVEDU_FIXTURE_OVERLAP", "1", 1);
    RenderOptions options = sequence_options(dir, "serial", 4);
    options.plugin_path = RUVIVEDU_FAILING_MODULE;
    EXPECT_FALSE(FrameRenderer(RUVIVEDU_FAILING_MODULE).threaded());
    const Outcome serial = run(options);
    // Declared threaded, the same effect gets frames at once, and the fixture notices.
    ::setenv("RUVIVEDU_FIXTURE_THREADED", "1", 1);
    options.output = dir.file("threaded.####.pam");
    const Outcome threaded = run(options);
    for (const char* name : {"RUVIVEDU_FAILING_FRAME", "RUVIVEDU_FIXTURE_OVERLAP", "RUVIVEDU_FIXTURE_THREADED"})
        ::unsetenv(name);

    ASSERT_FALSE(serial.failed) << serial.err << serial.message;
    for (int frame = 1; frame <= kFrames; ++frame)
        EXPECT_TRUE(fs::exists(dir.file(frame_name("serial", frame, ".pam")))) << frame;
    ASSERT_TRUE(threaded.failed);
    EXPECT_NE(threaded.err.find("two renders at once"), std::string::npos) << threaded.err;
}

TEST(ToolSequence, ProgressCountsFinishedFrames)
{
    TempDir dir;
    constexpr int kFrames = 9;
    write_frames(dir, kFrames);
    const Outcome outcome = run(sequence_options(dir, "out", 3), true);
    ASSERT_FALSE(outcome.failed) << outcome.message;
    // One bar per finished frame, counting up by one.
    std::vector<int> counts;
    for (std::size_t at = outcome.err.find('\r'); at != std::string::npos; at = outcome.err.find('\r', at + 1)) {
        const std::size_t frames = outcome.err.find("/9 frames", at);
        ASSERT_NE(frames, std::string::npos) << outcome.err;
        const std::size_t start = outcome.err.rfind(' ', frames) + 1;
        counts.push_back(std::stoi(outcome.err.substr(start, frames - start)));
    }
    ASSERT_EQ(counts.size(), std::size_t(kFrames)) << outcome.err;
    for (int i = 0; i < kFrames; ++i)
        EXPECT_EQ(counts[std::size_t(i)], i + 1);
    EXPECT_NE(outcome.err.find("\nruvivedu: rendered 9 frames in "), std::string::npos) << outcome.err;
}

TEST(ToolSequence, JobsEqualInTheToolForEveryCodec)
{
    TempDir dir;
    // The inputs written by the tool's own codecs: OpenImageIO's thread pool
    // synchronises where ThreadSanitizer cannot see it.
    for (int frame = 1; frame <= 6; ++frame) {
        host::World eight(Depth::u8, 64, 36);
        host::World wide(Depth::f32, 64, 36);
        for (A_long y = 0; y < 36; ++y)
            for (A_long x = 0; x < 64; ++x) {
                const auto value = [&](int c) { return std::uint8_t((x * 5 + y * frame + c * 60) % 256); };
                const std::uint8_t alpha = std::uint8_t(test_alpha(x, y) * 255.0f);
                eight.pixel8(x, y) = PF_Pixel8{alpha, value(0), value(1), value(2)};
                wide.pixel32(x, y) =
                    PF_PixelFloat{alpha / 255.0f, value(0) / 255.0f, value(1) / 255.0f, value(2) / 255.0f};
            }
        write_image(dir.file(frame_name("in", frame, ".png")), eight);
        write_image(dir.file(frame_name("in", frame, ".exr")), wide);
    }
    for (const char* extension : {".png", ".exr"}) {
        for (const char* jobs : {"1", "4"}) {
            const RunResult result = run_tool({"render", dir.file(std::string("in.####") + extension),
                                               dir.file(std::string("j") + jobs + ".####" + extension), "--jobs", jobs,
                                               "--dot-size", "7", "--plugin", RUVIVEDU_PLUGIN_MODULE});
            ASSERT_EQ(result.status, 0) << result.err;
        }
        for (int frame = 1; frame <= 6; ++frame) {
            const std::string one = slurp(dir.file(frame_name("j1", frame, extension)));
            EXPECT_FALSE(one.empty());
            EXPECT_EQ(one, slurp(dir.file(frame_name("j4", frame, extension)))) << extension << " frame " << frame;
        }
    }
}

TEST(ToolSequence, AnInterruptLeavesNoTemporaryFile)
{
    TempDir dir;
    write_frames(dir, 40, 640, 360);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        ::execl(RUVIVEDU_TOOL_EXE, RUVIVEDU_TOOL_EXE, "render", dir.file("in.####.pam").c_str(),
                dir.file("out.####.pam").c_str(), "--jobs", "4", "--plugin", RUVIVEDU_PLUGIN_MODULE,
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Stop it once frames are being written, when several are in flight.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(dir.file("out.0002.pam")) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ::kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status))
        GTEST_SKIP() << "the tool finished before the interrupt (status " << WEXITSTATUS(status) << ")";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_TRUE(temporaries(dir).empty()) << temporaries(dir).front();
}

TEST(ToolSequence, FrameListsJoinNeighbours)
{
    EXPECT_EQ(format_frame_list({1, 2, 3, 4, 6, 9, 10}), "1-4, 6, 9-10");
    EXPECT_EQ(format_frame_list({7}), "7");
    EXPECT_EQ(format_frame_list({}), "");
    SequenceResult result;
    result.failures.emplace_back(FrameJob{"a", "b", 3}, ToolError("x"));
    EXPECT_EQ(format_stop(result, 5), "stopped after frame 3 failed: no frame of 5 written");
    result.written = {1, 2, 5};
    result.failures.emplace_back(FrameJob{"c", "d", 4}, ToolError("y"));
    EXPECT_EQ(format_stop(result, 5), "stopped after frames 3-4 failed: 3 of 5 frames written (1-2, 5)");
}

}  // namespace
