// Area-average reduction of a host pixel world.
#include "downsample.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace ruvivedu::tool {

namespace {

/// One source row or column and the share of it that an output pixel covers.
struct Tap {
    A_long index;
    double weight;
};

/// For each output index, the source indices it covers along one axis. Output
/// pixel i spans [i x D/N, (i + 1) x D/N) in source pixels, clipped to the layer.
std::vector<std::vector<Tap>> taps_for(A_long full, const Ratio& ratio)
{
    const A_long size = downsampled_size(full, ratio);
    const std::int64_t num = ratio.num, den = ratio.den;
    std::vector<std::vector<Tap>> taps(static_cast<std::size_t>(size));
    for (A_long i = 0; i < size; ++i) {
        // Work in units of 1/N source pixel so the span ends are whole numbers.
        const std::int64_t begin = std::int64_t(i) * den;
        const std::int64_t end = std::min<std::int64_t>((std::int64_t(i) + 1) * den, std::int64_t(full) * num);
        for (std::int64_t s = begin / num; s * num < end; ++s) {
            const std::int64_t covered = std::min(end, (s + 1) * num) - std::max(begin, s * num);
            if (covered > 0)
                taps[std::size_t(i)].push_back(Tap{A_long(s), double(covered) / double(num)});
        }
    }
    return taps;
}

template <class Pixel>
constexpr double full_scale()
{
    if constexpr (std::is_same_v<Pixel, PF_Pixel8>)
        return 255.0;
    else if constexpr (std::is_same_v<Pixel, PF_Pixel16>)
        return 32768.0;
    else
        return 1.0;
}

template <class Pixel>
auto store(double value)
{
    using Component = decltype(Pixel::alpha);
    if constexpr (std::is_floating_point_v<Component>)
        return Component(value);
    else
        return Component(std::lround(std::clamp(value, 0.0, full_scale<Pixel>())));
}

template <class Pixel>
void reduce(const host::World& source, host::World& target, const std::vector<std::vector<Tap>>& across,
            const std::vector<std::vector<Tap>>& down)
{
    for (A_long y = 0; y < target.height(); ++y)
        for (A_long x = 0; x < target.width(); ++x) {
            double area = 0.0, alpha = 0.0;
            double red = 0.0, green = 0.0, blue = 0.0;     // weighted by alpha
            double red0 = 0.0, green0 = 0.0, blue0 = 0.0;  // plain, for all-transparent areas
            for (const Tap& ty : down[std::size_t(y)])
                for (const Tap& tx : across[std::size_t(x)]) {
                    const Pixel& p = source.at<Pixel>(tx.index, ty.index);
                    const double w = tx.weight * ty.weight;
                    const double wa = w * double(p.alpha);
                    area += w;
                    alpha += wa;
                    red += wa * double(p.red);
                    green += wa * double(p.green);
                    blue += wa * double(p.blue);
                    red0 += w * double(p.red);
                    green0 += w * double(p.green);
                    blue0 += w * double(p.blue);
                }
            Pixel& out = target.at<Pixel>(x, y);
            if (alpha > 0.0) {
                out.red = store<Pixel>(red / alpha);
                out.green = store<Pixel>(green / alpha);
                out.blue = store<Pixel>(blue / alpha);
            } else {
                out.red = store<Pixel>(red0 / area);
                out.green = store<Pixel>(green0 / area);
                out.blue = store<Pixel>(blue0 / area);
            }
            out.alpha = store<Pixel>(alpha / area);
        }
}

}  // namespace

A_long downsampled_size(A_long full, const Ratio& ratio)
{
    const std::int64_t scaled =
        (std::int64_t(full) * ratio.num + std::int64_t(ratio.den) - 1) / std::int64_t(ratio.den);
    return A_long(std::max<std::int64_t>(1, scaled));
}

host::World downsample_area(const host::World& source, const Ratio& ratio_x, const Ratio& ratio_y)
{
    const auto across = taps_for(source.width(), ratio_x);
    const auto down = taps_for(source.height(), ratio_y);
    host::World target(source.depth(), A_long(across.size()), A_long(down.size()));
    switch (source.depth()) {
    case host::Depth::u8:
        reduce<PF_Pixel8>(source, target, across, down);
        break;
    case host::Depth::u16:
        reduce<PF_Pixel16>(source, target, across, down);
        break;
    case host::Depth::f32:
        reduce<PF_PixelFloat>(source, target, across, down);
        break;
    }
    return target;
}

}  // namespace ruvivedu::tool
