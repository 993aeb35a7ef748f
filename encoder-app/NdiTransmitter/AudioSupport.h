#pragma once

#include <alsa/asoundlib.h>

#include <Processing.NDI.Lib.h>

#include <string>

// The headset input's capture format: 48 kHz stereo, signed 24-bit little-endian samples packed in
// 3 bytes, read in blocks of 10 ms.
constexpr unsigned int AudioSampleRate = 48000;
constexpr int NumChannelsPerAudioDevice = 2;
constexpr snd_pcm_format_t PcmFormat = SND_PCM_FORMAT_S24_3LE;
constexpr int AudioFramesPerRead = 480;
constexpr int AudioBytesPerSample = 3;
constexpr int AudioSamplesPerBlock = AudioFramesPerRead * NumChannelsPerAudioDevice;  // 960
constexpr int AudioRawBlockBytes = AudioSamplesPerBlock * AudioBytesPerSample;        // 2880
// The capture buffer asked for: about half a second (the device picks the nearest it supports).
constexpr snd_pcm_uframes_t AudioCaptureBufferFrames = 24000;

// The capture device of the audio thread and the conversion of its blocks into the float block
// handed to NDI. Used by one thread only.
class AudioSupport {
public:
    AudioSupport() = default;
    // Closes a capture handle that is still open.
    ~AudioSupport();
    AudioSupport(const AudioSupport&) = delete;
    AudioSupport& operator=(const AudioSupport&) = delete;

    // Configures the opened capture handle for the capture format, each step in order. Returns 0,
    // or 1 after printing the failing call and ALSA's reason on standard error.
    int initialiseAudioDevice(snd_pcm_t* pCaptureHandle);
    // The signed value of the 3-byte sample at byte offset frm_idx * 2880 + frm_inner_idx * 3.
    int getLeS24(const unsigned char* p_data_first, int frm_idx, int frm_inner_idx);

    // The linear gain for a value of the audio settings' "AnalogAudioInGain": 50 is unity, each
    // step 1 dB. "NULL" (no setting) keeps `previous`; so does a value that is not a finite number,
    // which is reported once on standard output. A number outside 0 to 100 is limited to that
    // range (-50 dB to +50 dB), so the gain is always finite.
    float gain_for_setting(const std::string& value, float previous);
    // Fills NDI_audio_frame's float block from `raw` scaled to -1.0 ... +1.0 and multiplied by
    // `gain`, when `frames` (a read's result) is a whole block. False, with the float block left as
    // it was, for anything else: a short read or an error is never sent.
    bool convert_block(const unsigned char* raw, snd_pcm_sframes_t frames, float gain);
    // Brings the capture device back after a read returned `error` (negative): ALSA's recovery
    // call, and a fresh prepare when that cannot handle the error. True when the device can be read
    // again. Reports the first failure of a run of failures on standard error.
    bool recover_after_read(snd_pcm_sframes_t error);
    // Notes a read of a whole block, so that the next failure is reported again.
    void read_succeeded() { m_read_failing = false; }
    // Opens AlsaSndCardDeviceName, configures it (initialiseAudioDevice) and starts capture; 0, or
    // the negative error with the device closed again (-EINVAL when it cannot be configured).
    int open_device();
    // Sets the open device up for reading with a time-out (non-blocking, woken for whole blocks)
    // and starts capture; 0 or ALSA's error.
    int start_capture();
    // Waits at most `wait_ms` for a block and reads it: the frames read, 0 when the wait timed out,
    // -EAGAIN when the device woke the reader without a block, or another negative error (-EPIPE
    // an overrun, -ENODEV a lost device, ...).
    snd_pcm_sframes_t read_block(unsigned char* raw, int wait_ms);
    // Closes the capture handle; 0 or ALSA's error.
    int close_device();

    char AlsaSndCardDeviceName[30] = "default:CARD=vtrheadsetsnd";
    NDIlib_audio_frame_interleaved_32f_t NDI_audio_frame{static_cast<int>(AudioSampleRate),
                                                         NumChannelsPerAudioDevice, 0};
    snd_pcm_t* m_pHeadsetAudioCaptureHandle = nullptr;
    snd_pcm_sframes_t numAudioFrames = 0;

private:
    std::string m_reported_gain_text;  // the last refused or limited gain text reported
    bool m_read_failing = false;
};
