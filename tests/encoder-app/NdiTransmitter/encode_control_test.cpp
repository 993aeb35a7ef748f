// Encode control and the settings watcher against a scripted encoder device: picture descriptions
// per format, the output-interface check, start and stop with their printed lines, a stop while the
// device never answers, the target sizes each period, the switches of the settings file and the
// stall check. Runs on the target too.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "pipeline_fixture.h"
#include "support/temp_board_root.h"

namespace {

// The encoder's driver, for a plain file standing in for its node while `g_driver_on` is set:
// every request succeeds, and a frame wait blocks as the driver's interruptible wait does, until a
// signal interrupts it (EINTR) or its own limit of 10 s passes (ETIMEDOUT).
std::atomic<bool> g_driver_on{false};
std::atomic<int> g_waits_blocked{0};
std::atomic<int> g_waits_interrupted{0};
constexpr int kDriverWaitLimitMs = 10000;

}  // namespace

// Takes the place of the C library's ioctl in this test program; every descriptor but a plain
// file with the driver on goes to the system call as before. Defined after <sys/ioctl.h>, so that
// with a 64-bit time_t it takes the C library's name for that build (__ioctl_time64), which the
// firmware's calls reach.
extern "C" int ioctl(int fd, unsigned long request, ...) noexcept  // NOLINT(*-vararg)
{
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);  // NOLINT(*-vararg)
    va_end(args);
    struct stat info {};
    if (!g_driver_on.load() || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return static_cast<int>(::syscall(SYS_ioctl, fd, request, argument));
    }
    const auto* selector = static_cast<const std::int32_t*>(argument);
    if (request != VANTOR_SPEEDHQ_IOCTL_RD_SEL || selector == nullptr ||
        *selector != VANTOR_SPEEDHQ_RD_SEL_WAIT_FRAME) {
        return 0;
    }
    g_waits_blocked.fetch_add(1);
    if (::poll(nullptr, 0, kDriverWaitLimitMs) < 0 && errno == EINTR) {
        g_waits_interrupted.fetch_add(1);
        errno = EINTR;
        return -1;
    }
    errno = ETIMEDOUT;
    return -1;
}

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using vantor::test::count_of;
using vantor::test::PipelineFixture;
using vantor::test::wait_until;
using vantor::test::write_text;

// Position of `line` in `text`, failing the test when it is missing.
std::size_t position(const std::string& text, const std::string& line)
{
    const std::size_t at = text.find(line);
    EXPECT_NE(at, std::string::npos) << "missing: " << line;
    return at;
}

class EncodeControl : public PipelineFixture {};

TEST_F(EncodeControl, ConstructorDefaults)
{
    EXPECT_EQ(m_tx.bit_rate.load(), 0);
    EXPECT_EQ(m_tx.prog_info_frame.xres, 0);
    EXPECT_EQ(m_tx.prog_info_frame.FourCC, NDIlib_FourCC_type_UYVY);
    EXPECT_EQ(m_tx.prog_info_frame.frame_rate_N, 30000);
    EXPECT_EQ(m_tx.prog_info_frame.frame_rate_D, 1001);
    EXPECT_EQ(m_tx.prog_info_frame.timecode, NDIlib_send_timecode_synthesize);
    EXPECT_EQ(m_tx.init_frame_drop_count, 60);
    EXPECT_EQ(m_tx.max_queue_size, 3U);
    EXPECT_FALSE(m_tx.tally_en.load());
    EXPECT_FALSE(m_tx.DeTectStuck.load());
    EXPECT_TRUE(m_tx.NDIAudioMain.load());
    EXPECT_FALSE(m_tx.encodeRunning.load());
    EXPECT_EQ(m_tx.ndi_tx_inst, nullptr);
    EXPECT_TRUE(m_tx.ndi_tx.clock_video);
    EXPECT_EQ(m_tx.ndi_tx.p_ndi_name, nullptr);
    EXPECT_EQ(NdiTransmitter().settings_period, std::chrono::milliseconds(1000));
}

