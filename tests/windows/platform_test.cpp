// Tests of what checks and carries the Windows and macOS builds: the built-in
// PAM and TIFF codecs (the Windows tool's only file formats), the PE reader
// behind pe_check, and the Rez source of the macOS PiPL.
#include "image_file.h"
#include "pe_file.h"
#include "picture_codecs.h"
#include "pipl_builder.h"
#include "tool_error.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

using namespace ruvivedu;
using namespace std::string_literals;
using tool::Depth;
using tool::FilePicture;

class ScratchDir {
public:
    ScratchDir()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                ("ruvivedu_platform_" + std::string(info->test_suite_name()) + "_" + info->name());
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

void write_bytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string read_bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

/// A world whose every component differs from its neighbours', including
/// the extremes of each depth's range.
host::World pattern_world(Depth depth, A_long width, A_long height)
{
    host::World world(depth, width, height);
    for (A_long y = 0; y < height; ++y)
        for (A_long x = 0; x < width; ++x) {
            const int i = int(y * width + x);
            if (depth == Depth::u8)
                world.pixel8(x, y) = PF_Pixel8{A_u_char(i * 7 % 256), A_u_char(i % 256), A_u_char(255 - i % 256),
                                               A_u_char(i * 13 % 256)};
            else if (depth == Depth::u16)
                world.pixel16(x, y) = PF_Pixel16{A_u_short(i * 977 % 32769), A_u_short(32768 - i % 32769),
                                                 A_u_short(i * 31 % 32769), A_u_short(i == 0 ? 32768 : i % 3)};
            else
                world.pixel32(x, y) =
                    PF_PixelFloat{float(i) / 7.0f, -0.5f + float(i) / 3.0f, 1.0f / float(i + 3), float(i) * 1e-7f};
        }
    return world;
}

bool same_pixels(const host::World& a, const host::World& b)
{
    if (a.depth() != b.depth() || a.width() != b.width() || a.height() != b.height())
        return false;
    const std::size_t row = std::size_t(a.width()) * host::bytes_per_pixel(a.depth());
    for (A_long y = 0; y < a.height(); ++y)
        if (std::memcmp(a.row(y), b.row(y), row) != 0)
            return false;
    return true;
}

// ---- PAM ------------------------------------------------------------------

TEST(Pam, EightAndSixteenBitWorldsRoundTripExactly)
{
    // 16-bit files carry the host's 0..32768 values as they are (MAXVAL
    // 32768), so no value is rounded on the way out or back.
    ScratchDir dir;
    for (Depth depth : {Depth::u8, Depth::u16}) {
        const host::World world = pattern_world(depth, 13, 5);
        const std::string path = dir.file(depth == Depth::u8 ? "w8.pam" : "w16.pam");
        tool::write_image(path, world);
        tool::FileInfo info;
        const host::World back = tool::read_image(path, std::nullopt, &info);
        EXPECT_TRUE(same_pixels(world, back));
        EXPECT_EQ(info.format, "pam");
        EXPECT_EQ(info.channels, 4);
        EXPECT_TRUE(info.has_alpha);
    }
    const std::string text = read_bytes(dir.file("w16.pam"));
    const std::string header = "P7\nWIDTH 13\nHEIGHT 5\nDEPTH 4\nMAXVAL 32768\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    EXPECT_EQ(text.rfind(header, 0), 0u);
    EXPECT_EQ(text.size(), header.size() + 13 * 5 * 4 * 2);  // big-endian pairs, no padding
}

TEST(Pam, FloatRendersAreWrittenAsSixteenBits)
{
    const tool::OutputLayout layout = tool::output_layout("x.pam", Depth::f32);
    EXPECT_EQ(layout.depth, Depth::u16);
    EXPECT_EQ(layout.full_scale, 32768.0);
    EXPECT_EQ(tool::output_layout("x.PAM", Depth::u8).depth, Depth::u8);
}

TEST(Pam, GreyAndOtherMaxvalsMapToHostScale)
{
    ScratchDir dir;
    // Grey without alpha: R = G = B, opaque. MAXVAL 1000 in two bytes:
    // 500 / 1000 of 32768 is 16384; 1000 is full scale.
    write_bytes(dir.file("grey.pam"), "P7\n# comment\nWIDTH 2\nHEIGHT 1\nDEPTH 1\nMAXVAL 1000\n"
                                      "TUPLTYPE GRAYSCALE\nENDHDR\n\x01\xF4\x03\xE8"s);
    const host::World grey = tool::read_image(dir.file("grey.pam"), Depth::u16);
    EXPECT_EQ(grey.pixel16(0, 0).red, 16384);
    EXPECT_EQ(grey.pixel16(0, 0).blue, 16384);
    EXPECT_EQ(grey.pixel16(0, 0).alpha, 32768);
    EXPECT_EQ(grey.pixel16(1, 0).green, 32768);

    // Grey with alpha, 8-bit: the second channel is alpha.
    write_bytes(dir.file("ga.pam"),
                "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\nTUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n\x40\x80"s);
    const PF_Pixel8 ga = tool::read_image(dir.file("ga.pam"), std::nullopt).pixel8(0, 0);
    EXPECT_EQ(ga.red, 0x40);
    EXPECT_EQ(ga.alpha, 0x80);
}

TEST(Pam, MalformedFilesAreRefusedWithTheirReason)
{
    ScratchDir dir;
    const struct {
        std::string bytes;
        std::string reason;
    } cases[] = {
        {"P6\n1 1\n255\n\0\0\0", "no P7 signature"},
        {"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\n", "no ENDHDR"},
        {"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 5\nMAXVAL 255\nENDHDR\n", "DEPTH 5"},
        {"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 0\nENDHDR\n", "MAXVAL 0"},
        {"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 70000\nENDHDR\n", "MAXVAL 70000"},
        {"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nENDHDR\n", "no MAXVAL"},
        {"P7\nWIDTH x\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nENDHDR\n", "WIDTH x"},
        {"P7\nWIDTH 2\nHEIGHT 2\nDEPTH 3\nMAXVAL 255\nENDHDR\nabc", "ends before"},
        // A header announcing a picture larger than any heap: refused before allocating.
        {"P7\nWIDTH 1048576\nHEIGHT 1048576\nDEPTH 4\nMAXVAL 255\nENDHDR\n", "too large"},
        {"P7\nWIDTH 0\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nENDHDR\n", "unsupported size"},
    };
    for (const auto& c : cases) {
        write_bytes(dir.file("bad.pam"), c.bytes);
        try {
            tool::read_image(dir.file("bad.pam"), std::nullopt);
            ADD_FAILURE() << "accepted: " << c.reason;
        } catch (const tool::ToolError& e) {
            const std::string text = e.what();
            EXPECT_EQ(text.rfind("cannot read '", 0), 0u) << text;
            EXPECT_NE(text.find(c.reason), std::string::npos) << text;
        }
    }
}

// ---- TIFF -----------------------------------------------------------------

FilePicture picture_of(Depth depth, int channels)
{
    FilePicture p;
    p.width = 7;
    p.height = 3;
    p.channels = channels;
    p.alpha_channel = channels == 4 || channels == 2 ? channels - 1 : -1;
    p.depth = depth;
    p.full_scale = depth == Depth::u8 ? 255.0 : depth == Depth::u16 ? 65535.0 : 1.0;
    for (std::size_t i = 0; i < p.component_count(); ++i) {
        if (depth == Depth::u8)
            p.u8.push_back(std::uint8_t(i * 37));
        else if (depth == Depth::u16)
            p.u16.push_back(std::uint16_t(i * 3001));
        else
            p.f32.push_back(float(i) * 0.37f - 2.0f);
    }
    return p;
}

TEST(Tiff, EveryDepthAndChannelCountRoundTrips)
{
    ScratchDir dir;
    for (Depth depth : {Depth::u8, Depth::u16, Depth::f32})
        for (int channels : {1, 2, 3, 4}) {
            const FilePicture out = picture_of(depth, channels);
            ASSERT_EQ(tool::write_tiff(dir.file("rt.tif"), out), "");
            const FilePicture in = tool::read_tiff(dir.file("rt.tif"));
            EXPECT_EQ(in.width, out.width);
            EXPECT_EQ(in.height, out.height);
            EXPECT_EQ(in.channels, channels);
            EXPECT_EQ(in.alpha_channel, out.alpha_channel);
            EXPECT_EQ(in.depth, depth);
            EXPECT_EQ(in.u8, out.u8);
            EXPECT_EQ(in.u16, out.u16);
            EXPECT_EQ(in.f32, out.f32);
        }
}

TEST(Tiff, OurFilesReadTheSameThroughOpenImageIO)
{
    // On Linux, read_image takes TIFF through OpenImageIO: a float render
    // written by the Windows build's codec reads back bit for bit there.
    ScratchDir dir;
    const host::World world = pattern_world(Depth::f32, 9, 4);
    FilePicture picture = picture_of(Depth::f32, 4);
    picture.width = 9;
    picture.height = 4;
    picture.f32.clear();
    for (A_long y = 0; y < 4; ++y)
        for (A_long x = 0; x < 9; ++x) {
            const PF_PixelFloat& p = world.pixel32(x, y);
            picture.f32.insert(picture.f32.end(), {p.red, p.green, p.blue, p.alpha});
        }
    ASSERT_EQ(tool::write_tiff(dir.file("ours.tif"), picture), "");
    tool::FileInfo info;
    const host::World back = tool::read_image(dir.file("ours.tif"), std::nullopt, &info);
    EXPECT_EQ(info.format, "tiff");
    EXPECT_TRUE(info.has_alpha);
    EXPECT_TRUE(same_pixels(world, back));
}

TEST(Tiff, BigEndianStripsAreRead)
{
    // Hand-made: big-endian, 16-bit grey, 2 x 3 pixels in two strips of two
    // rows and one row, no SamplesPerPixel tag (default 1).
    std::string b = "MM\0*\0\0\0\x08"s;
    auto u16 = [&](int v) { b += char(v >> 8), b += char(v & 0xFF); };
    auto u32 = [&](unsigned v) { u16(int(v >> 16)), u16(int(v & 0xFFFF)); };
    auto entry = [&](int tag, int type, unsigned count, unsigned value) {
        u16(tag), u16(type), u32(count);
        if (type == 3 && count == 1)
            u16(int(value)), u16(0);
        else
            u32(value);
    };
    const unsigned ifd_size = 2 + 9 * 12 + 4;
    const unsigned offsets_at = 8 + ifd_size, counts_at = offsets_at + 8, pixels_at = counts_at + 8;
    u16(9);
    entry(256, 3, 1, 2);
    entry(257, 3, 1, 3);
    entry(258, 3, 1, 16);
    entry(259, 3, 1, 1);
    entry(262, 3, 1, 1);
    entry(273, 4, 2, offsets_at);
    entry(278, 3, 1, 2);
    entry(279, 4, 2, counts_at);
    entry(284, 3, 1, 1);
    u32(0);
    u32(pixels_at), u32(pixels_at + 8);
    u32(8), u32(4);
    for (int v : {0, 65535, 1000, 2000, 40000, 50000})
        u16(v);

    ScratchDir dir;
    write_bytes(dir.file("be.tif"), b);
    const FilePicture p = tool::read_tiff(dir.file("be.tif"));
    EXPECT_EQ(p.channels, 1);
    EXPECT_EQ(p.alpha_channel, -1);
    EXPECT_EQ(p.u16, (std::vector<std::uint16_t>{0, 65535, 1000, 2000, 40000, 50000}));

    // The same file cut short inside its second strip is refused.
    write_bytes(dir.file("short.tif"), b.substr(0, b.size() - 3));
    EXPECT_THROW(tool::read_tiff(dir.file("short.tif")), tool::ToolError);
}

TEST(Tiff, UnsupportedLayoutsAreRefusedWithTheirReason)
{
    ScratchDir dir;
    ASSERT_EQ(tool::write_tiff(dir.file("base.tif"), picture_of(Depth::u8, 3)), "");
    const std::string base = read_bytes(dir.file("base.tif"));
    // Patch one SHORT tag's value in the IFD.
    auto with_tag = [&](std::uint16_t tag, std::uint16_t value) {
        std::string b = base;
        const std::uint32_t ifd = std::uint8_t(b[4]) | std::uint8_t(b[5]) << 8 | std::uint8_t(b[6]) << 16;
        const int count = std::uint8_t(b[ifd]) | std::uint8_t(b[ifd + 1]) << 8;
        for (int i = 0; i < count; ++i) {
            const std::size_t e = ifd + 2 + 12 * std::size_t(i);
            if ((std::uint8_t(b[e]) | std::uint8_t(b[e + 1]) << 8) == tag) {
                b[e + 8] = char(value & 0xFF);
                b[e + 9] = char(value >> 8);
            }
        }
        return b;
    };
    const struct {
        std::string bytes;
        std::string reason;
    } cases[] = {
        {with_tag(259, 8), "compressed"},
        {with_tag(284, 2), "planar"},
        {with_tag(262, 0), "photometric interpretation 0"},
        {"II+\0\x10\0\0\0"s, "BigTIFF"},
        {"XX*\0\x08\0\0\0"s, "no byte order mark"},
    };
    for (const auto& c : cases) {
        write_bytes(dir.file("bad.tif"), c.bytes);
        try {
            tool::read_tiff(dir.file("bad.tif"));
            ADD_FAILURE() << "accepted: " << c.reason;
        } catch (const tool::ToolError& e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        }
    }
}

// ---- PE reader ------------------------------------------------------------

/// A minimal PE32+ DLL image: headers and one section at RVA 0x1000 (file
/// offset 0x200) holding an export table, an import directory and a
/// resource tree, laid out by hand.
struct PeBuilder {
    std::vector<std::uint8_t> image = std::vector<std::uint8_t>(0x200 + 0x400, 0);

