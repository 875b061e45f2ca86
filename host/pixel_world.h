// Pixel worlds owned by the substitute host: 8-bit, 16-bit and float ARGB, with guard bytes around
// the buffer and in row padding so tests can prove a plug-in wrote only inside its pixels.
#pragma once

#include "host_api.h"

#include <cstddef>
#include <string>
#include <vector>

namespace ruvivedu::host {

/// Component type of a world: 8-bit (full scale 255), 16-bit (full scale 32768) or 32-bit float.
enum class Depth { u8, u16, f32 };

/// Bytes of one ARGB pixel of `depth`: 4, 8 or 16.
std::size_t bytes_per_pixel(Depth depth);

/// The pixel format the host reports for a world of `depth`: ARGB32, ARGB64 or ARGB128.
PF_PixelFormat natural_pixel_format(Depth depth);

/// One host pixel world: a PF_LayerDef (alias PF_EffectWorld) over a buffer the World owns.
///
/// Layout of the buffer: `kGuardSize` guard bytes, then `height` rows of |rowbytes| bytes, then
/// `kGuardSize` guard bytes. Each row holds `width` packed pixels followed by its padding
/// (|rowbytes| - width * bytes_per_pixel). Guards and padding are filled with `guard_byte`; pixels start
/// at zero. A world with negative rowbytes is stored bottom-up, as some hosts hand out frames: the top
/// row (y = 0) is the last row in memory, `data` points at its first pixel and each following row lies
/// |rowbytes| bytes lower. The PF_LayerDef is filled as a host fills it: data, rowbytes, width, height,
/// world_flags (PF_WorldFlag_DEEP for 16-bit, PF_WorldFlag_WRITEABLE always), origin, extent_hint
/// (the whole world) and a 1:1 pixel aspect ratio.
///
/// Move-only; moving keeps the buffer, so pointers into the pixels stay valid, but the address of the
/// PF_LayerDef changes. SubstituteHost keeps its worlds on the heap, so the pointers it hands out stay put.
class World {
public:
    static constexpr std::size_t kGuardSize = 64;
    static constexpr unsigned char guard_byte = 0xCD;

    /// A world of `width` x `height` pixels. `rowbytes` 0 means packed rows; any other value must be at
    /// least the packed size in magnitude and a multiple of the component size (so every pixel stays
    /// aligned). A negative value stores the rows bottom-up (see above).
    /// Throws std::invalid_argument for negative sizes or unusable rowbytes.
    World(Depth depth, A_long width, A_long height, A_long rowbytes = 0);

    /// A world whose rows carry `padding` bytes beyond the packed pixels (a multiple of the component size).
    static World padded(Depth depth, A_long width, A_long height, A_long padding);

    /// Like padded(), stored bottom-up: rowbytes is minus the padded row size. A world of zero height or
    /// with an empty row keeps the positive row size, as there is no row to step over.
    static World bottom_up(Depth depth, A_long width, A_long height, A_long padding);

    World(World&&) noexcept;
    World& operator=(World&&) noexcept;
    World(const World&) = delete;
    World& operator=(const World&) = delete;
    ~World();

    Depth depth() const { return depth_; }
    A_long width() const { return def_.width; }
    A_long height() const { return def_.height; }
    A_long rowbytes() const { return def_.rowbytes; }
    /// True when the rows are stored bottom-up (negative rowbytes).
    bool is_bottom_up() const { return def_.rowbytes < 0; }

    /// The world as the host hands it to the plug-in.
    PF_EffectWorld* get() { return &def_; }
    const PF_EffectWorld* get() const { return &def_; }
    PF_EffectWorld& def() { return def_; }
    const PF_EffectWorld& def() const { return def_; }

    /// Sets origin_x and origin_y of the world record.
    void set_origin(A_long x, A_long y);

    /// The format PF_GetPixelFormat reports for this world; defaults to natural_pixel_format(depth()).
    /// Set e.g. PF_PixelFormat_BGRA32 to present an 8-bit world of another layout.
    void set_pixel_format(PF_PixelFormat format) { format_ = format; }
    PF_PixelFormat pixel_format() const { return format_; }

    /// Typed access to pixel (x, y). Throws std::logic_error when the type does not match depth() and
    /// std::out_of_range outside the world.
    PF_Pixel8& pixel8(A_long x, A_long y);
    PF_Pixel16& pixel16(A_long x, A_long y);
    PF_PixelFloat& pixel32(A_long x, A_long y);
    const PF_Pixel8& pixel8(A_long x, A_long y) const;
    const PF_Pixel16& pixel16(A_long x, A_long y) const;
    const PF_PixelFloat& pixel32(A_long x, A_long y) const;

    /// Generic form of the accessors above: P is PF_Pixel8, PF_Pixel16 or PF_PixelFloat.
    template <class P>
    P& at(A_long x, A_long y);
    template <class P>
    const P& at(A_long x, A_long y) const;

    /// Sets every pixel to `p` (the overload must match depth(), else std::logic_error).
    void fill(const PF_Pixel8& p);
    void fill(const PF_Pixel16& p);
    void fill(const PF_PixelFloat& p);

    /// Start of row y (unchecked beyond the assertion that y is inside the world).
    unsigned char* row(A_long y);
    const unsigned char* row(A_long y) const;

    /// The packed pixel bytes, row after row, without padding.
    std::vector<unsigned char> packed_pixels() const;

    /// True when the packed pixels of both worlds are byte-equal (same depth and size required).
    bool same_pixels(const World& other) const;

    /// True when no guard byte before, after or inside the row padding was changed.
    bool guards_intact() const;

    /// Where the first changed guard byte is ("leading guard byte 3", "padding of row 2 byte 5",
    /// "trailing guard byte 0"), or an empty string when all are intact.
    std::string guard_damage() const;

    /// True when `data` is this world's first pixel, i.e. a world record describing this buffer.
    bool describes(const PF_EffectWorld& world) const { return world.data == def_.data; }

    /// Total buffer bytes including guards, and the buffer's first byte (for bounds checks).
    std::size_t buffer_size() const { return buffer_.size(); }
    const unsigned char* buffer_begin() const { return buffer_.data(); }

    /// True when a world record with this data pointer, signed rowbytes and size, `pixel_bytes` per
    /// pixel, addresses only pixel rows and padding of this world's buffer (never its guards).
    bool contains(const unsigned char* data, std::ptrdiff_t rowbytes, A_long width, A_long height,
                  std::size_t pixel_bytes) const;

private:
    template <class P>
    P& checked(A_long x, A_long y, Depth expected) const;

    Depth depth_;
    PF_PixelFormat format_;
    std::vector<unsigned char> buffer_;
    PF_LayerDef def_;
};

template <>
PF_Pixel8& World::at<PF_Pixel8>(A_long x, A_long y);
template <>
PF_Pixel16& World::at<PF_Pixel16>(A_long x, A_long y);
template <>
PF_PixelFloat& World::at<PF_PixelFloat>(A_long x, A_long y);
template <>
const PF_Pixel8& World::at<PF_Pixel8>(A_long x, A_long y) const;
template <>
const PF_Pixel16& World::at<PF_Pixel16>(A_long x, A_long y) const;
template <>
const PF_PixelFloat& World::at<PF_PixelFloat>(A_long x, A_long y) const;

}  // namespace ruvivedu::host
