// PAM and uncompressed TIFF, read and written without an image library.
#include "picture_codecs.h"

#include "tool_error.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>

namespace ruvivedu::tool {

namespace {

std::vector<std::uint8_t> read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ToolError("cannot read '" + path + "': cannot open the file");
    // In one read of the size the file has now, then byte by byte whatever
    // it grew by meanwhile (or all of it, where the size cannot be told).
    std::vector<std::uint8_t> bytes;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size > 0 && in) {
        bytes.resize(std::size_t(size));
        in.read(reinterpret_cast<char*>(bytes.data()), size);
        bytes.resize(std::size_t(in.gcount()));
    }
    in.clear(in.rdstate() & ~std::ios::failbit & ~std::ios::eofbit);
    if (!in.bad())
        bytes.insert(bytes.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad())
        throw ToolError("cannot read '" + path + "': read error");
    return bytes;
}

[[noreturn]] void refuse(const std::string& path, const std::string& why)
{
    throw ToolError("cannot read '" + path + "': " + why);
}

/// Checks the announced size before anything is allocated for it.
void check_size(const std::string& path, long long width, long long height, long long channels)
{
    if (width < 1 || height < 1 || width > kMaxPictureDimension || height > kMaxPictureDimension)
        refuse(path, "unsupported size " + std::to_string(width) + " x " + std::to_string(height));
    if (width * height * channels > kMaxPictureComponents)
        refuse(path, "picture too large (" + std::to_string(width) + " x " + std::to_string(height) + ")");
    if (width > kMaxLayerSide || height > kMaxLayerSide)
        refuse(path, larger_than_a_layer(width, height));
}

std::string write_file(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return "cannot create the file";
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    return out ? std::string() : std::string("write error");
}

// ---- PAM ------------------------------------------------------------------

const char* const kTupleTypes[] = {"GRAYSCALE", "GRAYSCALE_ALPHA", "RGB", "RGB_ALPHA"};

}  // namespace

FilePicture read_pam(const std::string& path)
{
    return decode_pam(read_file(path), path);
}

FilePicture decode_pam(const std::vector<std::uint8_t>& bytes, const std::string& path)
{
    if (bytes.size() < 3 || bytes[0] != 'P' || bytes[1] != '7' || !std::isspace(bytes[2]))
        refuse(path, "not a PAM file (no P7 signature)");

    // Header lines up to ENDHDR; '#' starts a comment line.
    std::map<std::string, long long> numbers;
    std::size_t at = 3;
    bool ended = false;
    while (at < bytes.size() && !ended) {
        const auto eol = std::find(bytes.begin() + std::ptrdiff_t(at), bytes.end(), std::uint8_t('\n'));
        if (eol == bytes.end())
            refuse(path, "the header has no ENDHDR line");
        const std::string line(bytes.begin() + std::ptrdiff_t(at), eol);
        at = std::size_t(eol - bytes.begin()) + 1;
        std::istringstream words(line);
        std::string key;
        if (!(words >> key) || key[0] == '#')
            continue;
        if (key == "ENDHDR") {
            ended = true;
        } else if (key == "WIDTH" || key == "HEIGHT" || key == "DEPTH" || key == "MAXVAL") {
            long long value = 0;
            std::string rest;
            if (!(words >> value) || (words >> rest))
                refuse(path, "header line '" + line + "' is not '" + key + " <number>'");
            numbers[key] = value;
        }
        // Other keys (TUPLTYPE among them) carry nothing the tool uses.
    }
    if (!ended)
        refuse(path, "the header has no ENDHDR line");
    for (const char* key : {"WIDTH", "HEIGHT", "DEPTH", "MAXVAL"})
        if (!numbers.count(key))
            refuse(path, std::string("the header has no ") + key);

    FilePicture picture;
    const long long channels = numbers["DEPTH"], maxval = numbers["MAXVAL"];
    if (channels < 1 || channels > 4)
        refuse(path, "DEPTH " + std::to_string(channels) + " (1 to 4 channels are read)");
    if (maxval < 1 || maxval > 65535)
        refuse(path, "MAXVAL " + std::to_string(maxval) + " is outside 1..65535");
    check_size(path, numbers["WIDTH"], numbers["HEIGHT"], channels);
    picture.width = int(numbers["WIDTH"]);
    picture.height = int(numbers["HEIGHT"]);
    picture.channels = int(channels);
    picture.full_scale = double(maxval);
    picture.format = "pam";
    // Alpha is the channel after the colours: the second of GRAYSCALE_ALPHA,
    // the fourth of RGB_ALPHA. A tuple type naming alpha over one or three
    // channels has no channel for it; the channels are colour, as their
    // number says.
    if (channels == 2 || channels == 4)
        picture.alpha_channel = picture.channels - 1;

    const std::size_t count = picture.component_count();
    const std::size_t width = maxval > 255 ? 2 : 1;
    if (bytes.size() - at < count * width)
        refuse(path, "the file ends before its last pixel");
    const std::uint8_t* data = bytes.data() + at;
    if (width == 1) {
        picture.depth = Depth::u8;
        picture.u8.assign(data, data + count);
    } else {
        // Netpbm samples are big-endian.
        picture.depth = Depth::u16;
        picture.u16.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            picture.u16[i] = std::uint16_t(data[2 * i] << 8 | data[2 * i + 1]);
    }
    return picture;
}

