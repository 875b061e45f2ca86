// PNG through libpng: 8- and 16-bit grey, grey and alpha, RGB and RGBA,
// palettes and low bit depths expanded, transparency chunks made alpha.
//
// libpng reports errors by a longjmp out of the failing call, which must
// not skip a C++ destructor: every function that calls into libpng sets its
// jump point first and holds no object with a destructor of its own across
// those calls.
#include "picture_io.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <utility>

namespace ruvivedu::tool {

namespace {

/// libpng's messages, kept for the one reason the tool reports. Errors end
/// the call; warnings (a damaged ancillary chunk, say) are not shown.
struct Messages {
    char error[256] = {};
};

extern "C" void png_failed(png_structp png, png_const_charp message)
{
    auto* messages = static_cast<Messages*>(png_get_error_ptr(png));
    std::snprintf(messages->error, sizeof messages->error, "%s", message ? message : "libpng error");
    png_longjmp(png, 1);
}

extern "C" void png_warned(png_structp, png_const_charp) {}

/// Reads from the FILE* libpng was given, saying what went wrong where
/// libpng's own reader only says "Read Error".
extern "C" void png_read_file(png_structp png, png_bytep data, png_size_t length)
{
    auto* file = static_cast<std::FILE*>(png_get_io_ptr(png));
    if (std::fread(data, 1, length, file) == length)
        return;
    png_error(png, std::ferror(file) ? std::strerror(errno) : "the file ends before its last pixel");
}

/// PNG stores 16-bit samples big-endian; libpng swaps them for us on other machines.
bool big_endian()
{
    const std::uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 0;
}

/// "YYYY:MM:DD hh:mm:ss", the form OpenImageIO gives dates in.
std::string date_of(const png_time& time)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04u:%02u:%02u %02u:%02u:%02u", unsigned(time.year), unsigned(time.month),
                  unsigned(time.day), unsigned(time.hour), unsigned(time.minute), unsigned(time.second));
    return text;
}

bool time_of(const std::string& date, png_time& time)
{
    unsigned year, month, day, hour, minute, second;
    if (std::sscanf(date.c_str(), "%4u:%2u:%2u %2u:%2u:%2u", &year, &month, &day, &hour, &minute, &second) != 6 ||
        month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return false;
    time =
        png_time{png_uint_16(year), png_byte(month), png_byte(day), png_byte(hour), png_byte(minute), png_byte(second)};
    return true;
}

class PngReader final : public PictureReader {
public:
    ~PngReader() override
    {
        if (png_)
            png_destroy_read_struct(&png_, &info_, &end_);
        if (file_)
            std::fclose(file_);
    }

    /// Opens `path` and reads everything up to the pixels; empty on
    /// success, else the reason.
    std::string open(const std::string& path)
    {
        file_ = std::fopen(path.c_str(), "rb");
        if (!file_)
            return std::strerror(errno);
        unsigned char signature[8] = {};
        if (std::fread(signature, 1, sizeof signature, file_) != sizeof signature ||
            png_sig_cmp(signature, 0, sizeof signature) != 0)
            return "not a PNG file";
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, &messages_, png_failed, png_warned);
        if (!png_ || !(info_ = png_create_info_struct(png_)) || !(end_ = png_create_info_struct(png_)))
            return "out of memory";
        if (setjmp(png_jmpbuf(png_)))
            return messages_.error;
        png_set_read_fn(png_, file_, png_read_file);
        png_set_sig_bytes(png_, sizeof signature);
        png_read_info(png_, info_);
        png_set_expand(png_);  // palettes to RGB, grey below 8 bits to 8, transparency chunks to alpha
        if (png_get_bit_depth(png_, info_) == 16 && !big_endian())
            png_set_swap(png_);
        passes_ = png_set_interlace_handling(png_);
        png_read_update_info(png_, info_);
        header_.width = int(png_get_image_width(png_, info_));
        header_.height = int(png_get_image_height(png_, info_));
        header_.channels = int(png_get_channels(png_, info_));
        const bool deep = png_get_bit_depth(png_, info_) == 16;
        header_.layout = ComponentLayout{deep ? Depth::u16 : Depth::u8, deep ? 65535.0 : 255.0, header_.channels,
                                         header_.channels == 2   ? 1
                                         : header_.channels == 4 ? 3
                                                                 : -1};
        header_.format = "png";
        header_.whole = passes_ > 1;
        png_timep time = nullptr;
        if (png_get_tIME(png_, info_, &time) && time)
            header_.date_time = date_of(*time);
        return {};
    }

    const PictureHeader& header() const override { return header_; }

    std::string read_rows(int y, int rows, void* dst) override
    {
        if (y != next_row_ || (header_.whole && rows != header_.height))
            return "rows read out of order";
        const std::size_t row_bytes = png_get_rowbytes(png_, info_);
        auto* bytes = static_cast<png_bytep>(dst);
        if (setjmp(png_jmpbuf(png_)))
            return messages_.error;
        // An interlaced file comes in passes over all rows, each pass filling in more of them.
        for (int pass = 0; pass < passes_; ++pass)
            for (int r = 0; r < rows; ++r)
                png_read_row(png_, bytes + std::size_t(r) * row_bytes, nullptr);
        next_row_ += rows;
        return {};
    }

    std::string finish() override
    {
        if (setjmp(png_jmpbuf(png_)))
            return messages_.error;
        png_read_end(png_, end_);
        png_timep time = nullptr;
        if (header_.date_time.empty() && png_get_tIME(png_, end_, &time) && time)
            header_.date_time = date_of(*time);
        return {};
    }

private:
    std::FILE* file_ = nullptr;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    png_infop end_ = nullptr;
    Messages messages_;
    PictureHeader header_;
    int passes_ = 1;
    int next_row_ = 0;
};