    void u16(std::size_t at, std::uint32_t v)
    {
        image[at] = std::uint8_t(v);
        image[at + 1] = std::uint8_t(v >> 8);
    }
    void u32(std::size_t at, std::uint32_t v)
    {
        u16(at, v & 0xFFFF);
        u16(at + 2, v >> 16);
    }
    void text(std::size_t at, const std::string& s) { std::memcpy(&image[at], s.c_str(), s.size() + 1); }
    static std::size_t file(std::uint32_t rva) { return rva - 0x1000 + 0x200; }

    PeBuilder()
    {
        image[0] = 'M', image[1] = 'Z';
        u32(0x3C, 0x80);
        text(0x80, "PE");
        u16(0x84, 0x8664);    // machine
        u16(0x86, 1);         // one section
        u16(0x94, 240);       // optional header size
        u16(0x96, 0x2022);    // DLL, executable, large address aware
        u16(0x98, 0x20B);     // PE32+
        u32(0x98 + 108, 16);  // data directories
        const std::size_t section = 0x98 + 240;
        u32(section + 8, 0x400);    // virtual size
        u32(section + 12, 0x1000);  // virtual address
        u32(section + 16, 0x400);   // raw size
        u32(section + 20, 0x200);   // raw offset

        // Exports at 0x1000: two names, sorted, pointing at two functions.
        directory(0, 0x1000, 0x80);
        u32(file(0x1000) + 20, 2);
        u32(file(0x1000) + 24, 2);
        u32(file(0x1000) + 28, 0x1040);  // functions
        u32(file(0x1000) + 32, 0x1048);  // names
        u32(file(0x1000) + 36, 0x1050);  // ordinals
        u32(file(0x1040), 0x1300);
        u32(file(0x1044), 0x1310);
        u32(file(0x1048), 0x1060);
        u32(file(0x104C), 0x1070);
        u16(file(0x1050), 1);
        u16(file(0x1052), 0);
        text(file(0x1060), "EntryPointFunc");
        text(file(0x1070), "PluginDataEntryFunction");

        // Imports at 0x1100: one DLL, then the empty descriptor.
        directory(1, 0x1100, 40);
        u32(file(0x1100) + 12, 0x1140);
        text(file(0x1140), "KERNEL32.dll");

        // Resources at 0x1200: type "PIPL" -> id 16000 -> language 1033 -> 4 bytes.
        directory(2, 0x1200, 0x100);
        const std::size_t root = file(0x1200);
        u16(root + 12, 1);                   // one named entry
        u32(root + 16, 0x80000000u | 0x60);  // name string at +0x60
        u32(root + 20, 0x80000000u | 0x18);  // subdirectory at +0x18
        u16(root + 0x18 + 14, 1);            // one id entry
        u32(root + 0x18 + 16, 16000);
        u32(root + 0x18 + 20, 0x80000000u | 0x30);
        u16(root + 0x30 + 14, 1);
        u32(root + 0x30 + 16, 1033);
        u32(root + 0x30 + 20, 0x48);  // data entry at +0x48
        u32(root + 0x48, 0x1280);     // data RVA
        u32(root + 0x48 + 4, 4);      // size
        u16(root + 0x60, 4);
        for (int i = 0; i < 4; ++i)
            u16(root + 0x62 + 2 * std::size_t(i), std::uint8_t("PIPL"[i]));
        text(file(0x1280), "abc");
    }
    void directory(int index, std::uint32_t rva, std::uint32_t size)
    {
        u32(0x98 + 112 + 8 * std::size_t(index), rva);
        u32(0x98 + 116 + 8 * std::size_t(index), size);
    }
};

TEST(PeReader, ReadsExportsImportsAndResources)
{
    const pe::PeFile file = pe::read_pe(PeBuilder().image);
    EXPECT_EQ(file.machine, pe::kMachineAmd64);
    EXPECT_TRUE(file.is_dll);
    ASSERT_EQ(file.exports.size(), 2u);
    EXPECT_EQ(file.exports[0].name, "EntryPointFunc");
    EXPECT_EQ(file.exports[0].rva, 0x1310u);  // through ordinal 1
    EXPECT_EQ(file.exports[1].name, "PluginDataEntryFunction");
    EXPECT_EQ(file.exports[1].rva, 0x1300u);
    EXPECT_FALSE(file.exports[0].forwarded);
    EXPECT_EQ(file.imports, std::vector<std::string>{"KERNEL32.dll"});
    ASSERT_EQ(file.resources.size(), 1u);
    EXPECT_EQ(file.resources[0].type, "PIPL");
    EXPECT_EQ(file.resources[0].name, "#16000");
    EXPECT_EQ(file.resources[0].language, 1033);
    EXPECT_EQ(file.resources[0].data, (std::vector<std::uint8_t>{'a', 'b', 'c', 0}));
}

TEST(PeReader, DamagedImagesAreRefused)
{
    {
        PeBuilder pe;
        pe.image[0x81] = 'X';  // PE signature
        EXPECT_THROW(pe::read_pe(pe.image), pe::PeError);
    }
    {
        PeBuilder pe;
        pe.u16(0x98, 0x10B);  // a 32-bit image
        EXPECT_THROW(pe::read_pe(pe.image), pe::PeError);
    }
    {
        PeBuilder pe;
        pe.u32(PeBuilder::file(0x1048), 0x9000);  // an export name outside every section
        EXPECT_THROW(pe::read_pe(pe.image), pe::PeError);
    }
    {
        PeBuilder pe;
        // The language level points back at the root: a loop, not a tree.
        pe.u32(PeBuilder::file(0x1200) + 0x30 + 20, 0x80000000u);
        EXPECT_THROW(pe::read_pe(pe.image), pe::PeError);
    }
    {
        PeBuilder pe;
        // A language named by a string (here the type's own, "PIPL") where a
        // number belongs: the reader took the name for digits, and the
        // std::invalid_argument it threw went past pe_check's handler.
        pe.u32(PeBuilder::file(0x1200) + 0x30 + 16, 0x80000000u | 0x60);
        EXPECT_THROW(pe::read_pe(pe.image), pe::PeError);
    }
    {
        PeBuilder pe;
        pe.image.resize(0x300);  // cut inside the section
        EXPECT_THROW(pe::read_pe(pe.image), pe::PeError);
    }
}

// ---- macOS PiPL -----------------------------------------------------------

std::vector<std::uint8_t> parse_rez_data(const std::string& source)
{
    std::vector<std::uint8_t> bytes;
    const std::regex line("\\$\"([0-9A-F ]*)\"");
    for (auto it = std::sregex_iterator(source.begin(), source.end(), line); it != std::sregex_iterator(); ++it) {
        std::string hex = (*it)[1];
        hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            bytes.push_back(std::uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::uint32_t be32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 | std::uint32_t(b[at + 2]) << 8 | b[at + 3];
}

TEST(MacPipl, RezSourceStatesTheBigEndianBytes)
{
    const std::vector<std::uint8_t> mac = build_pipl(PiPLPlatform::macos);
    const std::string source = rez_source(mac);
    EXPECT_NE(source.find("data 'PiPL' (16000) {"), std::string::npos);
    EXPECT_EQ(parse_rez_data(source), mac);
}

TEST(MacPipl, BothArchitecturesNameTheEntryPoint)
{
    // Header: reserved 0, 13 properties (the Windows 8664 code property is
    // replaced by mi64 and ma64). Codes read in natural order.
    const std::vector<std::uint8_t> b = build_pipl(PiPLPlatform::macos);
    ASSERT_GE(b.size(), 8u);
    EXPECT_EQ(be32(b, 0), 0u);
    ASSERT_EQ(be32(b, 4), 13u);
    std::vector<std::string> keys;
    std::size_t at = 8;
    for (int i = 0; i < 13; ++i) {
        ASSERT_LE(at + 16, b.size());
        EXPECT_EQ(be32(b, at), four_char_code("8BIM"));
        const std::uint32_t key = be32(b, at + 4), length = be32(b, at + 12);
        keys.push_back(std::string{char(key >> 24), char(key >> 16), char(key >> 8), char(key)});
        const std::vector<std::uint8_t> data(b.begin() + std::ptrdiff_t(at + 16),
                                             b.begin() + std::ptrdiff_t(at + 16 + length));
        if (keys.back() == "mi64" || keys.back() == "ma64") {
            ASSERT_EQ(data.size(), 16u);
            EXPECT_EQ(data[0], 14);  // Pascal length of "EntryPointFunc"
            EXPECT_EQ(std::string(data.begin() + 1, data.begin() + 15), "EntryPointFunc");
        }
        if (keys.back() == "kind") {
            EXPECT_EQ(be32(data, 0), 0x65464B54u);  // 'eFKT'
        } else if (keys.back() == "eGLO") {
            EXPECT_EQ(be32(data, 0), 0x02000440u);
        } else if (keys.back() == "eGL2") {
            EXPECT_EQ(be32(data, 0), 0x08001400u);
        }
        at += 16 + ((length + 3) & ~3u);
    }
    EXPECT_EQ(at, b.size());
    EXPECT_EQ(keys, (std::vector<std::string>{"kind", "name", "catg", "mi64", "ma64", "ePVR", "eSVR", "eVER", "eINF",
                                              "eGLO", "eGL2", "eMNA", "aeFL"}));
}

}  // namespace
