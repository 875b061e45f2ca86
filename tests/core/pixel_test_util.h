// Helpers shared by the pixel stage tests: host worlds in memory, float images, params.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "halftone/halftone_params.h"
#include "base/image.h"
#include "base/render_context.h"

namespace pixel_test {

using namespace ruvivedu;

using ComponentTypes = ::testing::Types<unsigned char, unsigned short, float>;

/// Full scale of the host's component type: 255, 32768 or 1.0.
template <typename T>
constexpr T white_of()
{
    if constexpr (sizeof(T) == 1) {
        return T(255);
    } else if constexpr (sizeof(T) == 2) {
        return T(32768);
    } else {
        return T(1);
    }
}

/// The two fields the conversion stages read, set as the geometry step sets them.
template <typename T>
HalfTone_Inner_Params<T> conversion_params()
{
    HalfTone_Inner_Params<T> p{};
    p.white_value = white_of<T>();
    p.inv_white = 1.0f / static_cast<float>(p.white_value);
    return p;
}

/// An affine map for the row-vector rule: x' = x*m00 + y*m10 + m20, y' = x*m01 + y*m11 + m21.
inline Mat3 affine(float m00, float m01, float m10, float m11, float m20, float m21)
{
    Mat3 m{};
    m.m00 = m00;
    m.m01 = m01;
    m.m10 = m10;
    m.m11 = m11;
    m.m20 = m20;
    m.m21 = m21;
    m.m22 = 1.0f;
    return m;
}

/// Byte written around and between the rows of a test world, to catch writes outside it.
constexpr unsigned char guard_byte = 0xA5;

/// A host world of ARGB pixels in memory, rows `pad` bytes longer than needed and,
/// if bottom_up, stored last row first (negative rowbytes).
template <typename T>
struct TestWorld {
    std::vector<unsigned char> bytes;
    LayerParams view{};

    TestWorld(int width, int height, int pad = 0, bool bottom_up = false)
    {
        const int pixel = 4 * static_cast<int>(sizeof(T));
        const int stride = width * pixel + pad;
        bytes.assign(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height), guard_byte);
        char* base = reinterpret_cast<char*>(bytes.data());
        view.data = bottom_up && height > 0 ? base + static_cast<std::ptrdiff_t>(height - 1) * stride : base;
        view.rowbytes = bottom_up ? -stride : stride;
        view.width = width;
        view.height = height;
        view.deep = sizeof(T) == 2;
        view.num_channels = 4;
        view.bytes_per_channel = static_cast<int32_t>(sizeof(T));
        view.bytes_per_pixel = pixel;
    }

    void set(int x, int y, T a, T r, T g, T b)
    {
        const T c[4] = {a, r, g, b};
        std::memcpy(layer_pixel(view, x, y), c, sizeof c);
    }

    void fill(T a, T r, T g, T b)
    {
        for (int y = 0; y < view.height; ++y) {
            for (int x = 0; x < view.width; ++x) {
                set(x, y, a, r, g, b);
            }
        }
    }

    /// Component c (0 alpha, 1 red, 2 green, 3 blue) of pixel (x, y).
    T get(int x, int y, int c) const
    {
        T value;
        std::memcpy(&value, layer_pixel(view, x, y) + c * static_cast<int>(sizeof(T)), sizeof value);
        return value;
    }

    /// Whether every padding byte after the pixels of each row still holds guard_byte.
    bool padding_untouched() const
    {
        const int used = view.width * view.bytes_per_pixel;
        for (int y = 0; y < view.height; ++y) {
            const char* row = layer_row(view, y);
            for (int i = used; i < std::abs(view.rowbytes); ++i) {
                if (static_cast<unsigned char>(row[i]) != guard_byte) {
                    return false;
                }
            }
        }
        return true;
    }
};

inline float& at(Image<float>& image, int x, int y, int c = 0)
{
    return image.row(static_cast<uint32_t>(y))[static_cast<std::size_t>(x) * image.num_channels + c];
}

inline void fill(Image<float>& image, float value)
{
    std::fill(image.data, image.data + static_cast<std::size_t>(image.width) * image.height * image.num_channels,
              value);
}

/// The image's floats, for comparing whole images bit for bit.
inline std::vector<float> snapshot(const Image<float>& image)
{
    return std::vector<float>(image.data,
                              image.data + static_cast<std::size_t>(image.width) * image.height * image.num_channels);
}

/// Whether rows [begin, end) of `image` equal those of `reference` and every other row equals `before`,
/// bit for bit: a row job may write only its own rows.
inline bool only_rows_written(const Image<float>& image, const std::vector<float>& before,
                              const std::vector<float>& reference, int begin, int end)
{
    const std::size_t row_floats = static_cast<std::size_t>(image.width) * image.num_channels;
    const std::vector<float> now = snapshot(image);
    for (int y = 0; y < static_cast<int>(image.height); ++y) {
        const std::vector<float>& expected = y >= begin && y < end ? reference : before;
        if (std::memcmp(now.data() + y * row_floats, expected.data() + y * row_floats,
                        row_floats * sizeof(float)) != 0) {
            return false;
        }
    }
    return true;
}

} // namespace pixel_test
