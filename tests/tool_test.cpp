// Tests of the ruvivedu tool: option checks, frame patterns, file mapping and
// downsampling through its library, and whole runs of the built executable
// against the real plug-in module and against a module whose renders fail.
#include "downsample.h"
#include "frame_pattern.h"
#include "frame_renderer.h"
#include "image_file.h"
#include "plugin_info.h"
#include "render_job.h"
#include "render_options.h"
#include "tool_error.h"
#include "tool_support.h"

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace ruvivedu::tool;
using namespace ruvivedu::tool_tests;
using OIIO::TypeDesc;
namespace host = ruvivedu::host;

// ---- options ----------------------------------------------------------------

std::string usage_message(const std::function<void()>& call)
{
    try {
        call();
    } catch (const ToolError& error) {
        EXPECT_EQ(error.status(), kExitUsage) << error.what();
        return error.what();
    }
    ADD_FAILURE() << "no usage error";
    return {};
}

TEST(ToolOptions, ChoicesParseToTheHostsPopupValues)
{
    EXPECT_EQ(parse_shape("circle"), 1);
    EXPECT_EQ(parse_shape("Square"), 2);
    EXPECT_EQ(parse_shape("LINE"), 3);
    EXPECT_EQ(parse_sampling("bilinear"), 1);
    EXPECT_EQ(parse_sampling("nearest"), 2);
    EXPECT_EQ(parse_path("classic"), RenderPath::classic);
    EXPECT_EQ(parse_depth("16"), Depth::u16);
    EXPECT_NE(usage_message([] { parse_shape("hexagon"); }).find("circle, square or line"), std::string::npos);
    EXPECT_NE(usage_message([] { parse_sampling("cubic"); }).find("bilinear or nearest"), std::string::npos);
    EXPECT_NE(usage_message([] { parse_depth("12"); }).find("8, 16 or 32"), std::string::npos);
}

TEST(ToolOptions, FixedPointIsRoundedValueTimes65536)
{
    EXPECT_EQ(to_fixed("v", 32.0), 0x00200000);
    EXPECT_EQ(to_fixed("v", 1.5), 0x00018000);
    EXPECT_EQ(to_fixed("v", -45.0), -0x002D0000);
    EXPECT_EQ(to_fixed("v", 1.0 / 131072.0), 1);  // exactly half a step rounds away from zero
    EXPECT_EQ(to_fixed("v", 32767.0), 32767 * 65536);
    EXPECT_NE(usage_message([] { to_fixed("Rotation", 32768.0); }).find("Rotation"), std::string::npos);
    usage_message([] { to_fixed("Rotation", -32768.5); });
}

TEST(ToolOptions, DotSizeOutsideTheHostsRangeIsRefusedNamingTheRange)
{
    RenderOptions options;
    options.dot_size = 0.5;
    const std::string message = usage_message([&] { validate(options); });
    EXPECT_NE(message.find("DotSize 0.5"), std::string::npos) << message;
    EXPECT_NE(message.find("1.0 to 1000.0"), std::string::npos) << message;
    options.dot_size = 1000.5;
    usage_message([&] { validate(options); });
    options.dot_size = 1000.0;  // both ends are valid
    EXPECT_NO_THROW(validate(options));
    options.dot_size = 1.0;
    EXPECT_NO_THROW(validate(options));
}

TEST(ToolOptions, MalformedNumbersPointsAndFactorsAreRefused)
{
    for (const char* text : {"1", "1,2,3", "a,b", "1,", ",1", "nan,1", "inf,0", "1 ,2", "0x10,2"})
        usage_message([&] { parse_offset(text); });
    EXPECT_EQ(parse_offset("-10.5,20"), std::make_pair(-10.5, 20.0));

    for (const char* text : {"1/0", "0/2", "2/1", "1/2,", "x", "1/2/3", "-1/2", "1/2,3/2", "1.5/2"})
        usage_message([&] { parse_downsample(text); });
    const auto [x, y] = parse_downsample("1/2,1/4");
    EXPECT_EQ(x.num, 1);
    EXPECT_EQ(x.den, 2u);
    EXPECT_EQ(y.den, 4u);
    EXPECT_EQ(parse_downsample("1/3").second.den, 3u);

    for (const char* text : {"", "1e999", "nan", " 3", "3x"})
        usage_message([&] { parse_number("--rotation", text); });
}

TEST(ToolOptions, JobsAndCompressionAreCheckedBeforeAnythingRuns)
{
    EXPECT_EQ(parse_jobs("4", 256), 4);
    EXPECT_EQ(parse_jobs("256", 256), 256);
    for (const char* text : {"0", "-1", "257", "x", "", "1.5", " 2"})
        EXPECT_NE(usage_message([&] { parse_jobs(text, 256); }).find("1 to 256"), std::string::npos) << text;

    EXPECT_EQ(check_compression("a.png", "6"), "6");
    EXPECT_EQ(check_compression("shot.####.PNG", "0"), "0");
    for (const char* text : {"10", "zip", "", "-1", "6 "})
        EXPECT_NE(usage_message([&] { check_compression("a.png", text); }).find("zlib level 0 to 9"), std::string::npos)
            << text;
    EXPECT_EQ(check_compression("a.exr", "ZIP"), "zip");
    for (const char* text : {"none", "rle", "zips", "piz", "pxr24", "dwab", "zip:9", "zips:1", "dwaa:45", "dwaa:2.5"})
        EXPECT_EQ(check_compression("a.exr", text), text);
    for (const char* text : {"zip:10", "piz:3", "dwaa:0", "dwaa:", "lzw", "b44x"})
        EXPECT_NE(usage_message([&] { check_compression("a.exr", text); }).find("not an OpenEXR compression"),
                  std::string::npos)
            << text;
    // B44 would silently leave the file uncompressed: it only packs half floats.
    EXPECT_NE(usage_message([&] { check_compression("a.exr", "b44a"); }).find("half-float"), std::string::npos);
    for (const char* text : {"none", "lzw", "zip", "zip:1", "packbits"})
        EXPECT_EQ(check_compression("a.tiff", text), text);
    for (const char* text : {"piz", "zip:0", "jpeg"})
        EXPECT_NE(usage_message([&] { check_compression("a.tif", text); }).find("not a TIFF compression"),
                  std::string::npos)
            << text;
    EXPECT_NE(usage_message([] { check_compression("a.pam", "none"); }).find("uncompressed"), std::string::npos);
    EXPECT_NE(usage_message([] { check_compression("a.jpg", "9"); }).find("PNG, OpenEXR and TIFF"), std::string::npos);
}

