// The synchronisation thread against the camera-module simulator: settings files under a
// temporary board root, real block inquiries and set commands on the paced line.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "camcontrol/Camcontrol.h"
#include "camcontrol/webui_bindings.h"
#include "main/video_format.h"
#include "support/camera_sim.h"
#include "support/temp_board_root.h"
#include "support/wait_until.h"

namespace {

using namespace std::chrono_literals;
using vantor::test::CameraSimProcess;
using vantor::test::read_text;
using vantor::test::TempBoardRoot;
using vantor::test::write_text;

const char* const kExpFile = "/etc/vantor-exp-setup.json";
const char* const kGammaFile = "/etc/vantor-gamma-setup.json";

std::string exposure_json(const std::string& exp_mode, const std::string& iris)
{
    return R"({"ExpMode":")" + exp_mode + R"(","IrisLevel":")" + iris + R"("})";
}

std::string gamma_json(const std::string& level, const std::string& offset)
{
    return R"({"Level":")" + level + R"(","Offset":")" + offset + R"(","Settings":"STANDARD"})";
}

template <typename Pred>
bool eventually(Pred pred, std::chrono::seconds deadline = 60s,
                std::chrono::milliseconds poll = 10ms)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(poll);
    }
    return true;
}

class WebUISim : public ::testing::Test {
protected:
    WebUISim()
        : sim((board.make_dir("/dev"), board.make_dir("/etc"), board.make_dir("/tmp"),
               VANTOR_BIN_DIR),
              board / "/dev/ttyPS1", board / "/sim.sock")
    {
        control.camera_poll_period = 1ms;
        // The cycle's order matters here, not its pace: the line's timing is real.
        control.webui_step_period = 10ms;
        control.webui_pause_period = 1ms;
    }
    ~WebUISim() override { control.deinit_Camcontrol(); }
    void SetUp() override { ASSERT_TRUE(sim.ready()); }

    std::string state(const std::string& name) { return sim.state()[name]; }

    TempBoardRoot board;
    CameraSimProcess sim;
    Camcontrol control;
};

TEST_F(WebUISim, FilesAndCameraStayInStep)
{
    write_text(board / kExpFile, exposure_json("MANUAL", "3"));
    write_text(board / kGammaFile, gamma_json("1", "0"));
    ASSERT_EQ(control.cam_init_Camcontrol(0), 1);
    control.init_Camcontrol();

    // Start-up: the camera's settings overwrite the files.
    ASSERT_TRUE(eventually([&] {
        return read_text(board / kExpFile) == exposure_json("FULL-AUTO", "12");
    })) << read_text(board / kExpFile);
    ASSERT_TRUE(eventually([&] { return read_text(board / kGammaFile) == gamma_json("7", "0"); }))
        << read_text(board / kGammaFile);

    // The web UI's writes and the thread's write-back both replace the whole file: wait until
    // the thread is past this cycle's write-backs (gamma at step 8, exposure at step 10), after
    // which nothing is written back while the two sides agree.
    ASSERT_TRUE(eventually([&] { return control.webui_step >= 11; }, 60s, 1ms));

    // A file change goes to the camera.
    write_text(board / kExpFile, exposure_json("FULL-AUTO", "8"));
    write_text(board / kGammaFile, gamma_json("7", "-3"));
    EXPECT_TRUE(eventually([&] { return state("IrisLevel") == "8"; }));
    EXPECT_TRUE(eventually([&] { return state("GammaOffset") == "259"; }));

    // A camera change comes into the file; the pushed values are agreed, not written back.
    ASSERT_TRUE(sim.ok("set GammaLevel 9"));
    ASSERT_TRUE(sim.ok("set ExpMode 3"));
    EXPECT_TRUE(eventually([&] { return read_text(board / kGammaFile) == gamma_json("9", "-3"); }))
        << read_text(board / kGammaFile);
    EXPECT_TRUE(eventually([&] {
        return read_text(board / kExpFile) == exposure_json("MANUAL", "8");
    })) << read_text(board / kExpFile);
    EXPECT_EQ(state("IrisLevel"), "8");
    EXPECT_EQ(state("GammaOffset"), "259");
}

