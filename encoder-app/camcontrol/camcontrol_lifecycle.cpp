#include <algorithm>
#include <cstdio>
#include <mutex>

#include "camcontrol/Camcontrol.h"
#include "main/video_format.h"
#include "vantor/board_root.h"
#include "vantor/file_io.h"

namespace {

constexpr const char* kHardwareVersionPath = "/etc/vantor-hardware-version";
constexpr int kFormatResendPasses = 30;
constexpr auto kWebUIPausePoll = std::chrono::milliseconds(10);
// Longest sleep between two looks at camcontrol_interrupted while a wait pauses.
constexpr auto kInterruptCheck = std::chrono::milliseconds(20);

void join_if_started(std::thread& thread)
{
    if (thread.joinable()) {
        thread.join();
    }
}

}  // namespace

uint32_t camcontrol_expected_camera_format(uint32_t video_format)
{
    switch (video_format) {
    case video_format_1080_23_95p:
    case video_format_1080_24p:
        return video_format_1080_24p;
    case video_format_1080_25p:
    case video_format_720_50p:
    case video_format_1080_25i:
    case video_format_1080_50p:
        return video_format_1080_50p;
    case video_format_1080_29p:
    case video_format_1080_30p:
    case video_format_720_59p:
    case video_format_720_60p:
    case video_format_1080_29i:
    case video_format_1080_30i:
    case video_format_1080_59p:
    case video_format_1080_60p:
        return video_format_1080_59p;
    case video_format_2160_23_95p:
    case video_format_2160_24p:
        return video_format_2160_24p;
    default:
        return video_format;
    }
}

void Camcontrol::pause_unless_interrupted(std::chrono::milliseconds period) const
{
    const auto end = std::chrono::steady_clock::now() + period;
    while (!camcontrol_interrupted) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) {
            return;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(end - now, kInterruptCheck));
    }
}

int Camcontrol::cam_init_Camcontrol(unsigned /*video_format*/)
{
    // The line is not open yet: preset requests wait for the web-UI thread.
    PTZGetWebUISpeeds();
    m_visca.camBr = B9600;
    m_visca.camAddress = 1;
    m_visca.init_visca();
    // Retried without limit while the camera does not answer; only disabling camera control or an
    // interruption (SIGINT) ends the wait without it.
    while (Camcontrol_en && !camcontrol_interrupted) {
        const bool answered = m_visca.visca_r8t_init();
        pause_unless_interrupted(camera_poll_period);
        if (camcontrol_interrupted) {
            break;
        }
        if (answered) {
            return 1;
        }
    }
    return 0;
}

void Camcontrol::init_Camcontrol()
{
    Camcontrol_en = true;
    GetCamVersion();
    // The service threads (NDI metadata, status inquiry, VISCA over IP and discovery, proprietary
    // channel, tally) are started here in that order as they arrive, before the web-UI
    // synchronisation.
    // The metadata and tally threads serve the main sender: without one there is nothing to
    // receive.
    camcontrol_ndi_Running = true;
    if (ndi_tx_inst != nullptr && !camcontrol_ndi_thread.joinable()) {
        camcontrol_ndi_thread = std::thread(&Camcontrol::camcontrol_ndi, this);
    }
    camcontrol_inq_misc_Running = true;
    if (!camcontrol_inq_misc_thread.joinable()) {
        camcontrol_inq_misc_thread = std::thread(&Camcontrol::camcontrol_inq_misc, this);
    }
    camcontrol_init_voip();
    camcontrol_init_vtip();
    ndi_tally_Running = true;
    if (ndi_tx_inst != nullptr && !ndi_tally_thread.joinable()) {
        ndi_tally_thread = std::thread(&Camcontrol::ndi_tally, this);
    }
    camcontrol_webui_Running = true;
    if (!camcontrol_webui_thread.joinable()) {
        camcontrol_webui_thread = std::thread(&Camcontrol::camcontrol_webui, this);
    }
}

int Camcontrol::GetCamVersion()
{
    std::string content;
    if (!vantor::read_file(vantor::board_path(kHardwareVersionPath), content)) {
        content.clear();
    }
    const std::string line = content.substr(0, content.find('\n'));
    if (line == "Vantor OPTA S700") {
        enum_camera_version = S700;
    } else if (line == "Vantor OPTA R8T") {
        enum_camera_version = R8T;
    } else {
        enum_camera_version = PNone;
    }
    return 0;
}

int Camcontrol::set_vid_fmt_Camcontrol(uint32_t video_format)
{
    m_visca.vid_fmt_switch = true;
    while (!camcontrol_webui_pause && m_visca.exec_visca_Running && !camcontrol_interrupted) {
        std::this_thread::sleep_for(kWebUIPausePoll);
    }
    if (camcontrol_interrupted) {
        m_visca.vid_fmt_switch = false;
        return 0;
    }

    m_visca.close_osd();
    video_format_unit = video_format;
    std::printf("vid_format_change %x\n", video_format);
    std::fflush(stdout);
    const auto requested = static_cast<int>(video_format);
    m_visca.vid_format_change(requested);

    const uint32_t video_format_un_scale = camcontrol_expected_camera_format(video_format);
    auto reported = static_cast<uint32_t>(m_visca.vid_format_get());
    int count_cycle = 0;
    while (reported != video_format_un_scale && Camcontrol_en && !camcontrol_interrupted) {
        if (count_cycle == kFormatResendPasses) {
            m_visca.vid_format_change(requested);
            count_cycle = 0;
        } else {
            ++count_cycle;
        }
        reported = static_cast<uint32_t>(m_visca.vid_format_get());
        pause_unless_interrupted(camera_poll_period);
    }
    m_visca.vid_fmt_switch = false;
    return 0;
}

void Camcontrol::deinit_Camcontrol()
{
    ndi_tally_Running = false;
    join_if_started(ndi_tally_thread);
    std::puts("STOP ndi_tally_thread");

    Camcontrol_en = false;
    {
        // A preset request under way is sent before the line closes; later ones stay in their
        // files.
        const std::lock_guard<std::mutex> lock(preset_request_mutex);
        m_visca.deinit_visca();
    }

    camcontrol_ndi_Running = false;
    join_if_started(camcontrol_ndi_thread);
    std::puts("STOP camcontrol_ndi_thread");

    camcontrol_inq_misc_Running = false;
    join_if_started(camcontrol_inq_misc_thread);

    camcontrol_voip_Running = false;
    join_if_started(camcontrol_voip_thread);
    join_if_started(camcontrol_voip_search_thread);

    camcontrol_vtip_Running = false;
    join_if_started(camcontrol_vtip_thread);

    camcontrol_webui_Running = false;
    join_if_started(camcontrol_webui_thread);
    std::puts("STOP camcontrol_webui_thread");
    std::fflush(stdout);
}
