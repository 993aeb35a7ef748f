// Encode control: the member defaults, the encoder device's open and close, the start and stop of
// encoding with its worker threads, and the description of the outgoing pictures per video format.

#include "NdiTransmitter/NdiTransmitter.h"

#include <cstdio>
#include <string>

#include "NdiTransmitter/ndi_sender_config.h"
#include "vantor/board_root.h"
#include "vantor/file_io.h"

namespace {

constexpr const char* kVOutputInterfacePath = "/etc/vantor-VOutput-Interface";

// Pause between the steps of the encoder's reset pulse.
constexpr std::chrono::milliseconds kResetPulseStep{50};

// How long a stop lets the frame thread's current wait return by itself (a frame or the device's
// own time-out) before it gives the wait up.
constexpr std::chrono::milliseconds kFrameWaitGrace{500};

// Input configuration of request 12: the camera's low-latency output, or the default input.
constexpr std::int32_t kInputConfigLowLatency = 0;
constexpr std::int32_t kInputConfigDefault = 7;

void print_line(const char* text)
{
    std::puts(text);
    std::fflush(stdout);
}

// Program size, rates and flags of one video format code.
struct FormatDescription {
    int code;
    int xres;
    int yres;
    int prog_rate_N;
    int prog_rate_D;
    int prev_rate_N;
    int prev_rate_D;
    bool interlaced_field;
    bool skip_prev_frame_en;
};

// Rates stay as the fractions the encoder was built around (25 frames per second is 30000/1200).
// 1080p23.97 previews run at 30000/1001, not 24000/1001. Interlaced formats send each field as a
// picture of half height; formats at 50 frames per second and above preview every second frame.
constexpr FormatDescription kFormats[] = {
    {1, 1920, 1080, 24000, 1001, 30000, 1001, false, false},
    {2, 1920, 1080, 24000, 1000, 24000, 1000, false, false},
    {3, 1920, 1080, 30000, 1200, 30000, 1200, false, false},
    {4, 1920, 1080, 30000, 1001, 30000, 1001, false, false},
    {5, 1920, 1080, 30000, 1000, 30000, 1000, false, false},
    {6, 1280, 720, 60000, 1200, 30000, 1200, false, true},
    {7, 1280, 720, 60000, 1001, 30000, 1001, false, true},
    {8, 1280, 720, 60000, 1000, 30000, 1000, false, true},
    {19, 1920, 540, 30000, 1200, 30000, 1200, true, true},
    {20, 1920, 540, 30000, 1001, 30000, 1001, true, true},
    {21, 1920, 540, 30000, 1000, 30000, 1000, true, true},
    {41, 1920, 1080, 60000, 1200, 30000, 1200, false, true},
    {42, 1920, 1080, 60000, 1001, 30000, 1001, false, true},
    {43, 1920, 1080, 60000, 1000, 30000, 1000, false, true},
    {49, 3840, 2160, 24000, 1001, 24000, 1001, false, false},
    {50, 3840, 2160, 24000, 1000, 24000, 1000, false, false},
    {51, 3840, 2160, 30000, 1200, 30000, 1200, false, false},
    {52, 3840, 2160, 30000, 1001, 30000, 1001, false, false},
    {53, 3840, 2160, 30000, 1000, 30000, 1000, false, false},
};

const FormatDescription* find_format(int vid_format)
{
    for (const FormatDescription& format : kFormats) {
        if (format.code == vid_format) {
            return &format;
        }
    }
    return nullptr;
}

constexpr float kAspect16by9 = 16.0F / 9.0F;
constexpr int kPreviewWidth = 640;
constexpr int kPreviewHeight = 360;

}  // namespace

NdiTransmitter::NdiTransmitter() = default;

NdiTransmitter::~NdiTransmitter()
{
    if (encodeRunning.load() || wait_ndi_frame_thread.joinable() ||
        send_ndi_frame_prog_thread.joinable() || send_ndi_frame_prev_thread.joinable() ||
        encode_settings_thread.joinable() || send_audio_frame_thread.joinable()) {
        stop_encode();
    }
}

