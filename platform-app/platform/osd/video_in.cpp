// The video-input registers of the OSD block and the platform-ready flag.

#include <cstdio>

#include "platform/interconnect/interconnect.h"
#include "platform/osd/osd.h"

namespace {

constexpr uint32_t kInputWidth = 1920;
constexpr uint32_t kScaledLines = 1080;  // 720-line input is scaled up to 1080 lines

}  // namespace

void Video_In_Reg(VideoStd_Index std)
{
    if (!VideoStd_Check("Video_In_Reg", std)) {
        return;
    }
    WriteRegister(OSD_VIN_H_ACTIVE, kInputWidth);
    if (std > VID_LAST_720_LINE) {
        WriteRegister(OSD_VIN_V_ACTIVE, VideoStd_Lines(StdFormat_Info[std]));
        WriteRegister(OSD_VIN_SCALER_EN, 0);
    } else {
        WriteRegister(OSD_VIN_V_ACTIVE, kScaledLines);
        WriteRegister(OSD_VIN_SCALER_EN, 1);
    }
    std::printf("OSD_VIN_H_ACTIVE     = %u\n", ReadRegister(OSD_VIN_H_ACTIVE));
    std::printf("OSD_VIN_V_ACTIVE     = %u\n", ReadRegister(OSD_VIN_V_ACTIVE));
    std::printf("OSD_VIN_SCALER_EN    = %u\n", ReadRegister(OSD_VIN_SCALER_EN));
}

bool Video_In_Locked()
{
    return ReadRegister(OSD_VIN_LOCKED) == 1;
}

void Video_Genlock_Std(VideoStd_Index std)
{
    WriteRegister(OSD_REG_SDI_SYNC_STD, std);
}

void OSD_PlatformRdy()
{
    WriteRegister(OSD_REG_PLATFORM_RDY, 1);
}
