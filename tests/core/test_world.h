// The core tests' host world: ARGB pixel buffers with padded rows, guard bytes and
// optional bottom-up row order, plus a render context filled the way the shell fills it.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "base/render_context.h"

namespace test_world {

using namespace ruvivedu;

constexpr unsigned char guard_byte = 0xA5;
constexpr int32_t guard_bytes = 64;

/// Host component type for a depth: 8-bit, 16-bit, float.
template <typename T>
constexpr Depth depth_of()
{
    return sizeof(T) == 1 ? Depth::u8 : (sizeof(T) == 2 ? Depth::u16 : Depth::f32);
}

/// Bytes of `n` pixels of T: padding of whole pixels, which keeps every row aligned as the first.
template <typename T>
constexpr int32_t pixels_pad(int32_t n)
{
    return n * 4 * static_cast<int32_t>(sizeof(T));
}

/// A host world of ARGB pixels of type T, the one world of the core tests. Rows
/// are padded by `pad_bytes` (any number: an odd one leaves no row but the first
/// aligned), and guard_bytes more lie before the first and after the last row;
/// padding, guards and, until something writes them, the pixels hold guard_byte,
/// so a stage that leaves a pixel unwritten or writes outside the world shows.
/// A bottom-up world keeps its rows in reverse memory order: the view's data
/// points at the top row, which lies last in memory, and rowbytes is negative.
template <typename T>
struct TestWorld {
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;  // bytes between rows in memory, always positive
    bool bottom_up = false;
    std::vector<unsigned char> bytes;
    /// The view as the shell fills it, with the byte sizes the geometry sets.
    LayerParams view{};

    TestWorld(int32_t w, int32_t h, int32_t pad_bytes = 0, bool bottom_up_rows = false)
        : width(w), height(h), stride(pixels_pad<T>(w) + pad_bytes), bottom_up(bottom_up_rows),
          bytes(static_cast<std::size_t>(stride) * static_cast<std::size_t>(h > 0 ? h : 0) + 2 * guard_bytes,
                guard_byte)
    {
        view.data = reinterpret_cast<char*>(height > 0 ? row_start(0) : bytes.data() + guard_bytes);
        view.rowbytes = bottom_up ? -stride : stride;
        view.width = width;
        view.height = height;
        view.deep = sizeof(T) == 2;
        view.num_channels = 4;
        view.bytes_per_channel = static_cast<int32_t>(sizeof(T));
        view.bytes_per_pixel = pixels_pad<T>(1);
    }
    // The view points into the world's own bytes.
    TestWorld(const TestWorld&) = delete;
    TestWorld& operator=(const TestWorld&) = delete;

    unsigned char* row_start(int32_t y)
    {
        const int32_t memory_row = bottom_up ? height - 1 - y : y;
        return bytes.data() + guard_bytes + static_cast<std::size_t>(memory_row) * stride;
    }
    const unsigned char* row_start(int32_t y) const { return const_cast<TestWorld*>(this)->row_start(y); }

    /// Component c (0 alpha, 1 red, 2 green, 3 blue) of pixel (x, y).
    T get(int32_t x, int32_t y, int c) const
    {
        T v;
        std::memcpy(&v, row_start(y) + (x * 4 + c) * sizeof(T), sizeof(T));
        return v;
    }
    void put(int32_t x, int32_t y, int c, T v) { std::memcpy(row_start(y) + (x * 4 + c) * sizeof(T), &v, sizeof(T)); }
    void set(int32_t x, int32_t y, T a, T r, T g, T b)
    {
        put(x, y, 0, a);
        put(x, y, 1, r);
        put(x, y, 2, g);
        put(x, y, 3, b);
    }
    void fill(T a, T r, T g, T b)
    {
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                set(x, y, a, r, g, b);
    }

