// Tests of the substitute host itself: guarded worlds, the bounded ANSI callbacks, parameter and suite
// bookkeeping, fault injection, module loading and per-thread isolation. The plug-in here is a script
// written in each test, so the host is checked against calls whose effect is known exactly.
#include "substitute_host.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace ruvivedu::host;

namespace {

using Script = std::function<PF_Err(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef**, PF_LayerDef*, void*)>;

// Each thread runs its own script, so hosts on several threads can share one entry point.
thread_local Script t_script;

PF_Err scripted_entry(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                      void* extra)
{
    return t_script ? t_script(cmd, in_data, out_data, params, output, extra) : PF_Err_NONE;
}

// A PARAMS_SETUP that declares a popup (1), a fixed slider (2) and a checkbox (3), like the effect does.
PF_Err declare_three(PF_InData* in_data)
{
    PF_ParamDef def{};
    def.param_type = PF_Param_POPUP;
    in_data->utils->ansi.strcpy(RUVIVEDU_PARAM_NAME(def), "Shape");
    def.u.pd.value = 1;
    def.u.pd.num_choices = 3;
    def.u.pd.dephault = 1;
    def.u.pd.u.namesptr = "Circle|Square|Line";
    def.uu.id = 1;
    if (PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def)) {
        return err;
    }
    def = PF_ParamDef{};
    def.param_type = PF_Param_FIX_SLIDER;
    in_data->utils->ansi.strcpy(RUVIVEDU_PARAM_NAME(def), "DotSize");
    def.u.fd.value = def.u.fd.dephault = 0x00200000;
    def.uu.id = 2;
    if (PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def)) {
        return err;
    }
    def = PF_ParamDef{};
    def.param_type = PF_Param_CHECKBOX;
    in_data->utils->ansi.strcpy(RUVIVEDU_PARAM_NAME(def), "Alpha");
    def.u.bd.u.nameptr = "ON";
    def.uu.id = 3;
    return in_data->inter.add_param(in_data->effect_ref, -1, &def);
}

template <class P>
P make_pixel(int v);
template <>
PF_Pixel8 make_pixel<PF_Pixel8>(int v)
{
    return PF_Pixel8{A_u_char(v), A_u_char(v + 1), A_u_char(v + 2), A_u_char(v + 3)};
}
template <>
PF_Pixel16 make_pixel<PF_Pixel16>(int v)
{
    return PF_Pixel16{A_u_short(v * 100), A_u_short(v * 100 + 1), A_u_short(v * 100 + 2), A_u_short(32768)};
}
template <>
PF_PixelFloat make_pixel<PF_PixelFloat>(int v)
{
    return PF_PixelFloat{v * 0.5f, -1.0f, 2.0f, v * 0.25f};
}

template <class P>
bool same(const P& a, const P& b)
{
    return std::memcmp(&a, &b, sizeof(P)) == 0;
}

class HostTest : public ::testing::Test {
protected:
    void TearDown() override { t_script = nullptr; }
    SubstituteHost host{&scripted_entry};
};

}  // namespace

// ----- pixel worlds --------------------------------------------------------------------------------

template <class P>
Depth depth_of();
template <>
Depth depth_of<PF_Pixel8>()
{
    return Depth::u8;
}
template <>
Depth depth_of<PF_Pixel16>()
{
    return Depth::u16;
}
template <>
Depth depth_of<PF_PixelFloat>()
{
    return Depth::f32;
}