TEST(ToolOptions, CombinationsTheToolCannotHonourAreRefused)
{
    RenderOptions options;
    options.path = RenderPath::classic;
    options.depth = Depth::f32;
    EXPECT_NE(usage_message([&] { validate(options); }).find("classic"), std::string::npos);
    options.depth = Depth::u16;
    EXPECT_NO_THROW(validate(options));

    RenderOptions prescaled;
    prescaled.prescaled = true;
    EXPECT_NE(usage_message([&] { validate(prescaled); }).find("--downsample"), std::string::npos);
}

TEST(ToolOptions, OffsetDefaultsToTheLayerCentreAndScalesWithTheDownsample)
{
    RenderOptions options;
    EXPECT_EQ(effective_offset(options, 600, 400), std::make_pair(300.0, 200.0));
    EXPECT_EQ(effective_offset(options, 601, 401), std::make_pair(300.5, 200.5));
    options.downsample_x = Ratio{1, 2};
    options.downsample_y = Ratio{1, 4};
    // The point reaches the plug-in in downsampled pixels: 300 x 1/2, 200 x 1/4.
    EXPECT_EQ(effective_offset(options, 600, 400), std::make_pair(150.0, 50.0));
    options.offset = std::make_pair(100.0, -40.0);
    EXPECT_EQ(effective_offset(options, 600, 400), std::make_pair(50.0, -10.0));

    const FrameParams params = frame_params(options, 600, 400, 7);
    EXPECT_EQ(params.offset_x, 50 * 65536);
    EXPECT_EQ(params.offset_y, -10 * 65536);
    EXPECT_EQ(params.dot_size, 0x00200000);
    EXPECT_EQ(params.rotation, 0x002D0000);
    EXPECT_EQ(params.time, 7);
}

// ---- frame patterns ---------------------------------------------------------

TEST(ToolFrames, PatternsExpandWithTheirPadding)
{
    const auto hashes = parse_frame_pattern("dir/shot.####.png");
    ASSERT_TRUE(hashes);
    EXPECT_EQ(frame_path(*hashes, 7), "dir/shot.0007.png");
    EXPECT_EQ(frame_path(*hashes, 12345), "dir/shot.12345.png");
    const auto printf_style = parse_frame_pattern("shot.%04d.exr");
    ASSERT_TRUE(printf_style);
    EXPECT_EQ(frame_path(*printf_style, 42), "shot.0042.exr");
    EXPECT_EQ(frame_path(*parse_frame_pattern("f%d.png"), 3), "f3.png");

    EXPECT_FALSE(parse_frame_pattern("take#2/plain.png"));  // a '#' in a folder name is not a field
    EXPECT_FALSE(parse_frame_pattern("100%%.png"));
    usage_message([] { parse_frame_pattern("a.##.b.##.png"); });
    usage_message([] { parse_frame_pattern("a.%s.png"); });
}

TEST(ToolFrames, RangesAndDiscovery)
{
    EXPECT_EQ(parse_frame_range("1-3").count(), 3);
    EXPECT_EQ(parse_frame_range("5").first, 5);
    EXPECT_EQ(parse_frame_range("5").last, 5);
    for (const char* text : {"3-1", "a-b", "-1", "1-", ""})
        usage_message([&] { parse_frame_range(text); });

    TempDir dir;
    for (const char* name : {"s.0001.png", "s.0002.png", "s.0010.png", "s.01.png", "s.0003.jpg", "t.0004.png"})
        std::ofstream(dir.file(name)) << "x";
    EXPECT_EQ(find_frames(*parse_frame_pattern(dir.file("s.####.png"))), (std::vector<int>{1, 2, 10}));
}

TEST(ToolFrames, InAndOutMustBothBePatterns)
{
    RenderOptions options;
    options.input = "in.####.png";
    options.output = "out.png";
    usage_message([&] { plan_frames(options); });
    options.input = "in.png";
    options.output = "out.####.png";
    usage_message([&] { plan_frames(options); });
    options.output = "out.png";
    options.frames = FrameRange{1, 2};
    usage_message([&] { plan_frames(options); });

    options.input = "in.####.png";
    options.output = "out.%03d.tif";
    const std::vector<FrameJob> jobs = plan_frames(options);
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[1].input, "in.0002.png");
    EXPECT_EQ(jobs[1].output, "out.002.tif");
}

TEST(ToolFrames, ProgressAndSummaryText)
{
    const std::string line = format_progress(5, 10, 2.0, 80);
    EXPECT_NE(line.find("5/10 frames"), std::string::npos) << line;
    EXPECT_NE(line.find("2.5 fps"), std::string::npos) << line;
    EXPECT_NE(line.find("2 s left"), std::string::npos) << line;  // 5 frames at 2.5 per second
    EXPECT_LE(line.size(), 80u);
    EXPECT_EQ(format_summary(3, 1.5), "rendered 3 frames in 1.50 s (2.00 frames per second)");
    FrameTimes times;
    times.read = 0.1205;
    times.render = 0.0352;
    times += FrameTimes{0.0, 0.0, 0.0801};
    EXPECT_EQ(format_times(times, 24),
              "time spent: reading 120.5 ms, rendering 35.2 ms, writing 80.1 ms (sums over 24 frames)");
    EXPECT_EQ(format_times(FrameTimes{}, 1), "time spent: reading 0.0 ms, rendering 0.0 ms, writing 0.0 ms");
}