std::string write_pam(const std::string& path, const FilePicture& picture)
{
    std::vector<std::uint8_t> bytes;
    const std::string reason = encode_pam(picture, bytes);
    return reason.empty() ? write_file(path, bytes) : reason;
}

std::string encode_pam(const FilePicture& picture, std::vector<std::uint8_t>& bytes)
{
    if (picture.channels < 1 || picture.channels > 4 || picture.depth == Depth::f32)
        return "PAM holds 1 to 4 channels of 8 or 16 bits";
    const long long maxval = (long long)picture.full_scale;
    std::ostringstream header;
    header << "P7\nWIDTH " << picture.width << "\nHEIGHT " << picture.height << "\nDEPTH " << picture.channels
           << "\nMAXVAL " << maxval << "\nTUPLTYPE " << kTupleTypes[picture.channels - 1] << "\nENDHDR\n";
    const std::string text = header.str();
    bytes.assign(text.begin(), text.end());
    if (picture.depth == Depth::u8) {
        bytes.insert(bytes.end(), picture.u8.begin(), picture.u8.end());
        return {};
    }
    // Netpbm samples are big-endian.
    for (std::uint16_t v : picture.u16) {
        bytes.push_back(std::uint8_t(v >> 8));
        bytes.push_back(std::uint8_t(v));
    }
    return {};
}

// ---- TIFF -----------------------------------------------------------------

namespace {

enum TiffTag : std::uint16_t {
    kImageWidth = 256,
    kImageLength = 257,
    kBitsPerSample = 258,
    kCompression = 259,
    kPhotometric = 262,
    kStripOffsets = 273,
    kSamplesPerPixel = 277,
    kRowsPerStrip = 278,
    kStripByteCounts = 279,
    kPlanarConfig = 284,
    kPredictor = 317,
    kTileWidth = 322,
    kExtraSamples = 338,
    kSampleFormat = 339,
};

enum TiffType : std::uint16_t { kByte = 1, kAscii = 2, kShort = 3, kLong = 4 };

/// Bounds-checked reads from a TIFF in its own byte order.
class TiffBytes {
public:
    TiffBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) : path_(path), bytes_(bytes)
    {
        if (bytes.size() < 8)
            refuse(path, "not a TIFF file (too short)");
        if (bytes[0] == 'I' && bytes[1] == 'I')
            little_ = true;
        else if (bytes[0] == 'M' && bytes[1] == 'M')
            little_ = false;
        else
            refuse(path, "not a TIFF file (no byte order mark)");
        if (u16(2) == 43)
            refuse(path, "BigTIFF files are not read");
        if (u16(2) != 42)
            refuse(path, "not a TIFF file (bad signature)");
    }