class PngWriter final : public PictureWriter {
public:
    ~PngWriter() override
    {
        if (png_)
            png_destroy_write_struct(&png_, &info_);
        if (file_)
            std::fclose(file_);
    }

    /// Creates `path` and writes the header, with zlib `level` and the
    /// date `time` (when given). Empty on success, else the reason.
    std::string open(const std::string& path, int width, int height, const OutputLayout& layout, int level,
                     const png_time* time)
    {
        file_ = std::fopen(path.c_str(), "wb");
        if (!file_)
            return std::strerror(errno);
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, &messages_, png_failed, png_warned);
        if (!png_ || !(info_ = png_create_info_struct(png_)))
            return "out of memory";
        row_bytes_ = std::size_t(width) * std::size_t(layout.channels) * (layout.depth == Depth::u8 ? 1 : 2);
        if (setjmp(png_jmpbuf(png_)))
            return messages_.error;
        png_init_io(png_, file_);
        png_set_IHDR(png_, info_, png_uint_32(width), png_uint_32(height), layout.depth == Depth::u8 ? 8 : 16,
                     layout.channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_compression_level(png_, level);
        // The pictures are flat paper and ink with hard edges, where the row
        // filters cost time and buy nothing: unfiltered rows pack smaller.
        png_set_filter(png_, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
        if (time)
            png_set_tIME(png_, info_, time);
        png_write_info(png_, info_);
        if (layout.depth != Depth::u8 && !big_endian())
            png_set_swap(png_);
        return {};
    }

    std::string write_rows(int, int rows, const void* src) override
    {
        const auto* bytes = static_cast<const unsigned char*>(src);
        if (setjmp(png_jmpbuf(png_)))
            return messages_.error;
        for (int r = 0; r < rows; ++r)
            png_write_row(png_, bytes + std::size_t(r) * row_bytes_);
        return {};
    }

    std::string finish() override
    {
        if (setjmp(png_jmpbuf(png_)))
            return messages_.error;
        png_write_end(png_, info_);
        std::FILE* file = std::exchange(file_, nullptr);
        const bool written = std::fflush(file) == 0 && !std::ferror(file);
        if (std::fclose(file) != 0 || !written)
            return std::strerror(errno);  // a full disk shows here
        return {};
    }

private:
    std::FILE* file_ = nullptr;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    Messages messages_;
    std::size_t row_bytes_ = 0;
};

std::unique_ptr<PictureReader> open_png_reader(const std::string& path, std::string& error)
{
    auto reader = std::make_unique<PngReader>();
    error = reader->open(path);
    if (!error.empty())
        return nullptr;
    return reader;
}

bool png_layout(const std::string&, Depth render_depth, OutputLayout& layout, std::string&)
{
    layout.format = "png";
    layout.channels = 4;
    // PNG holds no float; 16 bits is the closest.
    layout.depth = render_depth == Depth::u8 ? Depth::u8 : Depth::u16;
    layout.full_scale = layout.depth == Depth::u8 ? 255.0 : 65535.0;
    return true;
}

std::unique_ptr<PictureWriter> open_png_writer(const std::string& path, int width, int height,
                                               const OutputLayout& layout, const WriteSettings& settings,
                                               std::string& error)
{
    png_time time{};
    const bool dated = time_of(settings.date_time, time);
    const int level = settings.compression.empty() ? kPngDefaultLevel : std::stoi(settings.compression);
    auto writer = std::make_unique<PngWriter>();
    error = writer->open(path, width, height, layout, level, dated ? &time : nullptr);
    if (!error.empty())
        return nullptr;
    return writer;
}

}  // namespace

const PictureCodec& png_codec()
{
    static const PictureCodec codec{open_png_reader, png_layout, open_png_writer};
    return codec;
}

}  // namespace ruvivedu::tool
