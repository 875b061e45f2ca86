// What a host asks beyond the whole layer, through EntryPointFunc of the built
// module: parts of a layer (smart requests smaller than the layer and offset in
// it, classic output worlds placed by their origin), which must be the crop of
// the whole layer's render; frames cancelled at every check; progress.
#include "plugin_fixture.h"
#include "test_layer.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace ruvivedu::host;
using shell_test::plugin_module;

namespace {

struct Look {
    Depth depth = Depth::u8;
    A_long shape = 1;
    A_long sampling = 1;
    A_long alpha = 0;
    PF_Fixed dot_size = 0x00080000;  // 8.0
    PF_Fixed rotation = 0x002D0000;  // 45.0
    A_long down = 1;                 // downsample 1/down, both directions
    bool smart = true;
};

std::string describe(const Look& k)
{
    return std::string(k.depth == Depth::u8    ? "8-bit"
                       : k.depth == Depth::u16 ? "16-bit"
                                               : "float") +
           " shape " + std::to_string(k.shape) + " sampling " + std::to_string(k.sampling) + " alpha " +
           std::to_string(k.alpha) + " dot " + std::to_string(k.dot_size / 65536.0) + " rotation " +
           std::to_string(k.rotation / 65536.0) + " down 1/" + std::to_string(k.down) +
           (k.smart ? " smart" : " classic");
}

/// A host with the effect set up, the layer (already at the downsample) and the look's values.
void prepare(SubstituteHost& host, const Look& k, A_long width, A_long height, unsigned seed)
{
    host.set_input(test_layer::make_layer(k.depth, width, height, 4, seed));
    ASSERT_EQ(host.setup_effect(), PF_Err_NONE);
    host.set_shape(k.shape);
    host.set_sampling(k.sampling);
    host.set_alpha(k.alpha);
    host.set_dot_size(k.dot_size);
    host.set_rotation(k.rotation);
    // An offset off the pixel grid, so that no part lines up with the cells by chance.
    host.set_offset(0x00150000 / k.down + 0x4000, 0x000B0000 / k.down + 0x2000);
    host.in_data().downsample_x = PF_RationalScale{1, static_cast<A_u_long>(k.down)};
    host.in_data().downsample_y = PF_RationalScale{1, static_cast<A_u_long>(k.down)};
}

/// Renders `rect` of the layer as the host would for that request; the output world covers the
/// result (smart: what the pre-render answered; classic: the rectangle itself, placed by origin).
PF_Err render_part(SubstituteHost& host, const Look& k, const PF_LRect& rect)
{
    PF_LRect out_rect = rect;
    if (k.smart) {
        const PF_Err err = host.smart_pre_render(rect);
        if (err != PF_Err_NONE)
            return err;
        out_rect = host.pre_render_output().result_rect;
    }
    World out(k.depth, std::max<A_long>(0, out_rect.right - out_rect.left),
              std::max<A_long>(0, out_rect.bottom - out_rect.top), 0);
    out.set_origin(out_rect.left, out_rect.top);
    host.set_output(std::move(out));
    return k.smart ? host.smart_render(rect) : host.render();
}

/// Bytes of pixel (x, y).
const unsigned char* pixel(const World& w, A_long x, A_long y)
{
    return w.row(y) + static_cast<std::size_t>(x) * bytes_per_pixel(w.depth());
}

/// The first pixel of `part` (placed by its origin) that is not the whole render's pixel there, or
/// transparent black off the layer; empty when all match.
std::string crop_mismatch(const World& whole, const World& part)
{
    const std::size_t bytes = bytes_per_pixel(part.depth());
    const std::vector<unsigned char> off_layer(bytes, 0);
    for (A_long y = 0; y < part.height(); ++y) {
        for (A_long x = 0; x < part.width(); ++x) {
            const A_long lx = x + part.def().origin_x;
            const A_long ly = y + part.def().origin_y;
            const bool inside = lx >= 0 && ly >= 0 && lx < whole.width() && ly < whole.height();
            const unsigned char* want = inside ? pixel(whole, lx, ly) : off_layer.data();
            if (std::memcmp(pixel(part, x, y), want, bytes) != 0)
                return "layer pixel (" + std::to_string(lx) + ", " + std::to_string(ly) + ")";
        }
    }
    return "";
}

PF_LRect random_rect(std::mt19937& rng, A_long width, A_long height)
{
    std::uniform_int_distribution<A_long> x(-10, width + 5), y(-10, height + 5), size(1, 40);
    const A_long left = x(rng), top = y(rng);
    return PF_LRect{left, top, left + size(rng), top + size(rng)};
}

}  // namespace

