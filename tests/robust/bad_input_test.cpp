// Bad files and targets through the ruvivedu tool: truncated and corrupt PNG,
// OpenEXR and TIFF files, empty files, pictures of no pixels, sizes no layer
// can have, a folder where a file should be, and targets that cannot be
// written. Each must end in one clear line, a non-zero status, no output file
// (not even part of one) and no crash.
#include <OpenImageIO/imageio.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kExitFailure = 1;

std::string quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void spit(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

/// A scratch folder per test, removed with everything in it.
class Scratch {
public:
    Scratch()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / ("ruvivedu-bad-" + std::to_string(::getpid()) + "-" + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    ~Scratch()
    {
        std::error_code ignored;
        fs::permissions(dir_ / "locked", fs::perms::owner_all, ignored);
        fs::remove_all(dir_, ignored);
    }
    std::string file(const std::string& name) const { return (dir_ / name).string(); }
    std::set<std::string> entries() const
    {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_))
            names.insert(e.path().filename().string());
        return names;
    }

private:
    fs::path dir_;
};

struct ToolRun {
    int status = -1;  // exit status; -1 when the tool did not exit (a signal)
    int signal = 0;
    std::string err;
};

ToolRun run_tool(const Scratch& scratch, const std::vector<std::string>& args)
{
    // In a sanitizer build the tool's leak reports must carry whole stacks,
    // or a suppression of a third-party frame could not match them.
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string command = "ASAN_OPTIONS=" + quote(std::string(asan ? asan : "") + ":fast_unwind_on_malloc=0") + " " +
                          quote(RUVIVEDU_TOOL_EXE);
    for (const std::string& a : args)
        command += " " + quote(a);
    const std::string err_file = scratch.file(".stderr");
    command += " >/dev/null 2>" + quote(err_file) + " </dev/null";
    const int raw = std::system(command.c_str());
    ToolRun r;
    if (WIFEXITED(raw))
        r.status = WEXITSTATUS(raw);
    else if (WIFSIGNALED(raw))
        r.signal = WTERMSIG(raw);
    r.err = slurp(err_file);
    fs::remove(err_file);
    // The shell reports a signal as status 128 + n.
    if (r.status > 128)
        r.signal = r.status - 128;
    return r;
}

ToolRun render(const Scratch& scratch, const std::string& in, const std::string& out)
{
    return run_tool(scratch, {"render", in, out, "--dot-size", "4", "--plugin", RUVIVEDU_PLUGIN_PATH});
}

/// A valid 40 x 30 RGBA picture in the format the extension names.
std::string good_picture(const Scratch& scratch, const std::string& name)
{
    const int w = 40, h = 30, c = 4;
    std::vector<float> data(std::size_t(w * h * c));
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = float((i * 37) % 101) / 100.0f;
    const OIIO::TypeDesc type = name.find(".exr") != std::string::npos ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::UINT8;
    OIIO::ImageSpec layout(w, h, c, type);
    layout.alpha_channel = 3;
    const std::string path = scratch.file(name);
    auto out = OIIO::ImageOutput::create(path);
    EXPECT_TRUE(out && out->open(path, layout) && out->write_image(OIIO::TypeDesc::FLOAT, data.data()) && out->close());
    return slurp(path);
}

std::uint32_t crc32(const std::string& bytes, std::size_t from, std::size_t n)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = from; i < from + n; ++i) {
        crc ^= static_cast<unsigned char>(bytes[i]);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void put_be32(std::string& bytes, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + std::size_t(i)] = char((v >> (24 - 8 * i)) & 0xFF);
}

/// A PNG whose header declares width x height, with its checksum mended so
/// that the reader believes it.
std::string png_declaring(std::string png, std::uint32_t width, std::uint32_t height)
{
    // Signature (8), IHDR length and type (8), then width and height; the CRC
    // covers type and data (17 bytes) and follows them.
    put_be32(png, 16, width);
    put_be32(png, 20, height);
    put_be32(png, 29, crc32(png, 12, 17));
    return png;
}

void le16(std::string& s, std::uint16_t v)
{
    s += char(v & 0xFF);
    s += char(v >> 8);
}
void le32(std::string& s, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s += char((v >> (8 * i)) & 0xFF);
}

/// A minimal little-endian grey 8-bit TIFF declaring width x height, with one
/// strip of `data_bytes` bytes actually present.
std::string tiff_declaring(std::uint32_t width, std::uint32_t height, std::uint32_t data_bytes)
{
    struct Tag {
        std::uint16_t id, type;
        std::uint32_t value;
    };
    const std::uint32_t ifd_at = 8;
    const Tag tags[] = {{256, 4, width}, {257, 4, height}, {258, 3, 8},
                        {259, 3, 1},     {262, 3, 1},      {273, 4, 0},
                        {277, 3, 1},     {278, 4, height}, {279, 4, width * height}};
    const std::uint32_t data_at = ifd_at + 2 + sizeof(tags) / sizeof(tags[0]) * 12 + 4;
    std::string s = "II";
    le16(s, 42);
    le32(s, ifd_at);
    le16(s, std::uint16_t(sizeof(tags) / sizeof(tags[0])));
    for (const Tag& t : tags) {
        le16(s, t.id);
        le16(s, t.type);
        le32(s, 1);
        const std::uint32_t v = t.id == 273 ? data_at : t.value;
        if (t.type == 3) {
            le16(s, std::uint16_t(v));
            le16(s, 0);
        } else {
            le32(s, v);
        }
    }
    le32(s, 0);
    s.append(data_bytes, char(0x80));
    return s;
}

