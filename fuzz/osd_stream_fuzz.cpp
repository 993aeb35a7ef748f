// The FPGA's OSD command byte stream as the platform daemon takes it: every byte through the
// assembler (Osd_Cmd_Extract, which draws a completed position frame into the bitmap), and each
// completed command carried out as the daemon does with what it carries: a standard frame sets
// up the frame buffers and the video input, a clear clears, and what was drawn is shown once the
// stream has ended (the daemon's show timer shows a burst of characters once). The registers are
// the recording layer of the platform tests.
#include <cstddef>
#include <cstdint>

#include "platform/hdmi/fb_hdmi.h"
#include "platform/osd/osd.h"
#include "platform/osd/osd_state.h"
#include "platform/uhdsdi/fb_uhdsdi.h"
#include "support/recording_i2c.h"
#include "support/recording_registers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    // The module's state lives for the process: every input starts from power-up, except for the
    // bitmap's pixels (what was drawn earlier decides nothing, and clearing them costs more than
    // most inputs).
    g_osd = OsdState{};
    // Both recordings are emptied: they grow with every access and wait (a frame buffer set-up
    // waits), and kept across inputs they would fill the memory.
    vantor::test::RecordingRegisters::reset();
    vantor::test::RecordingI2c::reset();
    OSD_ClearFeatruePoint();

    bool drawn = false;
    for (std::size_t i = 0; i < size; ++i) {
        switch (Osd_Cmd_Extract(data[i])) {
        case OSD_CMD_STD:
            FB_Hdmi_Run_Reg(OSD_Get_HdmiStd());
            FB_UhdSdi_Run_Reg(OSD_Get_UhdSdiStd());
            Video_In_Reg(OSD_Get_HdmiStd());
            break;
        case OSD_CMD_POSITION:
            drawn = true;
            break;
        case OSD_CMD_CLEAR:
            OSD_Clear_Display();
            break;
        case OSD_DEVICE_MAC: {
            uint32_t mac[OSD_MAC_BYTES / sizeof(uint32_t)] = {};
            OSD_Get_Mac(mac);
            break;
        }
        default:
            break;
        }
    }
    if (drawn) {
        OSD_Show();
    }
    return 0;
}
