// The OpenImageIO codec, built as a module of its own (ruvivedu_oiio) that
// the tool loads the first time a file needs it: TIFF, JPEG and every other
// format OpenImageIO knows, and OpenEXR files of unusual channels. It uses
// nothing of the tool but the declarations in picture_io.h, so that the tool
// and the module share no state.
#include "picture_io.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <memory>

#if defined(_WIN32)
#define RUVIVEDU_MODULE_EXPORT __declspec(dllexport)
#else
#define RUVIVEDU_MODULE_EXPORT __attribute__((visibility("default")))
#endif

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

class OiioReader final : public PictureReader {
public:
    /// Opens `path`; empty on success, else the reason.
    std::string open(const std::string& path)
    {
        // Keep stored values as they are: without this hint OpenImageIO would
        // premultiply PNG and TIFF colour by alpha on reading.
        OIIO::ImageSpec config;
        config.attribute("oiio:UnassociatedAlpha", 1);
        in_ = OIIO::ImageInput::create(path, false, &config);
        if (!in_)
            return one_line(OIIO::geterror());
        OIIO::ImageSpec layout;
        if (!in_->open(path, layout, config))
            return one_line(in_->geterror());
        if (layout.deep)
            return "deep images are not supported";
        if (layout.width <= 0 || layout.height <= 0 || layout.nchannels <= 0 || layout.depth > 1)
            return "not a flat two-dimensional picture";
        header_.width = layout.width;
        header_.height = layout.height;
        header_.channels = layout.nchannels;
        const Depth type = depth_of(layout.format);
        const int alpha = alpha_channel_of(layout);
        // Channels past colour and alpha carry nothing the host takes.
        header_.layout = ComponentLayout{type,
                                         type == Depth::u8    ? 255.0
                                         : type == Depth::u16 ? 65535.0
                                                              : 1.0,
                                         std::min(layout.nchannels, std::max(4, alpha + 1)), alpha};
        header_.format = in_->format_name();
        header_.date_time = layout.get_string_attribute("DateTime");
        // Tiled files are read whole.
        header_.whole = layout.tile_width > 0;
        first_row_ = layout.y;
        return {};
    }

    const PictureHeader& header() const override { return header_; }

    std::string read_rows(int y, int rows, void* dst) override
    {
        const TypeDesc type = type_of(header_.layout.type);
        const bool read = header_.whole ? in_->read_image(0, 0, 0, header_.layout.channels, type, dst)
                                        : in_->read_scanlines(0, 0, first_row_ + y, first_row_ + y + rows, 0, 0,
                                                              header_.layout.channels, type, dst);
        return read ? std::string() : one_line(in_->geterror());
    }

    std::string finish() override
    {
        // OpenImageIO's TIFF reader reports a strip cut short by the end of
        // the file as an error yet returns success, with the missing rows
        // left as they were: the error, not the result, says whether the
        // pixels are all there.
        if (in_->has_error())
            return one_line(in_->geterror());
        in_->close();
        return {};
    }

private:
    std::unique_ptr<OIIO::ImageInput> in_;
    PictureHeader header_;
    int first_row_ = 0;
};

class OiioWriter final : public PictureWriter {
public:
    std::string open(const std::string& path, int width, int height, const OutputLayout& layout,
                     const WriteSettings& settings)
    {
        out_ = OIIO::ImageOutput::create(path);
        if (!out_)
            return one_line(OIIO::geterror());
        type_ = type_of(layout.depth);
        OIIO::ImageSpec file(width, height, layout.channels, type_);
        if (layout.channels == 4) {
            file.alpha_channel = 3;
            // The values are straight (unassociated) alpha; tell the writer so it
            // neither divides colour by alpha nor marks the file premultiplied.
            file.attribute("oiio:UnassociatedAlpha", 1);
        }
        // An empty date keeps the writer from recording the time of writing.
        file.attribute("DateTime", settings.date_time);
        if (!settings.compression.empty())
            file.attribute("compression", settings.compression);
        if (!out_->open(path, file))
            return one_line(out_->geterror());
        return {};
    }

    std::string write_rows(int y, int rows, const void* src) override
    {
        if (!out_->write_scanlines(y, y + rows, 0, type_, src))
            return one_line(out_->geterror());
        return {};
    }

    std::string finish() override
    {
        if (!out_->close())
            return one_line(out_->geterror());
        return {};
    }

private:
    std::unique_ptr<OIIO::ImageOutput> out_;
    TypeDesc type_;
};

std::unique_ptr<PictureReader> oiio_open_reader(const std::string& path, std::string& error)
{
    auto reader = std::make_unique<OiioReader>();
    error = reader->open(path);
    if (!error.empty())
        return nullptr;
    return reader;
}

bool oiio_output_layout(const std::string& path, Depth render_depth, OutputLayout& layout, std::string& error)
{
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path);
    if (!out) {
        error = one_line(OIIO::geterror());
        return false;
    }
    layout.format = out->format_name();
    layout.depth = render_depth;
    layout.channels = out->supports("alpha") ? 4 : 3;
    if (layout.format == "jpeg") {
        layout.depth = Depth::u8;
        layout.channels = 3;
    }
    layout.full_scale = layout.depth == Depth::u8 ? 255.0 : layout.depth == Depth::u16 ? 65535.0 : 1.0;
    return true;
}

std::unique_ptr<PictureWriter> oiio_open_writer(const std::string& path, int width, int height,
                                                const OutputLayout& layout, const WriteSettings& settings,
                                                std::string& error)
{
    auto writer = std::make_unique<OiioWriter>();
    error = writer->open(path, width, height, layout, settings);
    if (!error.empty())
        return nullptr;
    return writer;
}

}  // namespace

}  // namespace ruvivedu::tool

extern "C" RUVIVEDU_MODULE_EXPORT const ruvivedu::tool::PictureCodec* ruvivedu_oiio_codec(int interface_version)
{
    static const ruvivedu::tool::PictureCodec codec{
        ruvivedu::tool::oiio_open_reader, ruvivedu::tool::oiio_output_layout, ruvivedu::tool::oiio_open_writer};
    return interface_version == ruvivedu::tool::kPictureCodecVersion ? &codec : nullptr;
}
