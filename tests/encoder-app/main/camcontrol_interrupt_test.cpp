// An interruption (the program's SIGINT) ends camera control's waits for the camera: the bring-up
// retry and the format confirmation, which otherwise last as long as the camera does not answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "camcontrol/Camcontrol.h"
#include "main/video_format.h"
#include "support/camera_sim.h"
#include "support/temp_board_root.h"

namespace {

using namespace std::chrono_literals;
using vantor::test::CameraSimProcess;
using vantor::test::TempBoardRoot;

constexpr auto kDeadline = 30s;

class CamcontrolInterrupt : public ::testing::Test {
protected:
    CamcontrolInterrupt()
        : sim((board.make_dir("/dev"), VANTOR_BIN_DIR), board / "/dev/ttyPS1", board / "/sim.sock",
              {"--format-delay", "0"})
    {
    }
    void SetUp() override { ASSERT_TRUE(sim.ready()); }
    void TearDown() override { control.deinit_Camcontrol(); }

    // Waits until the camera has received `count` packets equal to `packet`.
    bool camera_received(const std::string& packet, std::size_t count)
    {
        const auto end = std::chrono::steady_clock::now() + kDeadline;
        while (std::chrono::steady_clock::now() < end) {
            const auto history = sim.history();
            if (static_cast<std::size_t>(std::count(history.begin(), history.end(), packet)) >=
                count) {
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    TempBoardRoot board;
    CameraSimProcess sim;
    Camcontrol control;  // the camera's own one-second poll period
};

TEST_F(CamcontrolInterrupt, EndsTheBringUpRetryOfASilentCamera)
{
    ASSERT_TRUE(sim.ok("silent"));
    auto result = std::async(std::launch::async, [this] { return control.cam_init_Camcontrol(0); });
    // Two presence checks went unanswered: the retry loop runs.
    ASSERT_TRUE(camera_received("81 09 04 24 72 FF", 2));
    control.camcontrol_interrupted = true;
    ASSERT_EQ(result.wait_for(kDeadline), std::future_status::ready);
    EXPECT_EQ(result.get(), 0);
    EXPECT_TRUE(control.Camcontrol_en);  // camera control was not disabled: only interrupted
}

TEST_F(CamcontrolInterrupt, InterruptedBeforeBringUpReturnsAtOnce)
{
    control.camcontrol_interrupted = true;
    EXPECT_EQ(control.cam_init_Camcontrol(0), 0);
}

TEST_F(CamcontrolInterrupt, EndsTheFormatConfirmationOfACameraThatNeverSwitches)
{
    control.camera_poll_period = 20ms;
    ASSERT_EQ(control.cam_init_Camcontrol(0), 1);
    control.camera_poll_period = 1000ms;
    control.init_Camcontrol();

    // The camera accepts the change but never reports the new format.
    ASSERT_TRUE(sim.ok("format-delay 3600000"));
    ASSERT_TRUE(sim.ok("clear"));
    auto done = std::async(std::launch::async, [this] {
        return control.set_vid_fmt_Camcontrol(video_format_2160_25p);
    });
    ASSERT_TRUE(camera_received("81 01 04 24 72 01 0E FF", 1));
    ASSERT_TRUE(camera_received("81 09 04 24 72 FF", 2));  // confirmation polls running
    EXPECT_TRUE(control.m_visca.vid_fmt_switch);

    control.camcontrol_interrupted = true;
    ASSERT_EQ(done.wait_for(kDeadline), std::future_status::ready);
    EXPECT_EQ(done.get(), 0);
    // The other command sources are released again.
    EXPECT_FALSE(control.m_visca.vid_fmt_switch);
    EXPECT_TRUE(control.Camcontrol_en);
}

TEST_F(CamcontrolInterrupt, InterruptionSurvivesInitAndTheFormatChangeSendsNothing)
{
    control.camera_poll_period = 20ms;
    ASSERT_EQ(control.cam_init_Camcontrol(0), 1);
    // Interrupted between bring-up and start: init_Camcontrol enables camera control again, the
    // interruption still holds.
    control.camcontrol_interrupted = true;
    control.init_Camcontrol();
    ASSERT_TRUE(sim.wait_line_idle(kDeadline));
    ASSERT_TRUE(sim.ok("clear"));
    EXPECT_EQ(control.set_vid_fmt_Camcontrol(video_format_1080_60p), 0);
    EXPECT_FALSE(control.m_visca.vid_fmt_switch);
    ASSERT_TRUE(sim.wait_line_idle(kDeadline));
    // Neither the menu check, nor the format write, nor its read-back (the web-UI thread's block
    // inquiries may go on meanwhile).
    for (const std::string& packet : sim.history()) {
        EXPECT_EQ(packet.rfind("81 09 7E 7E", 0), 0U) << packet;
    }
}

}  // namespace
