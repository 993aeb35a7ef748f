#include "peripheral/std/std.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Frame rate of a standard in millihertz, for comparing rates across the tables.
uint32_t rate_mhz(VideoStd_ArgRate rate)
{
    static const uint32_t kRates[] = {23976, 24000, 25000, 29970, 30000, 50000, 59940, 60000};
    return kRates[rate];
}

TEST(VideoStandards, EveryWriterStandardIsProgressiveOfTheSameSizeAndMatchingRate)
{
    for (uint32_t n = 0; n < VID_STD_COUNT; ++n) {
        const Video_StdFormat_Info& out = StdFormat_Info[n];
        const Video_StdFormat_Info& in = StdFormat_Info[Std_IO_Info[n].std_i];
        SCOPED_TRACE("standard " + std::to_string(n));
        EXPECT_EQ(in.scan_id, ARG_SCAN_P);
        EXPECT_EQ(in.size_id, out.size_id);
        EXPECT_EQ(VideoStd_Lines(in), VideoStd_Lines(out));
        // The writer runs at the output's rate or its 1000/1001 neighbour (24 -> 23.98, ...).
        const uint32_t out_rate = rate_mhz(out.rate_id);
        const uint32_t in_rate = rate_mhz(in.rate_id);
        EXPECT_TRUE(in_rate == out_rate || in_rate == out_rate * 1000 / 1001 ||
                    in_rate + 60 == out_rate)
            << out_rate << " from " << in_rate;
        // Writers of 4K never run in dual-link mode: they receive the 6G standard.
        EXPECT_NE(in.mode_id, ARG_MODE_DL3G);
    }
}

TEST(VideoStandards, InterlacedLinesCountBothFields)
{
    const Video_StdFormat_Info& i50 = StdFormat_Info[VID_HD_1080I50];
    EXPECT_EQ(i50.scan_id, ARG_SCAN_I);
    EXPECT_EQ(VideoStd_Lines(i50), 1080U);
    EXPECT_EQ(VideoStd_LineBytes(i50), 3840U);
    EXPECT_EQ(VideoStd_LineBytes(StdFormat_Info[VID_DL3G_2160P30]), 7680U);
}

TEST(VideoStandards, CheckRefusesEverythingOutsideTheTables)
{
    EXPECT_TRUE(VideoStd_Check("test", VID_HD_720P50));
    EXPECT_TRUE(VideoStd_Check("test", VID_DL3G_2160P30));
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(VideoStd_Check("Caller", 26));
    EXPECT_FALSE(VideoStd_Check("Caller", VID_INVALID));
    EXPECT_FALSE(VideoStd_Check("Caller", 0xFFFFFFFFU));
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "ERR: Caller: video standard 26 is not a known standard, nothing changed\n"
                   "ERR: Caller: video standard 255 is not a known standard, nothing changed\n"
                   "ERR: Caller: video standard 4294967295 is not a known standard, nothing "
                   "changed\n");
}

}  // namespace
