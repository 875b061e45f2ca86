// Golden frames: a small synthetic layer rendered through render_frame for every
// depth, shape, sampling and Alpha setting, compared byte for byte with frames
// that were rendered once, inspected and committed. Both row strategies must
// match the same files.
//
// To render the files anew after an intended change of the picture, run the
// test binary with RUVIVEDU_UPDATE_GOLDEN=1, look at the frames, and commit them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pipeline/frame_render.h"
#include "test_world.h"

using namespace ruvivedu;

namespace {

using test_world::pixels_pad;
using test_world::TestWorld;

constexpr int32_t golden_width = 96;
constexpr int32_t golden_height = 64;

// File format: one text line "ruvivedu-golden <bits> <width> <height>", then
// the ARGB pixels row by row from the top, each component as the host stores it
// (little-endian for 16-bit and float).
const char* bits_name(int depth)
{
    return depth == 0 ? "8" : (depth == 1 ? "16" : "32f");
}

std::string header(int depth)
{
    std::ostringstream s;
    s << "ruvivedu-golden " << bits_name(depth) << ' ' << golden_width << ' ' << golden_height << '\n';
    return s.str();
}

struct GoldenCase {
    int depth;
    int32_t shape;
    int32_t sampling;
    bool alpha;

    std::string name() const
    {
        static const char* shapes[] = {"", "circle", "square", "line"};
        std::ostringstream s;
        s << "d" << bits_name(depth) << '_' << shapes[shape] << '_' << (sampling == 1 ? "bilinear" : "nearest")
          << (alpha ? "_alpha" : "_grey");
        return s.str();
    }
};

std::string golden_path(const GoldenCase& c)
{
    return std::string(RUVIVEDU_GOLDEN_DIR) + "/" + c.name() + ".rgf";
}

template <typename T>
std::vector<unsigned char> render_golden(const GoldenCase& gc)
{
    TestWorld<T> in(golden_width, golden_height, pixels_pad<T>(2)),
        out(golden_width, golden_height, pixels_pad<T>(1), true);
    test_world::paint_test_layer(in);
    HalfTone_Params c = test_world::make_context(in, out);
    // Fractional DotSize and Offset and an odd angle, so no position falls on a
    // convenient value.
    c.dot_size = 11.5f;
    c.rotation = 30.0f;
    c.offset_x = 45.25f;
    c.offset_y = 29.5f;
    c.shape = shape_from_popup(gc.shape);
    c.sampling = sampling_from_popup(gc.sampling);
    c.alpha = gc.alpha;
    render_frame<T>(&c);
    EXPECT_TRUE(out.guards_intact());
    return out.pixels();
}

std::vector<unsigned char> render_golden(const GoldenCase& gc)
{
    switch (gc.depth) {
    case 0:
        return render_golden<unsigned char>(gc);
    case 1:
        return render_golden<unsigned short>(gc);
    default:
        return render_golden<float>(gc);
    }
}

bool update_requested()
{
    const char* update = std::getenv("RUVIVEDU_UPDATE_GOLDEN");
    return update != nullptr && std::string(update) == "1";
}

class Golden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(Golden, RenderMatchesTheCommittedFrame)
{
    const GoldenCase gc = GetParam();
    const std::vector<unsigned char> pixels = render_golden(gc);
    const std::string path = golden_path(gc);
    if (update_requested()) {
        std::ofstream file(path, std::ios::binary);
        file << header(gc.depth);
        file.write(reinterpret_cast<const char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
        ASSERT_TRUE(file.good()) << "cannot write " << path;
        return;
    }
    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file.good()) << "missing golden frame " << path;
    std::string line;
    std::getline(file, line);
    ASSERT_EQ(line + '\n', header(gc.depth)) << path;
    const std::vector<unsigned char> expected((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(expected.size(), pixels.size()) << path;
    // Report the first differing pixel rather than a 24-98 KB byte dump.
    const std::size_t pixel_bytes = pixels.size() / (golden_width * golden_height);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (pixels[i] != expected[i]) {
            const std::size_t pixel = i / pixel_bytes;
            FAIL() << gc.name() << ": pixel (" << pixel % golden_width << ", " << pixel / golden_width
                   << ") differs at byte " << i % pixel_bytes;
        }
    }
}

std::vector<GoldenCase> all_cases()
{
    std::vector<GoldenCase> cases;
    for (int depth : {0, 1, 2})
        for (int32_t shape : {1, 2, 3})
            for (int32_t sampling : {1, 2})
                for (bool alpha : {false, true})
                    cases.push_back({depth, shape, sampling, alpha});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Frames, Golden, ::testing::ValuesIn(all_cases()),
                         [](const ::testing::TestParamInfo<GoldenCase>& info) { return info.param.name(); });

}  // namespace
