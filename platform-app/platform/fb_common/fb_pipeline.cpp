#include "platform/fb_common/fb_pipeline.h"

void FB_Write_Pipeline(const FrameBufferRegs& regs, const uint32_t (&fb_addr)[4],
                       VideoStd_Index std)
{
    const Video_Std_IO& io = Std_IO_Info[std];
    const Video_StdFormat_Info& out = StdFormat_Info[std];
    const Video_StdFormat_Info& in = StdFormat_Info[io.std_i];

    WriteRegister(regs.static_en, 0);
    WriteRegister(regs.static_index, 0);
    for (int i = 0; i < 4; ++i) {
        WriteRegister(regs.fb_addr[i], fb_addr[i]);
    }
    WriteRegister(regs.fb_index, io.fb_index);
    WriteRegister(regs.init_line, io.fb_init_line);

    WriteRegister(regs.w_scan, in.scan_id);
    WriteRegister(regs.w_iparallel_en, io.std_i > VID_LAST_1080_LINE ? 1U : 0U);
    WriteRegister(regs.w_byte, VideoStd_LineBytes(in));
    WriteRegister(regs.w_total, VideoStd_Lines(in));

    WriteRegister(regs.r_scan, out.scan_id);
    if (regs.r_6g_en != REG_MAX) {
        const bool six_g = out.mode_id == ARG_MODE_6G || out.mode_id == ARG_MODE_DL3G;
        WriteRegister(regs.r_6g_en, six_g ? 1U : 0U);
    }
    WriteRegister(regs.r_byte, VideoStd_LineBytes(out));
    WriteRegister(regs.r_total, VideoStd_Lines(out));
}
