// The audio thread on the virtual board's headset input: real ALSA (the board's configuration,
// ALSA's file plugin reading audio-sim's FIFO), real NDI senders and receivers on loopback.

#include <alsa/asoundlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "../../ndi/ndi_test_util.h"
#include "NdiTransmitter/NdiTransmitter.h"
#include "support/sim_process.h"
#include "support/temp_board_root.h"
#include "vantor/file_io.h"
#include "vantor/unique_fd.h"

namespace {

using namespace std::chrono_literals;
using vantor::test::ReceiverPtr;
using vantor::test::ScopedEnv;
using vantor::test::SenderPtr;
using vantor::test::TempBoardRoot;
using vantor::test::wait_until;
using vantor::test::write_text;

const std::string kBin = VANTOR_BIN_DIR;
const std::string kSource = VANTOR_SOURCE_DIR;

// audio-sim for one test, its control socket connected. Ended and reaped when the object goes.
class AudioSim {
public:
    AudioSim(const std::string& fifo, const std::string& control)
        : m_sim({kBin + "/audio-sim", "--fifo", fifo, "--control", control}, {control, control})
    {
    }

    // Sends one command; its reply line.
    std::string command(const std::string& line) { return m_sim.one_line(line, "no reply"); }

private:
    vantor::test::SimProcess m_sim;
};

// What a receiver got: blocks, their shape, their send times and each channel's peak.
struct Received {
    std::int64_t blocks = 0;
    std::int64_t misshapen = 0;  // not 48 kHz stereo blocks of 480 samples
    std::int64_t first_timestamp = 0;
    std::int64_t last_timestamp = 0;
    float peak[2] = {0.0F, 0.0F};
    // Sums for the straight line through (block number, send time in seconds).
    double sum_n = 0.0;
    double sum_t = 0.0;
    double sum_nn = 0.0;
    double sum_nt = 0.0;

    double span_seconds() const
    {
        return static_cast<double>(last_timestamp - first_timestamp) * 1e-7;
    }
    // Blocks per second from the slope of that line: a reader that lagged for a moment and then
    // caught up moves a few points, not the whole measure as it would move the first or last.
    double rate() const
    {
        const auto n = static_cast<double>(blocks);
        const double seconds_per_block =
            (n * sum_nt - sum_n * sum_t) / (n * sum_nn - sum_n * sum_n);
        return 1.0 / seconds_per_block;
    }
};

// Takes the next audio block that arrives within `timeout_ms`; false when none came.
bool take_block(NDIlib_recv_instance_t receiver, Received& received, std::uint32_t timeout_ms)
{
    NDIlib_audio_frame_interleaved_32f_t frame;
    if (NDIlib_recv_capture_v2(receiver, nullptr, &frame, nullptr, timeout_ms) !=
        NDIlib_frame_type_audio) {
        return false;
    }
    if (frame.sample_rate != 48000 || frame.no_channels != 2 || frame.no_samples != 480) {
        ++received.misshapen;
    } else {
        for (int i = 0; i < 960; ++i) {
            received.peak[i % 2] = std::max(received.peak[i % 2], std::fabs(frame.p_data[i]));
        }
    }
    if (received.blocks == 0) {
        received.first_timestamp = frame.timestamp;
    }
    received.last_timestamp = frame.timestamp;
    const auto n = static_cast<double>(received.blocks);
    const double t = static_cast<double>(frame.timestamp - received.first_timestamp) * 1e-7;
    received.sum_n += n;
    received.sum_t += t;
    received.sum_nn += n * n;
    received.sum_nt += n * t;
    ++received.blocks;
    NDIlib_recv_free_audio_interleaved_32f(receiver, &frame);
    return true;
}

// Takes blocks until `count` more have come; false at the deadline.
bool take_blocks(NDIlib_recv_instance_t receiver, Received& received, std::int64_t count)
{
    const std::int64_t until = received.blocks + count;
    return wait_until([&] {
        take_block(receiver, received, 100);
        return received.blocks >= until;
    });
}

double dbfs(float value)
{
    return 20.0 * std::log10(static_cast<double>(value));
}

class AudioOnBoard : public ::testing::Test {
protected:
    AudioOnBoard()
        : m_alsa_env("ALSA_CONFIG_PATH", alsa_config(m_root.path())),
          m_sim(m_root / "/dev/vtrheadsetsnd", m_root / "/run/audio-sim.control")
    {
        write_text(m_root / "/etc/vantor-audio-settings.json",
                   R"({"AnalogAudioInGain":"60","AnalogAudioOutGain":"50"})");
        write_text(m_root / "/etc/vantor-enc1-settings.json", R"({"NDIAudio":"NDIAudioComms"})");
    }

