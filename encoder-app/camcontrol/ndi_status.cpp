#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "camcontrol/Camcontrol.h"

// Camera states the web-UI loop does not read (mute, back light, power, version), polled by the
// status thread, and the status reply that answers an ntk_ptz_inq_command.

namespace {

constexpr uint8_t MUTE_INQUIRY_CMD[2] = {0x04, 0x75};
constexpr uint8_t BACKLIGHT_INQUIRY_CMD[2] = {0x04, 0x33};
constexpr uint8_t POWER_STATUS_INQUIRY_CMD[2] = {0x04, 0x00};

uint8_t low_byte(const Camcontrol::webui_cmd_str& binding)
{
    return static_cast<uint8_t>(binding.sys_val & 0xFFU);
}

}  // namespace

void Camcontrol::camcontrol_inq_misc()
{
    const auto wait = [this](std::chrono::steady_clock::time_point until) {
        // Sliced, so that a stop is seen within a slice rather than a whole cycle.
        constexpr auto kSlice = std::chrono::milliseconds(50);
        while (camcontrol_inq_misc_Running && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                kSlice, until - std::chrono::steady_clock::now()));
        }
    };
    wait(std::chrono::steady_clock::now() + inq_misc_start_delay);
    // The version inquiry leaves `version` unchanged when no valid reply came.
    uint16_t version = m_nCam_Version;
    if (camcontrol_inq_misc_Running) {
        m_visca.cam_version_get(version);
        m_nCam_Version = version;
    }
    int inq_count = 0;
    while (camcontrol_inq_misc_Running) {
        const auto start = std::chrono::steady_clock::now();
        uint8_t value = 0;
        if (inq_count == 0) {
            if (m_visca.visca_commandinquiry(MUTE_INQUIRY_CMD[0], MUTE_INQUIRY_CMD[1], value)) {
                m_nMute = value;
            }
            m_visca.cam_version_get(version);
            m_nCam_Version = version;
        } else {
            if (m_visca.visca_commandinquiry(BACKLIGHT_INQUIRY_CMD[0], BACKLIGHT_INQUIRY_CMD[1],
                                             value)) {
                m_nBlackLight = value;
            }
            if (m_visca.visca_commandinquiry(POWER_STATUS_INQUIRY_CMD[0],
                                             POWER_STATUS_INQUIRY_CMD[1], value)) {
                m_nPowerStatus = value;
            }
        }
        wait(start + inq_misc_period);
        inq_count = (inq_count + 1) % 2;
    }
}

std::string Camcontrol::status_reply_text(uint16_t sequence_number) const
{
    struct Field {
        const char* separator;
        const char* name;
        uint32_t value;
    };
    const char* const kSpace = " ";
    const char* const kBreak = " \n\t\t";
    const Field fields[] = {
        {kSpace, "Sn", sequence_number},
        {kSpace, "ExposureMode", low_byte(Exposure_ExpMode)},
        {kBreak, "BGain", low_byte(WhiteBalance_BlueGain)},
        {kSpace, "RGain", low_byte(WhiteBalance_RedGain)},
        {kSpace, "WhiteBalanceMode", low_byte(WhiteBalance_WbMode)},
        {kSpace, "Iris", low_byte(Exposure_IrisLevel)},
        {kSpace, "Shutter", low_byte(Exposure_ShutterSpeed)},
        {kSpace, "Bright", low_byte(Exposure_BrightLevel)},
        {kSpace, "Gain", low_byte(Exposure_GainLevel)},
        {kSpace, "Flip", low_byte(Picture_Flip)},
        {kBreak, "Focus", m_nFocusMode},
        {kSpace, "Mute", m_nMute},
        {kSpace, "MenuDisplay", m_nMenuDisplay},
        {kSpace, "BackLight", m_nBlackLight},
        {kSpace, "Freeze", m_nFreeze},
        {kSpace, "PowerStatus", m_nPowerStatus},
        {kSpace, "CamVer", m_nCam_Version},
    };
    std::string text = "<vtb_ptz_reply_message";
    for (const Field& field : fields) {
        text += field.separator;
        text += field.name;
        text += "=\"" + std::to_string(field.value) + "\"";
    }
    text += "/>";
    return text;
}

void Camcontrol::res_ndi_inq_blk()
{
    // The values are atomics: read without the web-UI thread's lock, which that thread holds for
    // a whole step (seconds with a silent camera) while this runs under the capture lock.
    std::string text = status_reply_text(Sequence_number);
    NDIlib_metadata_frame_t frame(0, NDIlib_send_timecode_synthesize, text.data());
    NDIlib_send_send_metadata(ndi_tx_inst, &frame);
    Sequence_number = static_cast<uint16_t>(Sequence_number + 1U);
}
