// Camera-control lifecycle against a camera scripted by the test.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "../visca/fake_camera.h"
#include "camcontrol/Camcontrol.h"
#include "main/video_format.h"
#include "support/temp_board_root.h"

namespace {

using vantor::test::ack_packet;
using vantor::test::Bytes;
using vantor::test::completion_packet;
using vantor::test::FakeCamera;
using vantor::test::TempBoardRoot;
using vantor::test::write_text;
using namespace std::chrono_literals;

const Bytes kFormatInquiry{0x81, 0x09, 0x04, 0x24, 0x72, 0xFF};
const Bytes kMenuInquiry{0x81, 0x09, 0x04, 0x15, 0xFF};

bool is_format_write(const Bytes& p)
{
    return p.size() == 8 && p[1] == 0x01 && p[2] == 0x04 && p[3] == 0x24 && p[4] == 0x72;
}

TEST(CamcontrolModel, HardwareVersionFileSelectsTheModel)
{
    TempBoardRoot board;
    board.make_dir("/etc");
    Camcontrol control;
    const auto model_for = [&](const std::string& text) {
        write_text(board / "/etc/vantor-hardware-version", text);
        control.enum_camera_version = R8T;
        control.GetCamVersion();
        return control.enum_camera_version;
    };
    EXPECT_EQ(model_for("Vantor OPTA S700\n"), S700);
    EXPECT_EQ(model_for("Vantor OPTA R8T"), R8T);
    EXPECT_EQ(model_for("Vantor OPTA R8T\nrevision 2\n"), R8T);
    EXPECT_EQ(model_for("Vantor OPTA R8T "), PNone);
    EXPECT_EQ(model_for("vantor opta r8t"), PNone);
    EXPECT_EQ(model_for(""), PNone);
    ::unlink((board / "/etc/vantor-hardware-version").c_str());
    control.enum_camera_version = S700;
    control.GetCamVersion();
    EXPECT_EQ(control.enum_camera_version, PNone);
}

TEST(CamcontrolModel, ExpectedCameraFormat)
{
    const std::pair<uint32_t, uint32_t> expected[] = {
        {video_format_1080_23_95p, video_format_1080_24p},
        {video_format_1080_24p, video_format_1080_24p},
        {video_format_1080_25p, video_format_1080_50p},
        {video_format_720_50p, video_format_1080_50p},
        {video_format_1080_25i, video_format_1080_50p},
        {video_format_1080_50p, video_format_1080_50p},
        {video_format_1080_29p, video_format_1080_59p},
        {video_format_1080_30p, video_format_1080_59p},
        {video_format_720_59p, video_format_1080_59p},
        {video_format_720_60p, video_format_1080_59p},
        {video_format_1080_29i, video_format_1080_59p},
        {video_format_1080_30i, video_format_1080_59p},
        {video_format_1080_59p, video_format_1080_59p},
        {video_format_1080_60p, video_format_1080_59p},
        {video_format_2160_23_95p, video_format_2160_24p},
        {video_format_2160_24p, video_format_2160_24p},
        {video_format_2160_25p, video_format_2160_25p},
        {video_format_2160_29p, video_format_2160_29p},
        {video_format_2160_30p, video_format_2160_30p},
        {video_format_auto, video_format_auto},
    };
    for (const auto& [requested, reported] : expected) {
        EXPECT_EQ(camcontrol_expected_camera_format(requested), reported) << requested;
    }
}

TEST(CamcontrolModel, ConstructionDefaults)
{
    const Camcontrol control;
    EXPECT_EQ(control.m_visca.camSerial, "/dev/ttyPS1");
    EXPECT_EQ(control.m_visca.camBr, static_cast<speed_t>(B9600));
    EXPECT_EQ(control.m_visca.camAddress, 1);
    EXPECT_TRUE(control.m_visca.exec_visca_Running);
    EXPECT_TRUE(control.ntsc_true);
    EXPECT_TRUE(control.Camcontrol_en);
    EXPECT_TRUE(control.bInitUI);
    EXPECT_TRUE(control.camcontrol_ndi_Running);
    EXPECT_TRUE(control.camcontrol_inq_misc_Running);
    EXPECT_TRUE(control.camcontrol_webui_Running);
    EXPECT_TRUE(control.ndi_tally_Running);
    EXPECT_TRUE(control.camcontrol_webui_pause);
    EXPECT_FALSE(control.camcontrol_voip_Running);
    EXPECT_FALSE(control.camcontrol_voip_det_cmd);
    EXPECT_FALSE(control.camcontrol_vtip_Running);
    EXPECT_FALSE(control.camcontrol_vtip_det_cmd);
    EXPECT_EQ(control.cliaddr_len, 16U);
    EXPECT_EQ(control.cliaddr_search_len, 16U);
    EXPECT_EQ(control.ExposureFileName, "/etc/vantor-exp-setup.json");
    EXPECT_EQ(control.PTZFileName, "/etc/vantor-ptz-settings.json");
    EXPECT_EQ(control.ndi_tx_inst, nullptr);
    EXPECT_FALSE(control.debug_print);
}

class CamcontrolLifecycle : public ::testing::Test {
protected:
    CamcontrolLifecycle()
    {
        board.make_dir("/dev");
        board.make_dir("/etc");
        camera = std::make_unique<FakeCamera>(board / "/dev/ttyPS1");
        control.camera_poll_period = 1ms;
    }
    void SetUp() override { ASSERT_TRUE(camera->ok()); }

