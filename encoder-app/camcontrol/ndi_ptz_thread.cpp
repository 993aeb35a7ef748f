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
    while (camcontrol_ndi_Running) {
        if (NDIlib_send_capture(ndi_tx_inst, &ptz_cmd, kCaptureTimeoutMs) !=
            NDIlib_frame_type_metadata) {
            // Captured commands stay announced until the engine has taken their buffer: the
            // engine's swap count, unlike the buffer index, never comes back to the same value.
            m_visca.m_visca_ndi_event_cond = m_visca.captured_not_taken();
            m_visca.m_visca_ndi_event.notify();
            continue;
        }
        while (ndi_other_source_busy() && camcontrol_ndi_Running) {
            std::this_thread::sleep_for(kBusyPoll);
        }
        // Stopped while waiting: the frame is handled only when nothing is busy any more.
        if (!ndi_other_source_busy()) {
            camcontrol_capture_ndi(&ptz_cmd);
        }
        NDIlib_send_free_metadata(ndi_tx_inst, &ptz_cmd);
        ptz_cmd = NDIlib_metadata_frame_t();
        m_visca.notify_captured();
    }
    m_visca.notify_captured();
}
