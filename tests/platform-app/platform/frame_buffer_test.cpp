// The frame-buffer sequences of the HDMI and UHD-SDI outputs, against the recording register layer.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/hdmi/fb_hdmi.h"
#include "platform/uhdsdi/fb_uhdsdi.h"
#include "support/recording_registers.h"

namespace {

using vantor::test::RecordingRegisters;
using vantor::test::RegisterAccess;
using vantor::test::Wait;

RegisterAccess W(InterConnectRegList reg, uint32_t value)
{
    return {true, reg, value};
}

// Writer and reader settings that distinguish the standards under test.
struct Pipeline {
    uint32_t w_scan, w_iparallel, w_byte, w_total;
    uint32_t r_scan, r_6g, r_byte, r_total;
};

std::vector<RegisterAccess> hdmi_run(const Pipeline& p, uint32_t freq, uint32_t frac, uint32_t std)
{
    return {
        W(HDMI_REG_STATIC_EN, 0),
        W(HDMI_REG_STATIC_INDEX, 0),
        W(HDMI_REG_FB_ADDR_0, 0x36000000),
        W(HDMI_REG_FB_ADDR_1, 0x37000000),
        W(HDMI_REG_FB_ADDR_2, 0x38000000),
        W(HDMI_REG_FB_ADDR_3, 0x39000000),
        W(HDMI_REG_FB_INDEX, 1),
        W(HDMI_REG_INIT_LINE, 0),
        W(HDMI_REG_FB_W_SCAN, p.w_scan),
        W(HDMI_REG_FB_W_IPARALLEL_EN, p.w_iparallel),
        W(HDMI_REG_FB_W_BYTE, p.w_byte),
        W(HDMI_REG_FB_W_TOTAL, p.w_total),
        W(HDMI_REG_FB_R_SCAN, p.r_scan),
        W(HDMI_REG_FB_R_BYTE, p.r_byte),
        W(HDMI_REG_FB_R_TOTAL, p.r_total),
        W(HDMI_REG_CWIZ_FREQ_ID, freq),
        W(HDMI_REG_CWIZ_FRAC_ID, frac),
        W(HDMI_REG_STD, std),
        W(HDMI_REG_SW_RST, 1),
        W(HDMI_REG_SW_RST, 0),
        W(HDMI_REG_FB_W_EN, 1),
        W(HDMI_REG_FB_R_EN, 1),
    };
}

std::vector<RegisterAccess> uhdsdi_run(const Pipeline& p, uint32_t std)
{
    return {
        W(UHDSDI_REG_STATIC_EN, 0),
        W(UHDSDI_REG_STATIC_INDEX, 0),
        W(UHDSDI_REG_FB_ADDR_0, 0x3A000000),
        W(UHDSDI_REG_FB_ADDR_1, 0x3B000000),
        W(UHDSDI_REG_FB_ADDR_2, 0x3C000000),
        W(UHDSDI_REG_FB_ADDR_3, 0x3D000000),
        W(UHDSDI_REG_FB_INDEX, 1),
        W(UHDSDI_REG_INIT_LINE, 0),
        W(UHDSDI_REG_FB_W_SCAN, p.w_scan),
        W(UHDSDI_REG_FB_W_IPARALLEL_EN, p.w_iparallel),
        W(UHDSDI_REG_FB_W_BYTE, p.w_byte),
        W(UHDSDI_REG_FB_W_TOTAL, p.w_total),
        W(UHDSDI_REG_FB_R_SCAN, p.r_scan),
        W(UHDSDI_REG_FB_R_6G_EN, p.r_6g),
        W(UHDSDI_REG_FB_R_BYTE, p.r_byte),
        W(UHDSDI_REG_FB_R_TOTAL, p.r_total),
        W(UHDSDI_REG_STD, std),
        W(UHDSDI_REG_GENLOCK_EN, 0),
        W(UHDSDI_REG_GTXRST, 1),
        vantor::test::Wait(1),
        W(UHDSDI_REG_GTXRST, 0),
        W(UHDSDI_REG_FB_W_EN, 1),
        vantor::test::Wait(1),
        W(UHDSDI_REG_FB_R_EN, 1),
    };
}

class FrameBuffer : public ::testing::Test {
protected:
    void SetUp() override { RecordingRegisters::reset(); }

    // Runs `action` with standard output captured and returns what it printed.
    template <typename F> static std::string printed(F action)
    {
        ::testing::internal::CaptureStdout();
        action();
        return ::testing::internal::GetCapturedStdout();
    }

