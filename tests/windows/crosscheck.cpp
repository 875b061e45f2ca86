// crosscheck: the two ends of the Windows-against-Linux comparison.
//
//   crosscheck inputs DIR        writes the layers both builds render: in8.pam
//                                (8-bit), in16.pam (16-bit, the host's 0..32768
//                                values as they are) and in32.tif (float), each
//                                with soft and hard edges, partial and zero alpha
//                                and (in float) values beyond 0..1
//   crosscheck compare A B       compares every picture in folder A with the one
//                                of the same name in B: size, channels, depth
//                                and every component, bit for bit
//
// Pictures are read with the tool's own readers, so a float TIFF written by
// OpenImageIO on Linux and one written by the Windows build's codec compare
// by their values, and a PAM must also match byte for byte as a file.
#include "image_file.h"
#include "picture_codecs.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace ruvivedu;
using tool::FilePicture;

constexpr int kWidth = 61;  // odd sizes: rows and cells do not divide evenly
constexpr int kHeight = 47;

/// One RGBA sample of the test layer at (x, y), in 0..1 (float inputs go
/// beyond it). A diagonal ramp, a disc of other colour, stripes of every
/// alpha level and a fully transparent corner.
void layer_sample(int x, int y, double rgba[4])
{
    rgba[0] = double(x) / (kWidth - 1);
    rgba[1] = double(y) / (kHeight - 1);
    rgba[2] = double((x + y) % 17) / 16.0;
    rgba[3] = 1.0;
    const int dx = x - 40, dy = y - 20;
    if (dx * dx + dy * dy < 120) {
        rgba[0] = 0.1;
        rgba[1] = 0.8;
        rgba[2] = 0.3;
    }
    if (y >= 30 && y < 38)
        rgba[3] = double(x % 9) / 8.0;
    if (x < 8 && y < 8)
        rgba[3] = 0.0;
}

FilePicture make_input(tool::Depth depth)
{
    FilePicture p;
    p.width = kWidth;
    p.height = kHeight;
    p.channels = 4;
    p.alpha_channel = 3;
    p.depth = depth;
    p.full_scale = depth == tool::Depth::u8 ? 255.0 : depth == tool::Depth::u16 ? 32768.0 : 1.0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            double rgba[4];
            layer_sample(x, y, rgba);
            for (int c = 0; c < 4; ++c) {
                if (depth == tool::Depth::u8)
                    p.u8.push_back(std::uint8_t(rgba[c] * 255.0 + 0.5));
                else if (depth == tool::Depth::u16)
                    p.u16.push_back(std::uint16_t(rgba[c] * 32768.0 + 0.5));
                else {
                    // Over-bright and negative colour in one band: float layers carry them.
                    const double extra = c < 3 && y >= 40 ? (x % 2 ? 0.75 : -0.25) : 0.0;
                    p.f32.push_back(float(rgba[c] + extra));
                }
            }
        }
    return p;
}

int write_inputs(const std::string& dir)
{
    std::filesystem::create_directories(dir);
    const struct {
        const char* name;
        tool::Depth depth;
    } inputs[] = {{"in8.pam", tool::Depth::u8}, {"in16.pam", tool::Depth::u16}, {"in32.tif", tool::Depth::f32}};
    for (const auto& input : inputs) {
        const std::string path = (std::filesystem::path(dir) / input.name).string();
        const FilePicture picture = make_input(input.depth);
        // Both builds must read the same bytes: write with the built-in codecs.
        const std::string error =
            input.depth == tool::Depth::f32 ? tool::write_tiff(path, picture) : tool::write_pam(path, picture);
        if (!error.empty()) {
            std::cerr << "crosscheck: cannot write " << path << ": " << error << "\n";
            return 1;
        }
    }
    return 0;
}

std::vector<char> file_bytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

/// Empty when the two pictures are identical, else what differs.
std::string difference(const std::filesystem::path& a, const std::filesystem::path& b)
{
    tool::FileInfo info_a, info_b;
    const host::World world_a = tool::read_image(a.string(), std::nullopt, &info_a);
    const host::World world_b = tool::read_image(b.string(), std::nullopt, &info_b);
    if (info_a.width != info_b.width || info_a.height != info_b.height)
        return "sizes differ";
    if (info_a.channels != info_b.channels || info_a.depth != info_b.depth)
        return "channels or depth differ";
    const std::size_t row = std::size_t(world_a.width()) * host::bytes_per_pixel(world_a.depth());
    long differing = 0;
    std::string first;
    for (A_long y = 0; y < world_a.height(); ++y) {
        const unsigned char* ra = world_a.row(y);
        const unsigned char* rb = world_b.row(y);
        if (std::memcmp(ra, rb, row) == 0)
            continue;
        const std::size_t pixel = host::bytes_per_pixel(world_a.depth());
        for (A_long x = 0; x < world_a.width(); ++x)
            if (std::memcmp(ra + x * pixel, rb + x * pixel, pixel) != 0) {
                if (first.empty())
                    first = " (first at " + std::to_string(x) + "," + std::to_string(y) + ")";
                ++differing;
            }
    }
    if (differing)
        return std::to_string(differing) + " pixels differ" + first;
    if (a.extension() == ".pam" && file_bytes(a) != file_bytes(b))
        return "same pixels, but the files differ";
    return {};
}

int compare(const std::string& dir_a, const std::string& dir_b)
{
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir_a))
        if (entry.is_regular_file())
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    int passed = 0, failed = 0;
    for (const std::filesystem::path& a : files) {
        const std::filesystem::path b = std::filesystem::path(dir_b) / a.filename();
        std::string problem;
        try {
            problem = std::filesystem::exists(b) ? difference(a, b) : "missing in " + dir_b;
        } catch (const std::exception& e) {
            problem = e.what();
        }
        std::cout << (problem.empty() ? "  same       " : "  DIFFERENT  ") << a.filename().string()
                  << (problem.empty() ? "" : ": " + problem) << "\n";
        (problem.empty() ? passed : failed)++;
    }
    std::cout << "crosscheck: " << passed << " passed, " << failed << " failed\n";
    return failed == 0 && passed > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "inputs" && argc == 3)
        return write_inputs(argv[2]);
    if (command == "compare" && argc == 4)
        return compare(argv[2], argv[3]);
    std::cerr << "usage: crosscheck inputs DIR\n       crosscheck compare DIR_A DIR_B\n";
    return 2;
}