TEST_F(EncodeControl, DescribesThePicturesOfEachFormat)
{
    struct Expected {
        int code;
        int xres, yres, prog_n, prog_d, prev_n, prev_d;
        bool interlaced, skip;
    };
    const Expected table[] = {
        {1, 1920, 1080, 24000, 1001, 30000, 1001, false, false},
        {2, 1920, 1080, 24000, 1000, 24000, 1000, false, false},
        {3, 1920, 1080, 30000, 1200, 30000, 1200, false, false},
        {4, 1920, 1080, 30000, 1001, 30000, 1001, false, false},
        {5, 1920, 1080, 30000, 1000, 30000, 1000, false, false},
        {6, 1280, 720, 60000, 1200, 30000, 1200, false, true},
        {7, 1280, 720, 60000, 1001, 30000, 1001, false, true},
        {8, 1280, 720, 60000, 1000, 30000, 1000, false, true},
        {19, 1920, 540, 30000, 1200, 30000, 1200, true, true},
        {20, 1920, 540, 30000, 1001, 30000, 1001, true, true},
        {21, 1920, 540, 30000, 1000, 30000, 1000, true, true},
        {41, 1920, 1080, 60000, 1200, 30000, 1200, false, true},
        {42, 1920, 1080, 60000, 1001, 30000, 1001, false, true},
        {43, 1920, 1080, 60000, 1000, 30000, 1000, false, true},
        {49, 3840, 2160, 24000, 1001, 24000, 1001, false, false},
        {50, 3840, 2160, 24000, 1000, 24000, 1000, false, false},
        {51, 3840, 2160, 30000, 1200, 30000, 1200, false, false},
        {52, 3840, 2160, 30000, 1001, 30000, 1001, false, false},
        {53, 3840, 2160, 30000, 1000, 30000, 1000, false, false},
    };
    open_fake();
    for (const Expected& e : table) {
        SCOPED_TRACE("format " + std::to_string(e.code));
        m_tx.setup_video_frame(99);  // leaves what the previous row set: each row sets its own
        m_tx.setup_video_frame(e.code);
        EXPECT_EQ(m_tx.prog_info_frame.xres, e.xres);
        EXPECT_EQ(m_tx.prog_info_frame.yres, e.yres);
        EXPECT_EQ(m_tx.prog_info_frame.frame_rate_N, e.prog_n);
        EXPECT_EQ(m_tx.prog_info_frame.frame_rate_D, e.prog_d);
        EXPECT_EQ(m_tx.prev_info_frame.xres, 640);
        EXPECT_EQ(m_tx.prev_info_frame.yres, 360);
        EXPECT_EQ(m_tx.prev_info_frame.frame_rate_N, e.prev_n);
        EXPECT_EQ(m_tx.prev_info_frame.frame_rate_D, e.prev_d);
        EXPECT_EQ(m_tx.interlaced_field, e.interlaced);
        EXPECT_EQ(m_tx.skip_prev_frame_en, e.skip);
        EXPECT_EQ(m_tx.prog_info_frame.FourCC, NDIlib_FourCC_type_SHQ2_highest_bandwidth);
        EXPECT_EQ(m_tx.prev_info_frame.FourCC, NDIlib_FourCC_type_SHQ0_lowest_bandwidth);
        EXPECT_FLOAT_EQ(m_tx.prog_info_frame.picture_aspect_ratio, 16.0F / 9.0F);
        EXPECT_EQ(m_tx.prog_info_frame.frame_format_type, NDIlib_frame_format_type_progressive);
    }

    // An unknown code changes the chroma but leaves size, rates and flags as they were.
    m_tx.setup_video_frame(19);
    m_tx.encoder_pix_format_420 = 1;
    CaptureStdout();
    m_tx.setup_video_frame(99);
    EXPECT_EQ(GetCapturedStdout(), "SET PROG SR 420\n");
    EXPECT_EQ(m_tx.prog_info_frame.FourCC, NDIlib_FourCC_type_SHQ0_highest_bandwidth);
    EXPECT_EQ(m_tx.prog_info_frame.yres, 540);
    EXPECT_EQ(m_tx.prog_info_frame.frame_rate_D, 1200);
    EXPECT_TRUE(m_tx.interlaced_field);
    EXPECT_TRUE(m_tx.skip_prev_frame_en);
    const std::vector<std::string> requests = m_fake->requests();
    EXPECT_EQ(requests.back(), "3=1");
}

