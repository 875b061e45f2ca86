// render_frame<T>: geometry, the box image and cell grid, the stages in order, clean-up.
#include "pipeline/frame_render.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <new>

#include "halftone/dots.h"
#include "halftone/halftone_params.h"
#include "halftone/sampling.h"
#include "base/image.h"
#include "pipeline/parallel.h"

namespace ruvivedu {

namespace {

// Limits on the box image and the cell grid, whose sizes come from the
// geometry rather than from a world the host already holds. The largest host
// layer (30000 x 30000 at DotSize 1, turned by 45 degrees) needs a grid of about
// 42500 x 42500 = 1.8e9 cells; a context the host never sends (a vanishing
// downsample factor, an offset near the float range) can ask for sizes that are
// astronomically large or not finite, and such a buffer cannot be had.
constexpr float kMaxImageSide = 131072.0f;
constexpr uint64_t kMaxImagePixels = uint64_t{1} << 31;

// Rounds an extent of the geometry up to whole pixels, refusing what no
// buffer can hold.
uint32_t image_side(float extent)
{
    const float side = std::ceil(extent);
    if (!(side >= 0.0f && side <= kMaxImageSide))
        throw memory_exception();
    return static_cast<uint32_t>(side);
}

Image<float>* new_image(SPBasicSuite* pica, uint32_t width, uint32_t height, uint32_t channels)
{
    if (static_cast<uint64_t>(width) * height > kMaxImagePixels)
        throw memory_exception();
    // A failure of the image's own constructor propagates as memory_exception;
    // a failure to get the small record itself is the same condition.
    Image<float>* image = new (std::nothrow) Image<float>(pica, width, height, channels);
    if (image == nullptr)
        throw memory_exception();
    return image;
}

std::size_t image_bytes(const Image<float>* image)
{
    return image == nullptr ? 0
                            : image_allocation_size(static_cast<std::size_t>(image->row_stride) * image->height);
}

// The images of one frame: the box image and the cell grid, whose sizes follow
// the screen. The layer is read straight from the input world and the dots are
// drawn straight into the output world, so no image of the frame's own size is
// needed. They are freed in creation order, also when a later allocation or a
// stage's thread start fails part way. Of the buffers kept for later frames
// no more stay than the frames rendering now need: as many frames of this
// one's size as are in flight.
struct FrameImages {
    Image<float>* box = nullptr;
    Image<float>* grid = nullptr;

    FrameImages() = default;
    FrameImages(const FrameImages&) = delete;
    FrameImages& operator=(const FrameImages&) = delete;
    ~FrameImages()
    {
        const std::size_t need = image_bytes(box) + image_bytes(grid);
        delete box;
        delete grid;
        trim_kept_image_memory(need * static_cast<std::size_t>(std::max(1, RenderShare::renders_in_flight())));
    }
};

// The dot stage of a shape (values outside the three never come from the
// host's menu, and shape_from_popup turns them into Circle; a context made
// otherwise draws them as Circle too, the default, for which the geometry sized
// the radius as well) writing the output world by the Alpha setting.
template <typename T>
ImageToLayerJob<T> dot_stage(Shape shape, bool alpha)
{
    if (shape == Shape::square)
        return alpha ? render_square_alpha<T> : render_square_grey<T>;
    if (shape == Shape::line)
        return alpha ? render_line_alpha<T> : render_line_grey<T>;
    return alpha ? render_circle_alpha<T> : render_circle_grey<T>;
}

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
    // Must come first: it also sets the byte sizes of both views.
    init_inner_params(*context, params);
    // Several frames may render at once on the host's threads; each takes its
    // share of the processors, so that together they keep them busy without
    // crowding them (a caller may fix the count instead).
    const RenderShare share(render_workers(params.worker_count));
    params.worker_count = worker_count > 0 ? worker_count : share.workers();

    LayerParams* in_layer = &context->in_layer;
    LayerParams* out_layer = &context->out_layer;
    // An empty output has nothing to receive, and an empty input has no pixel
    // for the sampling to fall back on: either way there is nothing to draw, and
    // the output world is left as it is.
    if (in_layer->width <= 0 || in_layer->height <= 0 || out_layer->width <= 0 || out_layer->height <= 0)
        return;

    FrameImages images;
    // Allocated on both sampling paths: Nearest leaves it unused.
    images.box = new_image(context->pica, image_side(params.box_width), image_side(params.box_height), 2);
    images.grid = new_image(context->pica, image_side(params.grid_width), image_side(params.grid_height), 1);

    if (context->sampling == Sampling::bilinear) {
        run_rows_parallel<T>(box_filter_layer<T>, in_layer, images.box, rows_of(images.box), &params);
        run_rows_parallel<T>(resample_bilinear<T>, images.box, images.grid, rows_of(images.grid), &params);
    } else {
        run_rows_parallel<T>(sample_nearest_layer<T>, in_layer, images.grid, rows_of(images.grid), &params);
    }

    run_rows_parallel<T>(dot_stage<T>(context->shape, context->alpha), images.grid, in_layer, out_layer,
                         out_layer->height, &params);
}

template void render_frame<unsigned char>(HalfTone_Params*);
template void render_frame<unsigned short>(HalfTone_Params*);
template void render_frame<float>(HalfTone_Params*);
template void render_frame<unsigned char>(HalfTone_Params*, int32_t);
template void render_frame<unsigned short>(HalfTone_Params*, int32_t);
template void render_frame<float>(HalfTone_Params*, int32_t);

}  // namespace ruvivedu
