#include "peripheral/uhdsdi_device/uhdsdi_device.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

#include "platform/hdmi/fb_hdmi.h"
#include "platform/osd/osd.h"
#include "platform/osd/osd_show_timer.h"
#include "platform/uhdsdi/fb_uhdsdi.h"
#include "vantor/board_root.h"
#include "vantor/unique_fd.h"

// Constructed in this order before main, destroyed in reverse; only the reset line touches
// hardware here (it is exported and driven high).
I2c hw_i2c;
Adv7619 hw_adv7619(&hw_i2c);
Ds10Cp hw_ds10cp(&hw_i2c);
Lmh1983 hw_lmh1983(&hw_i2c);
Gpio hw_sil9136_rst(SIL9136_RESET_PIN, GPIO_DIR_OUT, GPIO_LEVEL_HIGH);
Sil9136_3 hw_sil9136_3(&hw_i2c, &hw_sil9136_rst);
SSM2603 hw_ssm2603(&hw_i2c);

std::atomic<bool> uhdsdi_err_handle_en{false};

namespace {

// Guards the video path and the standards and colour space below (written by the event thread,
// read by the watchdog).
std::mutex g_video_path;
VideoStd_Index hdmistd = VID_INVALID;
VideoStd_Index uhdsdistd = VID_INVALID;
OUT_COLOR_SPACE color_type = COLOR_YUV;

constexpr uint32_t kUioKey = 1;
constexpr auto kUioRetry = std::chrono::seconds(1);
constexpr auto kUioErrorPause = std::chrono::milliseconds(100);
constexpr auto kWatchdogPeriod = std::chrono::seconds(10);
constexpr auto kHealthyPause = std::chrono::seconds(2);
constexpr auto kRestartPause = std::chrono::seconds(10);

void format_change()
{
    const std::lock_guard<std::mutex> lock(g_video_path);
    UhdsdiReset();
    hdmistd = OSD_Get_HdmiStd();
    uhdsdistd = OSD_Get_UhdSdiStd();
    color_type = OSD_Get_ColorSpace();
    // Any byte that names no standard (not only 255) leaves the outputs stopped.
    if (!VideoStd_IsValid(hdmistd) || !VideoStd_IsValid(uhdsdistd)) {
        return;
    }
    uhdsdi_err_handle_en = false;
    Video_In_Reg(hdmistd);
    hw_adv7619.SetAdv7619(hdmistd);
    FB_Hdmi_Run_Reg(hdmistd);
    FB_UhdSdi_Run_Reg(uhdsdistd);
    hw_sil9136_3.SetSil9136_3(hdmistd, color_type);
    std::printf("Change HDMI STD Format   = %u\n", static_cast<unsigned>(hdmistd));
    std::printf("Change UHDSDI STD Format = %u\n", static_cast<unsigned>(uhdsdistd));
    uhdsdi_err_handle_en = true;
}

// Opens "/dev/uio1"; while it cannot be opened, says so once and tries again every second (a
// missing device must not spin a core).
vantor::UniqueFd open_uio()
{
    const std::string path = vantor::board_path("/dev/uio1");
    vantor::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
        std::puts("can't open!");
    }
    while (!fd) {
        std::this_thread::sleep_for(kUioRetry);
        fd.reset(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY));
    }
    return fd;
}

// Re-arms the interrupt and waits for it. The length of the read, or -1.
ssize_t wait_interrupt(int fd)
{
    const uint32_t key = kUioKey;
    if (::write(fd, &key, sizeof key) != static_cast<ssize_t>(sizeof key)) {
        return -1;
    }
    uint32_t value = 0;
    return ::read(fd, &value, sizeof value);
}

void carry_out(OSD_CmdList cmd, OsdShowTimer& show)
{
    switch (cmd) {
    case OSD_CMD_STD:
        format_change();
        break;
    case OSD_CMD_AUDIO: {
        const std::lock_guard<std::mutex> lock(g_video_path);
        const bool audsw = OSD_Get_AudSw();
        std::printf("OSD_CMD_AUDIO =  %d\n", audsw ? 1 : 0);
        FB_Hdmi_Set_AudSw(audsw ? 1 : 0);
        FB_UhdSdi_Set_AudSw(audsw ? 1 : 0);
        break;
    }
    case OSD_COLOR_SPACE: {
        const std::lock_guard<std::mutex> lock(g_video_path);
        color_type = OSD_Get_ColorSpace();
        std::puts(color_type == COLOR_YUV ? "ColorSpace = YUV" : "ColorSpace = RGB");
        UhdsdiReset();
        break;
    }
    case OSD_DEVICE_MAC: {
        uint32_t mac_addr[OSD_MAC_BYTES / sizeof(uint32_t)] = {};
        OSD_Get_Mac(mac_addr);
        std::printf("mac addr = %.12s\n", reinterpret_cast<const char*>(mac_addr));
        break;
    }
    case OSD_CMD_POSITION:
        show.position(std::clock());
        break;
    case OSD_CMD_CLEAR:
        show.cancel();
        OSD_Clear_Display();
        std::puts("OSD_Clear() ");
        break;
    default:
        break;
    }
}