// Every value a binding writes comes back, through the simulator's block replies and the block
// inquiries' transformations, as the same value.
TEST_F(WebUISim, EveryBindingRoundTripsThroughTheBlockReplies)
{
    const std::map<std::string, uint32_t> values = {{"ExpMode", 3},
                                                    {"ExpCompEn", 2},
                                                    {"ExpCompLvl", 0x7D},
                                                    {"AeResponse", 2},
                                                    {"SlowShutterEn", 2},
                                                    {"SlowShutterLimit", 0x12},
                                                    {"ShutterSpeed", 0x15},
                                                    {"ShutterMaxSpeed", 0x20},
                                                    {"ShutterMinSpeed", 0x08},
                                                    {"GainLevel", 5},
                                                    {"GainLimit", 0x0A},
                                                    {"GainPoint", 2},
                                                    {"GainPointPosition", 0x20},
                                                    {"IrisLevel", 8},
                                                    {"BrightLevel", 0x11},
                                                    {"HighSensitivity", 2},
                                                    {"BackLight", 2},
                                                    {"Spotlight", 2},
                                                    {"WbMode", 5},
                                                    {"RedGain", 0x90},
                                                    {"BlueGain", 0x70},
                                                    {"BG", 0x60},
                                                    {"BR", 0x61},
                                                    {"GB", 0x62},
                                                    {"GR", 0x63},
                                                    {"RB", 0x64},
                                                    {"RG", 0x65},
                                                    {"Offset", 5},
                                                    {"Phase", 4},
                                                    {"Speed", 3},
                                                    {"Matrix", 4},
                                                    {"Select", 5},
                                                    {"ChromeSuppress", 2},
                                                    {"Flip", 2},
                                                    {"HighlightComp", 16},
                                                    {"IRCutFilter", 2},
                                                    {"Mirror", 2},
                                                    {"NDFilter", 1},
                                                    {"Stabilizer", 4},
                                                    {"Picture_TWOTHREEDNR", 0x24},
                                                    {"Bandwidth", 3},
                                                    {"BwBalance", 2},
                                                    {"Crispening", 4},
                                                    {"Detail", 1},
                                                    {"HighLightDetail", 2},
                                                    {"HvBalance", 6},
                                                    {"Limit", 3},
                                                    {"SuperLow", 0x10},
                                                    {"BlackGammaLevel", 0x10},
                                                    {"BlackLevel", 0x35},
                                                    {"BlackLevelRange", 2},
                                                    {"Effect", 0x05210000},
                                                    {"Settings", 1},
                                                    {"PatternREG", 512},
                                                    {"VisibilityEnhancer", 6}};
    // Keys used by two groups ("Level", "Offset") take per-group values.
    const auto value_for = [&](const webui_binding& row) -> uint32_t {
        const std::string key = row.key;
        if (key == "Level") {
            return row.group == webui_group::WhiteBalance ? 4U
                   : row.group == webui_group::Detail     ? 5U
                                                          : 0x0BU;
        }
        if (key == "Offset" && row.group == webui_group::Gamma) {
            return 259U;
        }
        return values.at(key);
    };
    control.enum_camera_version = R8T;
    ASSERT_EQ(control.m_visca.init_visca(), 1);
    for (const webui_binding& row : webui_bindings()) {
        if (row.width == 0 || row.sync == webui_sync::PresetRequest) {
            continue;
        }
        auto& cmd = control.*row.member;
        cmd.ui_val = value_for(row);
        cmd.set_cmd.comp = false;
        // On a loaded machine the engine's 200 ms reply window can pass: send again then.
        for (int attempt = 0; attempt < 5 && !cmd.set_cmd.comp; ++attempt) {
            ASSERT_TRUE(control.visca_command_set_mcu(cmd, row.width, row.byte_mode)) << row.key;
        }
        EXPECT_TRUE(cmd.set_cmd.comp) << row.key;
    }
    for (uint8_t block = 0x10; block <= 0x16; ++block) {
        bool replied = false;
        for (int attempt = 0; attempt < 5 && !replied; ++attempt) {
            replied = control.BlockINQ(block);
        }
        ASSERT_TRUE(replied) << static_cast<int>(block);
    }
    for (const webui_binding& row : webui_bindings()) {
        if (row.width == 0 || row.sync == webui_sync::PresetRequest) {
            continue;
        }
        const auto& cmd = control.*row.member;
        EXPECT_TRUE(cmd.mcu_val_read) << row.key;
        // Matrix and Select share one register: the later write (Select) is what both report.
        const uint32_t expected =
            row.member == &Camcontrol::WhiteBalance_Matrix ? 5U : value_for(row);
        EXPECT_EQ(cmd.mcu_val, expected) << row.key;
    }
}

