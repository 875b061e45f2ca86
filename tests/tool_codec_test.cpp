// The tool's own PNG and OpenEXR readers checked against OpenImageIO's: files
// of every kind are written with libpng and OpenImageIO, read by both, and
// the worlds the tool makes must equal what OpenImageIO's components map to.
// Also what the OpenImageIO module is still needed for, and that the tool
// does without it where it can.
#include "component_mapping.h"
#include "image_file.h"
#include "picture_io.h"
#include "tool_error.h"
#include "tool_support.h"

#include <png.h>

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace ruvivedu::tool;
using namespace ruvivedu::tool_tests;
using OIIO::TypeDesc;
namespace host = ruvivedu::host;

/// A PNG of `color_type` and `bit_depth` with a pattern in every sample;
/// `transparent` adds a tRNS chunk (for palettes: alpha per entry; for grey
/// and RGB: one transparent colour). Returns the reason on failure.
std::string write_png(const std::string& path, int width, int height, int color_type, int bit_depth, bool interlaced,
                      bool transparent)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return "cannot create";
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    const int channels = color_type == PNG_COLOR_TYPE_RGB_ALPHA ? 4
                         : color_type == PNG_COLOR_TYPE_RGB     ? 3
                         : color_type == PNG_COLOR_TYPE_GA      ? 2
                                                                : 1;
    const std::size_t row_bytes = (std::size_t(width) * std::size_t(channels) * std::size_t(bit_depth) + 7) / 8;
    std::vector<png_byte> rows(row_bytes * std::size_t(height));
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i] = png_byte((i * 131 + i / row_bytes * 17) % 251);
    std::vector<png_bytep> pointers(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        pointers[std::size_t(y)] = rows.data() + std::size_t(y) * row_bytes;
    png_color palette[256];
    png_byte alphas[256];
    for (int i = 0; i < 256; ++i) {
        palette[i] = png_color{png_byte(i), png_byte(255 - i), png_byte(i * 5)};
        alphas[i] = png_byte(i * 17);
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return "libpng failed";
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), bit_depth, color_type,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (color_type == PNG_COLOR_TYPE_PALETTE) {
        const int entries = 1 << bit_depth;
        png_set_PLTE(png, info, palette, entries);
        if (transparent)
            png_set_tRNS(png, info, alphas, entries, nullptr);
    } else if (transparent) {
        png_color_16 colour{};
        colour.gray = colour.red = 3;
        png_set_tRNS(png, info, nullptr, 0, &colour);
    }
    png_write_info(png, info);
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 ? "" : "cannot close";
}

/// The world OpenImageIO's reading of `path` maps to: its components, as
/// it gives them, through the tool's mapping at the file's own depth.
host::World as_openimageio_reads_it(const std::string& path)
{
    OIIO::ImageSpec layout;
    const std::vector<float> check = read_raw<float>(path, TypeDesc::FLOAT, &layout);
    EXPECT_FALSE(check.empty());
    const Depth depth = layout.format == TypeDesc::UINT8    ? Depth::u8
                        : layout.format == TypeDesc::UINT16 ? Depth::u16
                                                            : Depth::f32;
    const int alpha = layout.alpha_channel >= 0 ? layout.alpha_channel
                      : layout.nchannels == 2   ? 1
                      : layout.nchannels >= 4   ? 3
                                                : -1;
    const ComponentLayout components{depth,
                                     depth == Depth::u8    ? 255.0
                                     : depth == Depth::u16 ? 65535.0
                                                           : 1.0,
                                     layout.nchannels, alpha};
    host::World world(depth, layout.width, layout.height);
    if (depth == Depth::u8) {
        const auto data = read_raw<std::uint8_t>(path, TypeDesc::UINT8, &layout);
        FileToWorld(components, depth).convert(data.data(), world, 0, layout.height);
    } else if (depth == Depth::u16) {
        const auto data = read_raw<std::uint16_t>(path, TypeDesc::UINT16, &layout);
        FileToWorld(components, depth).convert(data.data(), world, 0, layout.height);
    } else {
        FileToWorld(components, depth).convert(check.data(), world, 0, layout.height);
    }
    return world;
}