/// The failure every case must end in. A decoding library may print its own
/// complaint first (libpng does); the tool's line is the last one.
void expect_clean_failure(const ToolRun& r, const std::string& message)
{
    EXPECT_EQ(r.signal, 0) << "the tool crashed: " << r.err;
    EXPECT_EQ(r.status, kExitFailure) << r.err;
    ASSERT_FALSE(r.err.empty());
    ASSERT_EQ(r.err.back(), '\n') << r.err;
    const std::size_t start = r.err.rfind('\n', r.err.size() - 2);
    const std::string last = r.err.substr(start == std::string::npos ? 0 : start + 1);
    EXPECT_EQ(last.rfind("ruvivedu: ", 0), 0u) << r.err;
    EXPECT_NE(last.find(message), std::string::npos) << r.err;
}

}  // namespace

TEST(BadInput, TruncatedAndCorruptFilesOfEveryFormat)
{
    Scratch scratch;
    for (const char* ext : {".png", ".exr", ".tif"}) {
        const std::string good = good_picture(scratch, std::string("good") + ext);
        std::string flipped = good;
        // Past the header, into the pixel data, every byte inverted.
        for (std::size_t i = good.size() / 2; i < good.size() - 16; ++i)
            flipped[i] = char(~flipped[i]);
        std::string header_only = good.substr(0, 40);
        std::string scrambled_header = good;
        for (std::size_t i = 8; i < 40; ++i)
            scrambled_header[i] = char(scrambled_header[i] * 31 + 7);
        const struct {
            const char* what;
            std::string bytes;
        } cases[] = {{"half the file", good.substr(0, good.size() / 2)},
                     {"the header only", header_only},
                     {"inverted pixel data", flipped},
                     {"a scrambled header", scrambled_header},
                     {"no bytes at all", ""}};
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(ext) + ": " + c.what);
            const std::string in = scratch.file(std::string("bad") + ext);
            spit(in, c.bytes);
            const auto before = scratch.entries();
            const ToolRun r = render(scratch, in, scratch.file("out.png"));
            expect_clean_failure(r, "cannot read");
            EXPECT_EQ(scratch.entries(), before) << "no output, not even part of one";
        }
    }
}

TEST(BadInput, SizesNoLayerCanHave)
{
    Scratch scratch;
    const std::string png = good_picture(scratch, "good.png");
    const struct {
        const char* what;
        std::string name;
        std::string bytes;
    } cases[] = {
        {"PNG of zero width", "zero.png", png_declaring(png, 0, 30)},
        {"PNG of zero height", "flat.png", png_declaring(png, 40, 0)},
        {"PNG declaring 60000 x 60000", "huge.png", png_declaring(png, 60000, 60000)},
        {"PNG declaring 2^31 - 1 a side", "vast.png", png_declaring(png, 0x7FFFFFFF, 0x7FFFFFFF)},
        {"TIFF of zero width", "zero.tif", tiff_declaring(0, 10, 16)},
        {"TIFF declaring 200000 x 200000 with 16 bytes", "huge.tif", tiff_declaring(200000, 200000, 16)},
        {"TIFF declaring 30001 x 2", "wide.tif", tiff_declaring(30001, 2, 60002)},
        {"TIFF declaring 100 x 100 with 16 bytes", "short.tif", tiff_declaring(100, 100, 16)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        spit(scratch.file(c.name), c.bytes);
        const auto before = scratch.entries();
        const ToolRun r = render(scratch, scratch.file(c.name), scratch.file("out.png"));
        expect_clean_failure(r, "cannot read");
        EXPECT_EQ(scratch.entries(), before);
    }
}

TEST(BadInput, AFolderWhereAFileShouldBe)
{
    Scratch scratch;
    good_picture(scratch, "in.png");
    fs::create_directory(scratch.file("folder.png"));
    {
        SCOPED_TRACE("input");
        const ToolRun r = render(scratch, scratch.file("folder.png"), scratch.file("out.png"));
        expect_clean_failure(r, "cannot read");
    }
    {
        SCOPED_TRACE("output");
        const auto before = scratch.entries();
        const ToolRun r = render(scratch, scratch.file("in.png"), scratch.file("folder.png"));
        expect_clean_failure(r, "cannot write");
        EXPECT_EQ(scratch.entries(), before) << "no temporary file left beside the folder";
        EXPECT_TRUE(fs::is_directory(scratch.file("folder.png"))) << "the folder is still there";
        EXPECT_TRUE(fs::is_empty(scratch.file("folder.png")));
    }
}

TEST(BadInput, TargetsThatCannotBeWritten)
{
    Scratch scratch;
    good_picture(scratch, "in.png");
    std::vector<std::pair<std::string, std::string>> targets = {
        {"below a plain file", scratch.file("in.png") + "/out.png"},
        {"inside /proc", "/proc/ruvivedu-out.png"},
    };
    // Permission bits stop everyone but root.
    if (::geteuid() != 0) {
        fs::create_directory(scratch.file("locked"));
        fs::permissions(scratch.file("locked"), fs::perms::owner_read | fs::perms::owner_exec);
        targets.emplace_back("in a read-only folder", scratch.file("locked") + "/out.png");
    }
    for (const auto& [what, target] : targets) {
        SCOPED_TRACE(what);
        const auto before = scratch.entries();
        const ToolRun r = render(scratch, scratch.file("in.png"), target);
        expect_clean_failure(r, "cannot write");
        EXPECT_EQ(scratch.entries(), before);
        EXPECT_FALSE(fs::exists(target));
    }
}
