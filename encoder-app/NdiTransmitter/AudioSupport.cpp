// The capture device's configuration, the headset samples' conversion to float with the input gain,
// and the device's recovery after a failed read.

#include "NdiTransmitter/AudioSupport.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// 2^-23: maps the 24-bit range to -1.0 ... +1.0 (just under +1.0 at the top).
constexpr float kSampleScale = 1.0F / 8388608.0F;
constexpr std::int32_t kSignBit = 0x800000;
constexpr std::int32_t kSignExtend = 0x1000000;

constexpr double kUnityGainSetting = 50.0;
constexpr double kMinGainSetting = 0.0;
constexpr double kMaxGainSetting = 100.0;

// The period asked for (the driver picks the nearest it supports): one read's block, so that a
// driver, which wakes its reader once per period, hands over each 10 ms block as it is complete.
// A period of 2880 frames (60 ms) makes six blocks leave at once every 60 ms, 50 ms later on
// average (measured on the virtual board's driver-like device: see the module's README).
constexpr snd_pcm_uframes_t kPeriodFrames = AudioFramesPerRead;

// One step of the capture device's configuration: the ALSA call it makes, by name for the message.
struct ConfigStep {
    const char* call;
    int (*apply)(snd_pcm_t* handle, snd_pcm_hw_params_t* params);
};

const ConfigStep kConfigSteps[] = {
    {"snd_pcm_hw_params_any",
     [](snd_pcm_t* handle, snd_pcm_hw_params_t* params) {
         return snd_pcm_hw_params_any(handle, params);
     }},
    {"snd_pcm_hw_params_set_access",
     [](snd_pcm_t* handle, snd_pcm_hw_params_t* params) {
         return snd_pcm_hw_params_set_access(handle, params, SND_PCM_ACCESS_RW_INTERLEAVED);
     }},
    {"snd_pcm_hw_params_set_format",
     [](snd_pcm_t* handle, snd_pcm_hw_params_t* params) {
         return snd_pcm_hw_params_set_format(handle, params, PcmFormat);
     }},
    {"snd_pcm_hw_params_set_channels",
     [](snd_pcm_t* handle, snd_pcm_hw_params_t* params) {
         return snd_pcm_hw_params_set_channels(handle, params, NumChannelsPerAudioDevice);
     }},
    {"snd_pcm_hw_params_set_rate",
     [](snd_pcm_t* handle, snd_pcm_hw_params_t* params) {
         return snd_pcm_hw_params_set_rate(handle, params, AudioSampleRate, 0);
     }},
    {"snd_pcm_hw_params_set_period_size_near",
     [](snd_pcm_t* handle, snd_pcm_hw_params_t* params) {
         snd_pcm_uframes_t frames = kPeriodFrames;
         int direction = 0;
         return snd_pcm_hw_params_set_period_size_near(handle, params, &frames, &direction);
     }},
    // A device's default buffer can be its largest: gigabytes for a plugin device (the virtual
    // board's file plugin over a null device), touched page by page as capture goes round it.
    // Half a second of audio is far more than the reader ever lags by.
    {"snd_pcm_hw_params_set_buffer_size_near",
     [](snd_pcm_t* handle, snd_pcm_hw_params_t* params) {
         snd_pcm_uframes_t frames = AudioCaptureBufferFrames;
         return snd_pcm_hw_params_set_buffer_size_near(handle, params, &frames);
     }},
    {"snd_pcm_hw_params",
     [](snd_pcm_t* handle, snd_pcm_hw_params_t* params) {
         return snd_pcm_hw_params(handle, params);
     }},
};

// The setting as a finite number; false for a text that is anything else (trailing spaces aside).
bool parse_setting(const std::string& text, double& value)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    value = std::strtod(begin, &end);
    if (end == begin) {
        return false;
    }
    while (*end == ' ' || *end == '\t') {
        ++end;
    }
    return *end == '\0' && std::isfinite(value);
}

}  // namespace

AudioSupport::~AudioSupport()
{
    (void)close_device();
}

int AudioSupport::initialiseAudioDevice(snd_pcm_t* pCaptureHandle)
{
    snd_pcm_hw_params_t* params = nullptr;
    int rc = snd_pcm_hw_params_malloc(&params);
    if (rc < 0) {
        std::fprintf(stderr, "'snd_pcm_hw_params_malloc' failed: %s\n", snd_strerror(rc));
        return 1;
    }
    int result = 0;
    for (const ConfigStep& step : kConfigSteps) {
        rc = step.apply(pCaptureHandle, params);
        if (rc < 0) {
            std::fprintf(stderr, "'%s' failed: %s\n", step.call, snd_strerror(rc));
            result = 1;
            break;
        }
    }
    snd_pcm_hw_params_free(params);
    return result;
}

int AudioSupport::getLeS24(const unsigned char* p_data_first, int frm_idx, int frm_inner_idx)
{
    const unsigned char* sample = p_data_first +
                                  static_cast<std::ptrdiff_t>(frm_idx) * AudioRawBlockBytes +
                                  static_cast<std::ptrdiff_t>(frm_inner_idx) * AudioBytesPerSample;
    std::int32_t intVal = static_cast<std::int32_t>(sample[0]) +
                          static_cast<std::int32_t>(sample[1]) * 256 +
                          static_cast<std::int32_t>(sample[2]) * 65536;
    if ((intVal & kSignBit) != 0) {
        intVal -= kSignExtend;
    }
    return static_cast<int>(intVal);
}

