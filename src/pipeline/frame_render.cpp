// render_frame<T>: geometry, the box image and cell grid, the stages in order, clean-up.
#include "pipeline/frame_render.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "base/image.h"
#include "halftone/dots.h"
#include "halftone/halftone_params.h"
#include "halftone/sampling.h"
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
    return image == nullptr ? 0 : image_allocation_size(static_cast<std::size_t>(image->row_stride) * image->height);
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

// Layer pixels of work between two questions to the host. Each chunk of rows
// is a parallel loop of its own, whose end waits for every worker: on a busy
// machine that wait costs a scheduler slice, about 7 ms on the two-processor
// development machine, so a chunk is as large as cancelling allows. 2^24 pixels
// (two UHD frames) keep a UHD frame to one chunk a stage, asked between stages,
// and ask the 30000 x 30000 frame some 55 times a stage, every few tenths of a
// second.
constexpr int64_t default_check_pixels = int64_t{1} << 24;

// Rows of a stage between two questions: `row_pixels` layer pixels of work a
// row, whole bands of 32 rows (the span walk's unit).
int chunk_rows(int64_t check_pixels, int64_t row_pixels)
{
    const int64_t rows = check_pixels / std::max<int64_t>(row_pixels, 1);
    return static_cast<int>(std::clamp<int64_t>((rows + 31) / 32 * 32, 32, int64_t{1} << 30));
}

// Asks the host between chunks of rows whether to go on and tells it how far
// the frame got. Runs on the driver's thread only; the workers of a chunk have
// all finished when it asks.
class FrameProgress {
public:
    FrameProgress(const RenderMonitor& monitor, int64_t total) : monitor_(monitor), total_(total) {}

    bool cancelled() const { return monitor_.cancelled != nullptr && monitor_.cancelled(monitor_.host); }

    void advance(int rows)
    {
        done_ += rows;
        if (monitor_.progress != nullptr)
            monitor_.progress(monitor_.host, clamp_count(done_), clamp_count(total_));
    }

    // Runs rows [first, last) of a stage as chunks, each through `run(begin, end)`,
    // a row being `row_pixels` layer pixels of work; false when the host called
    // the frame off before a chunk.
    template <typename Run>
    bool rows(int first, int last, int64_t row_pixels, Run run)
    {
        const int64_t budget = monitor_.check_pixels > 0 ? monitor_.check_pixels : default_check_pixels;
        const int chunk = chunk_rows(budget, row_pixels);
        for (int64_t a = first; a < last; a += chunk) {
            if (cancelled())
                return false;
            const int b = static_cast<int>(std::min<int64_t>(last, a + chunk));
            run(static_cast<int>(a), b);
            advance(b - static_cast<int>(a));
        }
        return true;
    }

private:
    // The host counts in 32 bits; a frame of more rows than that is reported
    // in proportion.
    int32_t clamp_count(int64_t n) const
    {
        if (total_ <= INT32_MAX)
            return static_cast<int32_t>(n);
        return static_cast<int32_t>(n / (total_ / INT32_MAX + 1));
    }

    const RenderMonitor& monitor_;
    int64_t total_;
    int64_t done_ = 0;
};

// The stages' row jobs shifted by a chunk's first row: the executor divides
// [0, count) among the workers, the stage sees [first + begin, first + end).
template <typename T>
LayerToImageJob<T> shifted(LayerToImageJob<T> job, int first)
{
    return [job, first](LayerParams* s, Image<float>* d, HalfTone_Inner_Params<T>* p, int b, int e) {
        job(s, d, p, first + b, first + e);
    };
}
template <typename T>
ImageToImageJob<T> shifted(ImageToImageJob<T> job, int first)
{
    return [job, first](Image<float>* s, Image<float>* d, HalfTone_Inner_Params<T>* p, int b, int e) {
        job(s, d, p, first + b, first + e);
    };
}
template <typename T>
ImageToLayerJob<T> shifted(ImageToLayerJob<T> job, int first)
{
    return [job, first](Image<float>* s, LayerParams* in, LayerParams* out, HalfTone_Inner_Params<T>* p, int b, int e) {
        job(s, in, out, p, first + b, first + e);
    };
}