// A request left before bring-up waits for the open line instead of being lost on the closed one.
TEST_F(WebUISim, PresetRequestFromBeforeBringUpReachesTheCamera)
{
    write_text(board / "/tmp/vantor-save-preset", "Preset-3");
    write_text(board / "/etc/vantor-ptz-settings.json", R"({"TiltSpeed":"9"})");
    ASSERT_EQ(control.cam_init_Camcontrol(0), 1);
    EXPECT_EQ(control.PTZ_TiltSpeed, 9);
    EXPECT_EQ(::access((board / "/tmp/vantor-save-preset").c_str(), F_OK), 0);
    control.init_Camcontrol();
    EXPECT_TRUE(eventually([&] {
        const auto history = sim.history();
        return std::find(history.begin(), history.end(), "81 01 04 3F 01 02 FF") != history.end();
    }));
    EXPECT_TRUE(eventually(
        [&] { return ::access((board / "/tmp/vantor-save-preset").c_str(), F_OK) != 0; }));
}

// A format change must find the web-UI thread either standing aside or in a step it then waits
// for. The seam holds the thread between its look at the other sources and its step until the
// change has begun, the moment a preemption could hold it there on the camera.
TEST_F(WebUISim, NoBlockInquiryFromTheStartOfAFormatChangeToItsConfirmation)
{
    const std::string menu_inquiry = "81 09 04 15 FF";
    const std::string format_inquiry = "81 09 04 24 72 FF";
    const auto is_format_write = [](const std::string& p) {
        return p.rfind("81 01 04 24 72 ", 0) == 0;
    };
    const auto is_block_inquiry = [](const std::string& p) {
        return p.rfind("81 09 7E 7E ", 0) == 0;
    };
    ASSERT_TRUE(sim.ok("format-delay 0"));
    // Shared with the thread, which the fixture stops only after this body has ended.
    const auto at_step = std::make_shared<std::atomic<bool>>(false);
    control.webui_before_step = [this, at_step] {
        *at_step = true;
        vantor::test::wait_until([this] { return control.m_visca.vid_fmt_switch.load(); }, 200ms);
    };
    ASSERT_EQ(control.cam_init_Camcontrol(0), 1);
    control.init_Camcontrol();
    const uint32_t formats[] = {video_format_1080_50p, video_format_1080_59p};
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(sim.ok("clear"));
        ASSERT_TRUE(vantor::test::wait_until([&] { return at_step->exchange(false); }, 10s));
        control.set_vid_fmt_Camcontrol(formats[i % 2]);
        const auto history = sim.history();
        const auto begin = std::find(history.begin(), history.end(), menu_inquiry);
        const auto confirmation =
            std::find(history.rbegin(), history.rend(), format_inquiry).base();
        ASSERT_LT(begin, confirmation) << i;
        ASSERT_NE(std::find_if(begin, confirmation, is_format_write), confirmation) << i;
        const auto block = std::find_if(begin, confirmation, is_block_inquiry);
        EXPECT_TRUE(block == confirmation)
            << "iteration " << i << ": " << (block == confirmation ? "" : *block);
    }
}

}  // namespace
