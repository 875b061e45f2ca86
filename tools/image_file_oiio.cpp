// Reading and writing picture files through OpenImageIO.
#include "image_file_oiio.h"

#include "tool_error.h"

#include <OpenImageIO/imageio.h>

#include <memory>

namespace ruvivedu::tool {

namespace {

using OIIO::TypeDesc;

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

FilePicture read_picture_oiio(const std::string& path)
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

    FilePicture picture;
    picture.width = layout.width;
    picture.height = layout.height;
    picture.channels = layout.nchannels;
    picture.alpha_channel = alpha_channel_of(layout);
    picture.depth = depth_of(layout.format);
    picture.format = in->format_name();
    bool read = false;
    switch (picture.depth) {
    case Depth::u8:
        picture.full_scale = 255.0;
        picture.u8.resize(picture.component_count());
        read = in->read_image(0, 0, 0, layout.nchannels, TypeDesc::UINT8, picture.u8.data());
        break;
    case Depth::u16:
        picture.full_scale = 65535.0;
        picture.u16.resize(picture.component_count());
        read = in->read_image(0, 0, 0, layout.nchannels, TypeDesc::UINT16, picture.u16.data());
        break;
    case Depth::f32:
        picture.full_scale = 1.0;
        picture.f32.resize(picture.component_count());
        read = in->read_image(0, 0, 0, layout.nchannels, TypeDesc::FLOAT, picture.f32.data());
        break;
    }
    // OpenImageIO's TIFF reader reports a strip cut short by the end of the
    // file as an error yet returns success, with the missing rows left as
    // they were: the error, not the result, says whether the pixels are all there.
    if (!read || in->has_error())
        throw ToolError("cannot read '" + path + "': " + one_line(in->geterror()));
    in->close();
    return picture;
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

std::string write_picture_oiio(const std::string& path, const FilePicture& picture)
{
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path);
    if (!out)
        return one_line(OIIO::geterror());
    OIIO::ImageSpec layout(picture.width, picture.height, picture.channels, type_of(picture.depth));
    if (picture.alpha_channel >= 0) {
        layout.alpha_channel = picture.alpha_channel;
        // The values are straight (unassociated) alpha; tell the writer so it
        // neither divides colour by alpha nor marks the file premultiplied.
        layout.attribute("oiio:UnassociatedAlpha", 1);
    }
    if (!out->open(path, layout))
        return one_line(out->geterror());
    bool written = false;
    switch (picture.depth) {
    case Depth::u8:
        written = out->write_image(TypeDesc::UINT8, picture.u8.data());
        break;
    case Depth::u16:
        written = out->write_image(TypeDesc::UINT16, picture.u16.data());
        break;
    case Depth::f32:
        written = out->write_image(TypeDesc::FLOAT, picture.f32.data());
        break;
    }
    if (!written || !out->close())
        return one_line(out->geterror());
    return {};
}

} // namespace ruvivedu::tool
