// Render requests through EntryPointFunc of the built module: the classic
// render, the smart pre-render and render, their failure paths, and renders
// from several host threads at once.
#include "plugin_fixture.h"
#include "test_layer.h"

#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace ruvivedu::host;
using shell_test::PluginTest;

namespace {

constexpr PF_Err kSomeHostError = PF_Err_INVALID_INDEX;

/// A fresh host with the effect set up and a layer and an (all-zero) output world installed.
void prepare(SubstituteHost& host, Depth depth, A_long width = 48, A_long height = 40)
{
    host.set_input(test_layer::make_layer(depth, width, height, 8));
    host.set_output(World::padded(depth, width, height, 16));
    ASSERT_EQ(host.setup_effect(), PF_Err_NONE);
}

bool output_untouched(SubstituteHost& host)
{
    World blank = World::padded(host.output()->depth(), host.output()->width(), host.output()->height(), 16);
    return host.output()->same_pixels(blank) && host.output()->guards_intact();
}

std::vector<std::string> names(std::initializer_list<const char*> list)
{
    return {list.begin(), list.end()};
}

}  // namespace

TEST_F(PluginTest, SmartRenderAsksTheHostInOrderAndGivesEverythingBack)
{
    prepare(*host, Depth::u8);
    ASSERT_EQ(host->smart_pre_render(), PF_Err_NONE);
    host->reset_records();
    ASSERT_EQ(host->smart_render(), PF_Err_NONE);
    EXPECT_EQ(host->call_names(),
              names({"AcquireSuite", "checkout_layer_pixels", "checkout_output", "checkout_param", "checkout_param",
                     "checkout_param", "checkout_param", "checkout_param", "checkout_param", "PF_GetPixelFormat",
                     "checkin_param", "checkin_param", "checkin_param", "checkin_param", "checkin_param",
                     "checkin_param", "ReleaseSuite"}));
    ASSERT_EQ(host->param_checkouts().size(), 6u);
    for (A_long i = 0; i < 6; ++i) {
        EXPECT_EQ(host->param_checkouts()[i].index, i + 1);
        EXPECT_EQ(host->param_checkouts()[i].what_time, host->in_data().current_time);
        EXPECT_EQ(host->param_checkouts()[i].time_step, host->in_data().time_step);
        EXPECT_EQ(host->param_checkouts()[i].time_scale, host->in_data().time_scale);
    }
    EXPECT_TRUE(host->errors().empty()) << host->errors().front();
    EXPECT_EQ(host->outstanding_suites(), 0);
    EXPECT_FALSE(output_untouched(*host));
    EXPECT_TRUE(host->output()->guards_intact()) << host->output()->guard_damage();
}

TEST_F(PluginTest, AFailedParameterCheckoutStopsBeforeAnyPixel)
{
    prepare(*host, Depth::u8);
    std::memset(&host->initial_out_data(), 0x3C, sizeof(PF_OutData));
    host->fail(HostOp::checkout_param, kSomeHostError, 3);
    EXPECT_EQ(host->smart_render(), kSomeHostError);
    ASSERT_EQ(host->param_checkouts().size(), 3u) << "parameters 4 to 6 are not checked out";
    EXPECT_EQ(host->count(HostOp::checkin_param), 2) << "the two that were checked out go back";
    EXPECT_EQ(host->count(HostOp::get_pixel_format), 0);
    EXPECT_EQ(host->outstanding_suites(), 0);
    EXPECT_TRUE(host->errors().empty()) << host->errors().front();
    EXPECT_EQ(host->out_data_bytes(), host->initial_out_data_bytes()) << "out_flags and the message untouched";
    EXPECT_TRUE(output_untouched(*host));
}

