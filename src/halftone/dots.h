// Dot rendering: draws the screen from the cell grid into the paper-brightness image.
#pragma once

#include "base/image.h"
#include "base/render_context.h"
#include "halftone/halftone_params.h"

namespace ruvivedu {

// All three are image-to-image row jobs over rows [begin, end) of `dst`, the
// one-channel output image (output-world size, addressed in the source frame).
// `grid` is the one-channel cell grid; its pixel (k, l) is the ink of the dot
// centred at grid position (k, l), read with clamped indices. A pixel sums the
// coverage of the one, two or four dots at the lattice points around its grid
// position (params->src_to_grid) and stores 1 - min(1, max(0, sum)): 1 is bare
// paper, 0 full ink. Ink at or below 1e-7 draws no circle or square (below
// 1e-7: no bar), and negative ink draws nothing. A NaN ink value draws nothing
// and an infinite one full ink within the shape's reach, so the image always
// holds values in 0..1. A grid without cells leaves bare paper. They read no
// field that depends on T.

/// Round dots with a soft edge 1.4142135 pixels wide; the fully covered radius
/// is dot_radius * v + 0.5 - 1.4142135, and no dot reaches beyond
/// dot_radius + 1.4142135 from its centre.
template <typename T>
void render_circle(Image<float>* grid, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end);

/// Axis-aligned squares of half side dot_radius * v with a one-pixel ramp,
/// cut off at dot_radius from the centre.
template <typename T>
void render_square(Image<float>* grid, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end);

/// Horizontal bars of full cell length (cell_size) centred on the lattice
/// points, half thickness dot_radius * v with a one-pixel ramp above and below.
template <typename T>
void render_line(Image<float>* grid, Image<float>* dst, HalfTone_Inner_Params<T>* params, int begin, int end);

/// The dot stages drawn straight into the host's output world `out`, as an
/// image-to-layer row job over rows [begin, end) of `out`: each pixel's paper
/// value, the same bits the jobs above store, becomes the output pixel as
/// convert_output_grey (the _grey jobs, Alpha off) or convert_output_alpha (the
/// _alpha jobs, Alpha on) turns it, with the alpha of `in` under it (read before
/// the pixel is written, so the two may even be one world). No output image is
/// needed.
template <typename T>
void render_circle_grey(Image<float>* grid, LayerParams* in, LayerParams* out, HalfTone_Inner_Params<T>* params,
                        int begin, int end);
template <typename T>
void render_square_grey(Image<float>* grid, LayerParams* in, LayerParams* out, HalfTone_Inner_Params<T>* params,
                        int begin, int end);
template <typename T>
void render_line_grey(Image<float>* grid, LayerParams* in, LayerParams* out, HalfTone_Inner_Params<T>* params,
                      int begin, int end);
template <typename T>
void render_circle_alpha(Image<float>* grid, LayerParams* in, LayerParams* out, HalfTone_Inner_Params<T>* params,
                         int begin, int end);
template <typename T>
void render_square_alpha(Image<float>* grid, LayerParams* in, LayerParams* out, HalfTone_Inner_Params<T>* params,
                         int begin, int end);
template <typename T>
void render_line_alpha(Image<float>* grid, LayerParams* in, LayerParams* out, HalfTone_Inner_Params<T>* params,
                       int begin, int end);

/// How the dot jobs draw a frame. The AVX2 path draws cells at least 6.5
/// pixels across (grid positions well within float's whole numbers) dot by dot
/// over bands of rows, and skips the per-pixel test of whether a dot is one of
/// the pixel's candidates where the shape cannot reach any pixel for which it
/// is not; everything else goes pixel by pixel. All walks give the same bits;
/// tests ask which one they compared.
enum class DotWalk {
    per_pixel,
    by_spans,
    by_spans_untested,  ///< by spans, without the candidate tests
};

/// The walk render_circle (shape 1), render_square (2) or render_line (3)
/// takes for a frame with these parameters and this output size.
template <typename T>
DotWalk dot_walk(const HalfTone_Inner_Params<T>& params, Shape shape, uint32_t width, uint32_t height);

}  // namespace ruvivedu
