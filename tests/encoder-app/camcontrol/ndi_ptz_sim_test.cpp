// The NDI metadata, tally and status threads of camera control with a real NDI sender and
// receiver and the camera-module simulator on the line: the lamp follows tally, status replies
// count, metadata waits for the other command sources, the web-UI thread stands aside while
// metadata streams, and frames the handler cannot read leave the thread running.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "camcontrol/Camcontrol.h"
#include "ndi_ptz_cases.h"
#include "ndi_test_util.h"
#include "support/camera_sim.h"
#include "support/temp_board_root.h"

namespace {

using namespace std::chrono_literals;
using vantor::test::CameraSimProcess;
using vantor::test::TempBoardRoot;
using vantor::test::wait_until;
using vantor::test::write_text;

constexpr const char* kLampPrefix = "81 01 7E 01 0A ";
constexpr const char* kPowerInquiry = "81 09 04 00 FF";

class PtzOnSim : public ::testing::Test {
protected:
    PtzOnSim()
        : sim((board.make_dir("/dev"), board.make_dir("/etc"), board.make_dir("/tmp"),
               VANTOR_BIN_DIR),
              board / "/dev/ttyPS1", board / "/sim.sock"),
          sender(vantor::test::make_sender("PTZ-SIM"))
    {
        control.ndi_tx_inst = sender.get();
        control.camera_poll_period = 1ms;
        control.webui_step_period = 10ms;
        control.webui_pause_period = 1ms;
        control.inq_misc_start_delay = 0ms;
        control.inq_misc_period = 50ms;
    }
    ~PtzOnSim() override { control.deinit_Camcontrol(); }
    void SetUp() override
    {
        ASSERT_TRUE(sim.ready());
        ASSERT_TRUE(sender);
        receiver = vantor::test::make_receiver(sender.get(), NDIlib_recv_bandwidth_metadata_only);
        ASSERT_TRUE(vantor::test::wait_for_connections(sender.get(), 1));
    }
    void start()
    {
        write_text(board / "/etc/vantor-ptz-settings.json", vantor::test::ptz_settings_json());
        ASSERT_EQ(control.cam_init_Camcontrol(0), 1);
        control.init_Camcontrol();
    }

    void send(const std::string& xml)
    {
        std::string text = xml;
        NDIlib_metadata_frame_t frame(0, NDIlib_send_timecode_synthesize, text.data());
        ASSERT_TRUE(NDIlib_recv_send_metadata(receiver.get(), &frame));
    }
    void set_tally(bool program, bool preview)
    {
        const NDIlib_tally_t tally(program, preview);
        ASSERT_TRUE(NDIlib_recv_set_tally(receiver.get(), &tally));
    }
    // Received packets that begin with `prefix`.
    std::vector<std::string> packets(const std::string& prefix)
    {
        std::vector<std::string> found;
        for (const std::string& packet : sim.history()) {
            if (packet.rfind(prefix, 0) == 0) {
                found.push_back(packet);
            }
        }
        return found;
    }
    bool received(const std::string& prefix, std::size_t count,
                  std::chrono::milliseconds deadline = 20s)
    {
        return wait_until([&] { return packets(prefix).size() >= count; }, deadline);
    }