// One watchdog cycle after the enable flag was seen set; runs under the video-path lock.
void check_video_path(VideoStd_Index& std_curr, bool& hpd_st, bool& restarted)
{
    const bool in_locked = Video_In_Locked();
    const bool sdi_good = FB_UhdSdi_Get_Status();
    const bool hdmi_good = hw_sil9136_3.GetSil9136_3_Debug();
    restarted = !(in_locked && sdi_good && hdmi_good);
    if (restarted) {
        hw_adv7619.SetAdv7619(hdmistd);
        FB_Hdmi_ReStart();
        FB_UhdSdi_ReStart();
        hw_sil9136_3.SetSil9136_3(hdmistd, color_type);
        std::puts(!in_locked  ? "HDMI input SetAdv7619 Reset"
                  : !sdi_good ? "SDI output Reset"
                              : "HDMI output Reset");
    }
    const VideoStd_Index std_next = hw_lmh1983.GetLmh1983Format();
    if (std_next != std_curr) {
        Video_Genlock_Std(std_next);
        std_curr = std_next;
    }
    const bool hpd_st_next = FB_Hdmi_Get_Hpd();
    if (hpd_st_next && !hpd_st && hdmistd != VID_INVALID) {
        hw_sil9136_3.SetSil9136_3(hdmistd, color_type);
    }
    hpd_st = hpd_st_next;
}

}  // namespace

void UhdsdiReset()
{
    OSD_Clear_Display();
    FB_Hdmi_Stop_Reg();
    FB_UhdSdi_Stop_Reg();
}

void UhdsdiInitPeripheral()
{
    hw_lmh1983.SetLmh1983();
    hw_ds10cp.SetDs10Cp(HDMI_INT_SDI_ASYNC);
    (void)hw_ssm2603.StartSSM2603();
    (void)hw_ssm2603.EnableSSM2603();
    hw_lmh1983.SetLmh1983();
    OSD_PlatformRdy();
}

void* uhdsdi_device_handle(void* /*arg*/)
{
    {
        const std::lock_guard<std::mutex> lock(g_video_path);
        UhdsdiReset();
        UhdsdiInitPeripheral();
    }
    std::puts("Platform Rdy----Done !");
    OsdShowTimer show;
    const vantor::UniqueFd fd = open_uio();
    ssize_t length = 0;
    for (;;) {
        if (show.pending()) {
            // No interrupt is awaited while a show is pending: the channel is polled.
            if (show.due(std::clock())) {
                OSD_Show();
                std::puts("OSD_Show()  ");
            }
        } else {
            length = wait_interrupt(fd.get());
            const bool interrupted = length < 0 && errno == EINTR;
            if (length != static_cast<ssize_t>(sizeof(uint32_t)) && !interrupted) {
                // A device that fails or ends at once (hung up) is retried at a calm pace.
                std::this_thread::sleep_for(kUioErrorPause);
            }
        }
        if (length != static_cast<ssize_t>(sizeof(uint32_t)) && !show.pending()) {
            continue;
        }
        uint8_t value = 0;
        if (!OSD_Read_Cmd(&value)) {
            continue;
        }
        carry_out(Osd_Cmd_Extract(value), show);
    }
    return nullptr;
}

void* uhdsdi_err_handle(void* /*arg*/)
{
    VideoStd_Index std_curr = VID_INVALID;
    bool hpd_st = false;
    for (;;) {
        std::this_thread::sleep_for(kWatchdogPeriod);
        if (!uhdsdi_err_handle_en) {
            continue;
        }
        bool restarted = false;
        {
            const std::lock_guard<std::mutex> lock(g_video_path);
            // A format change may have begun between the check above and the lock.
            if (!uhdsdi_err_handle_en) {
                continue;
            }
            check_video_path(std_curr, hpd_st, restarted);
        }
        std::this_thread::sleep_for(restarted ? kRestartPause : kHealthyPause);
    }
    return nullptr;
}