template <class P>
void check_padded_world()
{
    World world = World::padded(depth_of<P>(), 5, 3, 16);
    const PF_EffectWorld& def = world.def();
    EXPECT_EQ(def.rowbytes, A_long(5 * sizeof(P) + 16));
    EXPECT_EQ(def.width, 5);
    EXPECT_EQ(def.height, 3);
    EXPECT_EQ((def.world_flags & PF_WorldFlag_DEEP) != 0, depth_of<P>() == Depth::u16);
    EXPECT_EQ(world.pixel_format(), natural_pixel_format(depth_of<P>()));

    // Filling every pixel through the accessors touches no guard; pixel (x, y) lives at
    // data + y * rowbytes + x * sizeof(P).
    for (A_long y = 0; y < 3; ++y) {
        for (A_long x = 0; x < 5; ++x) {
            world.template at<P>(x, y) = make_pixel<P>(int(10 * y + x));
        }
    }
    EXPECT_TRUE(world.guards_intact()) << world.guard_damage();
    const auto* raw = reinterpret_cast<const unsigned char*>(def.data);
    P probe;
    std::memcpy(&probe, raw + 2 * def.rowbytes + 4 * sizeof(P), sizeof(P));
    EXPECT_TRUE(same(probe, make_pixel<P>(24)));

    // One stray byte in the padding, before or after the buffer is reported with its place.
    unsigned char* row1 = world.row(1);
    row1[5 * sizeof(P) + 3] ^= 0xFF;
    EXPECT_EQ(world.guard_damage(), "padding of row 1 byte 3");
    row1[5 * sizeof(P) + 3] ^= 0xFF;
    raw = reinterpret_cast<const unsigned char*>(def.data);
    const_cast<unsigned char*>(raw)[-1] = 0;
    EXPECT_EQ(world.guard_damage(), "leading guard byte 63");
    const_cast<unsigned char*>(raw)[-1] = World::guard_byte;
    const_cast<unsigned char*>(raw)[3 * def.rowbytes] = 0;
    EXPECT_EQ(world.guard_damage(), "trailing guard byte 0");
}

TEST(World, PaddedRowsAddressPixelsThroughRowbytesAndKeepTheirGuards)
{
    {
        SCOPED_TRACE("8-bit");
        check_padded_world<PF_Pixel8>();
    }
    {
        SCOPED_TRACE("16-bit");
        check_padded_world<PF_Pixel16>();
    }
    {
        SCOPED_TRACE("float");
        check_padded_world<PF_PixelFloat>();
    }
}

TEST(World, RejectsUnusableGeometryAndMismatchedAccess)
{
    EXPECT_THROW(World(Depth::u8, -1, 4), std::invalid_argument);
    EXPECT_THROW(World(Depth::u16, 4, 4, 31), std::invalid_argument);  // below the packed 32 bytes
    EXPECT_THROW(World(Depth::f32, 4, 4, 66), std::invalid_argument);  // floats would be misaligned
    World world(Depth::u8, 4, 4);
    EXPECT_THROW(world.pixel16(0, 0), std::logic_error);
    EXPECT_THROW(world.pixel8(4, 0), std::out_of_range);
    World empty(Depth::f32, 0, 0);
    EXPECT_TRUE(empty.guards_intact());
    EXPECT_TRUE(empty.packed_pixels().empty());
}

// ----- ANSI callbacks ------------------------------------------------------------------------------

TEST_F(HostTest, SprintfFormatsVariadicArgumentsAndStopsAtTheMessageBuffer)
{
    std::memset(&host.initial_out_data(), 0x5A, sizeof(PF_OutData));
    const std::string long_text(300, 'x');
    t_script = [&](PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef**, PF_LayerDef*, void*) {
        if (cmd == PF_Cmd_ABOUT) {
            return PF_Err(in->utils->ansi.sprintf(out->return_msg, "%s, v%d.%d.%d\n%s %.2f", "Ruvivedu", 1, 5, 2,
                                                  "Dezuz,Ezori", 0.3));
        }
        return PF_Err(in->utils->ansi.sprintf(out->return_msg, "%s", long_text.c_str()));
    };

    // 16 + 1 + 11 + 5 characters: the count C's sprintf returns.
    EXPECT_EQ(host.about(), 33);
    EXPECT_EQ(host.return_msg(), "Ruvivedu, v1.5.2\nDezuz,Ezori 0.30");
    EXPECT_TRUE(host.errors().empty());

    // 300 characters: 255 of them and the NUL land in return_msg; the field after it is untouched.
    EXPECT_EQ(host.send(PF_Cmd_RENDER), 300);
    EXPECT_EQ(host.return_msg(), std::string(255, 'x'));
    EXPECT_EQ(host.out_data().start_sampL, host.initial_out_data().start_sampL);
    const auto after = host.out_data_bytes();
    const auto before = host.initial_out_data_bytes();
    const std::size_t end_of_msg = offsetof(PF_OutData, return_msg) + sizeof(PF_OutData{}.return_msg);
    EXPECT_TRUE(std::equal(after.begin() + end_of_msg, after.end(), before.begin() + end_of_msg));
    ASSERT_EQ(host.errors().size(), 1u);
    EXPECT_EQ(host.errors()[0], "sprintf output of 300 characters cut to 255");
    EXPECT_EQ(host.messages().back(), std::string(255, 'x'));
}