    // The camera reports register value `format` and acknowledges and completes every command.
    void camera_reports_format(uint8_t format)
    {
        camera->respond([format](const Bytes& packet, size_t) {
            if (packet == kFormatInquiry) {
                return std::vector<Bytes>{{0x90, 0x50, static_cast<uint8_t>(format >> 4U),
                                           static_cast<uint8_t>(format & 0x0FU), 0xFF}};
            }
            if (packet[1] == 0x09) {
                return std::vector<Bytes>{{0x90, 0x50, 0x03, 0xFF}};
            }
            return std::vector<Bytes>{ack_packet(), completion_packet()};
        });
    }

    TempBoardRoot board;
    std::unique_ptr<FakeCamera> camera;
    Camcontrol control;
};

TEST_F(CamcontrolLifecycle, BringUpRetriesUntilTheCameraAnswers)
{
    // The first two presence checks (two attempts each) go unanswered.
    camera->respond([](const Bytes&, size_t index) {
        if (index < 4) {
            return std::vector<Bytes>{};
        }
        return std::vector<Bytes>{{0x90, 0x50, 0x01, 0x04, 0xFF}};
    });
    EXPECT_EQ(control.cam_init_Camcontrol(0), 1);
    const auto sent = camera->packets();
    ASSERT_EQ(sent.size(), 5U);
    for (const Bytes& p : sent) {
        EXPECT_EQ(p, kFormatInquiry);
    }
    EXPECT_TRUE(control.m_visca.exec_visca_thread.joinable());
    control.deinit_Camcontrol();
    EXPECT_FALSE(control.m_visca.exec_visca_thread.joinable());
}

TEST_F(CamcontrolLifecycle, BringUpEndsWhenCameraControlIsDisabled)
{
    std::thread disable([&] {
        camera->wait_for_packets(2, 20s);
        control.Camcontrol_en = false;
    });
    EXPECT_EQ(control.cam_init_Camcontrol(0), 0);
    disable.join();
    control.deinit_Camcontrol();
}

TEST_F(CamcontrolLifecycle, InitReadsTheModelAndDeinitJoinsEverything)
{
    write_text(board / "/etc/vantor-hardware-version", "Vantor OPTA S700\n");
    camera_reports_format(0x14);
    ASSERT_EQ(control.cam_init_Camcontrol(0), 1);
    control.Camcontrol_en = false;
    control.init_Camcontrol();
    EXPECT_TRUE(control.Camcontrol_en);
    EXPECT_EQ(control.enum_camera_version, S700);
    control.deinit_Camcontrol();
    EXPECT_FALSE(control.Camcontrol_en);
    EXPECT_FALSE(control.m_visca.exec_visca_Running);
    EXPECT_FALSE(control.m_visca.exec_visca_thread.joinable());
    EXPECT_FALSE(control.camcontrol_ndi_Running);
    EXPECT_FALSE(control.camcontrol_webui_Running);
    EXPECT_FALSE(control.ndi_tally_Running);
    // A second stop is harmless.
    control.deinit_Camcontrol();
}

TEST_F(CamcontrolLifecycle, FormatAlreadyReportedReturnsAfterOneReadBack)
{
    camera_reports_format(0x14);  // 1080p50, what 1080i50 produces
    ASSERT_EQ(control.cam_init_Camcontrol(0), 1);
    const size_t before = camera->packets().size();
    EXPECT_EQ(control.set_vid_fmt_Camcontrol(video_format_1080_25i), 0);
    EXPECT_FALSE(control.m_visca.vid_fmt_switch);
    EXPECT_EQ(control.video_format_unit, video_format_1080_25i);
    const auto all = camera->packets();
    const std::vector<Bytes> sent(all.begin() + static_cast<long>(before), all.end());
    EXPECT_EQ(sent, (std::vector<Bytes>{kMenuInquiry,
                                        kMenuInquiry,
                                        kMenuInquiry,
                                        kMenuInquiry,
                                        {0x81, 0x01, 0x04, 0x24, 0x72, 0x00, 0x04, 0xFF},
                                        kFormatInquiry}));
    control.deinit_Camcontrol();
}

TEST_F(CamcontrolLifecycle, FormatChangeIsResentEvery31Polls)
{
    camera_reports_format(0x13);  // 1080p59.94: never what 1080i50 is expected to produce
    ASSERT_EQ(control.cam_init_Camcontrol(0), 1);
    const size_t before = camera->packets().size();
    std::thread change([&] { control.set_vid_fmt_Camcontrol(video_format_1080_25i); });
    // The third format write: the first plus two re-sends.
    bool three_writes = false;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!three_writes && std::chrono::steady_clock::now() < deadline) {
        camera->wait_for_packets(camera->packets().size() + 1, 1s);
        const auto sent = camera->packets();
        three_writes = std::count_if(sent.begin() + static_cast<long>(before), sent.end(),
                                     is_format_write) >= 3;
    }
    EXPECT_TRUE(control.m_visca.vid_fmt_switch);
    control.Camcontrol_en = false;
    change.join();
    EXPECT_FALSE(control.m_visca.vid_fmt_switch);
    ASSERT_TRUE(three_writes);

