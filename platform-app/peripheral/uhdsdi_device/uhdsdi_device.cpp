#include "peripheral/uhdsdi_device/uhdsdi_device.h"

#include <cstdio>
#include <utility>

#include "platform/hdmi/fb_hdmi.h"
#include "platform/uhdsdi/fb_uhdsdi.h"

void UhdsdiReset()
{
    OSD_Clear_Display();
    FB_Hdmi_Stop_Reg();
    FB_UhdSdi_Stop_Reg();
}

void UhdsdiInitPeripheral(const UhdsdiChips& chips)
{
    chips.lmh1983.SetLmh1983();
    chips.ds10cp.SetDs10Cp(HDMI_INT_SDI_ASYNC);
    (void)chips.ssm2603.StartSSM2603();
    (void)chips.ssm2603.EnableSSM2603();
    chips.lmh1983.SetLmh1983();
    OSD_PlatformRdy();
}

UhdsdiDevice::UhdsdiDevice(const UhdsdiChips& chips, UhdsdiTiming timing)
    : m_chips(chips), m_timing(std::move(timing))
{
}

void UhdsdiDevice::Start()
{
    {
        const std::lock_guard<std::mutex> lock(m_video_path);
        UhdsdiReset();
        UhdsdiInitPeripheral(m_chips);
    }
    std::puts("Platform Rdy----Done !");
}

void UhdsdiDevice::Pass(bool interrupted)
{
    if (m_show.pending()) {
        // No interrupt is awaited while a show is pending: the channel is polled.
        if (m_show.due(m_timing.now())) {
            OSD_Show();
            std::puts("OSD_Show()  ");
        }
    } else if (!interrupted) {
        return;
    }
    uint8_t value = 0;
    if (!OSD_Read_Cmd(&value)) {
        return;
    }
    CarryOut(Osd_Cmd_Extract(value));
}

void UhdsdiDevice::StopOutputs()
{
    uhdsdi_err_handle_en = false;
    UhdsdiReset();
    // The bitmap is empty now: a show still pending would switch the OSD engine on with nothing
    // drawn inside the old background box.
    m_show.cancel();
    OSD_ClearFeatruePoint();
}

void UhdsdiDevice::FormatChange()
{
    const std::lock_guard<std::mutex> lock(m_video_path);
    StopOutputs();
    hdmistd = OSD_Get_HdmiStd();
    uhdsdistd = OSD_Get_UhdSdiStd();
    color_type = OSD_Get_ColorSpace();
    // Any byte that names no standard (not only 255) leaves the outputs stopped, and the
    // watchdog off: it would restart outputs stopped on purpose.
    if (!VideoStd_IsValid(hdmistd) || !VideoStd_IsValid(uhdsdistd)) {
        return;
    }
    Video_In_Reg(hdmistd);
    m_chips.adv7619.SetAdv7619(hdmistd);
    FB_Hdmi_Run_Reg(hdmistd);
    FB_UhdSdi_Run_Reg(uhdsdistd);
    m_chips.sil9136_3.SetSil9136_3(hdmistd, color_type);
    hpd_st = FB_Hdmi_Get_Hpd();  // programmed for the display seen now: no edge to follow
    std::printf("Change HDMI STD Format   = %u\n", static_cast<unsigned>(hdmistd));
    std::printf("Change UHDSDI STD Format = %u\n", static_cast<unsigned>(uhdsdistd));
    uhdsdi_err_handle_en = true;
}

