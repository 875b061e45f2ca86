// OpenEXR through the OpenEXR library: pictures of R, G, B (and A) or of Y
// (and A) channels, half or float, scanline or tiled, are read as float
// bands; any other channel set goes to OpenImageIO, which maps more. Outputs
// are 32-bit float RGBA, so that 8- and 16-bit renders keep every value.
#include "picture_io.h"

#include "frame_sequence.h"

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfInputFile.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfStandardAttributes.h>
#include <OpenEXR/ImfThreading.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace ruvivedu::tool {

namespace {

/// The library's worker threads, once, one per processor as OpenImageIO
/// sets them; and a bound on the sizes a header may declare before anything
/// is allocated for them (the tool refuses sides above a layer's itself).
void set_up_library()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Imf::setGlobalThreadCount(processor_count());
        Imf::Header::setMaxImageSize(1 << 20, 1 << 20);
        Imf::Header::setMaxTileSize(1 << 16, 1 << 16);
    });
}

/// Rows per band: the library (de)compresses the chunks of one call on its
/// threads, 16 rows a chunk with zip, so a band of eight chunks keeps them
/// busy (a UHD frame reads in three quarters of the time of 1 MiB bands).
constexpr int kBandRows = 128;

/// The channels read, in the order they land in a pixel: R, G, B, A or Y, A.
std::vector<const char*> channels_to_read(const Imf::ChannelList& list)
{
    auto usable = [&](const char* name) {
        const Imf::Channel* channel = list.findChannel(name);
        return channel && channel->type != Imf::UINT && channel->xSampling == 1 && channel->ySampling == 1;
    };
    std::vector<const char*> names;
    if (usable("R") && usable("G") && usable("B"))
        names = {"R", "G", "B"};
    else if (usable("Y") && !list.findChannel("R") && !list.findChannel("G") && !list.findChannel("B"))
        names = {"Y"};
    else
        return {};
    if (usable("A"))
        names.push_back("A");
    return names;
}

int channel_count(const Imf::ChannelList& list)
{
    int n = 0;
    for (auto it = list.begin(); it != list.end(); ++it)
        ++n;
    return n;
}

class ExrReader final : public PictureReader {
public:
    explicit ExrReader(const std::string& path) : file_(path.c_str())
    {
        const Imf::Header& header = file_.header();
        window_ = header.dataWindow();
        names_ = channels_to_read(header.channels());
        header_.width = window_.max.x - window_.min.x + 1;
        header_.height = window_.max.y - window_.min.y + 1;
        header_.channels = channel_count(header.channels());
        const int alpha = !names_.empty() && std::strcmp(names_.back(), "A") == 0 ? int(names_.size()) - 1 : -1;
        header_.layout = ComponentLayout{Depth::f32, 1.0, int(names_.size()), alpha};
        header_.format = "openexr";
        header_.band_rows = kBandRows;
        if (Imf::hasCapDate(header))
            header_.date_time = Imf::capDateAttribute(header).value();
    }

    /// False when the channels are not ones this reader maps.
    bool usable() const { return !names_.empty(); }

    const PictureHeader& header() const override { return header_; }

    std::string read_rows(int y, int rows, void* dst) override
    {
        try {
            const int channels = int(names_.size());
            const std::size_t x_stride = std::size_t(channels) * sizeof(float);
            const Imath::V2i origin(window_.min.x, window_.min.y + y);
            Imf::FrameBuffer frame;
            for (int c = 0; c < channels; ++c)
                frame.insert(names_[std::size_t(c)],
                             Imf::Slice::Make(Imf::FLOAT, static_cast<float*>(dst) + c, origin, header_.width, rows,
                                              x_stride, x_stride * std::size_t(header_.width)));
            file_.setFrameBuffer(frame);
            file_.readPixels(origin.y, origin.y + rows - 1);
        } catch (const std::exception& error) {
            return error.what();
        }
        return {};
    }

    std::string finish() override { return {}; }

private:
    Imf::InputFile file_;
    Imath::Box2i window_;
    std::vector<const char*> names_;
    PictureHeader header_;
};

/// A file the writer's bytes go to, which remembers a failed write: the
/// library writes the table of chunk offsets as the file is closed, where it
/// cannot report a failure itself.
class CheckedFile final : public Imf::OStream {
public:
    explicit CheckedFile(const std::string& path) : Imf::OStream(path.c_str()), file_(std::fopen(path.c_str(), "wb"))
    {
        if (!file_)
            failure_ = std::strerror(errno);
    }
    ~CheckedFile() override
    {
        if (file_)
            std::fclose(file_);
    }

    bool opened() const { return file_ != nullptr; }

    void write(const char c[], int n) override
    {
        if (std::fwrite(c, 1, std::size_t(n), file_) != std::size_t(n))
            fail();
    }
    uint64_t tellp() override { return uint64_t(std::ftell(file_)); }
    void seekp(uint64_t pos) override
    {
        if (std::fseek(file_, long(pos), SEEK_SET) != 0)
            fail();
    }