TEST_F(HostTest, StrcpyIsBoundedToTheNameField)
{
    t_script = [](PF_Cmd, PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*, void*) {
        PF_ParamDef def;
        std::memset(&def, 0x77, sizeof(def));
        in->utils->ansi.strcpy(RUVIVEDU_PARAM_NAME(def), "abcdefghijklmnopqrstuvwxyz0123456789");
        // Everything after the 32-byte name keeps its bytes.
        return PF_Err(def.flags == 0x77777777 ? std::strlen(RUVIVEDU_PARAM_NAME(def)) : 999);
    };
    EXPECT_EQ(host.send(PF_Cmd_FRAME_SETUP), 31);
    ASSERT_EQ(host.errors().size(), 1u);
    EXPECT_EQ(host.count(HostOp::ansi_strcpy), 1);
}

// ----- parameters ----------------------------------------------------------------------------------

TEST_F(HostTest, AddParamKeepsCopiesAndTheHostHandsOutCurrentValues)
{
    t_script = [](PF_Cmd cmd, PF_InData* in, PF_OutData*, PF_ParamDef* params[], PF_LayerDef*, void*) {
        if (cmd == PF_Cmd_PARAMS_SETUP) {
            return declare_three(in);
        }
        // RENDER: the array is the input layer, the three parameters, then NULL.
        if (params[0]->param_type != PF_Param_LAYER || !params[3] || params[4]) {
            return PF_Err(1);
        }
        return PF_Err(params[1]->u.pd.value * 100 + (params[2]->u.fd.value >> 16));
    };
    host.set_input(World(Depth::u8, 8, 6));
    ASSERT_EQ(host.params_setup(), PF_Err_NONE);

    const auto& declared = host.declared_params();
    ASSERT_EQ(declared.size(), 3u);
    EXPECT_EQ(declared[0].index, -1);
    EXPECT_EQ(declared[0].name, "Shape");
    EXPECT_EQ(declared[0].popup_choices, std::optional<std::string>("Circle|Square|Line"));
    EXPECT_EQ(declared[1].def.u.fd.dephault, 0x00200000);
    EXPECT_FALSE(declared[1].popup_choices.has_value());
    EXPECT_EQ(declared[2].checkbox_label, std::optional<std::string>("ON"));
    EXPECT_EQ(host.call_names(),
              (std::vector<std::string>{"strcpy", "add_param", "strcpy", "add_param", "strcpy", "add_param"}));

    // Values set by the test override the declared ones: Shape 3 and DotSize 7.0 -> 3 * 100 + 7.
    EXPECT_EQ(host.render(), 132);  // declared defaults: Shape 1, DotSize 32
    host.set_shape(3);
    host.set_dot_size(0x00070000);
    EXPECT_EQ(host.render(), 307);
    EXPECT_EQ(host.current_param(0).u.ld.width, 8);
    // The host hands out its own copy of the choice string.
    EXPECT_NE(host.current_param(1).u.pd.u.namesptr, declared[0].def.u.pd.u.namesptr);
    EXPECT_STREQ(host.current_param(3).u.bd.u.nameptr, "ON");
    EXPECT_THROW(host.current_param(4), std::out_of_range);
    EXPECT_TRUE(host.errors().empty());
}

