// Owned float images: the intermediate pictures of one frame render.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>

/// The host's basic suite; only carried along, never called below the shell.
struct SPBasicSuite;

namespace ruvivedu {

/// Raised by the image constructor when its pixel buffer cannot be had. The
/// render commands turn it into the host's out-of-memory error.
struct memory_exception : std::exception {
    const char* what() const noexcept override { return "image buffer could not be allocated"; }
};

template <typename T>
struct Image;

/// Large image buffers of finished frames are kept (up to 256 MiB in all) for
/// the frames that follow, which spares each frame the system's clearing of
/// fresh memory. This frees them; the plug-in calls it when the host unloads
/// it, and an allocation that fails first does the same before trying again.
void release_kept_image_memory();

/// Frees kept buffers, the longest kept first, until at most `bytes` are kept:
/// a finished frame keeps no more than frames of its size need.
void trim_kept_image_memory(std::size_t bytes);

/// The bytes an image of this many bytes takes from the system (large images
/// are whole blocks, so that sizes close together share kept blocks).
std::size_t image_allocation_size(std::size_t bytes);

/// Bytes of image memory kept for later frames now.
std::size_t kept_image_memory();

/// A heap-owned image of float channels, interleaved per pixel, rows packed.
/// Channel c of pixel (x, y) is data[y * width * num_channels + x * num_channels + c].
/// Offsets and the buffer size are formed in 64 bits, so an image may hold more
/// than 4 GiB (a 30000 x 30000 two-channel frame needs 7.2 GB).
template <>
struct Image<float> {
    float* data;
    uint32_t width;
    uint32_t height;
    uint32_t component_size;
    uint32_t num_channels;
    uint32_t pixel_stride;
    uint32_t row_stride;
    SPBasicSuite* pica;

    /// Allocates width x height x channels floats, uninitialised; every stage
    /// writes each pixel of its target before anything reads it. A zero width or
    /// height gives an image without pixels (data is null). Throws
    /// memory_exception when the buffer cannot be allocated or its size cannot
    /// be represented.
    Image(SPBasicSuite* pica, uint32_t width, uint32_t height, uint32_t channels);

    /// Frees the buffer and leaves the image empty: data null, sizes 0.
    ~Image();

    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    /// First float of row y.
    float* row(uint32_t y) { return data + row_offset(y); }
    const float* row(uint32_t y) const { return data + row_offset(y); }

private:
    std::size_t row_offset(uint32_t y) const
    {
        return static_cast<std::size_t>(y) * (static_cast<std::size_t>(row_stride) / sizeof(float));
    }
};

}  // namespace ruvivedu
