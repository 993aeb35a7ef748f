#include <mutex>
#include <thread>

#include "camcontrol/Camcontrol.h"

// The web-UI synchronisation thread: one step of a 14-step cycle every step period. Even steps
// 0-12 read one block of camera state; after the first full cycle each of them also reconciles
// one group of settings with its file. The thread stands aside while another command source is
// busy on the line.

namespace {

constexpr int kCycleSteps = 14;

}  // namespace

void Camcontrol::webui_cycle_step(int step)
{
    const bool reconcile = !bInitUI;
    switch (step) {
    case 0:
        BlockINQ10();
        if (reconcile) {
            ExposureUpdateWebUIMCU(true);
        }
        break;
    case 2:
        BlockINQ11();
        if (reconcile) {
            WhiteBalanceUpdateWebUIMCU(true);
        }
        break;
    case 4:
        BlockINQ12();
        if (reconcile) {
            PictureUpdateWebUIMCU(true);
        }
        break;
    case 6:
        BlockINQ13();
        if (reconcile) {
            DetailUpdateWebUIMCU(true);
        }
        break;
    case 8:
        BlockINQ14();
        if (reconcile) {
            GammaUpdateWebUIMCU(true);
        }
        break;
    case 10:
        BlockINQ15();
        if (reconcile) {
            ExposureUpdateWebUIMCU(true);
        }
        break;
    case 12:
        BlockINQ16();
        if (reconcile) {
            WhiteBalanceUpdateWebUIMCU(true);
        }
        break;
    case 13:
        bInitUI = false;
        break;
    default:
        break;
    }
}

bool Camcontrol::webui_other_source_busy() const
{
    return m_visca.m_visca_ndi_event_cond || camcontrol_voip_det_cmd || m_visca.vid_fmt_switch;
}

bool Camcontrol::webui_may_step()
{
    if (webui_other_source_busy()) {
        return false;
    }
    // Publish that the thread no longer stands aside, then look again. A format change sets its
    // flag and then reads the pause flag (all sequentially consistent): either it reads false and
    // waits for this step, or this second look sees its flag.
    camcontrol_webui_pause = false;
    return !webui_other_source_busy();
}

void Camcontrol::camcontrol_webui()
{
    {
        const std::lock_guard<std::mutex> values(webui_values_mutex);
        setup_webui_cmd_list();
    }
    bInitUI = true;
    webui_step = 0;
    while (camcontrol_webui_Running) {
        if (!webui_may_step()) {
            camcontrol_webui_pause = true;
            std::this_thread::sleep_for(webui_pause_period);
            continue;
        }
        if (webui_before_step) {
            webui_before_step();
        }
        {
            // Held for the whole step; the status reply reads the values (atomics) without it.
            const std::lock_guard<std::mutex> values(webui_values_mutex);
            webui_cycle_step(webui_step);
        }
        PTZGetWebUIValues();
        std::this_thread::sleep_for(webui_step_period);
        webui_step = (webui_step + 1) % kCycleSteps;
    }
}