// ---- file mapping -----------------------------------------------------------

TEST(ToolFiles, SixteenBitValuesMapToTheHostsScale)
{
    EXPECT_EQ(file16_to_host16(0), 0);
    EXPECT_EQ(file16_to_host16(1), 1);          // 32768 / 65535 = 0.50001 rounds up
    EXPECT_EQ(file16_to_host16(32767), 16384);  // 16383.75
    EXPECT_EQ(file16_to_host16(65535), 32768);
    EXPECT_EQ(host16_to_file16(16384), 32768);  // 32767.5 rounds up
    EXPECT_EQ(host16_to_file16(32768), 65535);
    EXPECT_EQ(host16_to_file16(40000), 65535);  // beyond full scale is clamped
    for (int c = 0; c <= 32768; ++c)
        ASSERT_EQ(file16_to_host16(host16_to_file16(std::uint16_t(c))), c) << c;
}

TEST(ToolFiles, ReadingKeepsStraightAlphaAndFillsMissingChannels)
{
    TempDir dir;
    // Colour under zero alpha must survive: a premultiplying reader would zero it.
    write_picture(dir.file("rgba.png"), 2, 1, 4, TypeDesc::UINT8,
                  [](int x, int, int c) { return c == 3 ? (x == 0 ? 0.0f : 1.0f) : 200.0f / 255.0f; });
    FileInfo info;
    host::World rgba = read_image(dir.file("rgba.png"), std::nullopt, &info);
    EXPECT_EQ(info.depth, Depth::u8);
    EXPECT_TRUE(info.has_alpha);
    EXPECT_EQ(rgba.pixel8(0, 0).red, 200);
    EXPECT_EQ(rgba.pixel8(0, 0).alpha, 0);
    EXPECT_EQ(rgba.pixel8(1, 0).alpha, 255);

    write_picture(dir.file("grey_alpha.png"), 1, 1, 2, TypeDesc::UINT8,
                  [](int, int, int c) { return c == 0 ? 64.0f / 255.0f : 128.0f / 255.0f; });
    const PF_Pixel8 grey = read_image(dir.file("grey_alpha.png"), std::nullopt).pixel8(0, 0);
    EXPECT_EQ(grey.red, 64);
    EXPECT_EQ(grey.green, 64);
    EXPECT_EQ(grey.blue, 64);
    EXPECT_EQ(grey.alpha, 128);

    write_picture(dir.file("rgb16.png"), 1, 1, 3, TypeDesc::UINT16, [](int, int, int c) {
        return float(c == 0 ? 65535 : c == 1 ? 32767 : 1) / 65535.0f;
    });
    const PF_Pixel16 deep = read_image(dir.file("rgb16.png"), std::nullopt, &info).pixel16(0, 0);
    EXPECT_EQ(info.depth, Depth::u16);
    EXPECT_EQ(deep.red, 32768);
    EXPECT_EQ(deep.green, 16384);
    EXPECT_EQ(deep.blue, 1);
    EXPECT_EQ(deep.alpha, 32768);  // no alpha in the file: opaque

    write_picture(dir.file("float.exr"), 1, 1, 4, TypeDesc::FLOAT, [](int, int, int c) {
        return c == 0 ? 1.5f : c == 1 ? -0.25f : 0.5f;
    });
    const PF_PixelFloat wide = read_image(dir.file("float.exr"), std::nullopt, &info).pixel32(0, 0);
    EXPECT_EQ(info.depth, Depth::f32);
    EXPECT_EQ(wide.red, 1.5f);  // float passes unchanged, out-of-range values too
    EXPECT_EQ(wide.green, -0.25f);
    EXPECT_EQ(wide.alpha, 0.5f);

    // Asking for another depth converts through the full scales: 200 / 255 x 32768.
    EXPECT_EQ(read_image(dir.file("rgba.png"), Depth::u16).pixel16(0, 0).red, 25700);

    try {
        read_image(dir.file("missing.png"), std::nullopt);
        ADD_FAILURE() << "reading a missing file succeeded";
    } catch (const ToolError& error) {
        EXPECT_EQ(error.status(), kExitFailure);
        EXPECT_NE(std::string(error.what()).find("cannot read"), std::string::npos);
    }
}

TEST(ToolFiles, OutputLayoutPerFormat)
{
    struct Case {
        const char* name;
        Depth render;
        Depth written;
        int channels;
    };
    for (const Case& c : {Case{"a.png", Depth::u8, Depth::u8, 4}, Case{"a.png", Depth::u16, Depth::u16, 4},
                          Case{"a.png", Depth::f32, Depth::u16, 4}, Case{"a.tif", Depth::f32, Depth::f32, 4},
                          Case{"a.tiff", Depth::u16, Depth::u16, 4}, Case{"a.exr", Depth::u8, Depth::f32, 4},
                          Case{"a.jpg", Depth::f32, Depth::u8, 3}}) {
        const OutputLayout layout = output_layout(c.name, c.render);
        EXPECT_EQ(layout.depth, c.written) << c.name;
        EXPECT_EQ(layout.channels, c.channels) << c.name;
    }
    EXPECT_THROW(output_layout("a.unknownext", Depth::u8), ToolError);
}