    void SetUp() override
    {
        ASSERT_TRUE(NDIlib_initialize());
        m_comms = vantor::test::make_sender("CAM (comms)");
        m_main = vantor::test::make_sender("CAM");
        ASSERT_TRUE(m_comms && m_main);
        m_tx.comms_inst = m_comms.get();
        m_tx.ndi_tx_inst = m_main.get();
        m_comms_receiver = vantor::test::make_receiver(m_comms.get());
        m_main_receiver = vantor::test::make_receiver(m_main.get());
        ASSERT_TRUE(vantor::test::wait_for_connections(m_comms.get(), 1));
        ASSERT_TRUE(vantor::test::wait_for_connections(m_main.get(), 1));
    }

    void TearDown() override
    {
        m_tx.stop_audio();
        stop_settings_watcher();
        m_comms_receiver.reset();
        m_main_receiver.reset();
        m_tx.comms_inst = nullptr;
        m_tx.ndi_tx_inst = nullptr;
        m_comms.reset();
        m_main.reset();
        NDIlib_destroy();
        // The next test names another configuration file.
        snd_config_update_free_global();
    }

    // Opens and configures the headset input on the board's device, as the capture thread does.
    static void open_headset(AudioSupport& audio)
    {
        ASSERT_EQ(snd_pcm_open(&audio.m_pHeadsetAudioCaptureHandle, audio.AlsaSndCardDeviceName,
                               SND_PCM_STREAM_CAPTURE, 0),
                  0);
        ASSERT_EQ(audio.initialiseAudioDevice(audio.m_pHeadsetAudioCaptureHandle), 0);
    }

    void start_settings_watcher()
    {
        m_tx.encodeRunning.store(true);
        m_settings = std::thread(&NdiTransmitter::encode_settings, &m_tx);
    }
    void stop_settings_watcher()
    {
        m_tx.encodeRunning.store(false);
        if (m_settings.joinable()) {
            m_settings.join();
        }
    }

    // The board's configuration, as scripts/run writes it.
    static std::string alsa_config(const std::string& root)
    {
        const std::string command = "bash -c 'source \"$0\"/scripts/lib/board-audio.sh && "
                                    "board_audio_config \"$1\" \"$2\"' '" +
                                    kSource + "' '" + root + "' '" + kBin + "' >/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0);
        std::filesystem::create_directories(root + "/dev");
        std::filesystem::create_directories(root + "/run");
        return root + "/etc/alsa/asound.conf";
    }