TEST_F(HostTest, AddParamIsRefusedOutsideSetupAndAtAnotherIndex)
{
    t_script = [](PF_Cmd cmd, PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*, void*) {
        PF_ParamDef def{};
        def.param_type = PF_Param_ANGLE;
        return in->inter.add_param(in->effect_ref, cmd == PF_Cmd_PARAMS_SETUP ? 5 : -1, &def);
    };
    EXPECT_EQ(host.params_setup(), PF_Err_INVALID_INDEX);
    EXPECT_EQ(host.render(), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(host.declared_params().empty());
    EXPECT_EQ(host.errors().size(), 2u);
}

TEST_F(HostTest, CheckinsAreMatchedToCheckoutsAndLeftoversReported)
{
    t_script = [](PF_Cmd cmd, PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*, void*) {
        if (cmd == PF_Cmd_GLOBAL_SETUP) {
            return PF_Err_NONE;
        }
        if (cmd == PF_Cmd_PARAMS_SETUP) {
            return declare_three(in);
        }
        PF_ParamDef a{}, b{}, never{};
        in->inter.checkout_param(in->effect_ref, 2, in->current_time, in->time_step, in->time_scale, &a);
        in->inter.checkout_param(in->effect_ref, 3, in->current_time, in->time_step, in->time_scale, &b);
        if (a.u.fd.value != 0x00200000 || a.param_type != PF_Param_FIX_SLIDER) {
            return PF_Err(1);
        }
        PF_Err err = in->inter.checkin_param(in->effect_ref, &a);
        if (cmd == PF_Cmd_RENDER) {
            err = in->inter.checkin_param(in->effect_ref, &never);  // b stays checked out
        } else {
            in->inter.checkin_param(in->effect_ref, &b);
        }
        return err;
    };
    ASSERT_EQ(host.setup_effect(), PF_Err_NONE);
    host.in_data().current_time = 48;
    EXPECT_EQ(host.send(PF_Cmd_SMART_RENDER), PF_Err_NONE);
    EXPECT_TRUE(host.errors().empty());
    ASSERT_EQ(host.param_checkouts().size(), 2u);
    EXPECT_EQ(host.param_checkouts()[1].index, 3);
    EXPECT_EQ(host.param_checkouts()[1].what_time, 48);
    EXPECT_EQ(host.param_checkouts()[1].time_scale, 24u);

    EXPECT_EQ(host.render(), PF_Err_BAD_CALLBACK_PARAM);
    ASSERT_EQ(host.errors().size(), 2u);
    EXPECT_EQ(host.errors()[0], "checkin_param of a definition that was never checked out");
    EXPECT_EQ(host.errors()[1], "1 parameter checkout(s) not checked in when command 11 returned");
    EXPECT_EQ(host.count(HostOp::checkout_param), 4);
    EXPECT_EQ(host.count(HostOp::checkin_param), 4);
}

// ----- fault injection -----------------------------------------------------------------------------

TEST_F(HostTest, FaultsHitEveryCallOrOnlyTheNthAndLeaveTheResultAlone)
{
    std::vector<PF_Err> results;
    std::vector<A_long> values;
    t_script = [&](PF_Cmd cmd, PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*, void*) {
        if (cmd == PF_Cmd_PARAMS_SETUP) {
            return declare_three(in);
        }
        for (PF_ParamIndex i = 1; i <= 3; ++i) {
            PF_ParamDef def{};
            def.uu.id = -7;
            results.push_back(
                in->inter.checkout_param(in->effect_ref, i, in->current_time, in->time_step, in->time_scale, &def));
            values.push_back(def.uu.id);
            if (results.back() == PF_Err_NONE) {
                in->inter.checkin_param(in->effect_ref, &def);
            }
        }
        return PF_Err_NONE;
    };

    // declare_three's second add_param is refused: the first stays declared.
    host.fail(HostOp::add_param, PF_Err_OUT_OF_MEMORY, 2);
    EXPECT_EQ(host.params_setup(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(host.declared_params().size(), 1u);
    host.clear_faults();
    ASSERT_EQ(host.params_setup(), PF_Err_NONE);

    host.fail(HostOp::checkout_param, PF_Err_INTERNAL_STRUCT_DAMAGED, 2);
    host.render();
    host.render();  // the fault counted its second call only
    EXPECT_EQ(results, (std::vector<PF_Err>{0, 512, 0, 0, 0, 0}));
    EXPECT_EQ(values, (std::vector<A_long>{1, -7, 3, 1, 2, 3}));

    results.clear();
    host.fail(HostOp::checkout_param, PF_Err_BAD_CALLBACK_PARAM);
    host.render();
    EXPECT_EQ(results, (std::vector<PF_Err>{516, 516, 516}));
    EXPECT_TRUE(host.errors().empty());
}

TEST_F(HostTest, WorldSuiteOffersAndReleasesAreBookkept)
{
    struct Seen {
        SPErr code;
        const void* suite;
    };
    std::vector<Seen> seen;
    const void* sentinel = &seen;
    t_script = [&](PF_Cmd, PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*, void*) {
        const void* suite = sentinel;
        SPErr code = in->pica_basicP->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &suite);
        seen.push_back(Seen{code, suite});
        if (suite && suite != sentinel) {
            in->pica_basicP->ReleaseSuite(kPFWorldSuite, kPFWorldSuiteVersion2);
        }
        return PF_Err_NONE;
    };
    host.send(PF_Cmd_SMART_RENDER);
    host.set_suite_offer(SuiteOffer::give, 77);
    host.send(PF_Cmd_SMART_RENDER);
    host.set_suite_offer(SuiteOffer::null_pointer, 0);
    host.send(PF_Cmd_SMART_RENDER);
    host.set_suite_offer(SuiteOffer::untouched, 5);
    host.send(PF_Cmd_SMART_RENDER);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].code, 0);
    EXPECT_EQ(seen[0].suite, host.world_suite());
    EXPECT_EQ(seen[1].code, 77);
    EXPECT_EQ(seen[1].suite, host.world_suite());
    EXPECT_EQ(seen[2].suite, nullptr);
    EXPECT_EQ(seen[3].code, 5);
    EXPECT_EQ(seen[3].suite, sentinel);
    EXPECT_EQ(host.count(HostOp::acquire_suite), 4);
    EXPECT_EQ(host.count(HostOp::release_suite), 2);
    EXPECT_TRUE(host.errors().empty());

    // A release without acquire, an unknown suite, and a suite kept past the command are misuse.
    t_script = [](PF_Cmd, PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*, void*) {
        in->pica_basicP->ReleaseSuite(kPFWorldSuite, kPFWorldSuiteVersion2);
        const void* suite = nullptr;
        in->pica_basicP->AcquireSuite(kPFWorldSuite, 1, &suite);
        const void* kept = nullptr;
        in->pica_basicP->AcquireSuite(kPFWorldSuite, 2, &kept);
        return PF_Err(suite == nullptr && kept != nullptr ? 0 : 1);
    };
    host.set_suite_offer(SuiteOffer::give);
    host.reset_records();
    EXPECT_EQ(host.send(PF_Cmd_SMART_RENDER), PF_Err_NONE);
    EXPECT_EQ(host.errors().size(), 3u);
    EXPECT_EQ(host.calls()[1].result, sp_suite_not_found);
}

