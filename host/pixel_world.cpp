// Guarded pixel worlds of the substitute host.
#include "pixel_world.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace ruvivedu::host {

namespace {

std::size_t component_size(Depth depth)
{
    switch (depth) {
    case Depth::u8:
        return 1;
    case Depth::u16:
        return 2;
    case Depth::f32:
        return 4;
    }
    return 1;
}

}  // namespace

std::size_t bytes_per_pixel(Depth depth)
{
    return 4 * component_size(depth);
}

PF_PixelFormat natural_pixel_format(Depth depth)
{
    switch (depth) {
    case Depth::u8:
        return PF_PixelFormat_ARGB32;
    case Depth::u16:
        return PF_PixelFormat_ARGB64;
    case Depth::f32:
        return PF_PixelFormat_ARGB128;
    }
    return PF_PixelFormat_INVALID;
}

World::World(Depth depth, A_long width, A_long height, A_long rowbytes)
    : depth_(depth), format_(natural_pixel_format(depth)), def_{}
{
    if (width < 0 || height < 0) {
        throw std::invalid_argument("world size must not be negative");
    }
    const std::size_t packed = static_cast<std::size_t>(width) * bytes_per_pixel(depth);
    if (packed > 0x7FFFFFFF) {
        throw std::invalid_argument("world row does not fit in rowbytes");
    }
    if (rowbytes == 0) {
        rowbytes = static_cast<A_long>(packed);
    }
    // Formed in 64 bits: the magnitude of the most negative A_long does not fit in an A_long.
    const bool bottom_up = rowbytes < 0;
    const std::size_t stride = static_cast<std::size_t>(bottom_up ? -static_cast<std::int64_t>(rowbytes)
                                                                  : static_cast<std::int64_t>(rowbytes));
    if (stride < packed) {
        throw std::invalid_argument("rowbytes below the packed row size");
    }
    if (stride % component_size(depth) != 0) {
        throw std::invalid_argument("rowbytes must be a multiple of the component size");
    }

    const std::size_t rows_bytes = stride * static_cast<std::size_t>(height);
    buffer_.assign(kGuardSize + rows_bytes + kGuardSize, guard_byte);
    unsigned char* first = buffer_.data() + kGuardSize;
    for (A_long y = 0; y < height; ++y) {
        std::memset(first + static_cast<std::size_t>(y) * stride, 0, packed);
    }
    // Bottom-up: the top row is the last one in memory.
    if (bottom_up && height > 0) {
        first += static_cast<std::size_t>(height - 1) * stride;
    }

    def_.world_flags = PF_WorldFlag_WRITEABLE | (depth == Depth::u16 ? PF_WorldFlag_DEEP : 0);
    def_.data = reinterpret_cast<PF_PixelPtr>(first);
    def_.rowbytes = rowbytes;
    def_.width = width;
    def_.height = height;
    def_.extent_hint.left = 0;
    def_.extent_hint.top = 0;
    def_.extent_hint.right = width;
    def_.extent_hint.bottom = height;
    def_.pix_aspect_ratio.num = 1;
    def_.pix_aspect_ratio.den = 1;
}

World World::padded(Depth depth, A_long width, A_long height, A_long padding)
{
    const A_long packed = width * static_cast<A_long>(bytes_per_pixel(depth));
    return World(depth, width, height, packed + padding);
}

World World::bottom_up(Depth depth, A_long width, A_long height, A_long padding)
{
    const A_long stride = width * static_cast<A_long>(bytes_per_pixel(depth)) + padding;
    return World(depth, width, height, height > 0 && stride > 0 ? -stride : stride);
}

World::World(World&& other) noexcept
    : depth_(other.depth_), format_(other.format_), buffer_(std::move(other.buffer_)), def_(other.def_)
{
    other.def_ = PF_LayerDef{};
}

World& World::operator=(World&& other) noexcept
{
    if (this != &other) {
        depth_ = other.depth_;
        format_ = other.format_;
        buffer_ = std::move(other.buffer_);
        def_ = other.def_;
        other.def_ = PF_LayerDef{};
    }
    return *this;
}

World::~World() = default;

void World::set_origin(A_long x, A_long y)
{
    def_.origin_x = x;
    def_.origin_y = y;
}

template <class P>
P& World::checked(A_long x, A_long y, Depth expected) const
{
    if (depth_ != expected) {
        throw std::logic_error("pixel type does not match the world's depth");
    }
    if (x < 0 || y < 0 || x >= def_.width || y >= def_.height) {
        throw std::out_of_range("pixel outside the world");
    }
    unsigned char* row_start = reinterpret_cast<unsigned char*>(def_.data) +
                               static_cast<std::ptrdiff_t>(y) * static_cast<std::ptrdiff_t>(def_.rowbytes);
    return reinterpret_cast<P*>(row_start)[x];
}

PF_Pixel8& World::pixel8(A_long x, A_long y)
{
    return checked<PF_Pixel8>(x, y, Depth::u8);
}
PF_Pixel16& World::pixel16(A_long x, A_long y)
{
    return checked<PF_Pixel16>(x, y, Depth::u16);
}
PF_PixelFloat& World::pixel32(A_long x, A_long y)
{
    return checked<PF_PixelFloat>(x, y, Depth::f32);
}
const PF_Pixel8& World::pixel8(A_long x, A_long y) const
{
    return checked<PF_Pixel8>(x, y, Depth::u8);
}
const PF_Pixel16& World::pixel16(A_long x, A_long y) const
{
    return checked<PF_Pixel16>(x, y, Depth::u16);
}
const PF_PixelFloat& World::pixel32(A_long x, A_long y) const
{
    return checked<PF_PixelFloat>(x, y, Depth::f32);
}