    std::uint16_t u16(std::size_t at) const
    {
        need(at, 2);
        return little_ ? std::uint16_t(bytes_[at] | bytes_[at + 1] << 8)
                       : std::uint16_t(bytes_[at] << 8 | bytes_[at + 1]);
    }
    std::uint32_t u32(std::size_t at) const
    {
        need(at, 4);
        return little_ ? std::uint32_t(u16(at)) | std::uint32_t(u16(at + 2)) << 16
                       : std::uint32_t(u16(at)) << 16 | std::uint32_t(u16(at + 2));
    }
    void need(std::size_t at, std::size_t length) const
    {
        if (at > bytes_.size() || length > bytes_.size() - at)
            refuse(path_, "the file ends inside its own data");
    }
    bool little() const { return little_; }
    const std::uint8_t* data() const { return bytes_.data(); }

private:
    const std::string& path_;
    const std::vector<std::uint8_t>& bytes_;
    bool little_ = true;
};

/// The values of one IFD entry (SHORT or LONG; BYTE for ExtraSamples writers
/// that use it), wherever they are stored.
std::vector<std::uint32_t> entry_values(const TiffBytes& tiff, std::size_t entry)
{
    const std::uint16_t type = tiff.u16(entry + 2);
    const std::uint32_t count = tiff.u32(entry + 4);
    const std::size_t size = type == kShort ? 2 : type == kLong ? 4 : type == kByte ? 1 : 0;
    if (size == 0 || count > (1u << 24))
        return {};
    const std::size_t total = size * count;
    const std::size_t at = total <= 4 ? entry + 8 : tiff.u32(entry + 8);
    tiff.need(at, total);
    std::vector<std::uint32_t> values(count);
    for (std::uint32_t i = 0; i < count; ++i)
        values[i] = size == 2 ? tiff.u16(at + 2 * i) : size == 4 ? tiff.u32(at + 4 * i) : tiff.data()[at + i];
    return values;
}

}  // namespace

FilePicture read_tiff(const std::string& path)
{
    return decode_tiff(read_file(path), path);
}