// ----- host operations on pixels -------------------------------------------------------------------

TEST_F(HostTest, CopyClipsToTheSmallerWorldAndRefusesBadArguments)
{
    World& in = host.set_input(World::padded(Depth::u16, 6, 4, 8));
    World& out = host.set_output(World::padded(Depth::u16, 4, 5, 24));
    for (A_long y = 0; y < 4; ++y) {
        for (A_long x = 0; x < 6; ++x) {
            in.pixel16(x, y) = make_pixel<PF_Pixel16>(int(10 * y + x));
        }
    }
    World eight(Depth::u8, 4, 4);
    std::vector<PF_Err> results;
    t_script = [&](PF_Cmd, PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
        auto copy = in_data->utils->copy;
        results.push_back(copy(in_data->effect_ref, &params[0]->u.ld, output, nullptr, nullptr));
        results.push_back(copy(in_data->effect_ref, nullptr, output, nullptr, nullptr));
        results.push_back(copy(in_data->effect_ref, &params[0]->u.ld, eight.get(), nullptr, nullptr));
        results.push_back(copy(nullptr, &params[0]->u.ld, output, nullptr, nullptr));
        return PF_Err_NONE;
    };
    host.render();
    EXPECT_EQ(results, (std::vector<PF_Err>{0, 516, 516, 516}));
    // A 4 x 4 block arrived; row 4 of the output and every guard are untouched.
    for (A_long y = 0; y < 5; ++y) {
        for (A_long x = 0; x < 4; ++x) {
            const PF_Pixel16 expected = y < 4 ? make_pixel<PF_Pixel16>(int(10 * y + x)) : PF_Pixel16{};
            EXPECT_TRUE(same(out.pixel16(x, y), expected)) << x << "," << y;
        }
    }
    EXPECT_TRUE(in.guards_intact()) << in.guard_damage();
    EXPECT_TRUE(out.guards_intact()) << out.guard_damage();
    EXPECT_EQ(host.errors().size(), 3u);
}

