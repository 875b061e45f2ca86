// Cell sampling: reduces the source image to one ink value per screen dot.
#pragma once

#include "base/image.h"
#include "base/render_context.h"
#include "halftone/halftone_params.h"

namespace ruvivedu {

// Every method ends in the same ink rule, ink = ceil(alpha) * (1 - luminance):
// any coverage at all counts fully, so partial alpha does not thin a dot, and a
// fully transparent spot gives no ink whatever its colour. Reads clamp their
// indices, so positions off the image repeat its edge pixels. All three are
// image-to-image row jobs over rows [begin, end) of `dst`; they read no field
// that depends on T. A source without pixels (zero width or height) has nothing
// to read and gives transparent results: no ink, and (0, 0) box pixels.
//
// The luminance is the host's stored colour, which is premultiplied by alpha;
// the box filter's plain luminance sum over its alpha sum therefore gives the
// mean colour of what is visible. NaN or infinite values are carried through
// as floats (the dot stage draws nothing for NaN ink).

/// BiLinear, first stage: for each pixel of the two-channel box image `dst`,
/// the area of `src` (two channels: luminance, alpha) under that unrotated cell,
/// found through params->box_to_src. Channel 0 gets the alpha-weighted mean
/// luminance (0 where no alpha falls; at most 1, no lower limit), channel 1 the
/// mean alpha (at most 1).
template <typename T>
void box_filter(Image<float>* src, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end);

/// box_filter straight from the host's input world `in` (a layer-to-image row
/// job): every pixel it reads is converted as convert_input converts it, so the
/// box image holds the same bits as box_filter over the converted source image.
template <typename T>
void box_filter_layer(LayerParams* in, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end);

/// BiLinear, second stage: for each pixel of the one-channel cell grid `dst`,
/// an alpha-weighted bilinear lookup of the box image `src` at the dot centre
/// (params->grid_to_box), turned into ink.
template <typename T>
void resample_bilinear(Image<float>* src, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end);

/// Nearest: for each pixel of the one-channel cell grid `dst`, the source pixel
/// nearest to the dot centre (params->grid_to_src, rounded half away from
/// zero), turned into ink. Nothing is limited: float luminance above 1 gives
/// negative ink, below 0 ink above 1.
template <typename T>
void sample_nearest(Image<float>* src, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end);

/// sample_nearest straight from the host's input world `in` (a layer-to-image
/// row job), each pixel converted as convert_input converts it: the same cell
/// grid as sample_nearest over the converted source image.
template <typename T>
void sample_nearest_layer(LayerParams* in, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end);

}  // namespace ruvivedu