void NdiTransmitter::map_NdiTransmitter_mem(int /*map_fd*/)
{
    print_line("Open m_vantorspeedhqDevice");
    if (!m_vantorspeedhqDevice.open()) {
        print_line("Failed to open the vantor-speedhq device");
    }
    m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_STOP);
    std::int32_t low_ac = 1;
    m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_LOW_AC, low_ac);
    std::int32_t switch_buff = 1;
    m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_SWITCH_BUFF, switch_buff);
}

void NdiTransmitter::unmap_NdiTransmitter_mem()
{
    m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_STOP);
    print_line("Close m_vantorspeedhqDevice");
    m_vantorspeedhqDevice.close();
}

void NdiTransmitter::start_encode(int vid_format, int video_uv_vu_en)
{
    std::int32_t input_config = kInputConfigDefault;
    if (CheckCameraisLowLatency()) {
        input_config = kInputConfigLowLatency;
        print_line("VIDEO in mode NDI");
    } else {
        print_line("VIDEO in mode DEF");
    }
    m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_VIN_INSEL, input_config);

    print_line("Setup encode");
    std::int32_t dci = 0;
    m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_DCI, dci);
    m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_STOP);
    std::int32_t uv_vu = video_uv_vu_en;
    m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_VM_UV_VU, uv_vu);

    std::printf("video format passed %x\n", static_cast<unsigned>(vid_format));
    std::fflush(stdout);

    std::int32_t encoder_mode = VANTOR_SPEEDHQ_MODE_1080P;
    std::int32_t video_2k_4k_en = 0;
    if (vid_format >= 6 && vid_format <= 8) {
        encoder_mode = VANTOR_SPEEDHQ_MODE_720P;
    } else if (vid_format >= 19 && vid_format <= 21) {
        encoder_mode = VANTOR_SPEEDHQ_MODE_1080I;
    } else if (vid_format >= 49 && vid_format <= 53) {
        encoder_mode = VANTOR_SPEEDHQ_MODE_2160P;
        video_2k_4k_en = 1;
    }
    m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_MODE_SEL, encoder_mode);
    m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_VM_2k_4k, video_2k_4k_en);

    // Reset pulse; the encoder is left stopped and the frame thread starts it.
    m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_STOP);
    std::this_thread::sleep_for(kResetPulseStep);
    m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_START);
    std::this_thread::sleep_for(kResetPulseStep);
    m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_STOP);
    std::this_thread::sleep_for(kResetPulseStep);

    print_line("setup_video_frame");
    setup_video_frame(vid_format);

    print_line("startencodeThreads");
    encodeRunning.store(true);
    print_line("creat_encode_threads");
    creat_encode_threads(0);
}

void NdiTransmitter::creat_encode_threads(int /*unused*/)
{
    {
        const std::lock_guard<std::mutex> lock(m_pause_lock);
        m_frame_loop_left = false;
    }
    wait_ndi_frame_thread = std::thread(&NdiTransmitter::wait_ndi_frame, this);
    send_ndi_frame_prog_thread = std::thread(&NdiTransmitter::send_full, this);
    send_ndi_frame_prev_thread = std::thread(&NdiTransmitter::send_prvw, this);
    encode_settings_thread = std::thread(&NdiTransmitter::encode_settings, this);

    start_audio();
}

