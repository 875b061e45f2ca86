// Image<float> layout, allocation limits and the alpha-weighted lookup; layer
// view addressing with padded, bottom-up and very large worlds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "base/image.h"
#include "base/render_context.h"
#include "halftone/bilinear.h"

using namespace ruvivedu;

// The allocation tests ask for buffers no heap supplies and expect
// memory_exception; a sanitizer's allocator must then return null like the
// plain heap instead of stopping the process.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}
extern "C" const char* __tsan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {

std::ptrdiff_t byte_offset(const Image<float>& image, const float* p)
{
    return reinterpret_cast<const char*>(p) - reinterpret_cast<const char*>(image.data);
}

TEST(ImageLayout, StridesAndChannelOffsets)
{
    Image<float> image(nullptr, 3, 2, 2);
    EXPECT_EQ(image.component_size, 4u);
    EXPECT_EQ(image.num_channels, 2u);
    EXPECT_EQ(image.pixel_stride, 8u);  // 2 channels x 4 bytes
    EXPECT_EQ(image.row_stride, 24u);   // 8 x 3 pixels
    ASSERT_NE(image.data, nullptr);
    // Channel 1 of pixel (2, 1): 24 + 2 * 8 + 4 = 44.
    EXPECT_EQ(byte_offset(image, image.row(1) + 2 * 2 + 1), 44);
    // The whole 48-byte buffer is writable (the sanitizer build checks the bound).
    for (int i = 0; i < 12; ++i)
        image.data[i] = static_cast<float>(i);
    EXPECT_EQ(image.row(1)[5], 11.0f);
}

TEST(ImageLayout, ZeroSizeHoldsNoPixelsAndIsNoFailure)
{
    Image<float> no_columns(nullptr, 0, 5, 2);
    EXPECT_EQ(no_columns.data, nullptr);
    EXPECT_EQ(no_columns.row_stride, 0u);
    Image<float> no_rows(nullptr, 7, 0, 1);
    EXPECT_EQ(no_rows.data, nullptr);
    EXPECT_EQ(no_rows.row_stride, 28u);
}

// The largest host frame, 30000 x 30000 in two channels, is 7.2e9 bytes: a
// 32-bit size wraps to 2.9e9 and the last rows would lie past the buffer.
TEST(ImageAllocation, SizesAndOffsetsAre64Bit)
{
    try {
        Image<float> image(nullptr, 30000, 30000, 2);
        ASSERT_NE(image.data, nullptr);
        EXPECT_EQ(image.row_stride, 240000u);
        float* last_row = image.row(29999);
        EXPECT_EQ(byte_offset(image, last_row), std::ptrdiff_t{29999} * 240000);
        // Only the touched pages become resident.
        last_row[2 * 29999 + 1] = 0.5f;
        image.row(0)[0] = 0.25f;
        EXPECT_EQ(image.row(29999)[59999], 0.5f);
        EXPECT_EQ(image.row(0)[0], 0.25f);
    } catch (const memory_exception&) {
        GTEST_SKIP() << "this machine cannot reserve 7.2 GB of address space";
    }
}

TEST(ImageAllocation, UnrepresentableOrUnobtainableSizesRaiseMemoryException)
{
    // A row of 2^32 - 1 pixels of two floats has no 32-bit row stride.
    EXPECT_THROW(Image<float>(nullptr, std::numeric_limits<uint32_t>::max(), 1, 2), memory_exception);
    // 2^28 x 2^30 pixels of two floats are 2^61 bytes: no heap supplies that.
    EXPECT_THROW(Image<float>(nullptr, 1u << 28, 1u << 30, 2), memory_exception);
    EXPECT_STREQ(memory_exception().what(), "image buffer could not be allocated");
}

// A finished frame's large buffers serve the next frame of the same size;
// small ones are never kept, the total kept stays bounded, and a release hands
// everything back.
TEST(KeptImageMemory, LargeBuffersServeTheNextFrameWithinABound)
{
    release_kept_image_memory();
    ASSERT_EQ(kept_image_memory(), 0u);

    const float* first = nullptr;
    {
        Image<float> image(nullptr, 2048, 1024, 2);  // 16 MiB
        first = image.data;
        image.row(1023)[4095] = 1.0f;
    }
    EXPECT_EQ(kept_image_memory(), std::size_t{16} << 20);
    {
        Image<float> same(nullptr, 1024, 2048, 2);
        EXPECT_EQ(same.data, first);
        EXPECT_EQ(kept_image_memory(), 0u);
        Image<float> small(nullptr, 512, 512, 2);  // 2 MiB: the heap's own business
    }
    EXPECT_EQ(kept_image_memory(), std::size_t{16} << 20);

    {
        // Five 64 MiB images at once: no more than 256 MiB is kept after them.
        Image<float> a(nullptr, 4096, 2048, 2), b(nullptr, 4096, 2048, 2), c(nullptr, 4096, 2048, 2),
            d(nullptr, 4096, 2048, 2), e(nullptr, 4096, 2048, 2);
        // Larger than everything that may be kept: freed at once.
        Image<float> huge(nullptr, 8192, 4800, 2);
    }
    EXPECT_EQ(kept_image_memory(), std::size_t{256} << 20);

    release_kept_image_memory();
    EXPECT_EQ(kept_image_memory(), 0u);
}

// A 3 x 2 (luminance, alpha) image for the weighted lookup.
struct WeightedImage : ::testing::Test {
    Image<float> image{nullptr, 3, 2, 2};
    void SetUp() override
    {
        const float values[2][3][2] = {{{0.2f, 1.0f}, {0.8f, 0.5f}, {0.4f, 0.0f}},
                                       {{0.6f, 0.25f}, {1.0f, 1.0f}, {0.1f, 0.75f}}};
        for (uint32_t y = 0; y < 2; ++y)
            for (uint32_t x = 0; x < 3; ++x)
                for (uint32_t c = 0; c < 2; ++c)
                    image.row(y)[x * 2 + c] = values[y][x][c];
    }
    float lum(int x, int y) const { return image.row(static_cast<uint32_t>(y))[x * 2]; }
    float alpha(int x, int y) const { return image.row(static_cast<uint32_t>(y))[x * 2 + 1]; }
};

TEST_F(WeightedImage, InteriorLookupIsAlphaWeightedBilinearMean)
{
    const float x = 0.25f, y = 0.5f;
    const float fx = 0.25f, fy = 0.5f, gx = 0.75f, gy = 0.5f;
    const float expected_alpha =
        (gx * alpha(0, 0) + fx * alpha(1, 0)) * gy + (gx * alpha(0, 1) + fx * alpha(1, 1)) * fy;
    const float expected_lum = ((gx * lum(0, 0) * alpha(0, 0) + fx * lum(1, 0) * alpha(1, 0)) * gy +
                                (gx * lum(0, 1) * alpha(0, 1) + fx * lum(1, 1) * alpha(1, 1)) * fy) /
                               expected_alpha;
    float a = -1.0f;
    const float l = sample_weighted(image, x, y, &a);
    EXPECT_EQ(a, expected_alpha);
    EXPECT_EQ(l, expected_lum);
    // By hand: alpha = (0.75 + 0.125) * 0.5 + (0.1875 + 0.25) * 0.5 = 0.65625.
    EXPECT_FLOAT_EQ(a, 0.65625f);
}

TEST_F(WeightedImage, PositionsOffTheImageRepeatTheEdge)
{
    float a = -1.0f;
    // Far left and above: every tap clamps to pixel (0, 0).
    EXPECT_FLOAT_EQ(sample_weighted(image, -7.5f, -3.25f, &a), 0.2f);
    EXPECT_FLOAT_EQ(a, 1.0f);
    // Past the right edge on row 1: pixel (2, 1).
    EXPECT_FLOAT_EQ(sample_weighted(image, 9.0f, 1.0f, &a), 0.1f);
    EXPECT_FLOAT_EQ(a, 0.75f);
    // Not a number reads inside the image and counts as no alpha.
    EXPECT_EQ(sample_weighted(image, std::numeric_limits<float>::quiet_NaN(), 0.0f, &a), 0.0f);
    EXPECT_TRUE(std::isnan(a));
}

TEST_F(WeightedImage, ZeroAlphaGivesZeroLuminance)
{
    float a = -1.0f;
    // Exactly on pixel (2, 0), whose alpha is 0 while its luminance is 0.4.
    EXPECT_EQ(sample_weighted(image, 2.0f, 0.0f, &a), 0.0f);
    EXPECT_EQ(a, 0.0f);
    Image<float> empty(nullptr, 0, 0, 2);
    EXPECT_EQ(sample_weighted(empty, 0.5f, 0.5f, &a), 0.0f);
    EXPECT_EQ(a, 0.0f);
}

TEST(LayerView, PaddedRowsAreAddressedThroughRowbytes)
{
    char buffer[3 * 40] = {};
    LayerParams view{};
    view.data = buffer;
    view.rowbytes = 40;  // 8 pixels of 4 bytes would need only 32
    view.width = 8;
    view.height = 3;
    view.bytes_per_pixel = 4;
    EXPECT_EQ(layer_row(view, 2) - buffer, 80);
    EXPECT_EQ(layer_pixel(view, 5, 1) - buffer, 40 + 20);
}

TEST(LayerView, BottomUpRowsHaveNegativeRowbytes)
{
    char buffer[3 * 32] = {};
    LayerParams view{};
    view.data = buffer + 2 * 32;  // the top row lies last in memory
    view.rowbytes = -32;
    view.width = 4;
    view.height = 3;
    view.bytes_per_pixel = 8;
    EXPECT_EQ(layer_row(view, 2), buffer);
    EXPECT_EQ(layer_pixel(view, 3, 1) - buffer, 32 + 24);
}

#if defined(__linux__)
// A 30000 x 30000 float world has 480000-byte rows: the offset of its last row
// is 1.4e10, far past a signed 32-bit product. Address space is reserved
// without backing store; only the two written pages are touched.
TEST(LayerView, OffsetsOfTheLargestFloatWorldAre64Bit)
{
    const std::size_t rowbytes = 30000 * 16;
    const std::size_t size = rowbytes * 30000;
    void* region = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (region == MAP_FAILED)
        GTEST_SKIP() << "cannot reserve 14.4 GB of address space";
    char* base = static_cast<char*>(region);

    LayerParams top_down{};
    top_down.data = base;
    top_down.rowbytes = static_cast<int32_t>(rowbytes);
    top_down.width = 30000;
    top_down.height = 30000;
    top_down.bytes_per_pixel = 16;
    char* last = layer_pixel(top_down, 29999, 29999);
    EXPECT_EQ(last - base, std::ptrdiff_t{29999} * 480000 + std::ptrdiff_t{29999} * 16);
    last[15] = 7;

    LayerParams bottom_up = top_down;
    bottom_up.data = base + rowbytes * 29999;
    bottom_up.rowbytes = -static_cast<int32_t>(rowbytes);
    EXPECT_EQ(layer_pixel(bottom_up, 0, 29999), base);
    EXPECT_EQ(layer_pixel(bottom_up, 29999, 0)[15], 7);
    munmap(region, size);
}
#endif

}  // namespace