    /// True when no byte outside the pixels of the world was changed.
    bool guards_intact() const
    {
        const std::size_t pixel_bytes = static_cast<std::size_t>(width) * 4 * sizeof(T);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (i < static_cast<std::size_t>(guard_bytes) || i >= bytes.size() - guard_bytes) {
                if (bytes[i] != guard_byte)
                    return false;
                continue;
            }
            if ((i - guard_bytes) % stride >= pixel_bytes && bytes[i] != guard_byte)
                return false;
        }
        return true;
    }

    /// The pixels only, row by row from the top, without padding.
    std::vector<unsigned char> pixels() const
    {
        std::vector<unsigned char> out;
        const std::size_t pixel_bytes = static_cast<std::size_t>(width) * 4 * sizeof(T);
        for (int32_t y = 0; y < height; ++y)
            out.insert(out.end(), row_start(y), row_start(y) + pixel_bytes);
        return out;
    }
};

/// A render context for `in` and `out` with the effect's defaults (Circle,
/// DotSize 32, 45 degrees, Offset at the layer centre, Alpha off, BiLinear) at
/// full resolution.
template <typename T>
HalfTone_Params make_context(TestWorld<T>& in, TestWorld<T>& out)
{
    HalfTone_Params c{};
    c.in_layer = in.view;
    c.out_layer = out.view;
    c.frame_width = in.width;
    c.frame_height = in.height;
    c.extent_hint = {0, 0, in.width, in.height};
    c.downsample_x = {1, 1};
    c.downsample_y = {1, 1};
    c.pixel_aspect_ratio = {1, 1};
    c.dot_size = 32.0f;
    c.rotation = 45.0f;
    c.offset_x = static_cast<float>(in.width) * 0.5f;
    c.offset_y = static_cast<float>(in.height) * 0.5f;
    c.alpha = false;
    c.sampling = Sampling::bilinear;
    c.shape = Shape::circle;
    c.depth = depth_of<T>();
    c.pica = nullptr;
    return c;
}

/// Full-scale component value of T on this host.
template <typename T>
constexpr T white()
{
    return sizeof(T) == 1 ? T(255) : (sizeof(T) == 2 ? T(32768) : T(1));
}

/// A small synthetic layer with something for every stage to get wrong:
/// horizontal and vertical colour gradients, an alpha ramp, a fully
/// transparent band, hard-edged opaque black and white blocks, and a
/// half-transparent disc. Values are built in 0..1 and scaled to T.
template <typename T>
void paint_test_layer(TestWorld<T>& w)
{
    const float full = static_cast<float>(white<T>());
    auto scaled = [&](float v) {
        if (sizeof(T) == 4)
            return static_cast<T>(v * full);
        return static_cast<T>(static_cast<int>(v * full + 0.5f));
    };
    for (int32_t y = 0; y < w.height; ++y) {
        for (int32_t x = 0; x < w.width; ++x) {
            const float fx = w.width > 1 ? static_cast<float>(x) / static_cast<float>(w.width - 1) : 0.0f;
            const float fy = w.height > 1 ? static_cast<float>(y) / static_cast<float>(w.height - 1) : 0.0f;
            float a = 1.0f;
            float r = fx;
            float g = fy;
            float b = 1.0f - fx * fy;
            if (y < w.height / 8)
                a = fx;  // alpha ramp along the top
            if (x >= w.width / 2 && x < w.width / 2 + 4)
                a = 0.0f;  // a fully transparent band with colour under it
            if (x >= 4 && x < 20 && y >= w.height / 2 && y < w.height / 2 + 16)
                r = g = b = 0.0f;  // hard black block
            if (x >= w.width - 24 && x < w.width - 8 && y >= w.height - 20 && y < w.height - 4)
                r = g = b = 1.0f;  // hard white block
            const float dx = static_cast<float>(x) - 0.7f * static_cast<float>(w.width);
            const float dy = static_cast<float>(y) - 0.35f * static_cast<float>(w.height);
            if (dx * dx + dy * dy < 100.0f) {
                a = 0.5f;  // half-transparent dark disc
                r = g = b = 0.2f;
            }
            w.set(x, y, scaled(a), scaled(r), scaled(g), scaled(b));
        }
    }
}

}  // namespace test_world
