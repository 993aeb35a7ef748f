#include "platform/uhdsdi/fb_uhdsdi.h"

#include <cstdio>

#include "platform/delay/delay.h"
#include "platform/fb_common/fb_pipeline.h"
#include "platform/interconnect/interconnect.h"
#include "platform/interconnect/register_dump.h"

namespace {

constexpr FrameBufferRegs kUhdSdiRegs = {
    UHDSDI_REG_STATIC_EN,
    UHDSDI_REG_STATIC_INDEX,
    {UHDSDI_REG_FB_ADDR_0, UHDSDI_REG_FB_ADDR_1, UHDSDI_REG_FB_ADDR_2, UHDSDI_REG_FB_ADDR_3},
    UHDSDI_REG_FB_INDEX,
    UHDSDI_REG_INIT_LINE,
    UHDSDI_REG_FB_W_SCAN,
    UHDSDI_REG_FB_W_IPARALLEL_EN,
    UHDSDI_REG_FB_W_BYTE,
    UHDSDI_REG_FB_W_TOTAL,
    UHDSDI_REG_FB_R_SCAN,
    UHDSDI_REG_FB_R_6G_EN,
    UHDSDI_REG_FB_R_BYTE,
    UHDSDI_REG_FB_R_TOTAL,
};

void pulse_gtx_reset()
{
    WriteRegister(UHDSDI_REG_GTXRST, 1);
    Delay_Ms(1);
    WriteRegister(UHDSDI_REG_GTXRST, 0);
}

bool uhdsdi_dump_in_hex(InterConnectRegList reg)
{
    return (reg >= UHDSDI_REG_FB_ADDR_0 && reg <= UHDSDI_REG_FB_INDEX) ||
           reg == UHDSDI_REG_UHDSDI_STATUS;
}

void print_register_block()
{
    PrintRegisterBlock(UHDSDI_REG_STATIC_EN, UHDSDI_REG_UHDSDI_STATUS, uhdsdi_dump_in_hex);
}

}  // namespace

void FB_UhdSdi_Run_Reg(VideoStd_Index std)
{
    if (!VideoStd_Check("FB_UhdSdi_Run_Reg", std)) {
        return;
    }
    FB_Write_Pipeline(kUhdSdiRegs, UHDSDI_FB_ADDR, std);

    WriteRegister(UHDSDI_REG_STD, std);
    WriteRegister(UHDSDI_REG_GENLOCK_EN, 0);
    pulse_gtx_reset();
    WriteRegister(UHDSDI_REG_FB_W_EN, 1);
    Delay_Ms(1);
    WriteRegister(UHDSDI_REG_FB_R_EN, 1);

    print_register_block();
}

void FB_UhdSdi_Stop_Reg()
{
    WriteRegister(UHDSDI_REG_FB_W_EN, 0);
    WriteRegister(UHDSDI_REG_FB_R_EN, 0);
    WriteRegister(UHDSDI_REG_GTXRST, 1);
    std::printf("UHDSDI_REG_FB_W_EN = %u\n", ReadRegister(UHDSDI_REG_FB_W_EN));
    std::printf("UHDSDI_REG_FB_R_EN = %u\n", ReadRegister(UHDSDI_REG_FB_R_EN));
}

void FB_UhdSdi_ReStart()
{
    pulse_gtx_reset();
}

void FB_UhdSdi_Set_AudSw(uint8_t sw)
{
    WriteRegister(UHDSDI_REG_AUD_EN, sw);
    std::printf("UHDSDI_REG_AUD_EN            = %u\n", ReadRegister(UHDSDI_REG_AUD_EN));
}

bool FB_UhdSdi_Get_Status()
{
    const uint32_t status = ReadRegister(UHDSDI_REG_UHDSDI_STATUS);
    for (uint32_t channel = 0; channel < UHDSDI_STATUS_CHANNELS; ++channel) {
        if ((status & (UHDSDI_STATUS_LOCKED << (8 * channel))) == 0) {
            return false;
        }
    }
    return true;
}

void FB_UhdSdi_Set_GtxRst()
{
    pulse_gtx_reset();
    print_register_block();
    const uint32_t chn0 = ReadRegister(UHDSDI_REG_UHDSDI_STATUS) & 0xFFU;
    std::printf("chn0_sdi_locked           = %u\n", (chn0 & UHDSDI_STATUS_LOCKED) != 0 ? 1U : 0U);
    std::printf("chn0_tx_fabric_rst        = %u\n",
                (chn0 & UHDSDI_STATUS_FABRIC_RST) != 0 ? 1U : 0U);
    std::printf("chn0_tx_pll_reset         = %u\n", (chn0 & UHDSDI_STATUS_PLL_RST) != 0 ? 1U : 0U);
    std::printf("chn0_tx_change_fail_code  = %u\n",
                (chn0 & UHDSDI_STATUS_FAIL_CODE_MASK) >> UHDSDI_STATUS_FAIL_CODE_SHIFT);
    std::printf("chn0_tx_change_fail       = %u\n",
                (chn0 & UHDSDI_STATUS_CHANGE_FAIL) != 0 ? 1U : 0U);
    std::printf("chn0_tx_change_done       = %u\n",
                (chn0 & UHDSDI_STATUS_CHANGE_DONE) != 0 ? 1U : 0U);
}