TEST(ToolCodecs, PngFilesOfEveryKindReadAsOpenImageIOReadsThem)
{
    TempDir dir;
    struct Kind {
        const char* name;
        int color_type, bit_depth;
        bool interlaced, transparent;
    };
    const Kind kinds[] = {
        {"rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8, false, false},
        {"rgba16", PNG_COLOR_TYPE_RGB_ALPHA, 16, false, false},
        {"rgb8", PNG_COLOR_TYPE_RGB, 8, false, false},
        {"rgb16_transparent_colour", PNG_COLOR_TYPE_RGB, 16, false, true},
        {"grey8", PNG_COLOR_TYPE_GRAY, 8, false, false},
        {"grey1", PNG_COLOR_TYPE_GRAY, 1, false, false},
        {"grey4_transparent_colour", PNG_COLOR_TYPE_GRAY, 4, false, true},
        {"grey_alpha16", PNG_COLOR_TYPE_GA, 16, false, false},
        {"palette4", PNG_COLOR_TYPE_PALETTE, 4, false, false},
        {"palette8_alphas", PNG_COLOR_TYPE_PALETTE, 8, false, true},
        {"interlaced_rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8, true, false},
        {"interlaced_grey2", PNG_COLOR_TYPE_GRAY, 2, true, false},
    };
    for (const Kind& kind : kinds) {
        const std::string path = dir.file(std::string(kind.name) + ".png");
        ASSERT_EQ(write_png(path, 37, 23, kind.color_type, kind.bit_depth, kind.interlaced, kind.transparent), "")
            << kind.name;
        FileInfo info;
        const host::World ours = read_image(path, std::nullopt, &info);
        const host::World theirs = as_openimageio_reads_it(path);
        EXPECT_EQ(ours.depth(), theirs.depth()) << kind.name;
        EXPECT_TRUE(ours.same_pixels(theirs)) << kind.name;
        EXPECT_EQ(info.format, "png");
    }
}

TEST(ToolCodecs, OpenExrFilesOfEveryKindReadAsOpenImageIOReadsThem)
{
    TempDir dir;
    struct Kind {
        const char* name;
        int channels;
        const char* names[5];
        TypeDesc type;
        bool tiled;
        int x, y;  // data window origin
    };
    const Kind kinds[] = {
        {"rgba_half", 4, {"R", "G", "B", "A"}, TypeDesc::HALF, false, 0, 0},
        {"rgb_float", 3, {"R", "G", "B"}, TypeDesc::FLOAT, false, 0, 0},
        {"y_float", 1, {"Y"}, TypeDesc::FLOAT, false, 0, 0},
        {"ya_half", 2, {"Y", "A"}, TypeDesc::HALF, false, 0, 0},
        {"tiled_rgba", 4, {"R", "G", "B", "A"}, TypeDesc::FLOAT, true, 0, 0},
        {"offset_window", 4, {"R", "G", "B", "A"}, TypeDesc::FLOAT, false, -7, 12},
        // Colour and depth: the colour is read; layered names go to OpenImageIO, through the module.
        {"depth_and_colour", 5, {"R", "G", "B", "A", "Z"}, TypeDesc::FLOAT, false, 0, 0},
        {"layered", 3, {"diffuse.R", "diffuse.G", "diffuse.B"}, TypeDesc::HALF, false, 0, 0},
    };
    for (const Kind& kind : kinds) {
        const int width = 41, height = 29;
        std::vector<float> data(std::size_t(width * height * kind.channels));
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = float(int(i * 37 % 200) - 50) / 100.0f;  // below 0 and above 1 too
        OIIO::ImageSpec layout(width, height, kind.channels, kind.type);
        layout.channelnames.assign(kind.names, kind.names + kind.channels);
        layout.alpha_channel = kind.channels == 4 || kind.channels == 5 ? 3 : kind.channels == 2 ? 1 : -1;
        layout.x = kind.x;
        layout.y = kind.y;
        if (kind.tiled) {
            layout.tile_width = 16;
            layout.tile_height = 16;
        }
        const std::string path = dir.file(std::string(kind.name) + ".exr");
        auto out = OIIO::ImageOutput::create(path);
        ASSERT_TRUE(out && out->open(path, layout) && out->write_image(TypeDesc::FLOAT, data.data()) && out->close())
            << kind.name;
        FileInfo info;
        const host::World ours = read_image(path, std::nullopt, &info);
        const host::World theirs = as_openimageio_reads_it(path);
        EXPECT_TRUE(ours.same_pixels(theirs)) << kind.name;
        EXPECT_EQ(info.channels, kind.channels) << kind.name;
        EXPECT_EQ(info.has_alpha, layout.alpha_channel >= 0) << kind.name;
    }
}

TEST(ToolCodecs, TheOpenImageIOModuleLoadsOnlyForOtherFormats)
{
    // The tool's own codecs answer without it; TIFF and JPEG need it.
    EXPECT_EQ(&codec_for("a.PNG", "write"), &png_codec());
    EXPECT_EQ(&codec_for("a.exr", "write"), &exr_codec());
    std::string problem;
    const PictureCodec* oiio = find_oiio_codec(problem);
    ASSERT_NE(oiio, nullptr) << problem;
    EXPECT_EQ(&codec_for("a.tif", "write"), oiio);
    EXPECT_EQ(&codec_for("a.jpg", "read"), oiio);

    // The tool itself links none of OpenImageIO's libraries.
    const RunResult run = run_tool({"--help"}, "LD_DEBUG=libs");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err.find("libOpenImageIO"), std::string::npos) << "the tool loads OpenImageIO at start-up";
}

}  // namespace
