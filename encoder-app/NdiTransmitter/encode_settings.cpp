// The settings watcher: once a period it checks that the encoder still completes frames, sets the
// encoder's target picture sizes and follows the tally and audio-routing switches of the encoder
// settings file.

#include <climits>
#include <cstdlib>
#include <string>

#include "HelperLib/HelperLib.h"
#include "NdiTransmitter/NdiTransmitter.h"

namespace {

constexpr const char* kEncoderSettingsPath = "/etc/vantor-enc1-settings.json";

constexpr double kPreviewBytesPerSecond = 1250000.0;         // 10 Mbit/s
constexpr double kDefaultManualBytesPerSecond = 15000000.0;  // 120 Mbit/s
constexpr double kBytesPerMbit = 125000.0;
constexpr std::int32_t kQualitySelect = 0;
constexpr std::int32_t kQualityFactor = 62;
// Checks in a row without a new frame after which the encoder counts as stalled.
constexpr int kStuckChecks = 30;

// Whole pictures per second of a rate fraction, as the encoder's sizing uses it (29 for
// 30000/1001); 0 for a rate that is not positive.
int whole_rate(const NDIlib_video_frame_v2_t& info)
{
    if (info.frame_rate_N <= 0 || info.frame_rate_D <= 0) {
        return 0;
    }
    return info.frame_rate_N / info.frame_rate_D;
}

// A byte size truncated to int; sizes the int cannot hold (an absurd setting, a rate of 0) are
// limited to its range rather than left to an undefined conversion.
int size_to_int(double size)
{
    if (!(size >= 0.0)) {
        return 0;
    }
    if (size >= static_cast<double>(INT_MAX)) {
        return INT_MAX;
    }
    return static_cast<int>(size);
}

// The decimal number at the start of `text`, 0 when there is none.
double parse_mbits(const std::string& text)
{
    return static_cast<double>(std::strtoll(text.c_str(), nullptr, 10));
}

}  // namespace

void NdiTransmitter::encode_settings()
{
    const int preview_rate = whole_rate(prev_info_frame);
    const int bit_rate_prev =
        preview_rate > 0 ? size_to_int(kPreviewBytesPerSecond / preview_rate) : 0;
    DeTectStuck.store(false);
    DeTectStuckCount = 0;
    std::int32_t q_sel = kQualitySelect;
    std::int32_t ndi_q_f = kQualityFactor;

    while (encodeRunning.load()) {
        // Stall check: the frame thread counts every frame the device announces.
        const int frames = FrameSentCount.load();
        if (frames == FrameSentCountComp) {
            ++DeTectStuckCount;
            if (DeTectStuckCount > kStuckChecks) {
                DeTectStuck.store(true);
            }
        } else {
            FrameSentCountComp = frames;
            DeTectStuckCount = 0;
        }

        // Program target size: from the manual bandwidth or from the runtime's recommendation.
        // Interlaced formats send each field as its own picture, so a picture gets half.
        double bit_rate_get = 0.0;
        if (GetJsonString(kEncoderSettingsPath, "BandwidthMode") == "Manual") {
            const std::string select = GetJsonString(kEncoderSettingsPath, "BandwidthSelect");
            const double bytes_per_second = select == "NULL" ? kDefaultManualBytesPerSecond
                                                             : parse_mbits(select) * kBytesPerMbit;
            const int program_rate = whole_rate(prog_info_frame);
            bit_rate_get = program_rate > 0 ? bytes_per_second / program_rate : 0.0;
        } else {
            bit_rate_get = NDIlib_send_get_target_frame_size(ndi_tx_inst, &prog_info_frame);
        }
        if (interlaced_field) {
            bit_rate_get *= 0.5;
        }
        bit_rate.store(size_to_int(bit_rate_get));

        std::int32_t program_size = bit_rate.load();
        std::int32_t preview_size = bit_rate_prev;
        m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_SEL_Q, q_sel);
        m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_Q_val, ndi_q_f);
        m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_SET_BR_PROG, program_size);
        m_vantorspeedhqDevice.request(VANTOR_SPEEDHQ_IOCTL_SET_BR_PREV, preview_size);
        q_sel = kQualitySelect;
        ndi_q_f = kQualityFactor;

        tally_en.store(GetJsonString(kEncoderSettingsPath, "TallyMode") == "TallyOn");
        NDIAudioMain.store(GetJsonString(kEncoderSettingsPath, "NDIAudio") == "NDIAudioAnalog");

        pause_while_running(settings_period);
    }
}