float AudioSupport::gain_for_setting(const std::string& value, float previous)
{
    if (value == "NULL") {
        return previous;
    }
    double setting = 0.0;
    if (!parse_setting(value, setting)) {
        if (value != m_reported_gain_text) {
            m_reported_gain_text = value;
            std::printf("AnalogAudioInGain '%s' is not a number: the gain stays as it was\n",
                        value.c_str());
            std::fflush(stdout);
        }
        return previous;
    }
    const double limited = std::clamp(setting, kMinGainSetting, kMaxGainSetting);
    if (limited != setting && value != m_reported_gain_text) {
        m_reported_gain_text = value;
        std::printf("AnalogAudioInGain '%s' is outside 0 to 100: %g used\n", value.c_str(),
                    limited);
        std::fflush(stdout);
    }
    const double db = limited - kUnityGainSetting;
    if (db == 0.0) {
        return 1.0F;
    }
    return static_cast<float>(std::pow(10.0, db / 20.0));
}

bool AudioSupport::convert_block(const unsigned char* raw, snd_pcm_sframes_t frames, float gain)
{
    if (frames != AudioFramesPerRead || NDI_audio_frame.p_data == nullptr) {
        return false;
    }
    for (int i = 0; i < AudioSamplesPerBlock; ++i) {
        NDI_audio_frame.p_data[i] = static_cast<float>(getLeS24(raw, 0, i)) * kSampleScale * gain;
    }
    NDI_audio_frame.no_samples = AudioFramesPerRead;
    return true;
}

bool AudioSupport::recover_after_read(snd_pcm_sframes_t error)
{
    const int code = static_cast<int>(error);
    int rc = snd_pcm_recover(m_pHeadsetAudioCaptureHandle, code, 1);
    if (rc < 0) {
        // Errors the recovery call does not handle (a device left unprepared): prepare afresh.
        rc = snd_pcm_prepare(m_pHeadsetAudioCaptureHandle);
    }
    if (rc >= 0 && snd_pcm_state(m_pHeadsetAudioCaptureHandle) == SND_PCM_STATE_PREPARED) {
        // Prepared again: capture starts anew (a non-blocking reader does not start it).
        rc = snd_pcm_start(m_pHeadsetAudioCaptureHandle);
    }
    if (!m_read_failing) {
        m_read_failing = true;
        if (rc < 0) {
            std::fprintf(stderr, "headset audio read failed: %s; recovery failed: %s\n",
                         snd_strerror(code), snd_strerror(rc));
        } else {
            std::fprintf(stderr, "headset audio read failed: %s; device recovered\n",
                         snd_strerror(code));
        }
    }
    return rc >= 0;
}

int AudioSupport::open_device()
{
    int rc = snd_pcm_open(&m_pHeadsetAudioCaptureHandle, AlsaSndCardDeviceName,
                          SND_PCM_STREAM_CAPTURE, 0);
    if (rc < 0) {
        m_pHeadsetAudioCaptureHandle = nullptr;
        return rc;
    }
    if (initialiseAudioDevice(m_pHeadsetAudioCaptureHandle) != 0) {
        (void)close_device();
        return -EINVAL;
    }
    rc = start_capture();
    if (rc < 0) {
        (void)close_device();
    }
    return rc;
}

int AudioSupport::start_capture()
{
    snd_pcm_t* handle = m_pHeadsetAudioCaptureHandle;
    // Non-blocking reads after waiting with a time-out: the thread sees its stop flag within one
    // wait whatever the device does (a blocked read retries its poll after a signal).
    int rc = snd_pcm_nonblock(handle, 1);
    snd_pcm_sw_params_t* params = nullptr;
    if (rc >= 0) {
        rc = snd_pcm_sw_params_malloc(&params);
    }
    if (rc >= 0) {
        // Woken only for a whole block, so a read never returns part of one.
        rc = snd_pcm_sw_params_current(handle, params);
        if (rc >= 0) {
            rc = snd_pcm_sw_params_set_avail_min(handle, params, AudioFramesPerRead);
        }
        if (rc >= 0) {
            rc = snd_pcm_sw_params(handle, params);
        }
        snd_pcm_sw_params_free(params);
    }
    if (rc >= 0 && snd_pcm_state(handle) != SND_PCM_STATE_RUNNING) {
        rc = snd_pcm_start(handle);
    }
    return rc;
}

snd_pcm_sframes_t AudioSupport::read_block(unsigned char* raw, int wait_ms)
{
    const int ready = snd_pcm_wait(m_pHeadsetAudioCaptureHandle, wait_ms);
    if (ready <= 0) {
        return ready;
    }
    const snd_pcm_sframes_t frames =
        snd_pcm_readi(m_pHeadsetAudioCaptureHandle, raw, AudioFramesPerRead);
    // Woken, yet nothing to read: said as -EAGAIN, apart from a wait that timed out.
    return frames == 0 ? -EAGAIN : frames;
}

int AudioSupport::close_device()
{
    if (m_pHeadsetAudioCaptureHandle == nullptr) {
        return 0;
    }
    const int rc = snd_pcm_close(m_pHeadsetAudioCaptureHandle);
    m_pHeadsetAudioCaptureHandle = nullptr;
    return rc;
}