void NdiTransmitter::stop_encode()
{
    print_line("stopencodeThreads");
    {
        // Under the lock, so that a worker between its flag test and its pause cannot miss the
        // wake-up.
        const std::lock_guard<std::mutex> lock(m_pause_lock);
        encodeRunning.store(false);
    }
    m_pause_condvar.notify_all();
    print_line("distroy_encode_threads");

    // The frame thread queues the end marks on its way out, which releases the send threads. It
    // leaves once its current frame wait returns; a stalled device that never answers would hold
    // the stop for good, so a wait still running after the grace period is given up.
    if (wait_ndi_frame_thread.joinable()) {
        if (!frame_thread_leaves_within(kFrameWaitGrace)) {
            print_line("frame wait given up at stop");
            m_vantorspeedhqDevice.cancel_waits();
        }
        wait_ndi_frame_thread.join();
        m_vantorspeedhqDevice.resume_waits();
    }
    print_line("STOP wait_ndi_frame_thread");
    if (send_ndi_frame_prog_thread.joinable()) {
        send_ndi_frame_prog_thread.join();
    }
    print_line("STOP send_ndi_frame_prog_thread");
    if (send_ndi_frame_prev_thread.joinable()) {
        send_ndi_frame_prev_thread.join();
    }
    print_line("STOP send_ndi_frame_prev_thread");
    if (encode_settings_thread.joinable()) {
        encode_settings_thread.join();
    }
    print_line("STOP encode_settings_thread");

    stop_audio();
    print_line("STOP send_audio_frame_thread");

    m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_STOP);
}

bool NdiTransmitter::pause_while_running(std::chrono::milliseconds pause)
{
    std::unique_lock<std::mutex> lock(m_pause_lock);
    m_pause_condvar.wait_for(lock, pause, [this] { return !encodeRunning.load(); });
    return encodeRunning.load();
}

bool NdiTransmitter::frame_thread_leaves_within(std::chrono::milliseconds grace)
{
    std::unique_lock<std::mutex> lock(m_pause_lock);
    return m_pause_condvar.wait_for(lock, grace, [this] { return m_frame_loop_left; });
}

void NdiTransmitter::setup_video_frame(int vid_format)
{
    std::int32_t cs_sel = encoder_pix_format_420;
    m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_CS_SEL, cs_sel);
    print_line(encoder_pix_format_420 == 1 ? "SET PROG SR 420" : "SET PROG SR 422");

    // The SpeedHQ codes are of the runtime's compressed-code type: cast to the frame's field.
    prog_info_frame.FourCC = static_cast<NDIlib_FourCC_video_type_e>(
        encoder_pix_format_420 == 1 ? NDIlib_FourCC_type_SHQ0_highest_bandwidth
                                    : NDIlib_FourCC_type_SHQ2_highest_bandwidth);
    prev_info_frame.FourCC =
        static_cast<NDIlib_FourCC_video_type_e>(NDIlib_FourCC_type_SHQ0_lowest_bandwidth);
    prog_info_frame.picture_aspect_ratio = kAspect16by9;
    prev_info_frame.picture_aspect_ratio = kAspect16by9;
    prog_info_frame.frame_format_type = NDIlib_frame_format_type_progressive;
    prev_info_frame.frame_format_type = NDIlib_frame_format_type_progressive;
    prog_info_frame.data_size_in_bytes = 0;
    prev_info_frame.xres = kPreviewWidth;
    prev_info_frame.yres = kPreviewHeight;

    const FormatDescription* format = find_format(vid_format);
    if (format == nullptr) {
        return;
    }
    prog_info_frame.xres = format->xres;
    prog_info_frame.yres = format->yres;
    prog_info_frame.frame_rate_N = format->prog_rate_N;
    prog_info_frame.frame_rate_D = format->prog_rate_D;
    prev_info_frame.frame_rate_N = format->prev_rate_N;
    prev_info_frame.frame_rate_D = format->prev_rate_D;
    interlaced_field = format->interlaced_field;
    skip_prev_frame_en = format->skip_prev_frame_en;
}

bool NdiTransmitter::CheckCameraisLowLatency()
{
    std::string value;
    if (!read_after_last_line_break(kVOutputInterfacePath, value)) {
        return false;
    }
    std::printf("%s %s\n", kVOutputInterfacePath, value.c_str());
    std::fflush(stdout);
    return !value.empty() && value == "LowLatency";
}