TEST(ToolFiles, WritingLeavesNoTemporaryFileBehind)
{
    TempDir dir;
    host::World world(Depth::u16, 3, 2);
    world.fill(PF_Pixel16{16384, 32768, 0, 1});
    write_image(dir.file("out.png"), world);
    EXPECT_EQ(dir.entries(), (std::set<std::string>{"out.png"}));
    OIIO::ImageSpec layout;
    const auto data = read_raw<std::uint16_t>(dir.file("out.png"), TypeDesc::UINT16, &layout);
    EXPECT_EQ(layout.format, TypeDesc::UINT16);
    ASSERT_EQ(data.size(), 24u);
    EXPECT_EQ(data[0], 65535);  // red 32768
    EXPECT_EQ(data[2], 2);      // blue 1 -> round(65535 / 32768)
    EXPECT_EQ(data[3], 32768);  // alpha 16384 -> round(32767.5)

    // A target that cannot be replaced (a folder of that name): the write
    // fails after the temporary file was made, and that file goes again.
    fs::create_directory(dir.file("taken.png"));
    EXPECT_THROW(write_image(dir.file("taken.png"), world), ToolError);
    EXPECT_THROW(write_image(dir.file("no/such/folder.png"), world), ToolError);
    EXPECT_EQ(dir.entries(), (std::set<std::string>{"out.png", "taken.png"}));
}

// ---- downsampling -----------------------------------------------------------

TEST(ToolDownsample, AreaAverageOfWholeAndPartialPixels)
{
    host::World source(Depth::u8, 4, 2);
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 2; ++y)
            source.pixel8(x, y) = PF_Pixel8{255, std::uint8_t(10 * x + 100 * y), 0, 0};
    const host::World half = downsample_area(source, Ratio{1, 2}, Ratio{1, 2});
    ASSERT_EQ(half.width(), 2);
    ASSERT_EQ(half.height(), 1);
    EXPECT_EQ(half.pixel8(0, 0).red, 55);  // (0 + 10 + 100 + 110) / 4
    EXPECT_EQ(half.pixel8(1, 0).red, 75);  // (20 + 30 + 120 + 130) / 4

    // Three columns at 1/2: the second output pixel covers only the last column.
    host::World odd(Depth::u8, 3, 1);
    odd.fill(PF_Pixel8{255, 0, 0, 0});
    odd.pixel8(2, 0).red = 90;
    EXPECT_EQ(downsample_area(odd, Ratio{1, 2}, Ratio{1, 1}).width(), 2);
    EXPECT_EQ(downsample_area(odd, Ratio{1, 2}, Ratio{1, 1}).pixel8(1, 0).red, 90);

    // At 2/3 the first output pixel spans 1.5 source pixels: (0 + 0.5 x 90) / 1.5 = 30.
    host::World third(Depth::u8, 3, 1);
    third.fill(PF_Pixel8{255, 0, 0, 0});
    third.pixel8(1, 0).red = 90;
    const host::World two = downsample_area(third, Ratio{2, 3}, Ratio{1, 1});
    ASSERT_EQ(two.width(), 2);
    EXPECT_EQ(two.pixel8(0, 0).red, 30);
    EXPECT_EQ(two.pixel8(1, 0).red, 30);
}

TEST(ToolDownsample, TransparentColourDoesNotBleed)
{
    host::World source(Depth::u16, 2, 1);
    source.pixel16(0, 0) = PF_Pixel16{32768, 32768, 0, 0};  // opaque red
    source.pixel16(1, 0) = PF_Pixel16{0, 0, 0, 32768};      // transparent blue
    const PF_Pixel16 p = downsample_area(source, Ratio{1, 2}, Ratio{1, 1}).pixel16(0, 0);
    EXPECT_EQ(p.alpha, 16384);
    EXPECT_EQ(p.red, 32768);
    EXPECT_EQ(p.blue, 0);

    host::World clear(Depth::f32, 2, 1);
    clear.pixel32(0, 0) = PF_PixelFloat{0.0f, 0.2f, 0.0f, 0.0f};
    clear.pixel32(1, 0) = PF_PixelFloat{0.0f, 0.4f, 0.0f, 0.0f};
    // All transparent: the plain average, so colour is not lost either.
    EXPECT_FLOAT_EQ(downsample_area(clear, Ratio{1, 2}, Ratio{1, 1}).pixel32(0, 0).red, 0.3f);
}

// ---- the executable ---------------------------------------------------------

