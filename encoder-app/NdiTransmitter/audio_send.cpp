// The audio thread: captures the headset input in 10 ms blocks, applies the input gain of the audio
// settings and sends each block on the comms sender and, when routed there, on the main sender.
//
// A device that opens but cannot be configured is closed and the thread ends: the capture format
// is fixed by the hardware, so a retry would fail the same way and only repeat the message; the
// next start of encoding (a format change) tries again. Each read waits at most kReadWait for a
// block, so a stop is seen within that whatever the device does. After a failed read (an overrun's
// -EPIPE, say) the device is brought back with ALSA's recovery call and capture goes on; when that
// fails, or reads keep failing or returning nothing, the device is closed and opened again after
// a pause that doubles up to kReopenLast, so a device that went away (or a source at its end)
// never spins a core nor rereads the settings file at the read rate.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>

#include "HelperLib/HelperLib.h"
#include "HelperLib/thread_wake.h"
#include "NdiTransmitter/NdiTransmitter.h"

namespace {

constexpr const char* kAudioSettingsPath = "/etc/vantor-audio-settings.json";
constexpr const char* kGainKey = "AnalogAudioInGain";

// The longest one read waits for a block before the stop flag is looked at again.
constexpr int kReadWaitMs = 100;
// Failed or empty reads in a row after which the device is taken as lost, and the pauses before
// opening it again.
constexpr int kFailuresBeforeReopen = 3;
constexpr std::chrono::milliseconds kReopenFirst{100};
constexpr std::chrono::milliseconds kReopenLast{2000};
// How often a stop interrupts a read that is still blocked: a signal that arrives just before the
// thread enters the read is lost, the next one is not.
constexpr std::chrono::milliseconds kWakePeriod{5};
// How long a stop signals a read that does not end before it says so and waits for the thread.
constexpr std::chrono::milliseconds kWakeLimit{2000};

}  // namespace

void NdiTransmitter::start_audio()
{
    {
        const std::lock_guard<std::mutex> lock(m_audio_lock);
        m_audio_thread_done = false;
    }
    audio_en.store(true);
    send_audio_frame_thread = std::thread(&NdiTransmitter::send_audio_frame, this);
}

void NdiTransmitter::stop_audio()
{
    {
        // Under the lock, so that a thread between its flag test and its pause cannot miss the
        // wake-up.
        const std::lock_guard<std::mutex> lock(m_audio_lock);
        audio_en.store(false);
    }
    m_audio_condvar.notify_all();
    if (!send_audio_frame_thread.joinable()) {
        return;
    }
    {
        std::unique_lock<std::mutex> lock(m_audio_lock);
        const auto done = [this] { return m_audio_thread_done; };
        if (!m_audio_condvar.wait_for(lock, audio_stop_grace, done)) {
            std::puts("audio read given up at stop");
            std::fflush(stdout);
            if (!signal_until_left(send_audio_frame_thread.native_handle(), lock, m_audio_condvar,
                                   done, kWakePeriod, kWakeLimit)) {
                std::puts("audio read did not end at stop");
                std::fflush(stdout);
            }
        }
    }
    send_audio_frame_thread.join();
}

bool NdiTransmitter::audio_thread_running()
{
    const std::lock_guard<std::mutex> lock(m_audio_lock);
    return !m_audio_thread_done;
}

bool NdiTransmitter::pause_while_audio(std::chrono::milliseconds pause)
{
    std::unique_lock<std::mutex> lock(m_audio_lock);
    m_audio_condvar.wait_for(lock, pause, [this] { return !audio_en.load(); });
    return audio_en.load();
}

void NdiTransmitter::send_audio_block()
{
    NDIlib_util_send_send_audio_interleaved_32f(comms_inst, &ndi_AudioSupport.NDI_audio_frame);
    if (NDIAudioMain.load()) {
        NDIlib_util_send_send_audio_interleaved_32f(ndi_tx_inst, &ndi_AudioSupport.NDI_audio_frame);
    }
}