    TempBoardRoot m_root;
    ScopedEnv m_alsa_env;
    AudioSim m_sim;
    NdiTransmitter m_tx;
    SenderPtr m_comms;
    SenderPtr m_main;
    ReceiverPtr m_comms_receiver;
    ReceiverPtr m_main_receiver;
    std::thread m_settings;
};

TEST_F(AudioOnBoard, CommsSourceGetsBlocksAtTheRealRateWithTheLevelOfTheFileGain)
{
    // A -20 dBFS tone at gain "60" (+10 dB).
    ASSERT_EQ(m_sim.command("tone 1000 -20"), "ok tone 1000 Hz -20 dBFS");
    m_tx.start_audio();
    Received warm_up;
    ASSERT_TRUE(take_blocks(m_comms_receiver.get(), warm_up, 10));

    // Rate from the blocks' send times over at least 10 s. A block the receiver lost would shift
    // the block numbers after it, so none may be lost.
    NDIlib_recv_performance_t total;
    NDIlib_recv_performance_t lost_before;
    NDIlib_recv_get_performance(m_comms_receiver.get(), &total, &lost_before);
    Received received;
    ASSERT_TRUE(wait_until(
        [&] {
            take_block(m_comms_receiver.get(), received, 100);
            return received.blocks > 1 && received.span_seconds() >= 10.0;
        },
        60s));
    NDIlib_recv_performance_t lost_after;
    NDIlib_recv_get_performance(m_comms_receiver.get(), &total, &lost_after);
    const double rate = received.rate();
    std::printf("measured %.3f blocks/s (first to last %.3f) over %.2f s, peaks %.3f and %.3f "
                "dBFS\n",
                rate, static_cast<double>(received.blocks - 1) / received.span_seconds(),
                received.span_seconds(), dbfs(received.peak[0]), dbfs(received.peak[1]));
    EXPECT_EQ(lost_after.audio_frames, lost_before.audio_frames);
    EXPECT_NEAR(rate, 100.0, 1.0);
    EXPECT_EQ(received.misshapen, 0);
    EXPECT_NEAR(dbfs(received.peak[0]), -10.0, 0.1);
    EXPECT_NEAR(dbfs(received.peak[1]), -10.0, 0.1);
}

TEST_F(AudioOnBoard, MainSenderGetsTheAudioWhileTheSettingsRouteItThere)
{
    write_text(m_root / "/etc/vantor-enc1-settings.json", R"({"NDIAudio":"NDIAudioAnalog"})");
    start_settings_watcher();
    m_tx.start_audio();
    Received main;
    ASSERT_TRUE(take_blocks(m_main_receiver.get(), main, 20));

    // Routed back to the comms sender alone: once the watcher has read the file, a second of
    // blocks on the comms sender comes with none on the main sender.
    write_text(m_root / "/etc/vantor-enc1-settings.json", R"({"NDIAudio":"NDIAudioComms"})");
    Received comms;
    std::int64_t comms_since_main = 0;
    EXPECT_TRUE(wait_until([&] {
        if (take_block(m_main_receiver.get(), main, 0)) {
            comms_since_main = 0;
        }
        if (take_block(m_comms_receiver.get(), comms, 20)) {
            ++comms_since_main;
        }
        return comms_since_main >= 100;
    }));

    write_text(m_root / "/etc/vantor-enc1-settings.json", R"({"NDIAudio":"NDIAudioAnalog"})");
    EXPECT_TRUE(take_blocks(m_main_receiver.get(), main, 20));
}

TEST_F(AudioOnBoard, CaptureGoesOnAfterAnUnderrunAndAnOverrunAndAStopEndsAReadTheSourceNeverAnswers)
{
    m_tx.start_audio();
    Received received;
    ASSERT_TRUE(take_blocks(m_comms_receiver.get(), received, 10));
    ASSERT_EQ(m_sim.command("underrun 50"), "ok skipping 50 blocks");
    EXPECT_TRUE(take_blocks(m_comms_receiver.get(), received, 100));
    // The device's next read returns -EPIPE: recovered in place, not by opening it again.
    {
        const vantor::test::StdoutCapture printed;
        ASSERT_EQ(m_sim.command("overrun"), "ok overrun at the next period");
        EXPECT_TRUE(take_blocks(m_comms_receiver.get(), received, 100));
        EXPECT_EQ(printed.lines_with("opening it again").size(), 0U) << printed.text();
    }
    EXPECT_FALSE(std::filesystem::exists(m_root / "/dev/vtrheadsetsnd.overrun"));

    // The source stops delivering: the thread's read blocks for good; the stop still ends it.
    ASSERT_EQ(m_sim.command("stop"), "ok stopped");
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        m_tx.stop_audio();
        stopped.store(true);
    });
    // Within one wait of the read and the stop's grace, with room for a loaded machine.
    const bool ended = wait_until([&] { return stopped.load(); }, 2s);
    EXPECT_TRUE(ended) << "the stop waited on the source";
    if (!ended) {
        m_sim.command("resume");
    }
    stopper.join();
    EXPECT_FALSE(m_tx.send_audio_frame_thread.joinable());
}