TEST_F(PluginTest, EveryOtherFailingSmartCallIsReturnedWithNothingRendered)
{
    for (HostOp op : {HostOp::checkout_layer_pixels, HostOp::checkout_output, HostOp::get_pixel_format}) {
        SCOPED_TRACE(op_name(op));
        SubstituteHost h(shell_test::plugin_module());
        prepare(h, Depth::u16);
        h.fail(op, kSomeHostError);
        EXPECT_EQ(h.smart_render(), kSomeHostError);
        EXPECT_EQ(h.outstanding_suites(), 0);
        EXPECT_EQ(h.count(HostOp::checkin_param), h.count(HostOp::checkout_param));
        EXPECT_TRUE(h.errors().empty()) << h.errors().front();
        EXPECT_TRUE(output_untouched(h));
    }
}

TEST_F(PluginTest, WithoutTheWorldSuiteTheUserIsToldAndNothingIsAsked)
{
    struct Case {
        const char* what;
        SuiteOffer offer;
        SPErr code;
        bool no_basic_suite;
    };
    for (const Case& c : {Case{"null pointer", SuiteOffer::null_pointer, 0, false},
                          Case{"untouched pointer and an error", SuiteOffer::untouched, sp_suite_not_found, false},
                          Case{"no basic suite", SuiteOffer::give, 0, true}}) {
        SCOPED_TRACE(c.what);
        SubstituteHost h(shell_test::plugin_module());
        prepare(h, Depth::u8);
        h.set_suite_offer(c.offer, c.code);
        if (c.no_basic_suite)
            h.in_data().pica_basicP = nullptr;
        h.initial_out_data().out_flags = PF_OutFlag_USE_OUTPUT_EXTENT;
        EXPECT_EQ(h.smart_render(), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(h.out_data().out_flags, PF_OutFlag_USE_OUTPUT_EXTENT | PF_OutFlag_DISPLAY_ERROR_MESSAGE);
        EXPECT_EQ(h.return_msg(), "Couldn't load suite.");
        EXPECT_EQ(h.count(HostOp::checkout_layer_pixels), 0);
        EXPECT_EQ(h.count(HostOp::checkout_param), 0);
        EXPECT_EQ(h.count(HostOp::release_suite), 0) << "nothing to release";
        EXPECT_TRUE(output_untouched(h));
    }
}

TEST_F(PluginTest, ASuiteHandedOutWithAnErrorCodeStillRenders)
{
    prepare(*host, Depth::u8);
    host->set_suite_offer(SuiteOffer::give, sp_unimplemented);
    EXPECT_EQ(host->smart_render(), PF_Err_NONE);
    EXPECT_FALSE(output_untouched(*host));
    EXPECT_EQ(host->outstanding_suites(), 0);
}

TEST_F(PluginTest, NoOutputWorldIsReportedAsAMessageAndSucceeds)
{
    prepare(*host, Depth::u8);
    host->give_no_output(true);
    EXPECT_EQ(host->smart_render(), PF_Err_NONE);
    EXPECT_EQ(host->return_msg(), "[Ruvivedu] HalfTone_Params error!");
    EXPECT_EQ(host->out_data().out_flags, 0) << "no display flag";
    EXPECT_EQ(host->count(HostOp::get_pixel_format), 1) << "the format is asked before the output is checked";
    EXPECT_EQ(host->count(HostOp::checkin_param), 6);
    EXPECT_EQ(host->outstanding_suites(), 0);
    EXPECT_TRUE(host->errors().empty()) << host->errors().front();
    EXPECT_TRUE(output_untouched(*host));
}

TEST_F(PluginTest, PreRenderAsksForTheRequestWithAlphaAndKeptColour)
{
    prepare(*host, Depth::u8, 100, 50);
    host->output_request().channel_mask = PF_ChannelMask_RED | PF_ChannelMask_GREEN;
    host->output_request().field = PF_Field_UPPER;
    host->in_data().current_time = 48;
    host->in_data().time_step = 2;
    host->in_data().time_scale = 25;
    ASSERT_EQ(host->smart_pre_render(PF_LRect{10, 5, 60, 45}), PF_Err_NONE);
    ASSERT_EQ(host->layer_checkouts().size(), 1u);
    const LayerCheckout& c = host->layer_checkouts()[0];
    EXPECT_EQ(c.index, 0);
    EXPECT_EQ(c.checkout_id, 0);
    // Grown by the screen's reach at DotSize 32: four cells and four pixels.
    EXPECT_EQ(c.request.rect.left, 10 - 132);
    EXPECT_EQ(c.request.rect.top, 5 - 132);
    EXPECT_EQ(c.request.rect.right, 60 + 132);
    EXPECT_EQ(c.request.rect.bottom, 45 + 132);
    EXPECT_EQ(c.request.field, PF_Field_UPPER);
    EXPECT_EQ(c.request.channel_mask, PF_ChannelMask_ALPHA | PF_ChannelMask_RED | PF_ChannelMask_GREEN);
    EXPECT_EQ(c.request.preserve_rgb_of_zero_alpha, 1);
    EXPECT_EQ(c.what_time, 48);
    EXPECT_EQ(c.time_step, 2);
    EXPECT_EQ(c.time_scale, 25u);
    EXPECT_EQ(host->pre_render_output().pre_render_data, nullptr);
    EXPECT_EQ(host->pre_render_output().flags, 0);
}

TEST_F(PluginTest, PreRenderMergesTheCheckoutIntoTheHostsRectangles)
{
    struct Case {
        const char* what;
        PF_LRect host_rect, checkout_rect, expected;
    };
    const Case cases[] = {
        {"empty host rectangle takes the input's", {0, 0, 0, 0}, {3, 4, 30, 40}, {3, 4, 30, 40}},
        {"empty input leaves the host's", {1, 2, 10, 20}, {5, 5, 5, 9}, {1, 2, 10, 20}},
        {"both non-empty give the union", {0, 0, 100, 50}, {20, -10, 120, 40}, {0, -10, 120, 50}},
        {"an empty destination copies even an empty source", {7, 7, 7, 7}, {2, 9, 2, 1}, {2, 9, 2, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SubstituteHost h(shell_test::plugin_module());
        prepare(h, Depth::u8);
        PF_CheckoutResult result{};
        result.result_rect = c.checkout_rect;
        result.max_result_rect = c.checkout_rect;
        h.set_checkout_result(result);
        h.initial_pre_render_output().result_rect = c.host_rect;
        h.initial_pre_render_output().max_result_rect = c.host_rect;
        // A request around every rectangle of the cases: the result is the
        // checkout's within the request.
        ASSERT_EQ(h.smart_pre_render(PF_LRect{-50, -50, 200, 200}), PF_Err_NONE);
        for (const PF_LRect& r : {h.pre_render_output().result_rect, h.pre_render_output().max_result_rect}) {
            EXPECT_EQ(r.left, c.expected.left);
            EXPECT_EQ(r.top, c.expected.top);
            EXPECT_EQ(r.right, c.expected.right);
            EXPECT_EQ(r.bottom, c.expected.bottom);
        }
    }

    SubstituteHost failing(shell_test::plugin_module());
    prepare(failing, Depth::u8);
    failing.initial_pre_render_output().result_rect = PF_LRect{1, 2, 3, 4};
    failing.fail(HostOp::checkout_layer, kSomeHostError);
    EXPECT_EQ(failing.smart_pre_render(), kSomeHostError);
    EXPECT_EQ(failing.pre_render_output().result_rect.right, 3) << "rectangles untouched";
}

TEST_F(PluginTest, ThePixelFormatChoosesTheDepth)
{
    // White opaque paper stays white and opaque at the world's own scale;
    // a driver of another depth would misread the bytes.
    struct Case {
        Depth depth;
        double white;
    };
    for (const Case& c : {Case{Depth::u8, 255}, Case{Depth::u16, 32768}, Case{Depth::f32, 1.0}}) {
        SubstituteHost h(shell_test::plugin_module());
        World white = World::padded(c.depth, 20, 12, 4);
        switch (c.depth) {
        case Depth::u8:
            white.fill(PF_Pixel8{255, 255, 255, 255});
            break;
        case Depth::u16:
            white.fill(PF_Pixel16{32768, 32768, 32768, 32768});
            break;
        case Depth::f32:
            white.fill(PF_PixelFloat{1, 1, 1, 1});
            break;
        }
        h.set_input(std::move(white));
        h.set_output(World::padded(c.depth, 20, 12, 4));
        ASSERT_EQ(h.setup_effect(), PF_Err_NONE);
        ASSERT_EQ(h.smart_render(), PF_Err_NONE);
        for (A_long y = 0; y < 12; ++y) {
            for (A_long x = 0; x < 20; ++x) {
                double a = 0, r = 0;
                switch (c.depth) {
                case Depth::u8:
                    a = h.output()->pixel8(x, y).alpha;
                    r = h.output()->pixel8(x, y).red;
                    break;
                case Depth::u16:
                    a = h.output()->pixel16(x, y).alpha;
                    r = h.output()->pixel16(x, y).red;
                    break;
                case Depth::f32:
                    a = h.output()->pixel32(x, y).alpha;
                    r = h.output()->pixel32(x, y).red;
                    break;
                }
                ASSERT_EQ(a, c.white) << x << "," << y;
                ASSERT_EQ(r, c.white) << x << "," << y;
            }
        }
    }
}

TEST_F(PluginTest, AnotherPixelFormatKeepsTheDepthOfTheDeepBit)
{
    for (Depth depth : {Depth::u8, Depth::u16}) {
        SubstituteHost natural(shell_test::plugin_module()), other(shell_test::plugin_module());
        prepare(natural, depth);
        prepare(other, depth);
        other.input()->set_pixel_format(PF_PixelFormat_BGRA32);
        ASSERT_EQ(natural.smart_render(), PF_Err_NONE);
        ASSERT_EQ(other.smart_render(), PF_Err_NONE);
        EXPECT_FALSE(output_untouched(other));
        EXPECT_TRUE(other.output()->same_pixels(*natural.output())) << "depth " << int(depth);
    }
}

TEST_F(PluginTest, ClassicRenderCopiesThenRendersAtTheDeepBitsDepth)
{
    for (Depth depth : {Depth::u8, Depth::u16}) {
        SubstituteHost classic(shell_test::plugin_module()), smart(shell_test::plugin_module());
        prepare(classic, depth);
        prepare(smart, depth);
        classic.set_shape(2);
        smart.set_shape(2);
        ASSERT_EQ(classic.render(), PF_Err_NONE);
        ASSERT_EQ(smart.smart_render(), PF_Err_NONE);
        EXPECT_EQ(classic.call_names(), names({"copy"}));
        EXPECT_TRUE(classic.errors().empty()) << classic.errors().front();
        EXPECT_TRUE(classic.output()->same_pixels(*smart.output())) << "depth " << int(depth);
        EXPECT_TRUE(classic.output()->guards_intact());
    }
}

TEST_F(PluginTest, AFailedCopyEndsTheClassicRender)
{
    prepare(*host, Depth::u8);
    host->fail(HostOp::copy, kSomeHostError);
    EXPECT_EQ(host->render(), kSomeHostError);
    EXPECT_TRUE(output_untouched(*host)) << "the driver did not run";
}

TEST_F(PluginTest, ClassicRenderWithAMissingArgumentOnlyReports)
{
    prepare(*host, Depth::u8);
    CallOptions no_output;
    no_output.no_output = true;
    EXPECT_EQ(host->render(no_output), PF_Err_NONE);
    EXPECT_EQ(host->return_msg(), "[Ruvivedu] AfterEffects_Params error!\n");
    EXPECT_EQ(host->count(HostOp::copy), 0);
    EXPECT_TRUE(output_untouched(*host));

    CallOptions no_params;
    no_params.no_params = true;
    EXPECT_EQ(host->render(no_params), PF_Err_NONE);
    EXPECT_EQ(host->return_msg(), "[Ruvivedu] AfterEffects_Params error!\n");

    // Without in_data there is no sprintf to report through: silence and success.
    CallOptions no_in_data;
    no_in_data.no_in_data = true;
    EXPECT_EQ(host->render(no_in_data), PF_Err_NONE);
    EXPECT_EQ(host->count(HostOp::ansi_sprintf), 2);
    EXPECT_TRUE(output_untouched(*host));
}

TEST_F(PluginTest, OnlyTheCheckboxsLowestByteSwitchesAlpha)
{
    auto render_with = [](A_long alpha) {
        auto h = std::make_unique<SubstituteHost>(shell_test::plugin_module());
        prepare(*h, Depth::u8);
        h->set_alpha(alpha);
        EXPECT_EQ(h->smart_render(), PF_Err_NONE);
        return h;
    };
    auto off = render_with(0), on = render_with(1);
    ASSERT_FALSE(off->output()->same_pixels(*on->output()));
    EXPECT_TRUE(render_with(0x100)->output()->same_pixels(*off->output()));
    EXPECT_TRUE(render_with(static_cast<A_long>(0xFFFFFF00u))->output()->same_pixels(*off->output()));
    EXPECT_TRUE(render_with(0x101)->output()->same_pixels(*on->output()));
}

TEST_F(PluginTest, AnImageThatCannotBeAllocatedIsOutOfMemory)
{
    // A downsample factor of 1/100000 asks for a cell grid 100000 times the
    // layer on each axis: far beyond any heap.
    for (bool classic : {false, true}) {
        SubstituteHost h(shell_test::plugin_module());
        prepare(h, Depth::u8, 64, 64);
        h.in_data().downsample_x = PF_RationalScale{1, 100000};
        h.in_data().downsample_y = PF_RationalScale{1, 100000};
        EXPECT_EQ(classic ? h.render() : h.smart_render(), PF_Err_OUT_OF_MEMORY);
        EXPECT_EQ(h.outstanding_suites(), 0);
        EXPECT_EQ(h.count(HostOp::checkin_param), h.count(HostOp::checkout_param));
        if (!classic) {
            EXPECT_TRUE(output_untouched(h));
        }
    }
}

TEST_F(PluginTest, RendersOnEightHostThreadsMatchRendersMadeOneAtATime)
{
    struct Job {
        Depth depth;
        A_long shape, sampling, alpha;
        PF_Fixed dot_size, rotation;
    };
    std::vector<Job> jobs;
    const Depth depths[] = {Depth::u8, Depth::u16, Depth::f32};
    for (int i = 0; i < 8; ++i)
        jobs.push_back(Job{depths[i % 3], 1 + i % 3, 1 + (i / 3) % 2, i % 2, (6 + 3 * i) << 16, (15 * i) << 16});

    auto run = [](const Job& job, SubstituteHost& h) {
        prepare(h, job.depth, 72, 56);
        h.set_shape(job.shape);
        h.set_sampling(job.sampling);
        h.set_alpha(job.alpha);
        h.set_dot_size(job.dot_size);
        h.set_rotation(job.rotation);
        return h.smart_render();
    };

    std::vector<std::unique_ptr<SubstituteHost>> alone, together;
    for (const Job& job : jobs) {
        alone.push_back(std::make_unique<SubstituteHost>(shell_test::plugin_module()));
        ASSERT_EQ(run(job, *alone.back()), PF_Err_NONE);
        together.push_back(std::make_unique<SubstituteHost>(shell_test::plugin_module()));
    }
    std::vector<PF_Err> results(jobs.size(), -1);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < jobs.size(); ++i)
        threads.emplace_back([&, i] {
            for (int repeat = 0; repeat < 3 && results[i] <= 0; ++repeat)
                results[i] = run(jobs[i], *together[i]);
        });
    for (std::thread& t : threads)
        t.join();
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(results[i], PF_Err_NONE);
        EXPECT_TRUE(together[i]->output()->same_pixels(*alone[i]->output()));
        EXPECT_TRUE(together[i]->errors().empty());
    }
}