    // True when every read in the log comes after the last write (the dump reads back at the end).
    static bool reads_only_after_writes()
    {
        bool reading = false;
        for (const RegisterAccess& access : RecordingRegisters::log()) {
            if (!access.write && access.reg != REG_MAX) {
                reading = true;
            } else if (reading) {
                return false;
            }
        }
        return true;
    }
};

// 1080i50: the writer gets progressive 1080 lines of 3840 bytes from 1080p50; the reader is
// interlaced with 540 + 540 lines.
TEST_F(FrameBuffer, Interlaced1080i50IsWrittenFromProgressive1080p50)
{
    const Pipeline p{0, 0, 3840, 1080, 1, 0, 3840, 1080};
    const std::string hdmi_dump = printed([] { FB_Hdmi_Run_Reg(VID_HD_1080I50); });
    EXPECT_EQ(RecordingRegisters::writes_and_waits(), hdmi_run(p, ARG_FREQ_74M25, ARG_FRAC_DIS, 3));
    EXPECT_TRUE(reads_only_after_writes());

    RecordingRegisters::reset();
    const std::string sdi_dump = printed([] { FB_UhdSdi_Run_Reg(VID_HD_1080I50); });
    EXPECT_EQ(RecordingRegisters::writes_and_waits(), uhdsdi_run(p, 3));
    EXPECT_TRUE(reads_only_after_writes());

    EXPECT_NE(hdmi_dump.find("HDMI_REG_FB_R_SCAN         = 1\n"), std::string::npos) << hdmi_dump;
    EXPECT_NE(sdi_dump.find("UHDSDI_REG_FB_R_SCAN         = 1\n"), std::string::npos) << sdi_dump;
}

// 2160p30: written from 2160p29.97 with two pixels per clock and 7680 line bytes; the SDI reader
// runs in 6G mode; the HDMI clock wizard selects 297 MHz without the 1000/1001 fraction.
TEST_F(FrameBuffer, Uhd2160p30IsWrittenFrom2160p2997TwoPixelsPerClock)
{
    const Pipeline p{0, 1, 7680, 2160, 0, 1, 7680, 2160};
    (void)printed([] { FB_Hdmi_Run_Reg(VID_6G_2160P30); });
    EXPECT_EQ(RecordingRegisters::writes_and_waits(), hdmi_run(p, ARG_FREQ_297M, ARG_FRAC_DIS, 20));

    RecordingRegisters::reset();
    (void)printed([] { FB_UhdSdi_Run_Reg(VID_6G_2160P30); });
    EXPECT_EQ(RecordingRegisters::writes_and_waits(), uhdsdi_run(p, 20));
}

// 1080p60 (3G): written from 1080p59.94, one pixel per clock; no 6G mode; 148.5 MHz.
TEST_F(FrameBuffer, ThreeG1080p60IsWrittenFrom1080p5994)
{
    const Pipeline p{0, 0, 3840, 1080, 0, 0, 3840, 1080};
    (void)printed([] { FB_Hdmi_Run_Reg(VID_3G_1080P60); });
    EXPECT_EQ(RecordingRegisters::writes_and_waits(),
              hdmi_run(p, ARG_FREQ_148M5, ARG_FRAC_DIS, 15));

    RecordingRegisters::reset();
    (void)printed([] { FB_UhdSdi_Run_Reg(VID_3G_1080P60); });
    EXPECT_EQ(RecordingRegisters::writes_and_waits(), uhdsdi_run(p, 15));
}

// Dual-link 3G 2160p29.97: written from the 6G standard of the same rate; the SDI reader runs in
// 6G mode too; the HDMI clock wizard keeps the 1000/1001 fraction.
TEST_F(FrameBuffer, DualLink2160p2997IsWrittenFromThe6GStandard)
{
    const Pipeline p{0, 1, 7680, 2160, 0, 1, 7680, 2160};
    (void)printed([] { FB_Hdmi_Run_Reg(VID_DL3G_2160P29_97); });
    EXPECT_EQ(RecordingRegisters::writes_and_waits(), hdmi_run(p, ARG_FREQ_297M, ARG_FRAC_EN, 24));

    RecordingRegisters::reset();
    (void)printed([] { FB_UhdSdi_Run_Reg(VID_DL3G_2160P29_97); });
    EXPECT_EQ(RecordingRegisters::writes_and_waits(), uhdsdi_run(p, 24));
}

TEST_F(FrameBuffer, RunPrintsTheBlockWithBufferAddressesInHex)
{
    const std::string hdmi = printed([] { FB_Hdmi_Run_Reg(VID_HD_720P50); });
    const char* hdmi_lines[] = {
        "HDMI_REG_STATIC_EN         = 0\n",          "HDMI_REG_FB_ADDR_0         = 0x36000000\n",
        "HDMI_REG_FB_ADDR_3         = 0x39000000\n", "HDMI_REG_FB_W_BYTE         = 2560\n",
        "HDMI_REG_FB_W_TOTAL        = 720\n",        "HDMI_REG_STD               = 0\n",
        "HDMI_REG_SW_RST            = 0\n",
    };
    for (const char* line : hdmi_lines) {
        EXPECT_NE(hdmi.find(line), std::string::npos) << line << "in\n" << hdmi;
    }
    // The dump ends at HDMI_REG_SW_RST.
    EXPECT_EQ(hdmi.find("HDMI_REG_HDMI_AUD_SW"), std::string::npos);

    RecordingRegisters::set(UHDSDI_REG_UHDSDI_STATUS, 0x808080);
    const std::string sdi = printed([] { FB_UhdSdi_Run_Reg(VID_HD_720P50); });
    for (const char* line :
         {"UHDSDI_REG_FB_ADDR_1         = 0x3b000000\n",
          "UHDSDI_REG_FB_INDEX          = 0x00000001\n",
          "UHDSDI_REG_UHDSDI_STATUS     = 0x00808080\n", "UHDSDI_REG_FB_W_TOTAL        = 720\n"}) {
        EXPECT_NE(sdi.find(line), std::string::npos) << line << "in\n" << sdi;
    }
}

TEST_F(FrameBuffer, UnknownStandardIsRefusedAndNothingIsWritten)
{
    for (const auto std : {VID_INVALID, static_cast<VideoStd_Index>(26)}) {
        RecordingRegisters::reset();
        const std::string hdmi = printed([std] { FB_Hdmi_Run_Reg(std); });
        const std::string sdi = printed([std] { FB_UhdSdi_Run_Reg(std); });
        EXPECT_TRUE(RecordingRegisters::log().empty());
        EXPECT_EQ(hdmi.rfind("ERR: FB_Hdmi_Run_Reg: video standard", 0), 0U) << hdmi;
        EXPECT_EQ(sdi.rfind("ERR: FB_UhdSdi_Run_Reg: video standard", 0), 0U) << sdi;
    }
}

TEST_F(FrameBuffer, StopDisablesBothSidesAndHoldsTheBlockInReset)
{
    const std::string hdmi = printed([] { FB_Hdmi_Stop_Reg(); });
    EXPECT_EQ(RecordingRegisters::writes_and_waits(),
              (std::vector<RegisterAccess>{W(HDMI_REG_FB_W_EN, 0), W(HDMI_REG_FB_R_EN, 0),
                                           W(HDMI_REG_SW_RST, 1)}));
    EXPECT_EQ(hdmi, "HDMI_REG_FB_W_EN = 0\nHDMI_REG_FB_R_EN = 0\n");

    RecordingRegisters::reset();
    const std::string sdi = printed([] { FB_UhdSdi_Stop_Reg(); });
    EXPECT_EQ(RecordingRegisters::writes_and_waits(),
              (std::vector<RegisterAccess>{W(UHDSDI_REG_FB_W_EN, 0), W(UHDSDI_REG_FB_R_EN, 0),
                                           W(UHDSDI_REG_GTXRST, 1)}));
    EXPECT_EQ(sdi, "UHDSDI_REG_FB_W_EN = 0\nUHDSDI_REG_FB_R_EN = 0\n");
}

TEST_F(FrameBuffer, RestartPulsesTheResetAndLeavesTheEnablesAlone)
{
    RecordingRegisters::set(HDMI_REG_TIMER_NUM_PIX, 148000);
    RecordingRegisters::set(HDMI_REG_TIMER_NUM_WIZ, 148500);
    const std::string hdmi = printed([] { FB_Hdmi_ReStart(); });
    EXPECT_EQ(RecordingRegisters::writes_and_waits(),
              (std::vector<RegisterAccess>{W(HDMI_REG_SW_RST, 1), Wait(1), W(HDMI_REG_SW_RST, 0),
                                           Wait(1)}));
    EXPECT_EQ(hdmi, "TIMER_NUM_PIX         = 148000\n"
                    "TIMER_NUM_WIZ         = 148500\n"
                    "TIMER_NUM_DELTA       = 500\n");

    RecordingRegisters::reset();
    const std::string sdi = printed([] { FB_UhdSdi_ReStart(); });
    EXPECT_EQ(
        RecordingRegisters::log(),
        (std::vector<RegisterAccess>{W(UHDSDI_REG_GTXRST, 1), Wait(1), W(UHDSDI_REG_GTXRST, 0)}));
    EXPECT_EQ(sdi, "");
}

TEST_F(FrameBuffer, TimerDeltaIsTheDistanceEitherWay)
{
    RecordingRegisters::set(HDMI_REG_TIMER_NUM_PIX, 297000);
    RecordingRegisters::set(HDMI_REG_TIMER_NUM_WIZ, 7);
    EXPECT_NE(printed([] { FB_Hdmi_PrintTimer(); }).find("TIMER_NUM_DELTA       = 296993\n"),
              std::string::npos);
}

TEST_F(FrameBuffer, AudioSwitches)
{
    const std::string hdmi = printed([] { FB_Hdmi_Set_AudSw(1); });
    EXPECT_EQ(
        RecordingRegisters::writes_and_waits(),
        (std::vector<RegisterAccess>{W(HDMI_REG_HDMI_AUD_SW, 1), W(HDMI_REG_HDBASET_AUD_SW, 1)}));
    EXPECT_EQ(hdmi, "HDMI_REG_HDMI_AUD_SW         = 1\nHDMI_REG_HDBASET_AUD_SW      = 1\n");

    RecordingRegisters::reset();
    const std::string sdi = printed([] { FB_UhdSdi_Set_AudSw(0); });
    EXPECT_EQ(RecordingRegisters::writes_and_waits(),
              (std::vector<RegisterAccess>{W(UHDSDI_REG_AUD_EN, 0)}));
    EXPECT_EQ(sdi, "UHDSDI_REG_AUD_EN            = 0\n");
}

TEST_F(FrameBuffer, HotPlugIsTrueOnlyForExactlyOne)
{
    const std::pair<uint32_t, bool> cases[] = {
        {1, true}, {0, false}, {2, false}, {3, false}, {0x80000001U, false}, {0xFFFFFFFFU, false}};
    for (const auto& [value, expected] : cases) {
        RecordingRegisters::set(HDMI_REG_HDBASET_HPD, value);
        EXPECT_EQ(FB_Hdmi_Get_Hpd(), expected) << "HPD register " << value;
    }
}

TEST_F(FrameBuffer, SdiStatusNeedsTheLockBitOfAllThreeChannels)
{
    const std::pair<uint32_t, bool> cases[] = {
        {0x808080, true},     {0xFFFFFFFF, true}, {0x008080, false}, {0x800080, false},
        {0x808000, false},    {0x7F7F7F, false},  {0, false},        {0x80808000, false},
        {0xFF7FFFFFU, false}, {0x80818283, true},
    };
    for (const auto& [value, expected] : cases) {
        RecordingRegisters::set(UHDSDI_REG_UHDSDI_STATUS, value);
        EXPECT_EQ(FB_UhdSdi_Get_Status(), expected) << std::hex << "status 0x" << value;
    }
}

TEST_F(FrameBuffer, GtxResetDiagnosticPrintsChannelZeroFields)
{
    // Channel 0: locked, PLL reset, failure code 5, change failed, not done.
    RecordingRegisters::set(UHDSDI_REG_UHDSDI_STATUS, 0x000000B6);
    const std::string out = printed([] { FB_UhdSdi_Set_GtxRst(); });
    const std::vector<RegisterAccess> writes = RecordingRegisters::writes_and_waits();
    EXPECT_EQ(writes, (std::vector<RegisterAccess>{W(UHDSDI_REG_GTXRST, 1), Wait(1),
                                                   W(UHDSDI_REG_GTXRST, 0)}));
    const std::string expected_tail = "chn0_sdi_locked           = 1\n"
                                      "chn0_tx_fabric_rst        = 0\n"
                                      "chn0_tx_pll_reset         = 1\n"
                                      "chn0_tx_change_fail_code  = 5\n"
                                      "chn0_tx_change_fail       = 1\n"
                                      "chn0_tx_change_done       = 0\n";
    ASSERT_GE(out.size(), expected_tail.size());
    EXPECT_EQ(out.substr(out.size() - expected_tail.size()), expected_tail);
    EXPECT_NE(out.find("UHDSDI_REG_UHDSDI_STATUS     = 0x000000b6\n"), std::string::npos) << out;
}

}  // namespace
