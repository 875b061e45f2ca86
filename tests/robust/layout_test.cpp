// World layouts a host may hand out: padded rows and bottom-up rows (negative
// rowbytes). The substitute host's bottom-up worlds are checked first, then
// the effect is shown to draw the same picture into every layout.
#include "robust_util.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace ruvivedu::host;

TEST(BottomUpWorld, TopRowIsLastInMemoryAndRowbytesStepDown)
{
    World w = World::bottom_up(Depth::u16, 5, 3, 8);
    const A_long stride = 5 * 8 + 8;
    EXPECT_TRUE(w.is_bottom_up());
    EXPECT_EQ(w.rowbytes(), -stride);
    // Memory order: guards, row 2, row 1, row 0, guards.
    const unsigned char* first_row_in_memory = w.buffer_begin() + World::kGuardSize;
    EXPECT_EQ(w.row(2), first_row_in_memory);
    EXPECT_EQ(w.row(0), first_row_in_memory + 2 * stride);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(w.def().data), w.row(0));
    w.pixel16(4, 1) = PF_Pixel16{1, 2, 3, 4};
    EXPECT_EQ(reinterpret_cast<const PF_Pixel16*>(first_row_in_memory + stride)[4].blue, 4);
    EXPECT_TRUE(w.guards_intact());
}

TEST(BottomUpWorld, GuardDamageNamesTheRowAsTheWorldNumbersIt)
{
    World w = World::bottom_up(Depth::u8, 4, 3, 4);
    w.row(0)[16] = 0;  // first padding byte of the top row, the last row in memory
    EXPECT_EQ(w.guard_damage(), "padding of row 0 byte 0");
    World v = World::bottom_up(Depth::u8, 4, 3, 4);
    v.row(0)[20 + World::kGuardSize - 1] = 0;  // past the last row in memory: the trailing guard
    EXPECT_EQ(v.guard_damage().rfind("trailing guard", 0), 0u) << v.guard_damage();
}

TEST(BottomUpWorld, EmptyWorldsStayUsable)
{
    EXPECT_EQ(World::bottom_up(Depth::f32, 0, 4, 0).rowbytes(), 0);
    EXPECT_EQ(World::bottom_up(Depth::f32, 3, 0, 0).rowbytes(), 48);
    EXPECT_THROW(World(Depth::u8, 4, 4, -15), std::invalid_argument);  // magnitude below the packed 16 bytes
    EXPECT_THROW(World(Depth::f32, 4, 4, -66), std::invalid_argument);
}

TEST(BottomUpWorld, ContainsAcceptsTheWorldAndRefusesOneRowMore)
{
    World w = World::bottom_up(Depth::u8, 4, 3, 4);
    const auto* data = reinterpret_cast<const unsigned char*>(w.def().data);
    EXPECT_TRUE(w.contains(data, w.rowbytes(), 4, 3, 4));
    EXPECT_FALSE(w.contains(data, w.rowbytes(), 4, 4, 4)) << "a fourth row would lie in the leading guard";
    EXPECT_FALSE(w.contains(data, -w.rowbytes(), 4, 2, 4)) << "stepping up from the top row leaves the rows";
}

TEST(BottomUpWorld, HostCopyBetweenLayoutsKeepsThePicture)
{
    SubstituteHost host(robust::plugin_module());
    host.set_input(robust::make_layer(Depth::u8, 9, 7, 4, 5, true));
    host.set_output(World::padded(Depth::u8, 9, 7, 12));
    ASSERT_EQ(host.setup_effect(), PF_Err_NONE);
    // The classic render's first step, on its own: the render would draw over it.
    PF_InData in = host.in_data();
    ASSERT_EQ(in.utils->copy(in.effect_ref, host.input()->get(), host.output()->get(), nullptr, nullptr), PF_Err_NONE);
    EXPECT_TRUE(host.output()->same_pixels(*host.input()));
    EXPECT_TRUE(host.output()->guards_intact()) << host.output()->guard_damage();
    EXPECT_TRUE(host.errors().empty());
}

TEST(WorldLayouts, EveryLayoutGetsThePictureOfPackedRows)
{
    for (Depth depth : {Depth::u8, Depth::u16, Depth::f32}) {
        for (bool smart : {true, false}) {
            if (!smart && depth == Depth::f32)
                continue;
            robust::Job packed;
            packed.depth = depth;
            packed.smart = smart;
            packed.width = 57;
            packed.height = 33;
            const robust::Rendered reference = robust::render_alone(packed);
            ASSERT_EQ(reference.result, PF_Err_NONE);
            for (A_long padding : {4, 16, 100}) {
                for (bool bottom_up : {false, true}) {
                    SCOPED_TRACE(std::to_string(int(depth)) + (smart ? " smart" : " classic") + " padding " +
                                 std::to_string(padding) + (bottom_up ? " bottom-up" : ""));
                    robust::Job j = packed;
                    j.padding = padding;
                    j.bottom_up = bottom_up;
                    const robust::Rendered got = robust::render_alone(j);
                    EXPECT_EQ(got.result, PF_Err_NONE);
                    EXPECT_TRUE(got.guards_intact);
                    EXPECT_TRUE(got.host_errors.empty()) << got.host_errors.front();
                    EXPECT_EQ(got.pixels, reference.pixels);
                }
            }
        }
    }
}
