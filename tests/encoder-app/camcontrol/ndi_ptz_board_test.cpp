// End to end on the virtual board: the encoder application runs with the camera-module and
// encoder simulators, a real NDI receiver sends every case of the PTZ table to its source, and
// the simulator's record of the line shows the packets, in the engine's order.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Processing.NDI.Lib.h"
#include "ndi_ptz_cases.h"
#include "support/wait_until.h"
#include "voip_board.h"

namespace {

using namespace std::chrono_literals;
using vantor::test::CameraSimProcess;
using vantor::test::wait_until;

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
    ~PtzOnBoard() override { receiver_stop(); }
    void SetUp() override
    {
        ASSERT_TRUE(board.camera.ready());
        ASSERT_TRUE(board.encoder.ready());
        vantor::test::write_text(board.board / "/etc/vantor-ptz-settings.json",
                                 vantor::test::ptz_settings_json());
        // Frames held back during the start-up format change would share one drain (and a slot):
        // start once the encoder streams, after the change.
        ASSERT_TRUE(board.start_app(vantor::test::ipv4(address))) << board.app_output();
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
                auto state = board.camera.state();
                return state["socket1"] == "idle" && state["socket2"] == "idle";
            },
            kDeadline);
    }

    const std::string address = vantor::test::own_loopback_address();
    vantor::test::VoipBoard board{address, {}, {"--format-delay", "0"}};
    vantor::test::ScopedEnv registry_env{"VANTOR_NDI_REGISTRY", board.registry.path()};
    NDIlib_recv_instance_t receiver = nullptr;
};

TEST_F(PtzOnBoard, EveryElementReachesTheCameraInTheEnginesOrder)
{
    // The metadata thread asks for auto focus when it starts; the engine sends it with the first
    // frame's commands.
    send("<ntk_ptz_flip/>");
    ASSERT_TRUE(wait_until(
        [&] {
            const auto commands = ptz_commands(board.camera);
            return !commands.empty() && commands.back() == "81 01 04 38 02 FF";
        },
        kDeadline));
    ASSERT_TRUE(board.camera.ok("clear"));

    std::vector<std::string> expected;
    for (const vantor::test::PtzCase& c : vantor::test::ptz_cases()) {
        send(c.xml);
        if (c.packets.empty()) {
            continue;
        }
        expected.insert(expected.end(), c.packets.begin(), c.packets.end());
        ASSERT_TRUE(wait_until([&] { return ptz_commands(board.camera).size() >= expected.size(); },
                               kDeadline))
            << c.xml;
        ASSERT_TRUE(sockets_idle()) << c.xml;
    }
    EXPECT_EQ(ptz_commands(board.camera), expected);

    EXPECT_EQ(board.stop_app(), 0) << board.app_output();
}

// VISCA-over-IP datagrams that are not acted on (junk), every 20 ms after one executed command,
// do not hold the metadata back: a zoom drive sent meanwhile reaches the camera while the junk
// goes on.
TEST_F(PtzOnBoard, JunkOverIpDoesNotHoldTheMetadataBack)
{
    const vantor::test::VoipController controller(vantor::test::ipv4(address), 52381);
    controller.send(vantor::test::hex("01 00 00 06 00 00 00 01 81 01 04 07 00 FF"));
    ASSERT_TRUE(controller.receive(2s));  // acknowledged: the activity flag is set
    ASSERT_TRUE(board.camera.ok("clear"));
    const auto end = std::chrono::steady_clock::now() + 3s;
    bool sent = false;
    bool reached = false;
    while (std::chrono::steady_clock::now() < end && !reached) {
        controller.send(vantor::test::Bytes(40, 0x5A));
        if (!sent && std::chrono::steady_clock::now() > end - 2500ms) {
            send(R"(<ntk_ptz_zoom_speed zoom_speed="-0.5"/>)");
            sent = true;
        }
        const auto commands = ptz_commands(board.camera);
        reached =
            std::find(commands.begin(), commands.end(), "81 01 04 07 33 FF") != commands.end();
        std::this_thread::sleep_for(20ms);  // the junk's pace
    }
    EXPECT_TRUE(reached);
}

}  // namespace
