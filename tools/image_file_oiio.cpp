// Reading and writing picture files through OpenImageIO.
#include "image_file_oiio.h"

#include "component_mapping.h"
#include "tool_error.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace ruvivedu::tool {

namespace {

using OIIO::TypeDesc;

/// libpng's PNG_FILTER_NONE, the value OpenImageIO's png:filter takes.
constexpr int kPngFilterNone = 0x08;

/// OpenImageIO error texts may run over several lines; the tool reports one.
std::string one_line(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    return text.empty() ? "unknown error" : text;
}

Depth depth_of(TypeDesc format)
{
    switch (format.basetype) {
    case TypeDesc::UINT8:
    case TypeDesc::INT8:
        return Depth::u8;
    case TypeDesc::HALF:
    case TypeDesc::FLOAT:
    case TypeDesc::DOUBLE:
        return Depth::f32;
    default:
        return Depth::u16;
    }
}

TypeDesc type_of(Depth depth)
{
    switch (depth) {
    case Depth::u8:
        return TypeDesc::UINT8;
    case Depth::u16:
        return TypeDesc::UINT16;
    case Depth::f32:
        break;
    }
    return TypeDesc::FLOAT;
}

/// The alpha channel as the file declares it, else the usual place for its
/// channel count: the second of two, the fourth of four or more.
int alpha_channel_of(const OIIO::ImageSpec& layout)
{
    const int n = layout.nchannels;
    if (layout.alpha_channel >= 0 && layout.alpha_channel < n)
        return layout.alpha_channel;
    return n == 2 ? 1 : n >= 4 ? 3 : -1;
}

} // namespace

host::World read_world_oiio(const std::string& path, std::optional<Depth> depth, FileInfo* info,
                            host::World* recycle)
{
    // Keep stored values as they are: without this hint OpenImageIO would
    // premultiply PNG and TIFF colour by alpha on reading.
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::create(path, false, &config);
    if (!in)
        throw ToolError("cannot read '" + path + "': " + one_line(OIIO::geterror()));
    OIIO::ImageSpec layout;
    if (!in->open(path, layout, config))
        throw ToolError("cannot read '" + path + "': " + one_line(in->geterror()));
    if (layout.deep)
        throw ToolError("cannot read '" + path + "': deep images are not supported");
    if (layout.width <= 0 || layout.height <= 0 || layout.nchannels <= 0 || layout.depth > 1)
        throw ToolError("cannot read '" + path + "': not a flat two-dimensional picture");
    if (layout.width > kMaxLayerSide || layout.height > kMaxLayerSide)
        throw ToolError("cannot read '" + path + "': " + larger_than_a_layer(layout.width, layout.height));

    ComponentLayout file;
    file.type = depth_of(layout.format);
    file.full_scale = file.type == Depth::u8 ? 255.0 : file.type == Depth::u16 ? 65535.0 : 1.0;
    file.alpha_channel = alpha_channel_of(layout);
    // Channels past colour and alpha carry nothing the host takes.
    file.channels = std::min(layout.nchannels, std::max(4, file.alpha_channel + 1));
    if (info) {
        info->width = layout.width;
        info->height = layout.height;
        info->channels = layout.nchannels;
        info->has_alpha = file.alpha_channel >= 0;
        info->depth = file.type;
        info->format = in->format_name();
        info->date_time = layout.get_string_attribute("DateTime");
    }

    const Depth target = depth.value_or(file.type);
    host::World world = world_for(target, layout.width, layout.height, recycle);
    const FileToWorld mapping(file, target);
    const TypeDesc type = type_of(file.type);
    const std::size_t row_bytes = std::size_t(layout.width) * std::size_t(file.channels) * component_bytes(file.type);
    // Tiled files are read whole; scanline files a band at a time, so the
    // components go from a buffer that stays in the cache straight into the world.
    const int band = layout.tile_width > 0 ? layout.height : std::clamp(int((1u << 20) / row_bytes), 16, 256);
    std::vector<unsigned char> buffer(row_bytes * std::size_t(std::min(band, layout.height)));
    bool read = true;
    for (int y = 0; read && y < layout.height; y += band) {
        const int rows = std::min(band, layout.height - y);
        if (layout.tile_width > 0)
            read = in->read_image(0, 0, 0, file.channels, type, buffer.data());
        else
            read = in->read_scanlines(0, 0, layout.y + y, layout.y + y + rows, 0, 0, file.channels, type,
                                      buffer.data());
        if (read)
            mapping.convert(buffer.data(), world, y, rows);
    }
    // OpenImageIO's TIFF reader reports a strip cut short by the end of the
    // file as an error yet returns success, with the missing rows left as
    // they were: the error, not the result, says whether the pixels are all there.
    if (!read || in->has_error())
        throw ToolError("cannot read '" + path + "': " + one_line(in->geterror()));
    in->close();
    return world;
}

