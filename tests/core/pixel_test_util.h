// Helpers shared by the pixel stage tests: host worlds in memory, float images, params.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "base/image.h"
#include "base/render_context.h"
#include "halftone/halftone_params.h"
#include "test_world.h"

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

using test_world::guard_byte;
using test_world::TestWorld;

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
        if (std::memcmp(now.data() + y * row_floats, expected.data() + y * row_floats, row_floats * sizeof(float)) !=
            0) {
            return false;
        }
    }
    return true;
}

}  // namespace pixel_test