// A rectangle in the frame of the worlds' origins, right and bottom exclusive.
struct Span {
    int64_t left, top, right, bottom;
    bool operator==(const Span& o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

Span world_span(const LayerParams& w)
{
    return {w.origin_x, w.origin_y, int64_t{w.origin_x} + w.width, int64_t{w.origin_y} + w.height};
}

// Host pixel memory the driver holds for a part of a layer: the layer as far as
// the input world holds it, and the output rows before they go into the world.
struct PixelBuffer {
    std::unique_ptr<char[]> bytes;

    explicit PixelBuffer(uint64_t size)
    {
        if (size > (uint64_t{1} << 40))
            throw memory_exception();
        bytes.reset(new (std::nothrow) char[static_cast<std::size_t>(std::max<uint64_t>(size, 1))]);
        if (!bytes)
            throw memory_exception();
    }
};

// Fills `layer` (the whole layer in host pixels) from the input world that
// holds part of it. Pixels beyond the input take the nearest one it has: the
// pre-render asked for everything the requested part's dots read, so those
// pixels feed only cells that reach no output pixel.
void fill_layer_copy(const LayerParams& input, const Span& frame, const LayerParams& layer)
{
    const int32_t bpp = layer.bytes_per_pixel;
    for (int32_t y = 0; y < layer.height; ++y) {
        const int64_t in_y = std::clamp<int64_t>(frame.top + y - input.origin_y, 0, input.height - 1);
        const char* from = layer_row(input, static_cast<int32_t>(in_y));
        char* to = layer_row(layer, y);
        // Columns of the layer the input holds: [lo, hi).
        const int64_t lo = std::clamp<int64_t>(input.origin_x - frame.left, 0, layer.width);
        const int64_t hi = std::clamp<int64_t>(int64_t{input.origin_x} + input.width - frame.left, lo, layer.width);
        for (int64_t x = 0; x < lo; ++x)
            std::memcpy(to + x * bpp, from, static_cast<std::size_t>(bpp));
        if (hi > lo)
            std::memcpy(to + lo * bpp, from + (frame.left + lo - input.origin_x) * bpp,
                        static_cast<std::size_t>((hi - lo) * bpp));
        const char* last = from + static_cast<int64_t>(input.width - 1) * bpp;
        for (int64_t x = hi; x < layer.width; ++x)
            std::memcpy(to + x * bpp, last, static_cast<std::size_t>(bpp));
    }
}

// Puts the rendered rows of the layer where the output world lies in it.
// Output pixels off the layer show nothing of it: transparent black.
void place_part(const LayerParams& paper, int first, int last, int64_t out_left, int64_t out_top,
                const LayerParams& out)
{
    const int64_t bpp = out.bytes_per_pixel;
    const int64_t lo = std::clamp<int64_t>(-out_left, 0, out.width);
    const int64_t hi = std::clamp<int64_t>(int64_t{paper.width} - out_left, lo, out.width);
    for (int32_t y = 0; y < out.height; ++y) {
        char* to = layer_row(out, y);
        const int64_t row = out_top + y;
        if (row < first || row >= last || hi <= lo) {
            std::memset(to, 0, static_cast<std::size_t>(out.width * bpp));
            continue;
        }
        const char* from = layer_row(paper, static_cast<int32_t>(row));
        std::memset(to, 0, static_cast<std::size_t>(lo * bpp));
        std::memcpy(to + lo * bpp, from + (out_left + lo) * bpp, static_cast<std::size_t>((hi - lo) * bpp));
        std::memset(to + hi * bpp, 0, static_cast<std::size_t>((out.width - hi) * bpp));
    }
}

}  // namespace

template <typename T>
bool render_frame(HalfTone_Params* context)
{
    return render_frame<T>(context, 0);
}

template <typename T>
bool render_frame(HalfTone_Params* context, int32_t worker_count)
{
    LayerParams* in_layer = &context->in_layer;
    LayerParams* out_layer = &context->out_layer;

    // The layer, in the frame of the worlds' origins. A world covering all of
    // it at its place renders as always; any other pair of worlds is a part of
    // the layer, rendered against the geometry of the whole, so that its
    // pixels are those of the whole layer's render at the same place.
    // A layer size that does not hold the input world is not the layer's (a
    // host's input lies within its layer): the input is then taken as the
    // whole layer, as when no size is given.
    const Span input_span = world_span(*in_layer);
    const Span layer{0, 0, context->frame_width, context->frame_height};
    const bool layer_known = context->frame_width > 0 && context->frame_height > 0 && input_span.left >= layer.left &&
                             input_span.top >= layer.top && input_span.right <= layer.right &&
                             input_span.bottom <= layer.bottom;
    const Span frame = layer_known ? layer : input_span;
    const bool whole =
        input_span == frame && out_layer->origin_x == in_layer->origin_x && out_layer->origin_y == in_layer->origin_y;

    HalfTone_Inner_Params<T> params{};
    // Must come first: it also sets the byte sizes of both views. A part of the
    // layer takes the geometry of the whole layer.
    const LayerParams input = *in_layer;
    if (!whole) {
        in_layer->origin_x = static_cast<int32_t>(frame.left);
        in_layer->origin_y = static_cast<int32_t>(frame.top);
        in_layer->width = static_cast<int32_t>(frame.right - frame.left);
        in_layer->height = static_cast<int32_t>(frame.bottom - frame.top);
    }
    init_inner_params(*context, params);
    const LayerParams layer_view = *in_layer;
    in_layer->origin_x = input.origin_x;
    in_layer->origin_y = input.origin_y;
    in_layer->width = input.width;
    in_layer->height = input.height;
    // Several frames may render at once on the host's threads; each takes its
    // share of the processors, so that together they keep them busy without
    // crowding them (a caller may fix the count instead).
    const RenderShare share(render_workers(params.worker_count));
    params.worker_count = worker_count > 0 ? worker_count : share.workers();

    // An empty output has nothing to receive, and an empty input has no pixel
    // for the sampling to fall back on: either way there is nothing to draw, and
    // the output world is left as it is.
    if (in_layer->width <= 0 || in_layer->height <= 0 || out_layer->width <= 0 || out_layer->height <= 0)
        return true;

    FrameImages images;
    // Allocated on both sampling paths: Nearest leaves it unused.
    images.box = new_image(context->pica, image_side(params.box_width), image_side(params.box_height), 2);
    images.grid = new_image(context->pica, image_side(params.grid_width), image_side(params.grid_height), 1);

    // The worlds the stages read and write: the host's own for the whole layer;
    // for a part, the layer rebuilt from the input world and the output rows of
    // the layer that the output world covers, drawn into a band of our own.
    LayerParams source = *in_layer;
    LayerParams paper = *out_layer;
    int paper_first = 0;
    int paper_last = out_layer->height;
    std::optional<PixelBuffer> layer_copy;
    std::optional<PixelBuffer> band;
    const int32_t bpp = in_layer->bytes_per_pixel;
    const int64_t out_top = out_layer->origin_y - frame.top;
    const int64_t out_left = out_layer->origin_x - frame.left;
    if (!whole) {
        source = layer_view;
        if (!(input_span == frame)) {
            // The layer's size comes from in_data, not from a world the host
            // holds: one no host has (the largest is 30000 x 30000) is refused
            // like an image too large to have.
            const uint64_t row = static_cast<uint64_t>(layer_view.width) * static_cast<uint64_t>(bpp);
            if (static_cast<uint64_t>(layer_view.width) * static_cast<uint64_t>(layer_view.height) > kMaxImagePixels ||
                row > INT32_MAX)
                throw memory_exception();
            layer_copy.emplace(row * static_cast<uint64_t>(layer_view.height));
            source.data = layer_copy->bytes.get();
            source.rowbytes = static_cast<int32_t>(row);
        } else {
            source.data = in_layer->data;
            source.rowbytes = in_layer->rowbytes;
        }
        paper_first = static_cast<int>(std::clamp<int64_t>(out_top, 0, source.height));
        paper_last = static_cast<int>(std::clamp<int64_t>(out_top + out_layer->height, paper_first, source.height));
        paper = source;
        paper.origin_x = out_layer->origin_x;
        paper.origin_y = out_layer->origin_y;
        if (paper_last > paper_first) {
            band.emplace(static_cast<uint64_t>(paper_last - paper_first) * static_cast<uint64_t>(source.rowbytes));
            // Row y of the layer lies at row y - paper_first of the band.
            paper.data = band->bytes.get() - static_cast<std::ptrdiff_t>(paper_first) * source.rowbytes;
        }
    }

    const int64_t total = int64_t{context->sampling == Sampling::bilinear ? rows_of(images.box) : 0} +
                          rows_of(images.grid) + (layer_copy ? source.height : 0) + (paper_last - paper_first);
    FrameProgress progress(context->monitor, total);

    if (layer_copy) {
        if (progress.cancelled())
            return false;
        fill_layer_copy(input, frame, source);
        progress.advance(source.height);
    }

    // The sampling's work follows the layer; the dots', the rows drawn.
    const int64_t layer_pixels = int64_t{source.width} * source.height;
    LayerParams* src = &source;
    Image<float>* box = images.box;
    Image<float>* grid = images.grid;
    if (context->sampling == Sampling::bilinear) {
        const LayerToImageJob<T> filter = box_filter_layer<T>;
        const ImageToImageJob<T> resample = resample_bilinear<T>;
        if (!progress.rows(0, rows_of(box), layer_pixels / std::max(1, rows_of(box)), [&](int a, int b) {
                run_rows_parallel<T>(shifted<T>(filter, a), src, box, b - a, &params);
            }))
            return false;
        if (!progress.rows(0, rows_of(grid), layer_pixels / std::max(1, rows_of(grid)), [&](int a, int b) {
                run_rows_parallel<T>(shifted<T>(resample, a), box, grid, b - a, &params);
            }))
            return false;
    } else {
        const LayerToImageJob<T> nearest = sample_nearest_layer<T>;
        if (!progress.rows(0, rows_of(grid), layer_pixels / std::max(1, rows_of(grid)), [&](int a, int b) {
                run_rows_parallel<T>(shifted<T>(nearest, a), src, grid, b - a, &params);
            }))
            return false;
    }

    const ImageToLayerJob<T> dots = dot_stage<T>(context->shape, context->alpha);
    LayerParams* dst = &paper;
    if (!progress.rows(paper_first, paper_last, paper.width, [&](int a, int b) {
            run_rows_parallel<T>(shifted<T>(dots, a), grid, src, dst, b - a, &params);
        }))
        return false;

    if (!whole)
        place_part(paper, paper_first, paper_last, out_left, out_top, *out_layer);
    return true;
}

template bool render_frame<unsigned char>(HalfTone_Params*);
template bool render_frame<unsigned short>(HalfTone_Params*);
template bool render_frame<float>(HalfTone_Params*);
template bool render_frame<unsigned char>(HalfTone_Params*, int32_t);
template bool render_frame<unsigned short>(HalfTone_Params*, int32_t);
template bool render_frame<float>(HalfTone_Params*, int32_t);

int32_t screen_reach(float dot_size, HalfTone_Ratio downsample_x, HalfTone_Ratio downsample_y)
{
    // As the geometry reads them: DotSize within its range, a factor that is
    // not a reduction taken as full resolution.
    if (!(dot_size >= 1.0f))
        dot_size = 1.0f;
    else if (dot_size > 1000.0f)
        dot_size = 1000.0f;
    auto scale = [](const HalfTone_Ratio& r) {
        if (r.num <= 0 || r.den == 0 || static_cast<uint32_t>(r.num) > r.den)
            return 1.0;
        return static_cast<double>(r.num) / static_cast<double>(r.den);
    };
    const double cell = static_cast<double>(dot_size) * std::max(scale(downsample_x), scale(downsample_y));
    // An output pixel sums the dots of the lattice points of its cell (at most
    // sqrt(2) cells away); a dot's ink is read bilinearly from box cells up to
    // one cell further, each the mean of the pixels within half a cell of its
    // centre: under three cells in all. Four cells and four pixels leave room
    // for every rounding on the way.
    return static_cast<int32_t>(std::ceil(4.0 * cell)) + 4;
}

}  // namespace ruvivedu
