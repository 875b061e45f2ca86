// Faults the fuzzer found, kept as tests through EntryPointFunc.
#include "robust_util.h"

#include <gtest/gtest.h>

using namespace ruvivedu::host;

namespace {

robust::Rendered render_with_downsample(PF_RationalScale x, PF_RationalScale y)
{
    SubstituteHost host(robust::plugin_module());
    host.in_data().downsample_x = x;
    host.in_data().downsample_y = y;
    robust::Job job;
    job.width = 159;
    job.height = 159;
    job.settings.dot_size = 0x0039FFFE;  // 57.99997
    return robust::render(host, job);
}

}  // namespace

TEST(FuzzFindings, AnEnlargingDownsampleFactorIsFullResolution)
{
    // Found as a render that never ended: at 2^20 / 1 each cell's footprint in
    // the box filter was 2^20 times a DotSize wide and tall. No host enlarges a
    // frame through the downsample factor; such a factor is read as 1 / 1, like
    // the other factors a host cannot send.
    const robust::Rendered full = render_with_downsample({1, 1}, {1, 1});
    ASSERT_EQ(full.result, PF_Err_NONE);
    for (const PF_RationalScale enlarging :
         {PF_RationalScale{3, 2}, PF_RationalScale{1 << 20, 1}, PF_RationalScale{0x7FFFFFFF, 1}}) {
        SCOPED_TRACE(std::to_string(enlarging.num) + "/" + std::to_string(enlarging.den));
        const robust::Rendered got = render_with_downsample(enlarging, {1, 1});
        EXPECT_EQ(got.result, PF_Err_NONE);
        EXPECT_TRUE(got.guards_intact);
        EXPECT_EQ(got.pixels, full.pixels);
    }
    // A reducing factor still reduces: the picture differs from full resolution.
    EXPECT_NE(render_with_downsample({1, 2}, {1, 2}).pixels, full.pixels);
}