OutputLayout output_layout_oiio(const std::string& path, Depth render_depth)
{
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path);
    if (!out)
        throw ToolError("cannot write '" + path + "': " + one_line(OIIO::geterror()));
    OutputLayout layout;
    layout.format = out->format_name();
    layout.depth = render_depth;
    layout.channels = out->supports("alpha") ? 4 : 3;
    if (layout.format == "png" && render_depth == Depth::f32)
        layout.depth = Depth::u16; // PNG holds no float; 16 bits is the closest
    else if (layout.format == "jpeg") {
        layout.depth = Depth::u8;
        layout.channels = 3;
    } else if (layout.format == "openexr")
        layout.depth = Depth::f32; // float holds 8- and 16-bit values exactly; half would not
    layout.full_scale = layout.depth == Depth::u8 ? 255.0 : layout.depth == Depth::u16 ? 65535.0 : 1.0;
    return layout;
}

std::string write_world_oiio(const std::string& path, const host::World& world, const OutputLayout& layout,
                             const WriteSettings& settings)
{
    const std::string& compression = settings.compression;
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path);
    if (!out)
        return one_line(OIIO::geterror());
    const TypeDesc type = type_of(layout.depth);
    OIIO::ImageSpec spec(world.width(), world.height(), layout.channels, type);
    if (layout.channels == 4) {
        spec.alpha_channel = 3;
        // The values are straight (unassociated) alpha; tell the writer so it
        // neither divides colour by alpha nor marks the file premultiplied.
        spec.attribute("oiio:UnassociatedAlpha", 1);
    }
    spec.attribute("DateTime", settings.date_time);
    if (layout.format == "png") {
        spec.attribute("png:compressionLevel", compression.empty() ? kPngDefaultLevel : std::stoi(compression));
        // The pictures are flat paper and ink with hard edges, where libpng's
        // row filters cost time and buy nothing: unfiltered rows pack smaller.
        spec.attribute("png:filter", int(kPngFilterNone));
    } else if (!compression.empty()) {
        spec.attribute("compression", compression);
    }
    bool opened = false;
    {
        const CreatingFile creating;
        opened = out->open(path, spec);
    }
    if (!opened)
        return one_line(out->geterror());

    const WorldToFile mapping(world.depth(), ComponentLayout{layout.depth, layout.full_scale, layout.channels,
                                                             layout.channels == 4 ? 3 : -1});
    const std::size_t row_bytes = std::size_t(world.width()) * std::size_t(layout.channels) * component_bytes(layout.depth);
    const int band = std::clamp(int((1u << 20) / std::max<std::size_t>(row_bytes, 1)), 16, 256);
    std::vector<unsigned char> buffer(row_bytes * std::size_t(std::min<A_long>(band, world.height())));
    for (A_long y = 0; y < world.height(); y += band) {
        const A_long rows = std::min<A_long>(band, world.height() - y);
        mapping.convert(world, y, rows, buffer.data());
        if (!out->write_scanlines(int(y), int(y + rows), 0, type, buffer.data()))
            return one_line(out->geterror());
    }
    if (!out->close())
        return one_line(out->geterror());
    return {};
}

} // namespace ruvivedu::tool