FilePicture decode_tiff(const std::vector<std::uint8_t>& bytes, const std::string& path)
{
    const TiffBytes tiff(path, bytes);

    std::map<std::uint16_t, std::vector<std::uint32_t>> tags;
    const std::size_t ifd = tiff.u32(4);
    const std::uint16_t entries = tiff.u16(ifd);
    for (std::uint16_t i = 0; i < entries; ++i) {
        const std::size_t entry = ifd + 2 + 12 * std::size_t(i);
        tags[tiff.u16(entry)] = entry_values(tiff, entry);
    }
    auto one = [&](TiffTag tag, std::uint32_t fallback) {
        const auto found = tags.find(tag);
        return found == tags.end() || found->second.empty() ? fallback : found->second[0];
    };
    auto all_equal = [&](TiffTag tag, std::uint32_t fallback, std::size_t count) {
        const auto found = tags.find(tag);
        if (found == tags.end())
            return fallback;
        const std::vector<std::uint32_t>& values = found->second;
        if (values.empty() || (values.size() != 1 && values.size() != count) ||
            std::adjacent_find(values.begin(), values.end(), std::not_equal_to<>()) != values.end())
            refuse(path, "channels of different types are not read");
        return values[0];
    };

    if (tags.count(kTileWidth))
        refuse(path, "tiled TIFF files are not read");
    if (one(kCompression, 1) != 1)
        refuse(path, "compressed TIFF files are not read (compression " + std::to_string(one(kCompression, 1)) +
                         "); save it uncompressed");
    if (one(kPredictor, 1) != 1)
        refuse(path, "TIFF predictors are not read");
    if (one(kPlanarConfig, 1) != 1)
        refuse(path, "planar TIFF files are not read");
    const std::uint32_t photometric = one(kPhotometric, 1);
    if (photometric != 1 && photometric != 2)
        refuse(path, "photometric interpretation " + std::to_string(photometric) +
                         " is not read (grey with black at zero, or RGB)");
    const std::uint32_t channels = one(kSamplesPerPixel, 1);
    const std::uint32_t colour = photometric == 2 ? 3 : 1;
    // The colour samples and at most one extra (alpha) sample.
    if (channels < colour || channels > colour + 1)
        refuse(path, std::to_string(channels) + " samples per pixel do not fit its colour space");
    const std::uint32_t bits = all_equal(kBitsPerSample, 1, channels);
    const std::uint32_t format = all_equal(kSampleFormat, 1, channels);
    Depth depth;
    if (bits == 8 && format == 1)
        depth = Depth::u8;
    else if (bits == 16 && format == 1)
        depth = Depth::u16;
    else if (bits == 32 && format == 3)
        depth = Depth::f32;
    else
        refuse(path, std::to_string(bits) + "-bit " + (format == 3 ? "float" : "integer") +
                         " components are not read (8 or 16-bit unsigned, 32-bit float)");

    check_size(path, one(kImageWidth, 0), one(kImageLength, 0), channels);
    FilePicture picture;
    picture.width = int(one(kImageWidth, 0));
    picture.height = int(one(kImageLength, 0));
    picture.channels = int(channels);
    picture.depth = depth;
    picture.full_scale = depth == Depth::u8 ? 255.0 : depth == Depth::u16 ? 65535.0 : 1.0;
    picture.alpha_channel = channels > colour ? int(colour) : -1;
    picture.format = "tiff";

    const std::vector<std::uint32_t> offsets = tags[kStripOffsets];
    const std::vector<std::uint32_t> counts = tags[kStripByteCounts];
    const std::uint32_t rows_per_strip = std::max<std::uint32_t>(1, one(kRowsPerStrip, std::uint32_t(picture.height)));
    const std::size_t component = bits / 8;
    const std::size_t row_bytes = std::size_t(picture.width) * channels * component;
    const std::size_t strips = (std::size_t(picture.height) + rows_per_strip - 1) / rows_per_strip;
    if (offsets.size() < strips)
        refuse(path, "the file names fewer strips than its rows need");

    std::vector<std::uint8_t> raw(row_bytes * std::size_t(picture.height));
    for (std::size_t strip = 0; strip < strips; ++strip) {
        const std::size_t first = strip * rows_per_strip;
        const std::size_t rows = std::min<std::size_t>(rows_per_strip, std::size_t(picture.height) - first);
        const std::size_t length = rows * row_bytes;
        if (strip < counts.size() && counts[strip] < length)
            refuse(path, "strip " + std::to_string(strip) + " is shorter than its rows");
        tiff.need(offsets[strip], length);
        std::memcpy(raw.data() + first * row_bytes, bytes.data() + offsets[strip], length);
    }

    const std::size_t count = picture.component_count();
    auto load = [&](std::size_t i) -> std::uint32_t {
        const std::uint8_t* p = raw.data() + i * component;
        std::uint32_t v = 0;
        for (std::size_t b = 0; b < component; ++b)
            v |= std::uint32_t(p[b]) << (8 * (tiff.little() ? b : component - 1 - b));
        return v;
    };
    if (depth == Depth::u8) {
        picture.u8 = std::move(raw);
    } else if (depth == Depth::u16) {
        picture.u16.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            picture.u16[i] = std::uint16_t(load(i));
    } else {
        picture.f32.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t v = load(i);
            std::memcpy(&picture.f32[i], &v, 4);
        }
    }
    return picture;
}

std::string write_tiff(const std::string& path, const FilePicture& picture)
{
    std::vector<std::uint8_t> bytes;
    const std::string reason = encode_tiff(picture, bytes);
    return reason.empty() ? write_file(path, bytes) : reason;
}

