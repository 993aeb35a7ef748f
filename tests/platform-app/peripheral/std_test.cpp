#include "peripheral/std/std.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The writer standard that the pairing rules give for output standard `n`, found among the
// timing table's rows by their properties: 720-line outputs are written from themselves; every
// other output from the progressive, single-link, non-segmented standard of its size whose frame
// rate is the output's (field) rate, taken to its 1000/1001 neighbour at 24, 30 and 60 Hz.
uint32_t writer_by_rules(uint32_t n)
{
    const Video_StdFormat_Info& out = StdFormat_Info[n];
    if (out.size_id == ARG_SIZE_1280x720) {
        return n;
    }
    VideoStd_ArgRate rate = out.rate_id;
    if (rate == ARG_RATE_24FPS) {
        rate = ARG_RATE_23_98FPS;
    } else if (rate == ARG_RATE_30FPS) {
        rate = ARG_RATE_29_97FPS;
    } else if (rate == ARG_RATE_60FPS) {
        rate = ARG_RATE_59_94FPS;
    }
    uint32_t found = VID_INVALID;
    for (uint32_t m = 0; m < VID_STD_COUNT; ++m) {
        const Video_StdFormat_Info& w = StdFormat_Info[m];
        const bool segmented = m == VID_HD_1080SFP23_98 || m == VID_HD_1080SFP24;
        if (w.size_id == out.size_id && w.scan_id == ARG_SCAN_P && w.mode_id != ARG_MODE_DL3G &&
            !segmented && w.rate_id == rate) {
            EXPECT_EQ(found, uint32_t{VID_INVALID}) << "two writers for " << n;
            found = m;
        }
    }
    return found;
}

TEST(VideoStandards, EveryOutputIsWrittenFromTheStandardThePairingRulesGive)
{
    for (uint32_t n = 0; n < VID_STD_COUNT; ++n) {
        EXPECT_EQ(static_cast<uint32_t>(Std_IO_Info[n].std_i), writer_by_rules(n))
            << "output " << n;
        EXPECT_EQ(VideoStd_Lines(StdFormat_Info[Std_IO_Info[n].std_i]),
                  VideoStd_Lines(StdFormat_Info[n]));
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
