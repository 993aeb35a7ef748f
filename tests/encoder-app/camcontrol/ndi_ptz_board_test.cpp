// End to end on the virtual board: the encoder application runs with the camera-module and
// encoder simulators, a real NDI receiver sends every case of the PTZ table to its source, and
// the simulator's record of the line shows the packets, in the engine's order.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "Processing.NDI.Lib.h"
#include "ndi_ptz_cases.h"
#include "support/board_tools.h"
#include "support/camera_sim.h"
#include "support/child_process.h"
#include "support/speedhq_sim.h"
#include "support/temp_board_root.h"
#include "support/wait_until.h"

namespace {

using namespace std::chrono_literals;
using vantor::test::CameraSimProcess;
using vantor::test::ScopedEnv;
using vantor::test::SpeedHqSimProcess;
using vantor::test::TempBoardRoot;
using vantor::test::TempDir;
using vantor::test::wait_until;
using vantor::test::write_text;

constexpr auto kDeadline = 60s;

// Commands on the line other than the tally lamp's (inquiries of the web-UI and status threads
// begin 81 09).
std::vector<std::string> ptz_commands(CameraSimProcess& camera)
{
    std::vector<std::string> found;
    for (const std::string& packet : camera.history()) {
        if (packet.rfind("81 01 ", 0) == 0 && packet.rfind("81 01 7E 01 0A ", 0) != 0) {
            found.push_back(packet);
        }
    }
    return found;
}

class PtzOnBoard : public ::testing::Test {
protected:
    PtzOnBoard()
        : registry_env("VANTOR_NDI_REGISTRY", registry.path()),
          path_env("PATH", vantor::test::tools_first_in_path(tools)),
          camera((make_board(), VANTOR_BIN_DIR), board / "/dev/ttyPS1", board / "/camera.sock",
                 {"--format-delay", "0"}),
          encoder(VANTOR_BIN_DIR, board / "/dev/vantor-speedhq", {"--rate", "30"})
    {
    }
    ~PtzOnBoard() override
    {
        receiver_stop();
        if (app > 0) {
            ::kill(app, SIGKILL);
            int status = 0;
            ::waitpid(app, &status, 0);
        }
    }
    void make_board()
    {
        board.make_dir("/dev");
        board.make_dir("/etc");
        board.make_dir("/tmp");
        vantor::test::write_tool(tools, "ip", "    inet 10.77.0.2/24 scope global eth0\\n");
        vantor::test::write_tool(tools, "ifconfig", "eth0      HWaddr 02:00:0A:4D:00:02\\n");
        write_text(board / "/etc/vantor-enc1-settings.json",
                   R"({"VideoFormat":"1080p50","VideoSampleRate":"422"})");
        write_text(board / "/etc/vantor-ptz-settings.json", vantor::test::ptz_settings_json());
    }
    void SetUp() override
    {
        ASSERT_TRUE(camera.ready());
        ASSERT_TRUE(encoder.ready());
        vantor::test::ChildStreams streams;
        streams.in.path = "/dev/null";
        streams.out.path = board / "/tmp/encoder-app.out";
        streams.out.flags = O_WRONLY | O_CREAT | O_TRUNC;
        app = vantor::test::start_child({std::string(VANTOR_BIN_DIR) + "/encoder-app"}, streams);
        ASSERT_GT(app, 0);
        const NDIlib_recv_create_v3_t settings(NDIlib_source_t("CAM"),
                                               NDIlib_recv_bandwidth_metadata_only, "ptz test");
        receiver = NDIlib_recv_create_v3(&settings);
        ASSERT_NE(receiver, nullptr);
        ASSERT_TRUE(
            wait_until([&] { return NDIlib_recv_get_no_connections(receiver) == 1; }, kDeadline));
    }
    void receiver_stop()
    {
        if (receiver != nullptr) {
            NDIlib_recv_destroy(receiver);
            receiver = nullptr;
        }
    }
    void send(const char* xml)
    {
        std::string text = xml;
        NDIlib_metadata_frame_t frame(0, NDIlib_send_timecode_synthesize, text.data());
        ASSERT_TRUE(NDIlib_recv_send_metadata(receiver, &frame));
    }
    // No move holds a socket: a command now is answered at once, never refused as buffer full.
    bool sockets_idle()
    {
        return wait_until(
            [&] {
                auto state = camera.state();
                return state["socket1"] == "idle" && state["socket2"] == "idle";
            },
            kDeadline);
    }

    TempBoardRoot board;
    TempDir registry;
    TempDir tools;
    ScopedEnv registry_env;
    ScopedEnv path_env;
    CameraSimProcess camera;
    SpeedHqSimProcess encoder;
    pid_t app = -1;
    NDIlib_recv_instance_t receiver = nullptr;
};

TEST_F(PtzOnBoard, EveryElementReachesTheCameraInTheEnginesOrder)
{
    // Frames held back during the start-up format change would share one drain (and a slot):
    // start once the encoder streams, after the change.
    ASSERT_TRUE(wait_until(
        [&] {
            return vantor::test::read_text(board / "/tmp/encoder-app.out")
                       .find("START NDI Encode with format") != std::string::npos;
        },
        kDeadline));
    // The metadata thread asks for auto focus when it starts; the engine sends it with the first
    // frame's commands.
    send("<ntk_ptz_flip/>");
    ASSERT_TRUE(wait_until(
        [&] {
            const auto commands = ptz_commands(camera);
            return !commands.empty() && commands.back() == "81 01 04 38 02 FF";
        },
        kDeadline));
    ASSERT_TRUE(camera.ok("clear"));

    std::vector<std::string> expected;
    for (const vantor::test::PtzCase& c : vantor::test::ptz_cases()) {
        send(c.xml);
        if (c.packets.empty()) {
            continue;
        }
        expected.insert(expected.end(), c.packets.begin(), c.packets.end());
        ASSERT_TRUE(
            wait_until([&] { return ptz_commands(camera).size() >= expected.size(); }, kDeadline))
            << c.xml;
        ASSERT_TRUE(sockets_idle()) << c.xml;
    }
    EXPECT_EQ(ptz_commands(camera), expected);

    ::kill(app, SIGINT);
    int status = -1;
    ASSERT_TRUE(wait_until([&] { return ::waitpid(app, &status, WNOHANG) == app; }, kDeadline));
    app = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