// Every depth, shape, sampling and Alpha setting, on both render paths, at several rotations, dot
// sizes and downsample factors: parts at the edges and corners, single pixels, parts reaching off
// the layer or lying wholly outside it, and random ones, each the crop of the whole layer's render.
TEST(PartOfLayer, EveryPartIsTheCropOfTheWholeRender)
{
    const PF_Fixed rotations[] = {0, 0x002D0000, 0x001E8000, -0x00784000};  // 0, 45, 30.5, -120.25
    const PF_Fixed dots[] = {0x00080000, 0x00030000, 0x000C8000};           // 8, 3, 12.5
    std::mt19937 rng(13);
    int parts = 0;
    int variant = 0;
    for (Depth depth : {Depth::u8, Depth::u16, Depth::f32}) {
        for (A_long shape = 1; shape <= 3; ++shape) {
            for (A_long sampling = 1; sampling <= 2; ++sampling) {
                for (bool smart : {true, false}) {
                    if (!smart && depth == Depth::f32)
                        continue;  // the classic render has no float worlds
                    Look k;
                    k.depth = depth;
                    k.shape = shape;
                    k.sampling = sampling;
                    k.smart = smart;
                    k.alpha = variant % 2;
                    k.rotation = rotations[variant % 4];
                    k.dot_size = dots[variant % 3];
                    k.down = variant % 5 == 4 ? 2 : 1;
                    ++variant;
                    SCOPED_TRACE(describe(k));
                    const A_long width = 120 / k.down + variant % 7, height = 90 / k.down + variant % 5;

                    SubstituteHost whole_host(plugin_module());
                    prepare(whole_host, k, width, height, static_cast<unsigned>(variant));
                    whole_host.set_output(World(depth, width, height));
                    if (smart) {
                        ASSERT_EQ(whole_host.smart_pre_render(), PF_Err_NONE);
                        ASSERT_EQ(whole_host.smart_render(), PF_Err_NONE);
                    } else {
                        ASSERT_EQ(whole_host.render(), PF_Err_NONE);
                    }
                    const World& whole = *whole_host.output();

                    std::vector<PF_LRect> rects = {
                        {0, 0, width, 7},                                        // top edge
                        {width - 9, 0, width, height},                           // right edge
                        {0, height - 11, 13, height},                            // bottom-left corner
                        {width / 2, height / 3, width / 2 + 1, height / 3 + 1},  // one pixel
                        {width - 1, height - 1, width, height},                  // the last pixel
                        {-6, -4, 10, 9},                                         // reaching off the top-left
                        {width + 3, 5, width + 20, 30},                          // wholly outside
                    };
                    for (int i = 0; i < 3; ++i)
                        rects.push_back(random_rect(rng, width, height));

                    SubstituteHost host(plugin_module());
                    prepare(host, k, width, height, static_cast<unsigned>(variant));
                    for (const PF_LRect& r : rects) {
                        SCOPED_TRACE("part " + std::to_string(r.left) + "," + std::to_string(r.top) + " to " +
                                     std::to_string(r.right) + "," + std::to_string(r.bottom));
                        host.set_checkout_margin(static_cast<A_long>(rng() % 4));
                        ASSERT_EQ(render_part(host, k, r), PF_Err_NONE);
                        EXPECT_TRUE(host.errors().empty()) << host.errors().front();
                        const World& part = *host.output();
                        if (smart) {
                            // The result is the request within the layer, never the input around it.
                            const PF_LRect want{std::max<A_long>(r.left, 0), std::max<A_long>(r.top, 0),
                                                std::min(r.right, width), std::min(r.bottom, height)};
                            if (want.left < want.right && want.top < want.bottom) {
                                EXPECT_EQ(part.width(), want.right - want.left);
                                EXPECT_EQ(part.height(), want.bottom - want.top);
                            } else {
                                EXPECT_EQ(part.width() * part.height(), 0);
                            }
                        }
                        EXPECT_EQ(crop_mismatch(whole, part), "");
                        EXPECT_TRUE(part.guards_intact()) << part.guard_damage();
                        host.reset_records();
                        ++parts;
                    }
                }
            }
        }
    }
    EXPECT_EQ(parts, 300);
}

// The pre-render asks for the request grown by the reach of the screen at the frame's downsample:
// the reach grows with DotSize and shrinks with the factor.
TEST(PartOfLayer, PreRenderAsksForTheReachAroundTheRequest)
{
    auto asked = [](PF_Fixed dot, A_long down) {
        SubstituteHost host(plugin_module());
        Look k;
        k.dot_size = dot;
        k.down = down;
        prepare(host, k, 200, 100, 1);
        EXPECT_EQ(host.smart_pre_render(PF_LRect{50, 40, 60, 45}), PF_Err_NONE);
        EXPECT_EQ(host.outstanding_param_checkouts(), 0);
        EXPECT_TRUE(host.errors().empty());
        return host.layer_checkouts().at(0).request.rect;
    };
    const PF_LRect at8 = asked(0x00080000, 1);
    EXPECT_EQ(at8.left, 50 - 36);  // four cells of 8 pixels and four pixels
    EXPECT_EQ(at8.top, 40 - 36);
    EXPECT_EQ(at8.right, 60 + 36);
    EXPECT_EQ(at8.bottom, 45 + 36);
    EXPECT_EQ(asked(0x00080000, 2).left, 50 - 20);  // cells of 4 pixels at half resolution
    EXPECT_EQ(asked(0x00200000, 1).left, 50 - 132);
}

