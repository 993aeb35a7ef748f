#include "platform/hdmi/fb_hdmi.h"

#include <cstdio>

#include "platform/delay/delay.h"
#include "platform/fb_common/fb_pipeline.h"
#include "platform/interconnect/interconnect.h"
#include "platform/interconnect/register_dump.h"

namespace {

constexpr FrameBufferRegs kHdmiRegs = {
    HDMI_REG_STATIC_EN,
    HDMI_REG_STATIC_INDEX,
    {HDMI_REG_FB_ADDR_0, HDMI_REG_FB_ADDR_1, HDMI_REG_FB_ADDR_2, HDMI_REG_FB_ADDR_3},
    HDMI_REG_FB_INDEX,
    HDMI_REG_INIT_LINE,
    HDMI_REG_FB_W_SCAN,
    HDMI_REG_FB_W_IPARALLEL_EN,
    HDMI_REG_FB_W_BYTE,
    HDMI_REG_FB_W_TOTAL,
    HDMI_REG_FB_R_SCAN,
    REG_MAX,
    HDMI_REG_FB_R_BYTE,
    HDMI_REG_FB_R_TOTAL,
};

bool hdmi_dump_in_hex(InterConnectRegList reg)
{
    return reg >= HDMI_REG_FB_ADDR_0 && reg <= HDMI_REG_FB_ADDR_3;
}

}  // namespace

void FB_Hdmi_Run_Reg(VideoStd_Index std)
{
    if (!VideoStd_Check("FB_Hdmi_Run_Reg", std)) {
        return;
    }
    FB_Write_Pipeline(kHdmiRegs, HDMI_FB_ADDR, std);

    const Video_StdFormat_Info& out = StdFormat_Info[std];
    WriteRegister(HDMI_REG_CWIZ_FREQ_ID, out.freq_id);
    WriteRegister(HDMI_REG_CWIZ_FRAC_ID, out.frac_id);
    WriteRegister(HDMI_REG_STD, std);

    WriteRegister(HDMI_REG_SW_RST, 1);
    WriteRegister(HDMI_REG_SW_RST, 0);
    WriteRegister(HDMI_REG_FB_W_EN, 1);
    WriteRegister(HDMI_REG_FB_R_EN, 1);

    PrintRegisterBlock(HDMI_REG_STATIC_EN, HDMI_REG_SW_RST, hdmi_dump_in_hex);
}

void FB_Hdmi_Stop_Reg()
{
    WriteRegister(HDMI_REG_FB_W_EN, 0);
    WriteRegister(HDMI_REG_FB_R_EN, 0);
    WriteRegister(HDMI_REG_SW_RST, 1);
    std::printf("HDMI_REG_FB_W_EN = %u\n", ReadRegister(HDMI_REG_FB_W_EN));
    std::printf("HDMI_REG_FB_R_EN = %u\n", ReadRegister(HDMI_REG_FB_R_EN));
}

void FB_Hdmi_ReStart()
{
    WriteRegister(HDMI_REG_SW_RST, 1);
    Delay_Ms(1);
    WriteRegister(HDMI_REG_SW_RST, 0);
    Delay_Ms(1);
    FB_Hdmi_PrintTimer();
}

void FB_Hdmi_Set_AudSw(uint8_t sw)
{
    WriteRegister(HDMI_REG_HDMI_AUD_SW, sw);
    WriteRegister(HDMI_REG_HDBASET_AUD_SW, sw);
    std::printf("HDMI_REG_HDMI_AUD_SW         = %u\n", ReadRegister(HDMI_REG_HDMI_AUD_SW));
    std::printf("HDMI_REG_HDBASET_AUD_SW      = %u\n", ReadRegister(HDMI_REG_HDBASET_AUD_SW));
}

bool FB_Hdmi_Get_Hpd()
{
    return ReadRegister(HDMI_REG_HDBASET_HPD) == 1U;
}

void FB_Hdmi_PrintTimer()
{
    const uint32_t pix = ReadRegister(HDMI_REG_TIMER_NUM_PIX);
    const uint32_t wiz = ReadRegister(HDMI_REG_TIMER_NUM_WIZ);
    const uint32_t delta = pix > wiz ? pix - wiz : wiz - pix;
    std::printf("TIMER_NUM_PIX         = %u\n", pix);
    std::printf("TIMER_NUM_WIZ         = %u\n", wiz);
    std::printf("TIMER_NUM_DELTA       = %u\n", delta);
}
