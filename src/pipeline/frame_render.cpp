// render_frame<T>: geometry, four images, the stages in order, clean-up.
#include "pipeline/frame_render.h"

#include <cmath>
#include <cstdint>
#include <new>

#include "halftone/dots.h"
#include "halftone/halftone_params.h"
#include "halftone/sampling.h"
#include "pipeline/convert.h"
#include "pipeline/image.h"
#include "pipeline/parallel.h"

namespace {

// Limits on the box image and the cell grid, whose sizes come from the
// geometry rather than from a world the host already holds. The largest host
// layer (30000 x 30000 at DotSize 1, turned by 45 degrees) needs a grid of about
// 42500 x 42500 = 1.8e9 cells; a context the host never sends (a vanishing
// downsample factor, an offset near the float range) can ask for sizes that are
// astronomically large or not finite, and such a buffer cannot be had.
constexpr float max_image_side = 131072.0f;
constexpr uint64_t max_image_pixels = uint64_t{1} << 31;

// Rounds an extent of the geometry up to whole pixels, refusing what no
// buffer can hold.
uint32_t image_side(float extent)
{
    const float side = std::ceil(extent);
    if (!(side >= 0.0f && side <= max_image_side))
        throw memory_exception();
    return static_cast<uint32_t>(side);
}

Image<float>* new_image(SPBasicSuite* pica, uint32_t width, uint32_t height, uint32_t channels)
{
    if (static_cast<uint64_t>(width) * height > max_image_pixels)
        throw memory_exception();
    // A failure of the image's own constructor propagates as memory_exception;
    // a failure to get the small record itself is the same condition.
    Image<float>* image = new (std::nothrow) Image<float>(pica, width, height, channels);
    if (image == nullptr)
        throw memory_exception();
    return image;
}

// The four images of one frame. They are freed in creation order, also when a
// later allocation or a stage's thread start fails part way.
struct FrameImages {
    Image<float>* source = nullptr;
    Image<float>* box = nullptr;
    Image<float>* grid = nullptr;
    Image<float>* output = nullptr;

    FrameImages() = default;
    FrameImages(const FrameImages&) = delete;
    FrameImages& operator=(const FrameImages&) = delete;
    ~FrameImages()
    {
        delete source;
        delete box;
        delete grid;
        delete output;
    }
};

int rows_of(const Image<float>* image)
{
    return static_cast<int>(image->height);
}

}  // namespace

template <typename T>
void render_frame(HalfTone_Params* context)
{
    render_frame<T>(context, 0);
}

template <typename T>
void render_frame(HalfTone_Params* context, int32_t worker_count)
{
    HalfTone_Inner_Params<T> params{};
    params.src_to_box.set_identity();
    params.box_to_grid.set_identity();
    params.src_to_grid.set_identity();
    params.box_to_src.set_identity();
    params.grid_to_box.set_identity();
    params.grid_to_src.set_identity();
    // Must come first: it also sets the byte sizes of both views.
    init_inner_params(*context, params);
    if (worker_count > 0)
        params.worker_count = worker_count;

    LayerParams* in_layer = &context->in_layer;
    LayerParams* out_layer = &context->out_layer;
    // An empty output has nothing to receive, and an empty input has no pixel
    // for the sampling to fall back on: either way there is nothing to draw, and
    // the output world is left as it is.
    if (in_layer->width <= 0 || in_layer->height <= 0 || out_layer->width <= 0 || out_layer->height <= 0)
        return;

    FrameImages images;
    images.source = new_image(context->pica, static_cast<uint32_t>(in_layer->width),
                              static_cast<uint32_t>(in_layer->height), 2);
    // Allocated on both sampling paths: Nearest leaves it unused.
    images.box = new_image(context->pica, image_side(params.box_width), image_side(params.box_height), 2);
    images.grid = new_image(context->pica, image_side(params.grid_width), image_side(params.grid_height), 1);
    images.output = new_image(context->pica, static_cast<uint32_t>(out_layer->width),
                              static_cast<uint32_t>(out_layer->height), 1);

    run_rows_parallel<T>(convert_input<T>, in_layer, images.source, rows_of(images.source), &params);

    if (context->sampling == 1) {
        run_rows_parallel<T>(box_filter<T>, images.source, images.box, rows_of(images.box), &params);
        run_rows_parallel<T>(resample_bilinear<T>, images.box, images.grid, rows_of(images.grid), &params);
    } else {
        run_rows_parallel<T>(sample_nearest<T>, images.source, images.grid, rows_of(images.grid), &params);
    }

    // Shape values outside 1-3 never come from the host's menu; they are drawn
    // as Circle, the default (the geometry sized the radius for it as well).
    ImageToImageJob<T> dots = render_circle<T>;
    if (context->shape == 2)
        dots = render_square<T>;
    else if (context->shape == 3)
        dots = render_line<T>;
    run_rows_parallel<T>(dots, images.grid, images.output, rows_of(images.output), &params);

    ImageToLayerJob<T> output = context->alpha ? convert_output_alpha<T> : convert_output_grey<T>;
    run_rows_parallel<T>(output, images.output, in_layer, out_layer, out_layer->height, &params);
}

template void render_frame<unsigned char>(HalfTone_Params*);
template void render_frame<unsigned short>(HalfTone_Params*);
template void render_frame<float>(HalfTone_Params*);
template void render_frame<unsigned char>(HalfTone_Params*, int32_t);
template void render_frame<unsigned short>(HalfTone_Params*, int32_t);
template void render_frame<float>(HalfTone_Params*, int32_t);