TEST_F(EncodeControl, LowLatencyOnlyWhenTheLastLineSaysSo)
{
    const std::string file = m_root / "/etc/vantor-VOutput-Interface";
    EXPECT_FALSE(m_tx.CheckCameraisLowLatency()) << "no file";
    write_text(file, "LowLatency\n");
    CaptureStdout();
    EXPECT_FALSE(m_tx.CheckCameraisLowLatency()) << "nothing after the last line break";
    EXPECT_EQ(GetCapturedStdout(), "/etc/vantor-VOutput-Interface \n");
    write_text(file, "Default\nLowLatency");
    CaptureStdout();
    EXPECT_TRUE(m_tx.CheckCameraisLowLatency());
    EXPECT_EQ(GetCapturedStdout(), "/etc/vantor-VOutput-Interface LowLatency\n");
    write_text(file, "LowLatencyX");
    EXPECT_FALSE(m_tx.CheckCameraisLowLatency());
}

TEST_F(EncodeControl, StartPrintsItsLinesInOrderBeforeTheThreadsRun)
{
    struct Case {
        const char* output_interface;  // nullptr: no file
        int format;
        const char* lines;
    };
    const Case cases[] = {
        {"Default\nLowLatency", 52,
         "/etc/vantor-VOutput-Interface LowLatency\nVIDEO in mode NDI\nSetup encode\n"
         "video format passed 34\nsetup_video_frame\nSET PROG SR 422\nstartencodeThreads\n"
         "creat_encode_threads\n"},
        {nullptr, 19,
         "VIDEO in mode DEF\nSetup encode\nvideo format passed 13\nsetup_video_frame\n"
         "SET PROG SR 422\nstartencodeThreads\ncreat_encode_threads\n"},
    };
    open_fake();
    const std::string file = m_root / "/etc/vantor-VOutput-Interface";
    for (const Case& c : cases) {
        SCOPED_TRACE("format " + std::to_string(c.format));
        if (c.output_interface != nullptr) {
            write_text(file, c.output_interface);
        } else {
            ::unlink(file.c_str());
        }
        CaptureStdout();
        m_tx.start_encode(c.format, 0);
        m_tx.stop_encode();
        const std::string out = GetCapturedStdout();
        EXPECT_EQ(out.substr(0, std::string(c.lines).size()), c.lines);
    }
}