TEST(ToolRun, BadOptionsExitWithStatus2AndOneLine)
{
    TempDir dir;
    write_picture(dir.file("in.png"), 8, 6, 4, TypeDesc::UINT8, [](int x, int y, int) { return test_alpha(x, y); });
    struct Case {
        std::vector<std::string> extra;
        const char* message;
    };
    for (const Case& c :
         {Case{{"--shape", "hexagon"}, "circle, square or line"}, Case{{"--dot-size", "0.5"}, "1.0 to 1000.0"},
          Case{{"--offset", "3"}, "X,Y"}, Case{{"--downsample", "1/0"}, "N/D"},
          Case{{"--path", "classic", "--depth", "32"}, "classic render only carries 8 and 16 bits"},
          Case{{"--rotation", "40000"}, "16.16"}, Case{{"--no-such-option"}, "no-such-option"}}) {
        std::vector<std::string> args{"render", dir.file("in.png"), dir.file("out.png"), "--plugin",
                                      RUVIVEDU_PLUGIN_MODULE};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const RunResult run = run_tool(args);
        EXPECT_EQ(run.status, kExitUsage) << c.message;
        EXPECT_EQ(run.err.rfind("ruvivedu: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    EXPECT_EQ(dir.entries(), (std::set<std::string>{"in.png"}));
}

struct RoundTrip {
    const char* label;
    const char* in_name;
    TypeDesc in_type;
    int in_channels;
    const char* out_name;
    std::vector<std::string> extra;
    TypeDesc out_type;
    int out_channels;
};

class ToolRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

/// Renders a synthetic picture with default parameters and checks size,
/// channels and depth of the result, and that with Alpha off the output
/// keeps the input's alpha.
TEST_P(ToolRoundTrip, RendersWithTheFilesLayoutAndKeepsAlpha)
{
    const RoundTrip& c = GetParam();
    TempDir dir;
    const int width = 40, height = 24;
    write_picture(dir.file(c.in_name), width, height, c.in_channels, c.in_type, [&](int x, int y, int ch) {
        return ch == 3 ? test_alpha(x, y) : float((x * 7 + y * 13 + ch * 50) % 256) / 255.0f;
    });
    std::vector<std::string> args{"render", dir.file(c.in_name), dir.file(c.out_name), "--plugin",
                                  RUVIVEDU_PLUGIN_MODULE};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const RunResult run = run_tool(args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(dir.entries(), (std::set<std::string>{c.in_name, c.out_name}));

    OIIO::ImageSpec layout;
    const std::vector<float> out = read_raw<float>(dir.file(c.out_name), TypeDesc::FLOAT, &layout);
    EXPECT_EQ(layout.width, width);
    EXPECT_EQ(layout.height, height);
    EXPECT_EQ(layout.nchannels, c.out_channels);
    EXPECT_EQ(layout.format, c.out_type);
    if (c.out_channels != 4 || c.in_channels != 4)
        return;
    OIIO::ImageSpec in_spec;
    const std::vector<float> in = read_raw<float>(dir.file(c.in_name), TypeDesc::FLOAT, &in_spec);
    ASSERT_EQ(in.size(), out.size());
    // Alpha travels file -> host -> file; compare it in the output's own
    // codes. 16-bit files change scale twice (65535 -> 32768 -> 65535), so
    // predict that; every other route keeps the value at the input's precision.
    auto scale_of = [](TypeDesc type) {
        return type == TypeDesc::UINT8 ? 255.0 : type == TypeDesc::UINT16 ? 65535.0 : 0.0;
    };
    const double in_scale = scale_of(c.in_type), out_scale = scale_of(c.out_type);
    int mismatches = 0;
    for (std::size_t i = 3; i < in.size(); i += 4) {
        bool same;
        if (out_scale == 0.0) {
            same = std::fabs(out[i] - in[i]) <= 1e-6f;
        } else {
            long expected = std::lround(double(in[i]) * out_scale);
            if (in_scale == 65535.0 && out_scale == 65535.0)
                expected = host16_to_file16(file16_to_host16(std::uint16_t(std::lround(in[i] * 65535.0))));
            same = std::lround(double(out[i]) * out_scale) == expected;
        }
        if (!same && mismatches++ < 3)
            ADD_FAILURE() << "alpha of pixel " << i / 4 << ": " << out[i] << " from " << in[i];
    }
    EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(
    PerFormatAndDepth, ToolRoundTrip,
    ::testing::Values(
        RoundTrip{"png8", "in.png", TypeDesc::UINT8, 4, "out.png", {}, TypeDesc::UINT8, 4},
        RoundTrip{"png16", "in.png", TypeDesc::UINT16, 4, "out.png", {}, TypeDesc::UINT16, 4},
        RoundTrip{"png8_classic", "in.png", TypeDesc::UINT8, 4, "out.png", {"--path", "classic"}, TypeDesc::UINT8, 4},
        RoundTrip{
            "png16_classic", "in.png", TypeDesc::UINT16, 4, "out.png", {"--path", "classic"}, TypeDesc::UINT16, 4},
        RoundTrip{"png8_rgb", "in.png", TypeDesc::UINT8, 3, "out.png", {}, TypeDesc::UINT8, 4},
        RoundTrip{"tif8", "in.tif", TypeDesc::UINT8, 4, "out.tif", {}, TypeDesc::UINT8, 4},
        RoundTrip{"tif16", "in.tif", TypeDesc::UINT16, 4, "out.tif", {}, TypeDesc::UINT16, 4},
        RoundTrip{"tif_float", "in.tif", TypeDesc::FLOAT, 4, "out.tif", {}, TypeDesc::FLOAT, 4},
        RoundTrip{"exr_float", "in.exr", TypeDesc::FLOAT, 4, "out.exr", {}, TypeDesc::FLOAT, 4},
        RoundTrip{"png8_to_tif_float", "in.png", TypeDesc::UINT8, 4, "out.tif", {"--depth", "32"}, TypeDesc::FLOAT, 4},
        RoundTrip{"exr_to_png16", "in.exr", TypeDesc::FLOAT, 4, "out.png", {}, TypeDesc::UINT16, 4},
        RoundTrip{"jpg", "in.jpg", TypeDesc::UINT8, 3, "out.jpg", {}, TypeDesc::UINT8, 3},
        RoundTrip{"png16_to_jpg", "in.png", TypeDesc::UINT16, 4, "out.jpg", {}, TypeDesc::UINT8, 3}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) { return std::string(info.param.label); });

TEST(ToolRun, DownsampleReducesTheLayerUnlessPrescaled)
{
    TempDir dir;
    write_picture(dir.file("in.png"), 64, 48, 4, TypeDesc::UINT8, [](int x, int y, int) { return test_alpha(x, y); });
    struct Case {
        std::vector<std::string> extra;
        int width, height;
    };
    for (const Case& c : {Case{{"--downsample", "1/2"}, 32, 24}, Case{{"--downsample", "1/2,1/4"}, 32, 12},
                          Case{{"--downsample", "1/3"}, 22, 16},  // ceil(64 / 3)
                          Case{{"--downsample", "1/2", "--prescaled"}, 64, 48}}) {
        std::vector<std::string> args{"render", dir.file("in.png"), dir.file("out.png"), "--plugin",
                                      RUVIVEDU_PLUGIN_MODULE};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const RunResult run = run_tool(args);
        ASSERT_EQ(run.status, 0) << run.err;
        OIIO::ImageSpec layout;
        read_raw<float>(dir.file("out.png"), TypeDesc::FLOAT, &layout);
        EXPECT_EQ(layout.width, c.width) << c.extra[1];
        EXPECT_EQ(layout.height, c.height) << c.extra[1];
    }
}

TEST(ToolOptions, RegionsAreWholeNonEmptyRectangles)
{
    for (const char* text : {"", "1,2,3", "1,2,3,4,5", "a,0,1,1", "0,0,0,5", "0,0,5,-1", "1.5,0,2,2", "0,-,1,1",
                             "2147483647,0,1,1", "0,0,99999999999,1"})
        usage_message([&] { parse_region(text); });
    const Region r = parse_region("-5,7,30,2");
    EXPECT_EQ(r.x, -5);
    EXPECT_EQ(r.y, 7);
    EXPECT_EQ(r.width, 30);
    EXPECT_EQ(r.height, 2);
}

// A region renders as that part of the whole layer's render, on both paths, at every depth; a
// region reaching off the layer gives the part within it, one wholly outside is refused.
TEST(ToolRun, RegionIsTheCropOfTheWholeRender)
{
    TempDir dir;
    write_picture(dir.file("in.png"), 90, 70, 4, TypeDesc::UINT8, [](int x, int y, int c) {
        return c == 3 ? test_alpha(x, y) : float((x * 7 + y * 3 + c * 50) % 256) / 255.0f;
    });
    for (const char* depth : {"8", "16", "32"}) {
        for (const char* path : {"smart", "classic"}) {
            if (std::string(depth) == "32" && std::string(path) == "classic")
                continue;
            SCOPED_TRACE(std::string(depth) + " " + path);
            auto render = [&](const std::string& out, std::vector<std::string> extra) {
                std::vector<std::string> args{"render",
                                              dir.file("in.png"),
                                              dir.file(out),
                                              "--plugin",
                                              RUVIVEDU_PLUGIN_MODULE,
                                              "--depth",
                                              depth,
                                              "--path",
                                              path,
                                              "--dot-size",
                                              "6.5",
                                              "--rotation",
                                              "20",
                                              "--downsample",
                                              "2/3"};
                args.insert(args.end(), extra.begin(), extra.end());
                return run_tool(args);
            };
            RunResult run = render("whole.exr", {});
            ASSERT_EQ(run.status, 0) << run.err;
            run = render("part.exr", {"--region", "-4,10,25,30"});
            ASSERT_EQ(run.status, 0) << run.err;
            OIIO::ImageSpec whole_layout, part_layout;
            const std::vector<float> whole = read_raw<float>(dir.file("whole.exr"), TypeDesc::FLOAT, &whole_layout);
            const std::vector<float> part = read_raw<float>(dir.file("part.exr"), TypeDesc::FLOAT, &part_layout);
            ASSERT_EQ(part_layout.width, 21);  // columns 0 to 20 of the layer
            ASSERT_EQ(part_layout.height, 30);
            const int channels = whole_layout.nchannels;
            for (int y = 0; y < part_layout.height; ++y)
                for (int x = 0; x < part_layout.width; ++x)
                    for (int c = 0; c < channels; ++c)
                        ASSERT_EQ(part[(y * part_layout.width + x) * channels + c],
                                  whole[((y + 10) * whole_layout.width + x) * channels + c])
                            << "pixel " << x << "," << y;
            run = render("none.exr", {"--region", "60,0,5,5"});  // the reduced layer is 60 x 47
            EXPECT_EQ(run.status, 2);
            EXPECT_NE(run.err.find("lies outside the 60 x 47 layer"), std::string::npos) << run.err;
        }
    }
}

/// The compression a file was written with, as OpenImageIO reads it back.
std::string compression_of(const std::string& path)
{
    OIIO::ImageSpec layout;
    read_raw<float>(path, TypeDesc::FLOAT, &layout);
    return layout.get_string_attribute("compression");
}

TEST(ToolRun, CompressionReachesTheWritersAndTimingsAreTold)
{
    TempDir dir;
    write_picture(dir.file("in.png"), 96, 64, 4, TypeDesc::UINT8,
                  [](int x, int y, int c) { return c == 3 ? test_alpha(x, y) : float((x ^ y) % 256) / 255.0f; });
    auto render = [&](const std::string& out, const std::vector<std::string>& extra) {
        std::vector<std::string> args{"render", dir.file("in.png"), dir.file(out), "--plugin", RUVIVEDU_PLUGIN_MODULE};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult run = run_tool(args);
        EXPECT_EQ(run.status, 0) << out << ": " << run.err;
    };
    render("stored.png", {"--compression", "0"});
    render("packed.png", {"--compression", "9"});
    render("default.png", {});
    render("level.png", {"--compression", std::to_string(kPngDefaultLevel)});
    EXPECT_GT(fs::file_size(dir.file("stored.png")), 96u * 64u * 4u) << "level 0 stores the rows as they are";
    EXPECT_LT(fs::file_size(dir.file("packed.png")), fs::file_size(dir.file("stored.png")) / 4);
    EXPECT_EQ(slurp(dir.file("default.png")), slurp(dir.file("level.png")));
    OIIO::ImageSpec a, b;
    EXPECT_EQ(read_raw<std::uint8_t>(dir.file("stored.png"), TypeDesc::UINT8, &a),
              read_raw<std::uint8_t>(dir.file("packed.png"), TypeDesc::UINT8, &b));

    for (const char* method : {"none", "piz", "dwaa"}) {
        render(std::string(method) + ".exr", {"--compression", method});
        EXPECT_EQ(compression_of(dir.file(std::string(method) + ".exr")), method);
    }
    render("default.exr", {});
    EXPECT_EQ(compression_of(dir.file("default.exr")), "zip");
    render("lzw.tif", {"--compression", "LZW"});
    EXPECT_EQ(compression_of(dir.file("lzw.tif")), "lzw");
    render("default.tif", {});
    EXPECT_EQ(compression_of(dir.file("default.tif")), "zip");

    // A refused setting stops the run before anything is read or written.
    const RunResult bad = run_tool({"render", dir.file("missing.png"), dir.file("bad.png"), "--compression", "12",
                                    "--plugin", RUVIVEDU_PLUGIN_MODULE});
    EXPECT_EQ(bad.status, kExitUsage);
    EXPECT_NE(bad.err.find("zlib level 0 to 9"), std::string::npos) << bad.err;
    EXPECT_FALSE(fs::exists(dir.file("bad.png")));

    // --timings adds one line after the frame.
    const RunResult timed = run_tool(
        {"render", dir.file("in.png"), dir.file("timed.png"), "--timings", "--plugin", RUVIVEDU_PLUGIN_MODULE});
    EXPECT_EQ(timed.status, 0);
    EXPECT_EQ(timed.err.rfind("ruvivedu: time spent: reading ", 0), 0u) << timed.err;
    EXPECT_NE(timed.err.find(" ms, rendering "), std::string::npos) << timed.err;
    EXPECT_EQ(std::count(timed.err.begin(), timed.err.end(), '\n'), 1) << timed.err;

    std::string help;
    ASSERT_EQ(run_tool({"render", "--help"}, "", &help).status, 0);
    EXPECT_NE(help.find("default " + std::to_string(kPngDefaultLevel) + " (fast"), std::string::npos) << help;
}

TEST(ToolRun, OutputsRecordTheInputsDateNotTheTimeOfWriting)
{
    TempDir dir;
    std::vector<std::uint8_t> pixels(32 * 24 * 4, 128);
    OIIO::ImageSpec layout(32, 24, 4, TypeDesc::UINT8);
    layout.attribute("DateTime", "2001:02:03 04:05:06");
    auto out = OIIO::ImageOutput::create(dir.file("dated.png"));
    ASSERT_TRUE(out && out->open(dir.file("dated.png"), layout) && out->write_image(TypeDesc::UINT8, pixels.data()) &&
                out->close());
    write_picture(dir.file("undated.png"), 32, 24, 4, TypeDesc::UINT8, [](int, int, int) { return 0.5f; });
    for (const char* extension : {".exr", ".tif", ".png"}) {
        for (const char* input : {"dated", "undated"}) {
            const std::string target = dir.file(std::string(input) + extension);
            ASSERT_EQ(
                run_tool({"render", dir.file(std::string(input) + ".png"), target, "--plugin", RUVIVEDU_PLUGIN_MODULE})
                    .status,
                0);
            OIIO::ImageSpec written;
            read_raw<float>(target, TypeDesc::FLOAT, &written);
            EXPECT_EQ(written.get_string_attribute("DateTime"),
                      std::string(input) == "dated" ? "2001:02:03 04:05:06" : "")
                << target;
        }
    }
}

TEST(ToolRun, ThreeFrameSequence)
{
    TempDir dir;
    for (int frame = 1; frame <= 3; ++frame)
        write_picture(dir.file("in." + std::string("000") + std::to_string(frame) + ".png"), 16, 12, 4, TypeDesc::UINT8,
                      [&](int x, int y, int c) { return c == 3 ? 1.0f : float((x + y * frame) % 16) / 15.0f; });
    const RunResult run = run_tool({"render", dir.file("in.####.png"), dir.file("out.%04d.tif"), "--frames", "1-3",
                                    "--plugin", RUVIVEDU_PLUGIN_MODULE});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("rendered 3 frames in"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("frames per second"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find('\r'), std::string::npos) << "no progress bar off a terminal";
    for (int frame = 1; frame <= 3; ++frame)
        EXPECT_TRUE(fs::exists(dir.file("out.000" + std::to_string(frame) + ".tif"))) << frame;

    // Without --frames every input frame found is rendered; a range that
    // reaches a missing frame stops there with the frames before it written.
    const RunResult found =
        run_tool({"render", dir.file("in.####.png"), dir.file("again.####.png"), "--plugin", RUVIVEDU_PLUGIN_MODULE});
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_NE(found.err.find("rendered 3 frames"), std::string::npos) << found.err;
    const RunResult missing = run_tool({"render", dir.file("in.####.png"), dir.file("more.####.png"), "--frames", "2-4",
                                        "--plugin", RUVIVEDU_PLUGIN_MODULE});
    EXPECT_EQ(missing.status, kExitFailure);
    EXPECT_NE(missing.err.find("in.0004.png"), std::string::npos) << missing.err;
    EXPECT_TRUE(fs::exists(dir.file("more.0003.png")));
    EXPECT_FALSE(fs::exists(dir.file("more.0004.png")));
}

TEST(ToolRun, FailedRenderNamesTheErrorAndLeavesNoFile)
{
    TempDir dir;
    write_picture(dir.file("in.png"), 8, 6, 4, TypeDesc::UINT8, [](int x, int y, int) { return test_alpha(x, y); });
    for (const char* path : {"smart", "classic"}) {
        const RunResult run = run_tool(
            {"render", dir.file("in.png"), dir.file("out.png"), "--path", path, "--plugin", RUVIVEDU_FAILING_MODULE});
        EXPECT_EQ(run.status, kExitFailure) << path;
        EXPECT_NE(run.err.find("plug-in error 4 (out of memory)"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("[Fixture] no memory for this frame"), std::string::npos) << run.err;
        EXPECT_EQ(dir.entries(), (std::set<std::string>{"in.png"})) << path;
    }

    // An existing output stays as it was.
    std::ofstream(dir.file("kept.png")) << "previous contents";
    EXPECT_EQ(
        run_tool({"render", dir.file("in.png"), dir.file("kept.png"), "--plugin", RUVIVEDU_FAILING_MODULE}).status,
        kExitFailure);
    EXPECT_EQ(slurp(dir.file("kept.png")), "previous contents");

    const RunResult named =
        run_tool({"render", dir.file("in.png"), dir.file("out.png"), "--plugin", RUVIVEDU_FAILING_MODULE},
                 "RUVIVEDU_FAILING_CODE=516");
    EXPECT_NE(named.err.find("plug-in error 516 (bad callback parameter)"), std::string::npos) << named.err;
    const RunResult unnamed =
        run_tool({"render", dir.file("in.png"), dir.file("out.png"), "--plugin", RUVIVEDU_FAILING_MODULE},
                 "RUVIVEDU_FAILING_CODE=1234");
    EXPECT_NE(unnamed.err.find("plug-in error 1234: [Fixture]"), std::string::npos) << unnamed.err;
    EXPECT_EQ(dir.entries(), (std::set<std::string>{"in.png", "kept.png"}));
}

TEST(ToolRun, MessageWithSuccessIsShownAsAWarning)
{
    TempDir dir;
    write_picture(dir.file("in.png"), 8, 6, 4, TypeDesc::UINT8, [](int x, int y, int) { return test_alpha(x, y); });
    const RunResult run =
        run_tool({"render", dir.file("in.png"), dir.file("out.png"), "--plugin", RUVIVEDU_FAILING_MODULE},
                 "RUVIVEDU_FAILING_CODE=0");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "ruvivedu: warning: the plug-in says: [Fixture] no memory for this frame\n");
    EXPECT_TRUE(fs::exists(dir.file("out.png")));
}

TEST(ToolRun, UnreadableInputsAndModulesFailCleanly)
{
    TempDir dir;
    write_picture(dir.file("in.png"), 8, 6, 4, TypeDesc::UINT8, [](int x, int y, int) { return test_alpha(x, y); });
    std::ofstream(dir.file("junk.png")) << "not a picture";
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    for (const Case& c :
         {Case{{"render", dir.file("missing.png"), dir.file("out.png"), "--plugin", RUVIVEDU_PLUGIN_MODULE},
               "cannot read"},
          Case{{"render", dir.file("junk.png"), dir.file("out.png"), "--plugin", RUVIVEDU_PLUGIN_MODULE},
               "cannot read"},
          Case{{"render", dir.file("in.png"), dir.file("nowhere/out.png"), "--plugin", RUVIVEDU_PLUGIN_MODULE},
               "cannot write"},
          Case{{"render", dir.file("in.png"), dir.file("out.png"), "--plugin", dir.file("none.so")}, "does not exist"},
          Case{{"render", dir.file("in.png"), dir.file("out.png"), "--plugin", dir.file("junk.png")},
               "cannot load plug-in module"},
          Case{{"info", "--plugin", dir.file("junk.png")}, "cannot load plug-in module"}}) {
        const RunResult run = run_tool(c.args);
        EXPECT_EQ(run.status, kExitFailure) << c.message;
        EXPECT_EQ(run.err.rfind("ruvivedu: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    EXPECT_EQ(dir.entries(), (std::set<std::string>{"in.png", "junk.png"}));
}

// ---- info -------------------------------------------------------------------

TEST(ToolInfo, ReportsWhatTheHostSees)
{
    const PluginInfo info = collect_plugin_info(RUVIVEDU_PLUGIN_MODULE);
    EXPECT_EQ(info.registration.name, "k's Ruvivedu");
    EXPECT_EQ(info.registration.entry_name, "EffectMain");
    EXPECT_EQ(four_char_text(std::uint32_t(info.registration.kind)), "eFKT");
    EXPECT_EQ(describe_version(info.my_version), "1.5.2 release build 0");
    EXPECT_EQ(out_flag_names(info.out_flags),
              (std::vector<std::string>{"USE_OUTPUT_EXTENT", "PIX_INDEPENDENT", "DEEP_COLOR_AWARE"}));
    EXPECT_EQ(out_flag2_names(info.out_flags2),
              (std::vector<std::string>{"SUPPORTS_SMART_RENDER", "FLOAT_COLOR_AWARE", "SUPPORTS_THREADED_RENDERING"}));
    ASSERT_EQ(info.params.size(), 6u);
    EXPECT_EQ(info.params[1].name, "DotSize");
    EXPECT_EQ(info.params[0].popup_choices, "Circle|Square|Line");
    EXPECT_EQ(info.params[4].checkbox_label, "ON");
    ASSERT_TRUE(info.pipl.found);
    EXPECT_TRUE(info.pipl.problem.empty()) << info.pipl.problem;
    EXPECT_EQ(info.pipl.properties.size(), std::size_t(info.pipl.count));
    EXPECT_EQ(info.pipl.properties.at(0).key, "kind");

    std::string out;
    const RunResult run = run_tool({"info", "--json", "--plugin", RUVIVEDU_PLUGIN_MODULE}, "", &out);
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* expected : {"\"name\": \"k's Ruvivedu\"", "\"out_flags\": 33555520", "\"DEEP_COLOR_AWARE\"",
                                 "\"choices\": [\"Circle\", \"Square\", \"Line\"]", "\"valid_max\": 1000.0",
                                 "\"label\": \"ON\"", "\"found\": true", "\"key\": \"eGL2\""})
        EXPECT_NE(out.find(expected), std::string::npos) << expected;
}

TEST(ToolInfo, FlagDecodingAndPiplWalking)
{
    EXPECT_EQ(out_flag2_names(0x200), (std::vector<std::string>{"bit 9"}));  // a bit with no name
    EXPECT_EQ(out_flag_names(PF_OutFlag_AUDIO_EFFECT_ONLY), (std::vector<std::string>{"AUDIO_EFFECT_ONLY"}));

    TempDir dir;
    // Header (version 1, count 1) and one 'kind' property whose length runs past the end.
    const unsigned char truncated[] = {1,   0,   0,   0, 0, 0, 1, 0, 0, 0, 'M', 'I', 'B', '8', 'd',
                                       'n', 'i', 'k', 0, 0, 0, 0, 8, 0, 0, 0,   'T', 'K', 'F', 'e'};
    std::ofstream(dir.file("bad.pipl"), std::ios::binary)
        .write(reinterpret_cast<const char*>(truncated), sizeof truncated);
    const PiplInfo bad = read_pipl(dir.file("bad.pipl"));
    EXPECT_TRUE(bad.found);
    EXPECT_NE(bad.problem.find("'kind'"), std::string::npos) << bad.problem;
    EXPECT_FALSE(read_pipl(dir.file("none.pipl")).found);

    // The stand-in module ships no PiPL: the report says so.
    const std::string text = format_info_text(collect_plugin_info(RUVIVEDU_FAILING_MODULE));
    EXPECT_NE(text.find("not found"), std::string::npos) << text;
}

}  // namespace
