// Conversion row jobs between host ARGB worlds and the pipeline's float images.
// The arithmetic, one pixel or several at a time, is host_pixels'; these jobs
// run it over whole rows.
#include "pipeline/convert.h"

#include "base/host_pixels.h"
#include "pipeline/parallel.h"

namespace ruvivedu {

namespace {

template <typename T, bool alpha_output>
void convert_output(Image<float>* out_image, LayerParams* in, LayerParams* out, HalfTone_Inner_Params<T>* params,
                    int begin, int end)
{
    if (begin >= end) {
        return;
    }
    const float white = static_cast<float>(params->white_value);
    const float inv_white = params->inv_white;

    RUVIVEDU_PARALLEL_ROWS(row_workers(*params))
    for (int y = begin; y < end; ++y) {
        host_pixels::write_paper<T, alpha_output>(*in, *out, y, 0, out->width, out_image->row(static_cast<uint32_t>(y)),
                                                  white, inv_white);
    }
}

}  // namespace

template <typename T>
void convert_input(LayerParams* in, Image<float>* src, HalfTone_Inner_Params<T>* params, int begin, int end)
{
    if (begin >= end) {
        return;
    }
    const float inv_white = params->inv_white;
    const int width = static_cast<int>(src->width);

    RUVIVEDU_PARALLEL_ROWS(row_workers(*params))
    for (int y = begin; y < end; ++y) {
        host_pixels::source_row<T>(layer_row(*in, y), in->bytes_per_pixel, width, inv_white,
                                   src->row(static_cast<uint32_t>(y)));
    }
}

template <typename T>
void convert_output_grey(Image<float>* out_image, LayerParams* in, LayerParams* out, HalfTone_Inner_Params<T>* params,
                         int begin, int end)
{
    convert_output<T, false>(out_image, in, out, params, begin, end);
}

template <typename T>
void convert_output_alpha(Image<float>* out_image, LayerParams* in, LayerParams* out, HalfTone_Inner_Params<T>* params,
                          int begin, int end)
{
    convert_output<T, true>(out_image, in, out, params, begin, end);
}

#define RUVIVEDU_INSTANTIATE_CONVERT(T)                                                                              \
    template void convert_input<T>(LayerParams*, Image<float>*, HalfTone_Inner_Params<T>*, int, int);                \
    template void convert_output_grey<T>(Image<float>*, LayerParams*, LayerParams*, HalfTone_Inner_Params<T>*, int,  \
                                         int);                                                                       \
    template void convert_output_alpha<T>(Image<float>*, LayerParams*, LayerParams*, HalfTone_Inner_Params<T>*, int, \
                                          int);

RUVIVEDU_INSTANTIATE_CONVERT(unsigned char)
RUVIVEDU_INSTANTIATE_CONVERT(unsigned short)
RUVIVEDU_INSTANTIATE_CONVERT(float)

}  // namespace ruvivedu