    /// Closes the file; the first failure there was, or empty.
    std::string close()
    {
        if (file_) {
            const bool written = std::fflush(file_) == 0 && !std::ferror(file_);
            if (std::fclose(file_) != 0 || !written)
                record(std::strerror(errno));
            file_ = nullptr;
        }
        return failure_;
    }

private:
    void record(const std::string& why)
    {
        if (failure_.empty())
            failure_ = why;
    }
    [[noreturn]] void fail()
    {
        record(std::strerror(errno));
        throw std::runtime_error(failure_);
    }

    std::FILE* file_;
    std::string failure_;
};

/// --compression as check_compression() gave it, into the header.
void set_compression(Imf::Header& header, const std::string& setting)
{
    const std::size_t colon = setting.find(':');
    const std::string method = setting.substr(0, colon);
    static const std::pair<const char*, Imf::Compression> methods[] = {
        {"none", Imf::NO_COMPRESSION},   {"rle", Imf::RLE_COMPRESSION},  {"zips", Imf::ZIPS_COMPRESSION},
        {"zip", Imf::ZIP_COMPRESSION},   {"piz", Imf::PIZ_COMPRESSION},  {"pxr24", Imf::PXR24_COMPRESSION},
        {"dwaa", Imf::DWAA_COMPRESSION}, {"dwab", Imf::DWAB_COMPRESSION}};
    for (const auto& [name, compression] : methods)
        if (method == name)
            header.compression() = compression;
    if (colon == std::string::npos)
        return;
    const std::string level = setting.substr(colon + 1);
    if (method == "zip" || method == "zips")
        header.zipCompressionLevel() = std::stoi(level);
    else
        header.dwaCompressionLevel() = std::stof(level);
}

class ExrWriter final : public PictureWriter {
public:
    ExrWriter(const std::string& path, int width, int height, const OutputLayout& layout, const WriteSettings& settings)
        : stream_(path), width_(width), channels_(layout.channels)
    {
        if (!stream_.opened())
            return;
        Imf::Header header(width, height);
        header.compression() = Imf::ZIP_COMPRESSION;
        if (!settings.compression.empty())
            set_compression(header, settings.compression);
        for (const char* name : names())
            header.channels().insert(name, Imf::Channel(Imf::FLOAT));
        if (!settings.date_time.empty())
            Imf::addCapDate(header, settings.date_time);
        file_ = std::make_unique<Imf::OutputFile>(stream_, header);
    }

    std::string open_failure() { return file_ ? std::string() : stream_.close(); }

    std::string write_rows(int y, int rows, const void* src) override
    {
        try {
            const std::size_t x_stride = std::size_t(channels_) * sizeof(float);
            Imf::FrameBuffer frame;
            const std::vector<const char*> channel_names = names();
            for (int c = 0; c < channels_; ++c)
                frame.insert(channel_names[std::size_t(c)],
                             Imf::Slice::Make(Imf::FLOAT, static_cast<const float*>(src) + c, Imath::V2i(0, y), width_,
                                              rows, x_stride, x_stride * std::size_t(width_)));
            file_->setFrameBuffer(frame);
            file_->writePixels(rows);
        } catch (const std::exception& error) {
            return error.what();
        }
        return {};
    }

    std::string finish() override
    {
        file_.reset();  // writes the chunk offsets
        return stream_.close();
    }

private:
    std::vector<const char*> names() const
    {
        if (channels_ == 4)
            return {"R", "G", "B", "A"};
        return {"R", "G", "B"};
    }

    CheckedFile stream_;
    int width_;
    int channels_;
    std::unique_ptr<Imf::OutputFile> file_;
};

std::unique_ptr<PictureReader> open_exr_reader(const std::string& path, std::string& error)
{
    set_up_library();
    try {
        auto reader = std::make_unique<ExrReader>(path);
        if (reader->usable())
            return reader;
    } catch (const std::exception& failure) {
        error = failure.what();
        return nullptr;
    }
    // Channels other than RGBA or YA: OpenImageIO knows how to read them.
    std::string problem;
    if (const PictureCodec* oiio = find_oiio_codec(problem))
        return oiio->open_reader(path, error);
    error = "its channels are not R, G, B or Y (and A), and " + problem;
    return nullptr;
}

bool exr_layout(const std::string&, Depth, OutputLayout& layout, std::string&)
{
    layout.format = "openexr";
    layout.channels = 4;
    layout.depth = Depth::f32;  // float holds 8- and 16-bit values exactly; half would not
    layout.full_scale = 1.0;
    layout.band_rows = kBandRows;
    return true;
}

std::unique_ptr<PictureWriter> open_exr_writer(const std::string& path, int width, int height,
                                               const OutputLayout& layout, const WriteSettings& settings,
                                               std::string& error)
{
    set_up_library();
    try {
        auto writer = std::make_unique<ExrWriter>(path, width, height, layout, settings);
        error = writer->open_failure();
        if (error.empty())
            return writer;
    } catch (const std::exception& failure) {
        error = failure.what();
    }
    return nullptr;
}

}  // namespace

const PictureCodec& exr_codec()
{
    static const PictureCodec codec{open_exr_reader, exr_layout, open_exr_writer};
    return codec;
}

}  // namespace ruvivedu::tool