namespace {

/// Every row of `got` is the finished render's row or the untouched (all-zero) row.
std::string rows_drawn_or_untouched(const World& finished, const World& got)
{
    const std::size_t row = static_cast<std::size_t>(got.width()) * bytes_per_pixel(got.depth());
    const std::vector<unsigned char> blank(row, 0);
    for (A_long y = 0; y < got.height(); ++y) {
        if (std::memcmp(got.row(y), finished.row(y), row) != 0 && std::memcmp(got.row(y), blank.data(), row) != 0)
            return "row " + std::to_string(y) + " is neither drawn nor untouched";
    }
    return "";
}

}  // namespace

// A frame is called off at each check in turn, on both paths, for the whole layer and for a part:
// the render stops at that check with the host's interrupt code, gives back every parameter and
// the suite, tells no progress past it and leaves the output untouched (a part) or with whole rows
// of the finished frame (the whole layer: the dots had begun). The next frame renders in full.
TEST(CancelledFrame, StopsAtEveryCheckAndLeavesNothingBehind)
{
    for (bool smart : {true, false}) {
        for (bool part : {false, true}) {
            for (A_long sampling = 1; sampling <= 2; ++sampling) {
                Look k;
                k.depth = smart ? Depth::f32 : Depth::u16;
                k.smart = smart;
                k.sampling = sampling;
                k.dot_size = 0x00020000;
                SCOPED_TRACE(describe(k) + (part ? " part" : " whole"));
                const A_long width = 150, height = 170;
                const PF_LRect rect = part ? PF_LRect{20, 30, 120, 160} : PF_LRect{0, 0, width, height};

                SubstituteHost host(plugin_module());
                prepare(host, k, width, height, 5);
                ASSERT_EQ(render_part(host, k, rect), PF_Err_NONE);
                const int checks = host.abort_checks();
                // A frame this small is one chunk a stage: asked before each stage, and before the
                // layer is rebuilt for a part (the core tests ask within stages).
                ASSERT_EQ(checks, (sampling == 1 ? 3 : 2) + (part && smart ? 1 : 0));
                const std::vector<ProgressReport> reports = host.progress_reports();
                ASSERT_EQ(reports.size(), static_cast<std::size_t>(checks)) << "one report after each chunk";
                for (std::size_t i = 0; i < reports.size(); ++i) {
                    EXPECT_EQ(reports[i].total, reports.back().total);
                    EXPECT_GT(reports[i].current, i == 0 ? 0 : reports[i - 1].current);
                }
                EXPECT_EQ(reports.back().current, reports.back().total);
                World finished(k.depth, host.output()->width(), host.output()->height());
                std::memcpy(finished.row(0), host.output()->row(0),
                            static_cast<std::size_t>(finished.width() * finished.height()) * bytes_per_pixel(k.depth));

                for (int at = 1; at <= checks; ++at) {
                    SCOPED_TRACE("cancelled at check " + std::to_string(at) + " of " + std::to_string(checks));
                    host.reset_records();
                    host.cancel_at(at);
                    ASSERT_EQ(render_part(host, k, rect), PF_Interrupt_CANCEL);
                    EXPECT_EQ(host.abort_checks(), at) << "no check after the one that cancelled";
                    EXPECT_EQ(host.progress_reports().size(), static_cast<std::size_t>(at - 1));
                    EXPECT_TRUE(host.errors().empty()) << host.errors().front();
                    EXPECT_EQ(host.outstanding_suites(), 0);
                    const World& out = *host.output();
                    EXPECT_TRUE(out.guards_intact()) << out.guard_damage();
                    // The classic render's output holds the host's copy of the input below
                    // whatever the dots drew; the smart one starts blank.
                    if (smart && part) {
                        const std::vector<unsigned char> blank(out.packed_pixels().size(), 0);
                        EXPECT_EQ(out.packed_pixels(), blank) << "the output is untouched";
                    } else if (smart) {
                        EXPECT_EQ(rows_drawn_or_untouched(finished, out), "");
                    }
                }
                host.cancel_at(0);
                ASSERT_EQ(render_part(host, k, rect), PF_Err_NONE);
                EXPECT_TRUE(host.output()->same_pixels(finished)) << "nothing of the cancelled frames stays";
            }
        }
    }
}

// A host's progress callback may itself answer that the user cancelled: the frame stops there.
TEST(CancelledFrame, ProgressAnsweringCancelStopsTheFrame)
{
    for (bool smart : {true, false}) {
        Look k;
        k.smart = smart;
        k.dot_size = 0x00020000;
        SubstituteHost host(plugin_module());
        prepare(host, k, 120, 200, 2);
        host.fail(HostOp::progress, PF_Interrupt_CANCEL, 2);
        EXPECT_EQ(render_part(host, k, PF_LRect{0, 0, 120, 200}), PF_Interrupt_CANCEL);
        EXPECT_EQ(host.progress_reports().size(), 2u);
        EXPECT_EQ(host.abort_checks(), 2) << "no chunk after the refused report";
        EXPECT_TRUE(host.errors().empty()) << host.errors().front();
    }
}
