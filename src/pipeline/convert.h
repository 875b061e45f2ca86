// Pixel conversion: host ARGB worlds to the luminance/alpha source image and the
// paper-brightness image back to host pixels.
#pragma once

#include "base/image.h"
#include "base/render_context.h"
#include "halftone/halftone_params.h"

namespace ruvivedu {

/// Input conversion (a layer-to-image row job). For every pixel of rows
/// [begin, end) of `src` (two channels, the size of `in`) stores the luminance
/// (G * 0.586611 + R * 0.298912) + B * 0.114478 in channel 0 and the alpha in
/// channel 1, both scaled by `inv_white`. 8- and 16-bit luminance is truncated to
/// the component type first, so full-scale white gives exactly 1; float
/// luminance is kept as it is, outside 0..1 included. Colours are not
/// un-premultiplied.
template <typename T>
void convert_input(LayerParams* in, Image<float>* src, HalfTone_Inner_Params<T>* params, int begin, int end);

/// Output conversion with Alpha off (an image-to-layer row job). For every pixel
/// of rows [begin, end) of `out`, with v the one-channel `out_image` at the same
/// position: alpha = (a * inv_white) * white_value, where a is the input's alpha
/// there; red = green = blue = white_value * v. A grey screen that keeps the
/// layer's alpha.
///
/// Where `out` reaches beyond `in` (to the right or below), the input's alpha is
/// taken as 0: outside its world a layer is transparent to the host as well, so
/// those pixels come out transparent (grey colour, alpha 0) and nothing outside
/// `in` is read.
template <typename T>
void convert_output_grey(Image<float>* out_image, LayerParams* in, LayerParams* out, HalfTone_Inner_Params<T>* params,
                         int begin, int end);

/// Output conversion with Alpha on: black ink on transparent paper. alpha =
/// ((1 - v) * white_value) * (a * inv_white), red = green = blue = 0; the same
/// rule as convert_output_grey for pixels outside the input world (alpha 0).
template <typename T>
void convert_output_alpha(Image<float>* out_image, LayerParams* in, LayerParams* out, HalfTone_Inner_Params<T>* params,
                          int begin, int end);

}  // namespace ruvivedu