// Whether this process has `path` open.
bool holds_open(const std::string& path)
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == path) {
            return true;
        }
    }
    return false;
}

TEST_F(AudioOnBoard, LostDeviceIsClosedAndOpenedAgainOnceItIsBack)
{
    m_tx.start_audio();
    Received received;
    ASSERT_TRUE(take_blocks(m_comms_receiver.get(), received, 10));
    const std::string fifo = m_root / "/dev/vtrheadsetsnd";
    ASSERT_EQ(m_sim.command("unplug"), "ok unplugged");
    EXPECT_TRUE(wait_until([&] { return !holds_open(fifo); }));
    ASSERT_EQ(m_sim.command("replug"), "ok plugged in");
    EXPECT_TRUE(take_blocks(m_comms_receiver.get(), received, 50));
}

// The board's device (a file plugin over a null device) would otherwise take its largest buffer,
// gigabytes that capture touches page by page for as long as encoding runs.
TEST_F(AudioOnBoard, CaptureBufferIsAboutHalfASecond)
{
    AudioSupport audio;
    ASSERT_NO_FATAL_FAILURE(open_headset(audio));
    snd_pcm_uframes_t buffer = 0;
    snd_pcm_uframes_t period = 0;
    ASSERT_EQ(snd_pcm_get_params(audio.m_pHeadsetAudioCaptureHandle, &buffer, &period), 0);
    EXPECT_GE(buffer, AudioSampleRate / 4);
    EXPECT_LE(buffer, AudioSampleRate);
}

TEST_F(AudioOnBoard, ReadErrorIsRecoveredAndCaptureGoesOn)
{
    AudioSupport audio;
    ASSERT_NO_FATAL_FAILURE(open_headset(audio));
    std::uint8_t raw[AudioRawBlockBytes];
    ASSERT_EQ(snd_pcm_readi(audio.m_pHeadsetAudioCaptureHandle, raw, AudioFramesPerRead),
              AudioFramesPerRead);

    // A device left stopped: the read fails until the device is brought back.
    ASSERT_EQ(snd_pcm_drop(audio.m_pHeadsetAudioCaptureHandle), 0);
    const snd_pcm_sframes_t failed =
        snd_pcm_readi(audio.m_pHeadsetAudioCaptureHandle, raw, AudioFramesPerRead);
    ASSERT_LT(failed, 0);
    EXPECT_TRUE(audio.recover_after_read(failed));
    EXPECT_EQ(snd_pcm_readi(audio.m_pHeadsetAudioCaptureHandle, raw, AudioFramesPerRead),
              AudioFramesPerRead);
}

// A device that opens but cannot take the capture format (here one that only takes float
// samples) is closed and the thread ends by itself: it never reads an unconfigured device.
TEST(AudioDevice, OneThatCannotBeConfiguredIsClosedAndTheThreadEnds)
{
    TempBoardRoot root;
    root.make_dir("/etc");
    write_text(root / "/etc/asound.conf",
               "pcm.default { @args [ CARD ] @args.CARD { type string default \"x\" }\n"
               "  type lfloat slave { pcm { type null } format S16_LE } }\n");
    const ScopedEnv alsa_env("ALSA_CONFIG_PATH", root / "/etc/asound.conf");
    NdiTransmitter tx;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    tx.start_audio();
    const bool ended = wait_until([&] { return !tx.audio_thread_running(); });
    tx.stop_audio();
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    snd_config_update_free_global();
    EXPECT_TRUE(ended);
    EXPECT_NE(err.find("'snd_pcm_hw_params_set_format' failed: Invalid argument"),
              std::string::npos)
        << err;
    EXPECT_NE(out.find("initialiseAudioDevice(default:CARD=vtrheadsetsnd) failed"),
              std::string::npos)
        << out;
    EXPECT_EQ(err.find("headset audio read failed"), std::string::npos) << err;
    EXPECT_EQ(tx.ndi_AudioSupport.m_pHeadsetAudioCaptureHandle, nullptr);
}

}  // namespace