void NdiTransmitter::send_audio_frame()
{
    // Tells a waiting stop that the thread is done, on every way out.
    struct DoneMark {
        NdiTransmitter& tx;
        ~DoneMark()
        {
            {
                const std::lock_guard<std::mutex> lock(tx.m_audio_lock);
                tx.m_audio_thread_done = true;
            }
            tx.m_audio_condvar.notify_all();
        }
    } done_mark{*this};

    AudioSupport& audio = ndi_AudioSupport;
    audio.NDI_audio_frame.sample_rate = static_cast<int>(AudioSampleRate);
    audio.NDI_audio_frame.no_channels = NumChannelsPerAudioDevice;
    audio.NDI_audio_frame.no_samples = AudioFramesPerRead;
    const std::unique_ptr<float[]> samples(new (std::nothrow) float[AudioSamplesPerBlock]);
    const std::unique_ptr<unsigned char[]> raw(
        new (std::nothrow) unsigned char[AudioRawBlockBytes]);
    if (!samples || !raw) {
        std::fputs("no memory for the audio buffers\n", stderr);
        return;
    }
    audio.NDI_audio_frame.p_data = samples.get();

    int rc = snd_pcm_open(&audio.m_pHeadsetAudioCaptureHandle, audio.AlsaSndCardDeviceName,
                          SND_PCM_STREAM_CAPTURE, 0);
    if (rc < 0) {
        audio.m_pHeadsetAudioCaptureHandle = nullptr;
        std::fprintf(stderr, "Failed to open headset audio device '%s': %s\n",
                     audio.AlsaSndCardDeviceName, snd_strerror(rc));
        audio.NDI_audio_frame.p_data = nullptr;
        return;
    }
    std::printf("audio device '%s' is ready\n", audio.AlsaSndCardDeviceName);
    std::fflush(stdout);
    if (audio.initialiseAudioDevice(audio.m_pHeadsetAudioCaptureHandle) != 0) {
        std::printf("initialiseAudioDevice(%s) failed: no audio until encoding restarts\n",
                    audio.AlsaSndCardDeviceName);
        std::fflush(stdout);
        audio.NDI_audio_frame.p_data = nullptr;
        (void)audio.close_device();
        return;
    }
    std::printf("initialiseAudioDevice(%s) done\n", audio.AlsaSndCardDeviceName);
    std::fflush(stdout);
    rc = audio.start_capture();
    if (rc < 0) {
        std::fprintf(stderr, "headset audio capture does not start: %s\n", snd_strerror(rc));
    }

    AudioEncGain.store(1.0F);
    int failures = rc < 0 ? kFailuresBeforeReopen : 0;
    std::chrono::milliseconds reopen_pause = kReopenFirst;
    while (audio_en.load()) {
        if (failures >= kFailuresBeforeReopen) {
            // Lost (or never started): closed, and opened again after a pause growing each time.
            if (audio.m_pHeadsetAudioCaptureHandle != nullptr) {
                std::printf("headset audio device '%s' lost: opening it again\n",
                            audio.AlsaSndCardDeviceName);
                std::fflush(stdout);
                (void)audio.close_device();
            }
            if (!pause_while_audio(reopen_pause)) {
                break;
            }
            reopen_pause = std::min(reopen_pause * 2, kReopenLast);
            if (audio.open_device() < 0) {
                continue;
            }
            std::printf("headset audio device '%s' open again\n", audio.AlsaSndCardDeviceName);
            std::fflush(stdout);
            failures = 0;
            reopen_pause = kReopenFirst;
        }
        audio.numAudioFrames = audio.read_block(raw.get(), kReadWaitMs);
        if (audio.numAudioFrames == 0) {
            continue;  // no block within the wait: the stop flag is looked at again
        }
        if (audio.numAudioFrames < 0 && audio.numAudioFrames != -EAGAIN) {
            failures = audio.recover_after_read(audio.numAudioFrames) ? failures + 1
                                                                      : kFailuresBeforeReopen;
            continue;
        }
        if (audio.numAudioFrames != AudioFramesPerRead) {
            // Woken without a whole block, as a source at its end does at once, again and again.
            ++failures;
            continue;
        }
        failures = 0;
        AudioEncGain.store(audio.gain_for_setting(GetJsonString(kAudioSettingsPath, kGainKey),
                                                  AudioEncGain.load()));
        if (!audio.convert_block(raw.get(), audio.numAudioFrames, AudioEncGain.load())) {
            continue;
        }
        audio.read_succeeded();
        send_audio_block();
    }

    audio.NDI_audio_frame.p_data = nullptr;
    rc = audio.close_device();
    if (rc < 0) {
        std::fprintf(stderr, "Failed to close headset audio device '%s': %s\n",
                     audio.AlsaSndCardDeviceName, snd_strerror(rc));
        return;
    }
    std::puts("sound card shut down successfully");
    std::fflush(stdout);
}