template <>
PF_Pixel8& World::at<PF_Pixel8>(A_long x, A_long y)
{
    return pixel8(x, y);
}
template <>
PF_Pixel16& World::at<PF_Pixel16>(A_long x, A_long y)
{
    return pixel16(x, y);
}
template <>
PF_PixelFloat& World::at<PF_PixelFloat>(A_long x, A_long y)
{
    return pixel32(x, y);
}
template <>
const PF_Pixel8& World::at<PF_Pixel8>(A_long x, A_long y) const
{
    return pixel8(x, y);
}
template <>
const PF_Pixel16& World::at<PF_Pixel16>(A_long x, A_long y) const
{
    return pixel16(x, y);
}
template <>
const PF_PixelFloat& World::at<PF_PixelFloat>(A_long x, A_long y) const
{
    return pixel32(x, y);
}

namespace {

template <class P>
void fill_world(World& world, const P& p)
{
    for (A_long y = 0; y < world.height(); ++y) {
        for (A_long x = 0; x < world.width(); ++x) {
            world.at<P>(x, y) = p;
        }
    }
}

}  // namespace

void World::fill(const PF_Pixel8& p)
{
    fill_world(*this, p);
}
void World::fill(const PF_Pixel16& p)
{
    fill_world(*this, p);
}
void World::fill(const PF_PixelFloat& p)
{
    fill_world(*this, p);
}

unsigned char* World::row(A_long y)
{
    if (y < 0 || y >= def_.height) {
        throw std::out_of_range("row outside the world");
    }
    return reinterpret_cast<unsigned char*>(def_.data) +
           static_cast<std::ptrdiff_t>(y) * static_cast<std::ptrdiff_t>(def_.rowbytes);
}

const unsigned char* World::row(A_long y) const
{
    return const_cast<World*>(this)->row(y);
}

std::vector<unsigned char> World::packed_pixels() const
{
    const std::size_t packed = static_cast<std::size_t>(def_.width) * bytes_per_pixel(depth_);
    std::vector<unsigned char> bytes;
    bytes.reserve(packed * static_cast<std::size_t>(def_.height));
    for (A_long y = 0; y < def_.height; ++y) {
        const unsigned char* r = row(y);
        bytes.insert(bytes.end(), r, r + packed);
    }
    return bytes;
}

bool World::same_pixels(const World& other) const
{
    return depth_ == other.depth_ && def_.width == other.def_.width && def_.height == other.def_.height &&
           packed_pixels() == other.packed_pixels();
}

bool World::guards_intact() const
{
    return guard_damage().empty();
}

std::string World::guard_damage() const
{
    if (buffer_.empty()) {
        return std::string();
    }
    for (std::size_t i = 0; i < kGuardSize; ++i) {
        if (buffer_[i] != guard_byte) {
            return "leading guard byte " + std::to_string(i);
        }
    }
    const std::size_t packed = static_cast<std::size_t>(def_.width) * bytes_per_pixel(depth_);
    const std::size_t stride = static_cast<std::size_t>(std::llabs(def_.rowbytes));
    // Rows in memory order; a bottom-up world names them from its last row up.
    for (A_long m = 0; m < def_.height; ++m) {
        const unsigned char* r = buffer_.data() + kGuardSize + static_cast<std::size_t>(m) * stride;
        const A_long y = is_bottom_up() ? def_.height - 1 - m : m;
        for (std::size_t i = packed; i < stride; ++i) {
            if (r[i] != guard_byte) {
                return "padding of row " + std::to_string(y) + " byte " + std::to_string(i - packed);
            }
        }
    }
    const std::size_t tail = buffer_.size() - kGuardSize;
    for (std::size_t i = 0; i < kGuardSize; ++i) {
        if (buffer_[tail + i] != guard_byte) {
            return "trailing guard byte " + std::to_string(i);
        }
    }
    return std::string();
}

bool World::contains(const unsigned char* data, std::ptrdiff_t rowbytes, A_long width, A_long height,
                     std::size_t pixel_bytes) const
{
    if (width <= 0 || height <= 0) {
        return true;  // addresses nothing
    }
    const unsigned char* begin = buffer_.data() + kGuardSize;
    const unsigned char* end = buffer_.data() + buffer_.size() - kGuardSize;
    // Compared as integers: pointer arithmetic past the buffer is itself undefined.
    const auto first = reinterpret_cast<std::uintptr_t>(data);
    const auto lo_bound = reinterpret_cast<std::uintptr_t>(begin);
    const auto hi_bound = reinterpret_cast<std::uintptr_t>(end);
    const std::int64_t last_row = static_cast<std::int64_t>(height - 1) * rowbytes;
    const std::int64_t row_bytes = static_cast<std::int64_t>(width) * static_cast<std::int64_t>(pixel_bytes);
    const std::int64_t low = std::min<std::int64_t>(0, last_row);
    const std::int64_t high = std::max<std::int64_t>(0, last_row) + row_bytes;
    if (first < lo_bound || first > hi_bound) {
        return false;
    }
    const std::int64_t below = static_cast<std::int64_t>(first - lo_bound);
    const std::int64_t above = static_cast<std::int64_t>(hi_bound - first);
    return -low <= below && high <= above;
}

}  // namespace ruvivedu::host