std::string encode_tiff(const FilePicture& picture, std::vector<std::uint8_t>& out)
{
    if (picture.channels < 1 || picture.channels > 4)
        return "TIFF is written with 1 to 4 channels";
    // Classic TIFF addresses its data with 32-bit offsets.
    if (picture.component_count() * 4 > 0xFFFF0000u)
        return "the picture is too large for a TIFF file";
    const std::uint16_t channels = std::uint16_t(picture.channels);
    const std::uint16_t bits = picture.depth == Depth::u8 ? 8 : picture.depth == Depth::u16 ? 16 : 32;
    const bool grey = channels <= 2;
    const bool alpha = channels == 2 || channels == 4;

    // Layout: 8-byte header, the pixels in one strip, the IFD, then the
    // per-channel arrays that do not fit in their entries.
    out.clear();
    auto put16 = [&](std::uint16_t v) {
        out.push_back(std::uint8_t(v));
        out.push_back(std::uint8_t(v >> 8));
    };
    auto put32 = [&](std::uint32_t v) {
        put16(std::uint16_t(v));
        put16(std::uint16_t(v >> 16));
    };
    out.push_back('I');  // little-endian
    out.push_back('I');
    put16(42);
    const std::size_t ifd_offset_at = out.size();
    put32(0);

    const std::size_t pixels_at = out.size();
    const std::size_t count = picture.component_count();
    if (picture.depth == Depth::u8) {
        out.insert(out.end(), picture.u8.begin(), picture.u8.end());
    } else if (picture.depth == Depth::u16) {
        for (std::uint16_t v : picture.u16)
            put16(v);
    } else {
        for (float f : picture.f32) {
            std::uint32_t v;
            std::memcpy(&v, &f, 4);
            put32(v);
        }
    }
    const std::size_t pixel_size = count * (bits / 8);
    if (out.size() % 2)
        out.push_back(0);  // the IFD starts on a word boundary

    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count;
        std::vector<std::uint16_t> values;  // SHORT values, or one LONG in `value`
        std::uint32_t value;
    };
    const std::vector<std::uint16_t> per_channel_bits(channels, bits);
    const std::vector<std::uint16_t> per_channel_format(channels, picture.depth == Depth::f32 ? 3 : 1);
    std::vector<Entry> entries = {
        {kImageWidth, kLong, 1, {}, std::uint32_t(picture.width)},
        {kImageLength, kLong, 1, {}, std::uint32_t(picture.height)},
        {kBitsPerSample, kShort, channels, per_channel_bits, 0},
        {kCompression, kShort, 1, {1}, 0},
        {kPhotometric, kShort, 1, {std::uint16_t(grey ? 1 : 2)}, 0},
        {kStripOffsets, kLong, 1, {}, std::uint32_t(pixels_at)},
        {kSamplesPerPixel, kShort, 1, {channels}, 0},
        {kRowsPerStrip, kLong, 1, {}, std::uint32_t(picture.height)},
        {kStripByteCounts, kLong, 1, {}, std::uint32_t(pixel_size)},
        {kPlanarConfig, kShort, 1, {1}, 0},
    };
    if (alpha)
        entries.push_back({kExtraSamples, kShort, 1, {2}, 0});  // unassociated alpha: values are straight
    entries.push_back({kSampleFormat, kShort, channels, per_channel_format, 0});

    const std::size_t ifd_at = out.size();
    out[ifd_offset_at] = std::uint8_t(ifd_at);
    out[ifd_offset_at + 1] = std::uint8_t(ifd_at >> 8);
    out[ifd_offset_at + 2] = std::uint8_t(ifd_at >> 16);
    out[ifd_offset_at + 3] = std::uint8_t(ifd_at >> 24);
    std::size_t extra_at = ifd_at + 2 + 12 * entries.size() + 4;
    std::vector<std::uint16_t> extra;
    put16(std::uint16_t(entries.size()));
    for (const Entry& e : entries) {
        put16(e.tag);
        put16(e.type);
        put32(e.count);
        if (e.type == kLong) {
            put32(e.value);
        } else if (e.values.size() <= 2) {
            put16(e.values[0]);
            put16(e.values.size() == 2 ? e.values[1] : 0);
        } else {
            put32(std::uint32_t(extra_at + 2 * extra.size()));
            extra.insert(extra.end(), e.values.begin(), e.values.end());
        }
    }
    put32(0);  // no further IFD
    for (std::uint16_t v : extra)
        put16(v);
    return {};
}

std::string larger_than_a_layer(long long width, long long height)
{
    return std::to_string(width) + " x " + std::to_string(height) + " pixels is larger than a layer can be (" +
           std::to_string(kMaxLayerSide) + " x " + std::to_string(kMaxLayerSide) + ")";
}

}  // namespace ruvivedu::tool
