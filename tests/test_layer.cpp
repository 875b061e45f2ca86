// The shared test layer.
#include "test_layer.h"

#include <algorithm>

using namespace ruvivedu::host;

namespace test_layer {

World make_layer(Depth depth, A_long width, A_long height, A_long padding, unsigned seed, bool bottom_up)
{
    World world =
        bottom_up ? World::bottom_up(depth, width, height, padding) : World::padded(depth, width, height, padding);
    for (A_long y = 0; y < height; ++y) {
        for (A_long x = 0; x < width; ++x) {
            const double lum = double(x + y) / double(width + height);
            // A cheap hash per pixel and seed: frames of different seeds differ.
            const unsigned h = (unsigned(x) * 73856093u) ^ (unsigned(y) * 19349663u) ^ (seed * 83492791u);
            const double wobble = double(h % 97) / 970.0;
            const double alpha = (x < width / 4 && y < height / 4) ? 0.0 : ((x + seed) % 7 == 0 ? 0.5 : 1.0);
            const double r = std::min(1.0, lum + wobble), g = 1.0 - lum, b = 0.5 * lum + wobble;
            switch (depth) {
            case Depth::u8:
                world.pixel8(x, y) =
                    PF_Pixel8{A_u_char(alpha * 255), A_u_char(r * 255), A_u_char(g * 255), A_u_char(b * 255)};
                break;
            case Depth::u16:
                world.pixel16(x, y) = PF_Pixel16{A_u_short(alpha * 32768), A_u_short(r * 32768), A_u_short(g * 32768),
                                                 A_u_short(b * 32768)};
                break;
            case Depth::f32:
                world.pixel32(x, y) = PF_PixelFloat{float(alpha), float(r), float(g), float(b)};
                break;
            }
        }
    }
    return world;
}

}  // namespace test_layer