TEST_F(HostTest, SmartCommandsCheckOutLayersOutputAndPixelFormat)
{
    host.set_input(World(Depth::u8, 100, 50)).set_pixel_format(PF_PixelFormat_BGRA32);
    host.set_output(World(Depth::u8, 100, 50));
    PF_CheckoutResult result{};
    PF_PixelFormat format = 0;
    PF_EffectWorld* input = nullptr;
    PF_EffectWorld* output = reinterpret_cast<PF_EffectWorld*>(&result);
    t_script = [&](PF_Cmd cmd, PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef* out_arg, void* extra) {
        if (out_arg) {
            return PF_Err(1);  // the smart commands get no output argument
        }
        if (cmd == PF_Cmd_SMART_PRE_RENDER) {
            auto* pre = static_cast<PF_PreRenderExtra*>(extra);
            PF_RenderRequest req = pre->input->output_request;
            req.channel_mask |= PF_ChannelMask_ALPHA;
            return pre->cb->checkout_layer(in->effect_ref, 0, 0, &req, in->current_time, in->time_step, in->time_scale,
                                           &result);
        }
        auto* smart = static_cast<PF_SmartRenderExtra*>(extra);
        PF_Err err = smart->cb->checkout_layer_pixels(in->effect_ref, 0, &input);
        if (!err)
            err = smart->cb->checkout_output(in->effect_ref, &output);
        const void* suite = nullptr;
        in->pica_basicP->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &suite);
        if (!err)
            err = static_cast<const PF_WorldSuite2*>(suite)->PF_GetPixelFormat(input, &format);
        in->pica_basicP->ReleaseSuite(kPFWorldSuite, kPFWorldSuiteVersion2);
        return err;
    };

    // The request reaches past the layer: the result is the part inside it, the maximum the layer.
    EXPECT_EQ(host.smart_pre_render(PF_LRect{20, -10, 120, 40}), PF_Err_NONE);
    EXPECT_EQ(result.result_rect.left, 20);
    EXPECT_EQ(result.result_rect.top, 0);
    EXPECT_EQ(result.result_rect.right, 100);
    EXPECT_EQ(result.result_rect.bottom, 40);
    EXPECT_EQ(result.max_result_rect.right, 100);
    EXPECT_EQ(result.max_result_rect.bottom, 50);
    ASSERT_EQ(host.layer_checkouts().size(), 1u);
    EXPECT_EQ(host.layer_checkouts()[0].request.channel_mask, PF_ChannelMask_ARGB);
    EXPECT_EQ(host.layer_checkouts()[0].request.rect.top, -10);

    // The checkout hands out what the pre-render asked for, within the layer, placed by its origin.
    host.require_prerender_checkout(true);
    EXPECT_EQ(host.smart_render(), PF_Err_NONE);
    const World* part = host.checked_out_input(0);
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(input, part->get());
    EXPECT_EQ(part->width(), 80);
    EXPECT_EQ(part->height(), 40);
    EXPECT_EQ(part->def().origin_x, 20);
    EXPECT_EQ(part->def().origin_y, 0);
    EXPECT_EQ(output, host.output()->get());
    EXPECT_EQ(format, PF_PixelFormat_BGRA32);

    host.give_no_output(true);
    EXPECT_EQ(host.smart_render(), PF_Err_NONE);
    EXPECT_EQ(output, nullptr);
    EXPECT_TRUE(host.errors().empty());
    EXPECT_EQ(host.call_names(),
              (std::vector<std::string>{"checkout_layer", "checkout_layer_pixels", "checkout_output", "AcquireSuite",
                                        "PF_GetPixelFormat", "ReleaseSuite", "checkout_layer_pixels", "checkout_output",
                                        "AcquireSuite", "PF_GetPixelFormat", "ReleaseSuite"}));

    // A pixel checkout of an id the pre-render never took is refused when the host enforces the rule.
    host.fail(HostOp::checkout_layer, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(host.smart_pre_render(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(host.smart_render(), PF_Err_BAD_CALLBACK_PARAM);
}

// ----- commands, registration and modules ----------------------------------------------------------

TEST_F(HostTest, UnhandledCommandSeesTheApplicationAndLeavesOutDataAlone)
{
    std::memset(&host.initial_out_data(), 0xA7, sizeof(PF_OutData));
    A_long appl_id = 0;
    t_script = [&](PF_Cmd, PF_InData* in, PF_OutData*, PF_ParamDef**, PF_LayerDef*, void*) {
        appl_id = in->appl_id;
        return PF_Err_NONE;
    };
    EXPECT_EQ(host.send(25), PF_Err_NONE);
    EXPECT_EQ(appl_id, 0x46585443);  // 'FXTC'
    EXPECT_EQ(host.out_data_bytes(), host.initial_out_data_bytes());
    host.set_application(HostApp::premiere_pro);
    host.send(-1);
    EXPECT_EQ(appl_id, 0x50724D72);  // 'PrMr'
    EXPECT_EQ(host.commands(), (std::vector<PF_Cmd>{25, -1}));
}

TEST(Registration, CapturesEveryArgumentAndReturnsTheConfiguredCode)
{
    auto entry = [](PF_PluginDataPtr ptr, PF_PluginDataCB cb, SPBasicSuite* basic, const char*, const char*) {
        if (!basic || !basic->AcquireSuite) {
            return PF_Err(1);
        }
        return PF_Err(cb(ptr, reinterpret_cast<const A_u_char*>("k's Ruvivedu"),
                         reinterpret_cast<const A_u_char*>("k's Ruvivedu"),
                         reinterpret_cast<const A_u_char*>("Tervane's FX"), nullptr, 0x65464B54, 13, 27, 8));
    };
    SubstituteHost host(nullptr, entry);
    host.set_registration_result(PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(host.register_effect(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    const RegistrationCapture& r = host.registration();
    EXPECT_EQ(r.call_count, 1);
    EXPECT_TRUE(r.registration_ptr_matches);
    EXPECT_EQ(r.category, std::optional<std::string>("Tervane's FX"));
    EXPECT_FALSE(r.entry_name.has_value());
    EXPECT_EQ(r.kind, 0x65464B54);
    EXPECT_EQ(r.api_minor, 27);
    EXPECT_EQ(r.reserved_info, 8);
    EXPECT_THROW(host.about(), std::logic_error);  // no command entry attached
}

TEST(PluginModuleTest, LoadsAModuleAndExplainsWhatFailed)
{
    PluginModule module;
    ASSERT_TRUE(module.load(HOST_TEST_MODULE_PATH)) << module.error();
    EXPECT_TRUE(module.error().empty());
    EXPECT_FALSE(module.exports_effect_main());
    SubstituteHost host(module);
    EXPECT_EQ(host.about(), PF_Err_NONE);
    EXPECT_EQ(host.return_msg(), "module 7");
    EXPECT_EQ(host.send(PF_Cmd_SMART_RENDER), PF_Cmd_SMART_RENDER);
    EXPECT_EQ(host.register_effect(), PF_Err_NONE);
    EXPECT_EQ(host.registration().name, std::optional<std::string>("Module Test"));

    PluginModule missing;
    EXPECT_FALSE(missing.load("/nonexistent/Ruvivedu.so"));
    EXPECT_NE(missing.error().find("cannot load plug-in module '/nonexistent/Ruvivedu.so'"), std::string::npos);
    EXPECT_FALSE(missing.loaded());
#if defined(__linux__)
    PluginModule no_entries;
    EXPECT_FALSE(no_entries.load("libm.so.6"));
    EXPECT_NE(no_entries.error().find("does not export EntryPointFunc nor PluginDataEntryFunction"), std::string::npos)
        << no_entries.error();
    EXPECT_EQ(no_entries.entry_point(), nullptr);
#endif
}

TEST(Threads, HostsOnSeveralThreadsKeepTheirOwnRecords)
{
    constexpr int thread_count = 4;
    constexpr int rounds = 40;
    std::array<std::vector<std::string>, thread_count> messages;
    std::array<int, thread_count> acquires{};
    std::array<bool, thread_count> clean{};
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([t, &messages, &acquires, &clean] {
            SubstituteHost host(&scripted_entry);
            host.set_input(World(t % 2 ? Depth::u16 : Depth::f32, 3 + t, 2));
            t_script = [](PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef** params, PF_LayerDef*, void*) {
                if (cmd == PF_Cmd_GLOBAL_SETUP) {
                    return PF_Err_NONE;
                }
                if (cmd == PF_Cmd_PARAMS_SETUP) {
                    return declare_three(in);
                }
                const void* suite = nullptr;
                in->pica_basicP->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &suite);
                PF_PixelFormat format = 0;
                static_cast<const PF_WorldSuite2*>(suite)->PF_GetPixelFormat(&params[0]->u.ld, &format);
                in->pica_basicP->ReleaseSuite(kPFWorldSuite, kPFWorldSuiteVersion2);
                in->utils->ansi.sprintf(out->return_msg, "%d %d %x", params[0]->u.ld.width, params[1]->u.pd.value,
                                        unsigned(format));
                return PF_Err_NONE;
            };
            host.setup_effect();
            host.set_shape(10 + t);
            for (int i = 0; i < rounds; ++i) {
                host.render();
            }
            messages[t] = host.messages();
            acquires[t] = host.count(HostOp::acquire_suite);
            clean[t] = host.errors().empty() && SubstituteHost::current() == nullptr;
            t_script = nullptr;
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < thread_count; ++t) {
        // Width 3 + t, Shape 10 + t, and the format of this thread's own depth: "ae16" or "ae32".
        const std::string expected =
            std::to_string(3 + t) + " " + std::to_string(10 + t) + (t % 2 ? " 36316561" : " 32336561");
        EXPECT_EQ(messages[t], std::vector<std::string>(rounds, expected)) << "thread " << t;
        EXPECT_EQ(acquires[t], rounds);
        EXPECT_TRUE(clean[t]);
    }
}