// A stop while the device never answers the frame wait (a stalled encoder, the case in which the
// program ends): the wait is given up, with a line, and the stop completes.
TEST_F(EncodeControl, AFrameWaitThatNeverReturnsIsGivenUpAtStop)
{
    struct Case {
        const char* transport;
        std::function<void()> open;              // opens a device whose frame wait never returns
        std::function<bool()> waiting;           // the frame thread waits on it
        std::function<bool()> ended_unanswered;  // after the stop: the wait ended by being given up
    };
    const std::string node = device_path();
    const Case cases[] = {
        {"socket",
         [&] {
             open_fake();
             m_fake->gate(VANTOR_SPEEDHQ_IOCTL_RD_SEL);
         },
         [&] { return m_fake->holding(); }, [&] { return m_fake->holding(); }},
        {"character device",
         [&] {
             m_fake.reset();
             write_text(node, "");
             g_driver_on.store(true);
             m_tx.map_NdiTransmitter_mem(0);
             ASSERT_EQ(m_tx.m_vantorspeedhqDevice.transport(),
                       SpeedHqDevice::Transport::CharacterDevice);
         },
         [&] { return g_waits_blocked.load() > 0; },
         [&] { return g_waits_interrupted.load() == 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.transport);
        c.open();
        CaptureStdout();
        m_tx.start_encode(52, 0);
        const bool waiting = wait_until(c.waiting);
        m_tx.stop_encode();
        const std::string out = GetCapturedStdout();
        g_driver_on.store(false);
        ASSERT_TRUE(waiting);
        EXPECT_TRUE(c.ended_unanswered());
        EXPECT_EQ(count_of(out, "frame wait given up at stop\n"), 1U);
        EXPECT_LT(position(out, "frame wait given up at stop"),
                  position(out, "STOP wait_ndi_frame_thread"));
        EXPECT_LT(position(out, "STOP wait_ndi_frame_thread"),
                  position(out, "STOP send_audio_frame_thread"));
    }
}

TEST_F(EncodeControl, AfterAGivenUpWaitTheNextStartStreamsAgain)
{
    open_fake();
    m_fake->gate(VANTOR_SPEEDHQ_IOCTL_RD_SEL);
    m_tx.init_frame_drop_count = 0;
    CaptureStdout();
    m_tx.start_encode(52, 0);
    ASSERT_TRUE(wait_until([&] { return m_fake->holding(); }));
    m_tx.stop_encode();
    m_fake->ungate();
    script_frames(3);
    m_tx.start_encode(52, 0);
    EXPECT_TRUE(wait_until([&] { return m_fake->frames_left() == 0; }));
    m_tx.stop_encode();
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(count_of(out, "frame wait given up at stop\n"), 1U) << "only the first stop";
    EXPECT_EQ(m_tx.FrameSentCount.load(), 3);
}

TEST_F(EncodeControl, StopWithoutStartPrintsEveryStopAndStopsTheEncoder)
{
    open_fake();
    CaptureStdout();
    m_tx.stop_encode();
    EXPECT_EQ(GetCapturedStdout(),
              "stopencodeThreads\ndistroy_encode_threads\nSTOP wait_ndi_frame_thread\n"
              "STOP send_ndi_frame_prog_thread\nSTOP send_ndi_frame_prev_thread\n"
              "STOP encode_settings_thread\nSTOP send_audio_frame_thread\n");
    EXPECT_EQ(m_fake->requests(), (std::vector<std::string>{"1", "15=1", "20=1", "1"}));
    EXPECT_FALSE(m_tx.audio_en.load());
}

TEST_F(EncodeControl, StartThenStopSendsEveryQueuedPictureBeforeTheThreadsEnd)
{
    open_fake();
    m_tx.init_frame_drop_count = 0;
    m_tx.max_queue_size = 1000;
    script_frames(40);
    CaptureStdout();
    m_tx.start_encode(52, 0);
    EXPECT_TRUE(m_tx.audio_en.load());
    EXPECT_TRUE(wait_until([&] { return m_fake->frames_left() == 0; }));
    m_tx.stop_encode();
    const std::string out = GetCapturedStdout();
    // No sender: each picture is reported as it is dropped, all of them before the threads end.
    EXPECT_EQ(count_of(out, "sender DEAD\n"), 80U);
    EXPECT_LT(out.rfind("sender DEAD"), std::max(position(out, "send_full thread done!"),
                                                 position(out, "send_prvw thread done!")));
    EXPECT_LT(position(out, "START send_video_frame"), position(out, "END send_video_frame"));
    EXPECT_LT(position(out, "send_full thread done!"),
              position(out, "STOP send_ndi_frame_prog_thread"));
    EXPECT_LT(position(out, "send_prvw thread done!"),
              position(out, "STOP send_ndi_frame_prev_thread"));
    EXPECT_LT(position(out, "STOP encode_settings_thread"),
              position(out, "STOP send_audio_frame_thread"));
    EXPECT_FALSE(m_tx.encodeRunning.load());
    EXPECT_EQ(m_fake->requests().back(), "1");

    // A second start after a complete stop runs again.
    script_frames(1);
    m_tx.start_encode(52, 0);
    EXPECT_TRUE(wait_until([&] { return m_fake->frames_left() == 0; }));
    m_tx.stop_encode();
}

TEST_F(EncodeControl, AMissingDeviceIsReportedOnceAndWaitsFailAtAPace)
{
    m_tx.frame_wait_retry_pause = std::chrono::milliseconds(50);
    CaptureStdout();
    m_tx.map_NdiTransmitter_mem(0);
    const auto started = std::chrono::steady_clock::now();
    m_tx.start_encode(52, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the span measured
    m_tx.stop_encode();
    const auto elapsed = std::chrono::steady_clock::now() - started;
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(out.find("Open m_vantorspeedhqDevice\nFailed to open the vantor-speedhq device\n"),
              0U);
    EXPECT_EQ(count_of(out, "Failed to open"), 1U);
    const size_t errors = count_of(out, "err ");
    EXPECT_GE(errors, 1);
    EXPECT_LE(errors, 1 + static_cast<int>(elapsed / m_tx.frame_wait_retry_pause));
}

// The settings watcher run alone, as its thread runs it.
class SettingsWatcher : public PipelineFixture {
protected:
    SettingsWatcher() { open_fake(); }
    ~SettingsWatcher() override { stop(); }

    void settings(const std::string& json)
    {
        write_text(m_root / "/etc/vantor-enc1-settings.json", json);
    }
    void start(int format)
    {
        m_tx.setup_video_frame(format);
        m_tx.encodeRunning.store(true);
        m_thread = std::thread(&NdiTransmitter::encode_settings, &m_tx);
    }
    void stop()
    {
        m_tx.encodeRunning.store(false);
        m_fake->ungate();
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    // Checks done since the mark: each is followed by request 13.
    size_t periods() { return count_of(since_mark(), "13=0"); }

    std::vector<std::string> since_mark()
    {
        const std::vector<std::string> all = m_fake->requests();
        return {all.begin() + static_cast<long>(m_mark), all.end()};
    }

    // The requests of the watcher: 13, 14, 5 and 6 only, from the first 13 on.
    std::vector<std::string> size_requests()
    {
        std::vector<std::string> result;
        for (const std::string& request : since_mark()) {
            const std::string code = request.substr(0, request.find('='));
            if (code == "13" || code == "14" || code == "5" || code == "6") {
                result.push_back(request);
            }
        }
        return result;
    }

    void expect_sizes_each_period(const std::string& program, const std::string& preview)
    {
        ASSERT_TRUE(wait_until([&] { return periods() >= 3; }));
        stop();
        const std::vector<std::string> requests = size_requests();
        ASSERT_GE(requests.size(), 12U);
        for (std::size_t i = 0; i + 4 <= requests.size(); i += 4) {
            EXPECT_EQ(std::vector<std::string>(requests.begin() + static_cast<long>(i),
                                               requests.begin() + static_cast<long>(i) + 4),
                      (std::vector<std::string>{"13=0", "14=62", "5=" + program, "6=" + preview}));
        }
    }

    std::thread m_thread;
    std::size_t m_mark = 0;  // requests before this one belong to an earlier run
};

TEST_F(SettingsWatcher, ManualBandwidthSizesEachPicture)
{
    settings(R"({"BandwidthMode":"Manual","BandwidthSelect":"100"})");
    start(52);
    expect_sizes_each_period("431034", "43103");
    EXPECT_EQ(m_tx.bit_rate.load(), 431034);
}

TEST_F(SettingsWatcher, ManualWithoutSelectionIs120MbitAndFieldsGetHalf)
{
    settings(R"({"BandwidthMode":"Manual"})");
    start(19);
    expect_sizes_each_period("300000", "50000");
}

TEST_F(SettingsWatcher, PreviewSizeFollowsThePreviewRate)
{
    settings(R"({"BandwidthMode":"Manual","BandwidthSelect":"abc"})");
    start(49);
    expect_sizes_each_period("0", "54347");
}

TEST_F(SettingsWatcher, AnAbsurdBandwidthIsLimitedToTheLargestSize)
{
    settings(R"({"BandwidthMode":"Manual","BandwidthSelect":"99999999999"})");
    start(52);
    expect_sizes_each_period("2147483647", "43103");
}

TEST_F(SettingsWatcher, AutomaticModeUsesTheRuntimesTargetSize)
{
    ASSERT_TRUE(NDIlib_initialize());
    NDIlib_send_create_t create("settings test");
    m_tx.ndi_tx_inst = NDIlib_send_create_v2(&create);
    ASSERT_NE(m_tx.ndi_tx_inst, nullptr);
    for (const int format : {52, 20}) {
        SCOPED_TRACE("format " + std::to_string(format));
        m_tx.setup_video_frame(format);
        int target = NDIlib_send_get_target_frame_size(m_tx.ndi_tx_inst, &m_tx.prog_info_frame);
        ASSERT_GT(target, 0);
        if (m_tx.interlaced_field) {
            target /= 2;
        }
        settings(R"({"BandwidthMode":"Auto"})");
        m_mark = m_fake->requests().size();
        start(format);
        expect_sizes_each_period(std::to_string(target), "43103");
    }
    NDIlib_send_destroy(m_tx.ndi_tx_inst);
    m_tx.ndi_tx_inst = nullptr;
    NDIlib_destroy();
}

TEST_F(SettingsWatcher, TallyAndAudioRoutingFollowTheSettingsFile)
{
    settings(R"({"TallyMode":"TallyOff","NDIAudio":"NDIAudioComms"})");
    start(52);
    // The switches are read after a period's requests: two periods have read them.
    ASSERT_TRUE(wait_until([&] { return periods() >= 2; }));
    EXPECT_FALSE(m_tx.tally_en.load());
    EXPECT_FALSE(m_tx.NDIAudioMain.load());
    settings(R"({"TallyMode":"TallyOn","NDIAudio":"NDIAudioAnalog"})");
    EXPECT_TRUE(wait_until([&] { return m_tx.tally_en.load() && m_tx.NDIAudioMain.load(); }));
    settings(R"({"TallyMode":"TallyOnX"})");
    EXPECT_TRUE(wait_until([&] { return !m_tx.tally_en.load() && !m_tx.NDIAudioMain.load(); }));
}

TEST_F(SettingsWatcher, StuckOnTheThirtyFirstCheckWithoutAFrame)
{
    // Each check is followed by request 13; holding its answer stops the watcher right after
    // check n, so the flag can be read after exactly n checks.
    m_tx.settings_period = std::chrono::milliseconds(1);
    m_tx.DeTectStuck.store(true);  // left from an earlier run: each start clears it
    m_fake->gate(VANTOR_SPEEDHQ_IOCTL_SEL_Q);
    start(52);
    for (size_t check = 1; check <= 45; ++check) {
        SCOPED_TRACE("check " + std::to_string(check));
        ASSERT_TRUE(wait_until([&] { return m_fake->holding() && periods() == check; }));
        // A frame announced after check 10 is seen by check 11; 31 checks without one follow.
        EXPECT_EQ(m_tx.DeTectStuck.load(), check >= 11 + 31);
        if (check == 10) {
            m_tx.FrameSentCount.fetch_add(1);
        }
        m_fake->release();
    }
    m_fake->ungate();
    stop();
    EXPECT_TRUE(m_tx.DeTectStuck.load()) << "stays set";
}

TEST_F(SettingsWatcher, StuckFromTheFirstRunWithoutAnyFrame)
{
    m_tx.settings_period = std::chrono::milliseconds(1);
    m_fake->gate(VANTOR_SPEEDHQ_IOCTL_SEL_Q);
    start(52);
    for (size_t check = 1; check <= 32; ++check) {
        SCOPED_TRACE("check " + std::to_string(check));
        ASSERT_TRUE(wait_until([&] { return m_fake->holding() && periods() == check; }));
        EXPECT_EQ(m_tx.DeTectStuck.load(), check >= 31);
        m_fake->release();
    }
    m_fake->ungate();
}

}  // namespace