void UhdsdiDevice::CarryOut(OSD_CmdList cmd)
{
    switch (cmd) {
    case OSD_CMD_STD:
        FormatChange();
        break;
    case OSD_CMD_AUDIO: {
        const std::lock_guard<std::mutex> lock(m_video_path);
        const bool audsw = OSD_Get_AudSw();
        std::printf("OSD_CMD_AUDIO =  %d\n", audsw ? 1 : 0);
        FB_Hdmi_Set_AudSw(audsw ? 1 : 0);
        FB_UhdSdi_Set_AudSw(audsw ? 1 : 0);
        break;
    }
    case OSD_COLOR_SPACE: {
        const std::lock_guard<std::mutex> lock(m_video_path);
        color_type = OSD_Get_ColorSpace();
        std::puts(color_type == COLOR_YUV ? "ColorSpace = YUV" : "ColorSpace = RGB");
        StopOutputs();
        break;
    }
    case OSD_DEVICE_MAC: {
        uint32_t mac_addr[OSD_MAC_BYTES / sizeof(uint32_t)] = {};
        OSD_Get_Mac(mac_addr);
        std::printf("mac addr = %.12s\n", reinterpret_cast<const char*>(mac_addr));
        break;
    }
    case OSD_CMD_POSITION:
        m_show.position(m_timing.now());
        break;
    case OSD_CMD_CLEAR:
        m_show.cancel();
        OSD_Clear_Display();
        std::puts("OSD_Clear() ");
        break;
    default:
        break;
    }
}

bool UhdsdiDevice::CheckAndRestart()
{
    const bool in_locked = Video_In_Locked();
    const bool sdi_good = FB_UhdSdi_Get_Status();
    // The HDMI output is judged only while a display is plugged: without one the transmitter
    // never reports a link, and an SDI-only installation must not be restarted for it.
    const bool hpd = FB_Hdmi_Get_Hpd();
    const bool hdmi_good = !hpd || m_chips.sil9136_3.GetSil9136_3_Debug();
    if (!in_locked) {
        // The input feeds both outputs: the whole path is restarted.
        m_chips.adv7619.SetAdv7619(hdmistd);
        FB_Hdmi_ReStart();
        FB_UhdSdi_ReStart();
        m_chips.sil9136_3.SetSil9136_3(hdmistd, color_type);
        std::puts("HDMI input SetAdv7619 Reset");
        hpd_st = hpd;  // the transmitter is programmed for the display seen now
        return true;
    }
    // Otherwise only the output that failed, so the other one stays undisturbed on air.
    if (!sdi_good) {
        FB_UhdSdi_ReStart();
        std::puts("SDI output Reset");
    }
    if (!hdmi_good) {
        FB_Hdmi_ReStart();
        m_chips.sil9136_3.SetSil9136_3(hdmistd, color_type);
        std::puts("HDMI output Reset");
        hpd_st = hpd;
    }
    return !sdi_good || !hdmi_good;
}

void UhdsdiDevice::FollowGenlockAndHotPlug()
{
    const VideoStd_Index std_next = m_chips.lmh1983.GetLmh1983Format();
    if (std_next != std_curr) {
        Video_Genlock_Std(std_next);
        std_curr = std_next;
    }
    const bool hpd_st_next = FB_Hdmi_Get_Hpd();
    // A path stopped on purpose meanwhile (colour space, invalid standard) is left stopped.
    if (hpd_st_next && !hpd_st && uhdsdi_err_handle_en && VideoStd_IsValid(hdmistd)) {
        m_chips.sil9136_3.SetSil9136_3(hdmistd, color_type);
    }
    hpd_st = hpd_st_next;
}

void UhdsdiDevice::WatchdogCycle()
{
    m_timing.sleep(kWatchdogPeriod);
    if (!uhdsdi_err_handle_en) {
        return;
    }
    bool restarted = false;
    {
        const std::lock_guard<std::mutex> lock(m_video_path);
        // A format change may have begun between the check above and the lock.
        if (!uhdsdi_err_handle_en) {
            return;
        }
        restarted = CheckAndRestart();
    }
    // The pause comes before genlock and hot plug: a display plugged in while a restart
    // programmed the transmitter is not programmed a second time straight after.
    m_timing.sleep(restarted ? kRestartPause : kHealthyPause);
    const std::lock_guard<std::mutex> lock(m_video_path);
    FollowGenlockAndHotPlug();
}
