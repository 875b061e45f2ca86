// Image<float>: allocation, release and the alpha-weighted bilinear lookup.
#include "pipeline/image.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

#if defined(__linux__)
// A frame's large images are new memory every time: each 4 KiB page faults in
// on its first write, and at UHD that is some 25000 faults per frame. Asking
// for huge pages (where the system grants them on request) turns those into a
// few dozen. The buffer is aligned so that the huge pages cover all of it.
constexpr std::size_t huge_page = std::size_t{2} << 20;
constexpr std::size_t huge_page_threshold = 4 * huge_page;

void* allocate_pixels(std::size_t bytes)
{
    if (bytes < huge_page_threshold)
        return std::malloc(bytes);
    const std::size_t rounded = (bytes + huge_page - 1) / huge_page * huge_page;
    if (rounded < bytes)
        return nullptr;
    void* block = std::aligned_alloc(huge_page, rounded);
    if (block != nullptr)
        madvise(block, rounded, MADV_HUGEPAGE);  // advice only: a refusal changes nothing
    return block;
}
#else
void* allocate_pixels(std::size_t bytes)
{
    return std::malloc(bytes);
}
#endif

}  // namespace

Image<float>::Image(SPBasicSuite* pica_in, uint32_t width_in, uint32_t height_in, uint32_t channels)
    : data(nullptr),
      width(width_in),
      height(height_in),
      component_size(sizeof(float)),
      num_channels(channels),
      pixel_stride(0),
      row_stride(0),
      pica(pica_in)
{
    // Every size is formed in 64 bits: a 30000 x 30000 two-channel frame is
    // 7.2 GB, which a 32-bit product would silently wrap to a few hundred MB.
    const uint64_t pixel_bytes = static_cast<uint64_t>(channels) * component_size;
    const uint64_t row_bytes = pixel_bytes * width_in;
    if (row_bytes > std::numeric_limits<uint32_t>::max())
        throw memory_exception();
    pixel_stride = static_cast<uint32_t>(pixel_bytes);
    row_stride = static_cast<uint32_t>(row_bytes);

    const uint64_t total_bytes = row_bytes * height_in;  // both factors < 2^32
    if (total_bytes == 0)
        return;  // no pixels to hold; not a failure
    if (total_bytes > std::numeric_limits<std::size_t>::max())
        throw memory_exception();
    data = static_cast<float*>(allocate_pixels(static_cast<std::size_t>(total_bytes)));
    if (data == nullptr)
        throw memory_exception();
}

Image<float>::~Image()
{
    width = 0;
    height = 0;
    row_stride = 0;
    std::free(data);
    data = nullptr;
}

namespace {

// Integer index of an already floored coordinate, clamped to [0, size - 1].
// The comparisons are made in float so that a position far off the image (or
// not a number) never reaches an out-of-range float-to-int conversion.
inline uint32_t clamp_index(float floored, uint32_t size)
{
    if (!(floored > 0.0f))
        return 0;
    if (floored >= static_cast<float>(size - 1))
        return size - 1;
    return static_cast<uint32_t>(floored);
}

}  // namespace

float Image<float>::sample_weighted(float x, float y, float* out_alpha) const
{
    if (width == 0 || height == 0) {
        *out_alpha = 0.0f;
        return 0.0f;
    }
    const float x0 = std::floor(x);
    const float y0 = std::floor(y);
    // Fractions from the unclamped corner, so lookups past the edge blend
    // copies of the edge pixel.
    const float fx = x - x0;
    const float fy = y - y0;
    const float gx = 1.0f - fx;
    const float gy = 1.0f - fy;

    const uint32_t left = clamp_index(x0, width);
    const uint32_t right = clamp_index(x0 + 1.0f, width);
    const uint32_t top = clamp_index(y0, height);
    const uint32_t bottom = clamp_index(y0 + 1.0f, height);

    const float* top_row = row(top);
    const float* bottom_row = row(bottom);
    const float* tl = top_row + static_cast<std::size_t>(left) * num_channels;
    const float* tr = top_row + static_cast<std::size_t>(right) * num_channels;
    const float* bl = bottom_row + static_cast<std::size_t>(left) * num_channels;
    const float* br = bottom_row + static_cast<std::size_t>(right) * num_channels;

    const float alpha = (gx * tl[1] + fx * tr[1]) * gy + (gx * bl[1] + fx * br[1]) * fy;
    *out_alpha = alpha;
    if (!(alpha > 0.0f))
        return 0.0f;
    return ((gx * tl[0] * tl[1] + fx * tr[0] * tr[1]) * gy + (gx * bl[0] * bl[1] + fx * br[0] * br[1]) * fy) / alpha;
}
