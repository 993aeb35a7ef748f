#include <chrono>
#include <cstdio>
#include <thread>

#include "camcontrol/Camcontrol.h"

// The NDI metadata thread: receives PTZ metadata on the main sender, waits while VISCA over IP,
// the proprietary channel or a format change is busy, hands each frame to the handler and wakes
// the engine. A pass without metadata tells the engine nothing is captured, which also makes the
// web-UI thread step again.

namespace {

constexpr uint32_t kCaptureTimeoutMs = 100;
constexpr auto kBusyPoll = std::chrono::milliseconds(1);

}  // namespace

bool Camcontrol::ndi_other_source_busy() const
{
    return camcontrol_vtip_det_cmd || camcontrol_voip_det_cmd || m_visca.vid_fmt_switch;
}

void Camcontrol::camcontrol_ndi()
{
    std::puts("camcontrol_ndi");
    std::fflush(stdout);
    {
        int index = -1;
        const auto lock = m_visca.lock_capture_buffer(index);
        m_visca.cam_focus_mode[index].cmd[4] = 0x02;
        m_visca.cam_focus_mode[index].cmd_fill = true;
        camcontrol_focus_auto = true;
    }
    // The capture buffer the last frame was handled into. A time-out clears the captured flag
    // only once the engine has taken that buffer (swapped): an engine busy on the line for longer
    // than a capture time-out would otherwise leave the last commands of a burst, often the
    // operator's stop, in the table until the next frame.
    int last_filled = -1;
    while (camcontrol_ndi_Running) {
        if (NDIlib_send_capture(ndi_tx_inst, &ptz_cmd, kCaptureTimeoutMs) !=
            NDIlib_frame_type_metadata) {
            m_visca.m_visca_ndi_event_cond = last_filled == m_visca.cap_cmd_index;
            m_visca.m_visca_ndi_event.notify();
            continue;
        }
        while (ndi_other_source_busy() && camcontrol_ndi_Running) {
            std::this_thread::sleep_for(kBusyPoll);
        }
        // Stopped while waiting: the frame is handled only when nothing is busy any more.
        if (!ndi_other_source_busy()) {
            camcontrol_capture_ndi(&ptz_cmd);
            last_filled = m_visca.cap_cmd_index;
        }
        NDIlib_send_free_metadata(ndi_tx_inst, &ptz_cmd);
        ptz_cmd = NDIlib_metadata_frame_t();
        m_visca.notify_captured();
    }
    m_visca.notify_captured();
}