    const auto all = camera->packets();
    std::vector<int> reads_between;
    int reads = -1;
    for (size_t i = before; i < all.size(); ++i) {
        if (is_format_write(all[i])) {
            if (reads >= 0) {
                reads_between.push_back(reads);
            }
            reads = 0;
        } else if (all[i] == kFormatInquiry && reads >= 0) {
            ++reads;
        }
    }
    ASSERT_GE(reads_between.size(), 2U);
    EXPECT_EQ(reads_between[0], 31);
    EXPECT_EQ(reads_between[1], 31);
    control.deinit_Camcontrol();
}

TEST_F(CamcontrolLifecycle, FormatChangeWaitsUntilTheWebUIStandsAside)
{
    camera_reports_format(0x1E);  // 2160p25
    ASSERT_EQ(control.cam_init_Camcontrol(0), 1);
    const size_t before = camera->packets().size();
    control.camcontrol_webui_pause = false;
    std::thread change([&] { control.set_vid_fmt_Camcontrol(video_format_2160_25p); });
    // Nothing goes to the camera while the web-UI thread has not stood aside.
    EXPECT_FALSE(camera->wait_for_packets(before + 1, 200ms));
    EXPECT_TRUE(control.m_visca.vid_fmt_switch);
    control.camcontrol_webui_pause = true;
    change.join();
    EXPECT_GT(camera->packets().size(), before);
    EXPECT_FALSE(control.m_visca.vid_fmt_switch);
    control.deinit_Camcontrol();
}

TEST_F(CamcontrolLifecycle, DestructionStopsARunningEngine)
{
    camera_reports_format(0x14);
    auto owned = std::make_unique<Camcontrol>();
    owned->camera_poll_period = 1ms;
    ASSERT_EQ(owned->cam_init_Camcontrol(0), 1);
    ASSERT_TRUE(owned->m_visca.exec_visca_thread.joinable());
    // No deinit: destroying an object with a running thread would end the test program.
    owned.reset();
}

}  // namespace
