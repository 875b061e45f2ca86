// What fuzzing the tool's own readers found (fuzz/*_fuzz.cpp), each case as
// the fuzzer met it or as it led to: the PAM and TIFF codecs and the pixel
// mapping behind them, and the `info` report of what a module hands back.
#include "image_file.h"
#include "picture_codecs.h"
#include "plugin_info.h"
#include "tool_error.h"

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace ruvivedu;
using namespace std::string_literals;
using tool::Depth;

std::string scratch_file(const std::string& name)
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return (std::filesystem::temp_directory_path() / ("ruvivedu_findings_" + std::string(info->name()) + "_" + name))
        .string();
}

// A PAM whose tuple type names alpha over one channel made the tool take
// that channel as alpha and the grey from the channel after it: the next
// pixel's, and past the end of the picture for the last one (a heap read
// out of bounds). Alpha is now the channel after the colours, as the
// channel count says; over three channels the blue stays blue.
TEST(FuzzFindings, APamTupleTypeNamingAlphaWithoutItsChannelIsColour)
{
    const std::string grey = scratch_file("grey.pam");
    std::ofstream(grey, std::ios::binary)
        << "P7\nWIDTH 3\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nTUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n\x0A\x14\x1E"s;
    const host::World g = tool::read_image(grey, Depth::u8);
    for (A_long x = 0; x < 3; ++x) {
        EXPECT_EQ(g.pixel8(x, 0).red, 10 * (x + 1));
        EXPECT_EQ(g.pixel8(x, 0).blue, 10 * (x + 1));
        EXPECT_EQ(g.pixel8(x, 0).alpha, 255);
    }
    std::filesystem::remove(grey);

    const std::string rgb = scratch_file("rgb.pam");
    std::ofstream(rgb, std::ios::binary)
        << "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n\x10\x20\x30"s;
    const PF_Pixel8 p = tool::read_image(rgb, Depth::u8).pixel8(0, 0);
    EXPECT_EQ(p.blue, 0x30);
    EXPECT_EQ(p.alpha, 255);
    std::filesystem::remove(rgb);
}

// The same through OpenImageIO: an OpenEXR file of one channel named A is a
// picture whose only channel is alpha, and the grey was read from the
// channel after it. The lone channel is now its own grey.
TEST(FuzzFindings, AMatteOfOneAlphaChannelIsReadInsideItsPixels)
{
    const std::string path = scratch_file("matte.exr");
    const float values[] = {0.25f, 0.5f, 0.75f, 1.0f};
    {
        OIIO::ImageSpec layout(4, 1, 1, OIIO::TypeDesc::FLOAT);
        layout.channelnames = {"A"};
        layout.alpha_channel = 0;
        auto out = OIIO::ImageOutput::create(path);
        ASSERT_TRUE(out && out->open(path, layout) && out->write_image(OIIO::TypeDesc::FLOAT, values) && out->close());
    }
    tool::FileInfo info;
    const host::World matte = tool::read_image(path, Depth::f32, &info);
    ASSERT_TRUE(info.has_alpha) << "OpenImageIO no longer calls the channel alpha: the case is not reached";
    for (A_long x = 0; x < 4; ++x) {
        EXPECT_EQ(matte.pixel32(x, 0).red, values[x]);
        EXPECT_EQ(matte.pixel32(x, 0).alpha, values[x]);
    }
    std::filesystem::remove(path);
}

/// Sets the first value of a SHORT tag in a little-endian TIFF that holds it
/// in its entry, as write_tiff writes them.
void set_short_tag(std::vector<std::uint8_t>& tiff, std::uint16_t tag, std::uint16_t value)
{
    const std::size_t ifd = tiff[4] | tiff[5] << 8 | tiff[6] << 16 | std::size_t(tiff[7]) << 24;
    const std::size_t entries = tiff[ifd] | tiff[ifd + 1] << 8;
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        if ((tiff[entry] | tiff[entry + 1] << 8) == tag) {
            tiff[entry + 8] = std::uint8_t(value);
            tiff[entry + 9] = std::uint8_t(value >> 8);
            return;
        }
    }
    FAIL() << "no tag " << tag;
}

// A grey TIFF with two extra samples was read as grey with alpha in its
// second channel but three channels, which the tool maps as RGB: the alpha
// became green. Grey or RGB take one extra (alpha) sample at most.
TEST(FuzzFindings, AGreyTiffWithTwoExtraSamplesIsRefused)
{
    tool::FilePicture picture;
    picture.width = 2;
    picture.height = 1;
    picture.channels = 3;
    picture.depth = Depth::u8;
    picture.u8 = {1, 2, 3, 4, 5, 6};
    std::vector<std::uint8_t> tiff;
    ASSERT_EQ(tool::encode_tiff(picture, tiff), "");
    set_short_tag(tiff, 262, 1);  // PhotometricInterpretation: grey, black at zero
    try {
        tool::decode_tiff(tiff, "grey.tif");
        ADD_FAILURE() << "a grey TIFF of three samples was read";
    } catch (const tool::ToolError& e) {
        EXPECT_NE(std::string(e.what()).find("3 samples per pixel do not fit its colour space"), std::string::npos)
            << e.what();
    }
}

// `ruvivedu info` printed what a module handed over as it came: a name with
// an escape sequence drove the terminal, and a name in a Windows code page
// made the JSON report invalid (JSON is UTF-8). The text report now shows
// control characters and stray bytes as \xNN, and JSON escapes them.
TEST(FuzzFindings, TheInfoReportShowsWhatAModuleSendsWithoutDrivingTheTerminal)
{
    tool::PluginInfo info;
    info.registration.call_count = 1;
    info.registration.name = "Evil\x1b[2J\nName\xe9";
    info.registration.match_name = "Caf\xc3\xa9";  // UTF-8, shown as it is
    info.about_text = "line one\rline two\x9b";

    const std::string text = tool::format_info_text(info);
    EXPECT_NE(text.find("\"Evil\\x1B[2J\\x0AName\\xE9\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"Caf\xc3\xa9\""), std::string::npos) << text;
    EXPECT_NE(text.find("  line one\n  line two\\x9B\n"), std::string::npos) << text;
    EXPECT_EQ(text.find('\x1b'), std::string::npos);

    const std::string json = tool::format_info_json(info);
    EXPECT_NE(json.find("\"Evil\\u001b[2J\\nName\\u00e9\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"Caf\xc3\xa9\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"line one\\rline two\\u009b\""), std::string::npos) << json;
}

}  // namespace