    TempBoardRoot board;
    CameraSimProcess sim;
    vantor::test::SenderPtr sender;
    vantor::test::ReceiverPtr receiver;
    Camcontrol control;
};

TEST_F(PtzOnSim, TallyLampFollowsProgramPreviewAndOffOneCommandPerChange)
{
    // Disabled from the start: only the set-up command, whatever the tally says.
    set_tally(true, true);
    start();
    ASSERT_TRUE(received(kLampPrefix, 1));

    struct Step {
        bool enabled, program, preview;
        const char* lamp;  // the lamp command the step causes
    };
    const Step steps[] = {
        {true, true, true, "02"},       // program wins over preview
        {true, false, true, "01"},      // preview only
        {true, false, false, "03"},     // both off
        {true, true, false, "02"},      // program again
        {false, true, false, "03"},     // disabled while lit: off
        {true, false, false, nullptr},  // enabled, nothing on: off was already sent
        {true, false, true, "01"},     {false, false, true, "03"},  // disabled while preview is lit
    };
    std::vector<std::string> expected = {"81 01 7E 01 0A 01 05 FF"};
    for (const Step& step : steps) {
        set_tally(step.program, step.preview);
        // The sender has the new tally before the lamp may follow it.
        ASSERT_TRUE(wait_until([&] {
            NDIlib_tally_t now;
            NDIlib_send_get_tally(sender.get(), &now, 0);
            return now.on_program == step.program && now.on_preview == step.preview;
        }));
        control.tally_en = step.enabled;
        if (step.lamp == nullptr) {
            continue;
        }
        expected.push_back(std::string(kLampPrefix) + "00 " + step.lamp + " FF");
        ASSERT_TRUE(received(kLampPrefix, expected.size())) << step.lamp;
        // A repeat would come within a tally period (200 ms): let more than one pass, measured
        // by the status thread's power inquiries (one per 100 ms here).
        const std::size_t polls = packets(kPowerInquiry).size();
        ASSERT_TRUE(received(kPowerInquiry, polls + 3));
    }
    EXPECT_EQ(packets(kLampPrefix), expected);
}

TEST_F(PtzOnSim, StatusRepliesCarryConsecutiveSequenceNumbersAcrossTheWrap)
{
    control.Sequence_number = 65534;
    start();
    std::vector<long> numbers;
    for (int i = 0; i < 3; ++i) {
        send("<ntk_ptz_inq_command/>");
        const auto reply = vantor::test::next_metadata(receiver.get());
        ASSERT_TRUE(reply.has_value());
        ASSERT_EQ(reply->rfind("<vtb_ptz_reply_message Sn=\"", 0), 0U) << *reply;
        EXPECT_EQ(reply->substr(reply->size() - 2), "/>");
        numbers.push_back(std::strtol(reply->c_str() + reply->find('"') + 1, nullptr, 10));
    }
    EXPECT_EQ(numbers, (std::vector<long>{65534, 65535, 0}));
}

TEST_F(PtzOnSim, MetadataWaitsWhileAnotherSourceIsBusy)
{
    start();
    struct Source {
        std::atomic<bool>* busy;
        const char* xml;
        const char* packet;
    };
    const Source sources[] = {
        {&control.camcontrol_voip_det_cmd, R"(<ntk_ptz_zoom_speed zoom_speed="0.3"/>)",
         "81 01 04 07 22 FF"},
        {&control.camcontrol_vtip_det_cmd, R"(<ntk_ptz_zoom_speed zoom_speed="-0.3"/>)",
         "81 01 04 07 32 FF"},
        {&control.m_visca.vid_fmt_switch, R"(<ntk_ptz_zoom_speed zoom_speed="1"/>)",
         "81 01 04 07 27 FF"},
    };
    for (const Source& source : sources) {
        *source.busy = true;
        send(source.xml);
        EXPECT_FALSE(received(source.packet, 1, 300ms)) << source.packet;
        *source.busy = false;
        EXPECT_TRUE(received(source.packet, 1)) << source.packet;
    }
}

TEST_F(PtzOnSim, CommandsCapturedWhileTheEngineWaitsOnTheLineAreSent)
{
    start();
    // The camera stops answering: the engine waits 200 ms for the stop's acknowledgement, longer
    // than a capture time-out, while the zoom is captured, and then sends the stop again.
    ASSERT_TRUE(sim.ok("silent"));
    send("<ntk_ptz_pan_tilt_speed/>");
    ASSERT_TRUE(received("81 01 06 01 05 05 03 03 FF", 1));
    send(R"(<ntk_ptz_zoom_speed zoom_speed="-1"/>)");
    ASSERT_TRUE(received("81 01 06 01 05 05 03 03 FF", 2));
    ASSERT_TRUE(sim.ok("normal"));
    EXPECT_TRUE(received("81 01 04 07 37 FF", 1));
}

TEST_F(PtzOnSim, WebUIThreadStandsAsideWhileMetadataStreams)
{
    start();
    ASSERT_TRUE(wait_until([&] { return control.webui_step != 0; }));
    std::atomic<bool> streaming{true};
    std::thread stream([&] {
        while (streaming) {
            send("<ntk_ptz_flip/>");
            std::this_thread::sleep_for(5ms);
        }
    });
    EXPECT_TRUE(wait_until([&] { return control.camcontrol_webui_pause.load(); }));
    const int step = control.webui_step;
    EXPECT_FALSE(wait_until([&] { return control.webui_step != step; }, 300ms));
    streaming = false;
    stream.join();
    EXPECT_TRUE(wait_until([&] { return control.webui_step != step; }));
}

TEST_F(PtzOnSim, FramesTheHandlerCannotReadLeaveTheThreadRunning)
{
    start();
    // Nested deeper than any command, well within the runtime's 64 KiB.
    std::string deep = "<ntk_ptz_zoom zoom=\"1\">";
    for (int i = 0; i < 5000; ++i) {
        deep += "<a>";
    }
    const std::string hostile[] = {
        R"(<ntk_ptz_zoom zoom="0.5")",
        R"(<ntk_ptz_zoom zoom="0.5></ntk_ptz_zoom>)",
        deep,
        R"(<ntk_ptz_store_preset index="99999999999999999999999"/>)",
        R"(<ntk_ptz_pan_tilt_speed pan_speed="nan" tilt_speed="-inf"/>)",
        "<ntk_ptz_zoom zoom=\"" + std::string(60000, '9') + "\"/>",
        "\x01\x02\xff garbage",
    };
    for (const std::string& text : hostile) {
        send(text);
    }
    // Taken before the next zoom element, which would otherwise replace it in the same buffer.
    ASSERT_TRUE(received("81 01 04 47 00 00 00 00 FF", 1))
        << ::testing::PrintToString(sim.history());
    send(R"(<ntk_ptz_zoom_speed zoom_speed="-1"/>)");
    ASSERT_TRUE(received("81 01 04 07 37 FF", 1)) << ::testing::PrintToString(sim.history());
    // Of the hostile frames only two did anything, each within the camera's range: the drive
    // with a speed that is not a number stops, the 60000-digit zoom is the wide end (NDI zoom 1
    // and beyond is zoomed out).
    std::vector<std::string> commands = packets("81 01 0");
    commands.erase(std::remove(commands.begin(), commands.end(), "81 01 04 38 02 FF"),
                   commands.end());  // auto focus at the thread's start
    EXPECT_EQ(commands,
              (std::vector<std::string>{"81 01 06 01 05 05 03 03 FF", "81 01 04 47 00 00 00 00 FF",
                                        "81 01 04 07 37 FF"}));
}

}  // namespace
