// Image<float>: allocation, release and the alpha-weighted bilinear lookup.
#include "base/image.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <mutex>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace ruvivedu {

namespace {

// A frame's large images are new memory every time unless kept: each page
// of a fresh buffer faults in and is cleared by the system on its first
// write, some 100 MB per UHD frame, which costs a fifth of the frame. So the
// buffers of a finished frame are kept, up to a fixed total, for the next
// frame, which nearly always asks for the same sizes (a timeline being
// scrubbed or played). Every stage writes each pixel of its target before
// anything reads it, so a reused buffer's old contents never show.
constexpr std::size_t kKeptBytesLimit = std::size_t{256} << 20;
constexpr int kKeptBlocksLimit = 8;
// Buffers below this size come from malloc as they are and are never kept.
constexpr std::size_t kLargeBuffer = std::size_t{8} << 20;
// Large buffers are whole multiples of this (a huge page, where the system
// has them), so that sizes close together share kept blocks.
constexpr std::size_t kBlockUnit = std::size_t{2} << 20;

class KeptBuffers {
public:
    ~KeptBuffers() { release_all(); }

    // A kept block of exactly `bytes`, or null.
    void* take(std::size_t bytes)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int i = count_ - 1; i >= 0; --i) {
            if (blocks_[i].bytes == bytes) {
                void* data = blocks_[i].data;
                remove(i);
                return data;
            }
        }
        return nullptr;
    }

    // Keeps a block for a later frame, the oldest kept ones making room;
    // false when it is larger than everything that may be kept.
    bool keep(void* data, std::size_t bytes)
    {
        if (bytes > kKeptBytesLimit)
            return false;
        void* evicted[kKeptBlocksLimit];
        int evicted_count = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            while (count_ > 0 && (count_ == kKeptBlocksLimit || total_ + bytes > kKeptBytesLimit)) {
                evicted[evicted_count++] = blocks_[0].data;
                remove(0);
            }
            blocks_[count_++] = {data, bytes};
            total_ += bytes;
        }
        for (int i = 0; i < evicted_count; ++i)
            std::free(evicted[i]);
        return true;
    }

    // Frees the oldest blocks until at most `bytes` are kept.
    void trim(std::size_t bytes)
    {
        void* released[kKeptBlocksLimit];
        int released_count = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            while (count_ > 0 && total_ > bytes) {
                released[released_count++] = blocks_[0].data;
                remove(0);
            }
        }
        for (int i = 0; i < released_count; ++i)
            std::free(released[i]);
    }

    void release_all() { trim(0); }

    std::size_t kept_bytes()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return total_;
    }

private:
    struct Block {
        void* data;
        std::size_t bytes;
    };

    void remove(int i)
    {
        total_ -= blocks_[i].bytes;
        for (int j = i + 1; j < count_; ++j)
            blocks_[j - 1] = blocks_[j];
        --count_;
    }

    std::mutex mutex_;
    Block blocks_[kKeptBlocksLimit] = {};
    int count_ = 0;
    std::size_t total_ = 0;
};

KeptBuffers& kept_buffers()
{
    // Never destroyed before the last image: function-local, built on first use.
    static KeptBuffers buffers;
    return buffers;
}

// The byte size a buffer of `bytes` is allocated with, or 0 where that cannot
// be represented.
std::size_t allocated_size(std::size_t bytes)
{
    if (bytes < kLargeBuffer)
        return bytes;
    const std::size_t rounded = (bytes + kBlockUnit - 1) / kBlockUnit * kBlockUnit;
    return rounded < bytes ? 0 : rounded;
}

void* fresh_block(std::size_t bytes)
{
#if defined(_WIN32)
    return std::malloc(bytes);
#else
    void* block = std::aligned_alloc(kBlockUnit, bytes);
#if defined(__linux__)
    // Huge pages (where the system grants them on request) turn some 25000
    // first-write faults of a UHD frame into a few dozen. Advice only: a
    // refusal changes nothing.
    if (block != nullptr)
        madvise(block, bytes, MADV_HUGEPAGE);
#endif
    return block;
#endif
}

void* allocate_pixels(std::size_t bytes)
{
    if (bytes < kLargeBuffer)
        return std::malloc(bytes);
    const std::size_t size = allocated_size(bytes);
    if (size == 0)
        return nullptr;
    if (void* kept = kept_buffers().take(size))
        return kept;
    void* block = fresh_block(size);
    if (block == nullptr) {
        // Memory kept for later frames is better spent on this one.
        kept_buffers().release_all();
        block = fresh_block(size);
    }
    return block;
}

void free_pixels(void* data, std::size_t bytes)
{
    if (data == nullptr)
        return;
    const std::size_t size = allocated_size(bytes);
    if (bytes >= kLargeBuffer && size != 0 && kept_buffers().keep(data, size))
        return;
    std::free(data);
}

}  // namespace

Image<float>::Image(SPBasicSuite* pica_in, uint32_t width_in, uint32_t height_in, uint32_t channels)
    : data(nullptr), width(width_in), height(height_in), component_size(sizeof(float)), num_channels(channels),
      pixel_stride(0), row_stride(0), pica(pica_in)
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
    free_pixels(data, static_cast<std::size_t>(row_stride) * height);
    width = 0;
    height = 0;
    row_stride = 0;
    data = nullptr;
}

void release_kept_image_memory()
{
    kept_buffers().release_all();
}

std::size_t kept_image_memory()
{
    return kept_buffers().kept_bytes();
}

void trim_kept_image_memory(std::size_t bytes)
{
    kept_buffers().trim(bytes);
}

std::size_t image_allocation_size(std::size_t bytes)
{
    return allocated_size(bytes);
}

}  // namespace ruvivedu
