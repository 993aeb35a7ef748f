// The NDI PTZ metadata handler on its own: metadata texts in, the commands it leaves in the
// engine's capture buffer out (in the order the engine sends them); the value conversions; the
// frames it must drop; the status reply's text.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camcontrol/Camcontrol.h"
#include "camcontrol/ndi_ptz_values.h"
#include "ndi_ptz_cases.h"
#include "support/wait_until.h"

namespace {

using namespace std::chrono_literals;

class NdiPtzHandler : public ::testing::Test {
protected:
    NdiPtzHandler()
    {
        control.m_visca.init_visca_command();
        control.PTZ_PanSpeed = vantor::test::kCasePanSpeed;
        control.PTZ_TiltSpeed = vantor::test::kCaseTiltSpeed;
        control.PTZ_ZoomSpeed = vantor::test::kCaseZoomSpeed;
    }

    void capture(std::string text)
    {
        NDIlib_metadata_frame_t frame(static_cast<int>(text.size() + 1),
                                      NDIlib_send_timecode_synthesize, text.data());
        control.camcontrol_capture_ndi(&frame);
    }

    // The pending commands of the capture buffer as hex texts, in sending order; taken.
    std::vector<std::string> take_pending()
    {
        std::vector<std::string> packets;
        const int index = control.m_visca.cap_cmd_index;
        for (const visca::command_slot slot : visca::sending_order()) {
            visca_command& command = (control.m_visca.*slot)[index];
            if (!command.cmd_fill) {
                continue;
            }
            std::string hex;
            for (int i = 0; i < command.cmd_length; ++i) {
                char byte[4];
                std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", command.cmd[i]);
                hex += byte;
            }
            packets.push_back(hex);
            command.cmd_fill = false;
        }
        return packets;
    }

    Camcontrol control;
};

TEST_F(NdiPtzHandler, EveryElementWritesItsCommands)
{
    for (const vantor::test::PtzCase& c : vantor::test::ptz_cases()) {
        capture(c.xml);
        EXPECT_EQ(take_pending(), c.packets) << c.xml;
    }
}

TEST_F(NdiPtzHandler, TheLastElementForAnAxisWinsWithinOneBuffer)
{
    // Two frames handled before the engine takes the buffer (one drain interval), both orders:
    // the engine's fixed order must not let the earlier one decide where the axis ends.
    struct TwoFrames {
        const char* first;
        const char* second;
        std::vector<std::string> packets;
    };
    const TwoFrames cases[] = {
        {R"(<ntk_ptz_pan_tilt_speed pan_speed="1"/>)",
         R"(<ntk_ptz_pan_tilt_speed/>)",
         {"81 01 06 01 05 05 03 03 FF"}},
        {R"(<ntk_ptz_pan_tilt_speed/>)",
         R"(<ntk_ptz_pan_tilt_speed pan_speed="-1"/>)",
         {"81 01 06 01 14 01 02 03 FF"}},
        {R"(<ntk_ptz_pan_tilt pan="1" tilt="0"/>)",
         R"(<ntk_ptz_pan_tilt_speed/>)",
         {"81 01 06 01 05 05 03 03 FF"}},
        {R"(<ntk_ptz_zoom_speed zoom_speed="1"/>)",
         R"(<ntk_ptz_zoom_speed zoom_speed="0"/>)",
         {"81 01 04 07 00 FF"}},
        {R"(<ntk_ptz_zoom_speed zoom_speed="0"/>)",
         R"(<ntk_ptz_zoom_speed zoom_speed="-1"/>)",
         {"81 01 04 07 37 FF"}},
        {R"(<ntk_ptz_zoom zoom="0"/>)",
         R"(<ntk_ptz_zoom_speed zoom_speed="0"/>)",
         {"81 01 04 07 00 FF"}},
        {R"(<ntk_ptz_focus_speed focus_speed="1"/>)",
         R"(<ntk_ptz_focus_move direction="stop"/>)",
         {"81 01 04 08 00 FF"}},
        {R"(<ntk_ptz_focus_move direction="stop"/>)",
         R"(<ntk_ptz_focus_speed focus_speed="-1"/>)",
         {"81 01 04 08 27 FF"}},
        // other axes are left alone
        {R"(<ntk_ptz_zoom_speed zoom_speed="1"/>)",
         R"(<ntk_ptz_pan_tilt_speed/>)",
         {"81 01 06 01 05 05 03 03 FF", "81 01 04 07 27 FF"}},
    };
    for (const TwoFrames& c : cases) {
        capture(c.first);
        capture(c.second);
        EXPECT_EQ(take_pending(), c.packets) << c.first << " then " << c.second;
    }
}

TEST_F(NdiPtzHandler, StatusReplyDoesNotWaitForAWebUIStep)
{
    // The web-UI thread holds its values' lock for a whole step.
    std::unique_lock<std::mutex> step(control.webui_values_mutex);
    std::atomic<bool> replied{false};
    std::thread metadata([&] {
        capture("<ntk_ptz_inq_command/>");
        replied = true;
    });
    const bool in_time = vantor::test::wait_until([&] { return replied.load(); }, 5s);
    step.unlock();  // lets a waiting reply end, so the thread can always be joined
    metadata.join();
    EXPECT_TRUE(in_time) << "the status reply waited for the web-UI step";
}

TEST_F(NdiPtzHandler, FramesItCannotReadAreDroppedWithoutEffect)
{
    // Well-formed and under 64 KiB, but 9001 levels deep: the parser would recurse that often.
    std::string opening;
    std::string closing;
    for (int i = 0; i < 9000; ++i) {
        opening += "<a>";
        closing += "</a>";
    }
    const std::string deep = R"(<ntk_ptz_zoom zoom="1">)" + opening + closing + "</ntk_ptz_zoom>";
    const std::string huge_attribute =
        R"(<ntk_ptz_zoom zoom="0" pad=")" + std::string(60000, 'x') + R"("/>)";
    const std::string megabyte = R"(<ntk_ptz_zoom zoom="1"/>)" + std::string(1 << 20, ' ');
    // Too deep, once text and attribute values are seen for what they are: "/>" in them closes
    // nothing (about 13,000 levels of this fit in 64 KiB).
    std::string disguised_opening;
    std::string disguised_closing;
    for (int i = 0; i < 40; ++i) {
        disguised_opening += i % 2 == 0 ? "<a>/>" : R"(<a b="/>">)";
        disguised_closing += "</a>";
    }
    const std::string disguised =
        R"(<ntk_ptz_zoom zoom="1">)" + disguised_opening + disguised_closing + "</ntk_ptz_zoom>";
    // A declaration other than the document type ends at its first '>', brackets or not.
    const std::string declared = R"(<ntk_ptz_zoom zoom="1"><!x [>)" + disguised_opening + "]>" +
                                 disguised_closing + "</ntk_ptz_zoom>";
    for (const std::string& text : {deep, megabyte, disguised, declared}) {
        capture(text);
        EXPECT_TRUE(take_pending().empty()) << text.substr(0, 40);
    }
    // An attribute of 60000 bytes is still a command.
    capture(huge_attribute);
    EXPECT_EQ(take_pending(), std::vector<std::string>{"81 01 04 47 04 00 00 00 FF"});

    char unterminated[] = {'<', 'n', 't', 'k', '_', 'p', 't', 'z',
                           '_', 'z', 'o', 'o', 'm', '/', '>'};
    char text[] = "<ntk_ptz_zoom/>";
    NDIlib_metadata_frame_t frames[] = {
        {static_cast<int>(sizeof unterminated), 0, unterminated},
        {0, 0, text},
        {-5, 0, text},
        {16, 0, nullptr},
    };
    for (NDIlib_metadata_frame_t& frame : frames) {
        control.camcontrol_capture_ndi(&frame);
        EXPECT_TRUE(take_pending().empty()) << frame.length;
    }
    control.camcontrol_capture_ndi(nullptr);
    // The handler still works afterwards.
    capture("<ntk_ptz_zoom/>");
    EXPECT_EQ(take_pending(), std::vector<std::string>{"81 01 04 47 00 00 00 00 FF"});
}

TEST(NdiPtzValues, ZoomIsMonotonicWithinTheTableAndReachesTheTeleEnd)
{
    uint16_t last = 0;
    for (int i = -10; i <= 1010; ++i) {
        const uint16_t position = ndi_ptz_zoom_position(i / 1000.0);
        EXPECT_GE(position, last) << i;
        EXPECT_LE(position, 0x4000) << i;
        last = position;
    }
    EXPECT_EQ(ndi_ptz_zoom_position(28.0 / 29), 16348);
    EXPECT_EQ(ndi_ptz_zoom_position(1.0), 0x4000);
    EXPECT_EQ(ndi_ptz_zoom_position(std::numeric_limits<double>::infinity()), 0x4000);
    EXPECT_EQ(ndi_ptz_zoom_position(std::nan("")), 0);
    // 2x: zoom = 1/29 lands on the second entry.
    EXPECT_EQ(ndi_ptz_zoom_position(1.0 / 29), 5793);
}

TEST(NdiPtzValues, PositionsStayInsideTheHeadsRange)
{
    // Pan -2448..+2448 and tilt -432..+1296 on the camera; position steps of 256.
    for (int i = -1100; i <= 1100; ++i) {
        const double v = i / 1000.0;
        const auto pan = static_cast<int16_t>(ndi_ptz_pan_position(v));
        const auto tilt = static_cast<int16_t>(ndi_ptz_tilt_position(v));
        EXPECT_LE(std::abs(pan), 2448) << v;
        EXPECT_GE(tilt, -432) << v;
        EXPECT_LE(tilt, 1296) << v;
        EXPECT_EQ(pan & 0xFF, 0);
        EXPECT_EQ(tilt & 0xFF, 0);
    }
    EXPECT_EQ(ndi_ptz_pan_position(-1.0), 0xF700);
    EXPECT_EQ(ndi_ptz_tilt_position(std::nan("")), 0x0000);
}

TEST(NdiStatusReply, CarriesEveryValueAtItsMaximumAndEndsTheElement)
{
    Camcontrol control;
    for (Camcontrol::webui_cmd_str* binding :
         {&control.Exposure_ExpMode, &control.WhiteBalance_BlueGain, &control.WhiteBalance_RedGain,
          &control.WhiteBalance_WbMode, &control.Exposure_IrisLevel, &control.Exposure_ShutterSpeed,
          &control.Exposure_BrightLevel, &control.Exposure_GainLevel, &control.Picture_Flip}) {
        binding->sys_val = 0x1FF;  // only the low byte is reported
    }
    for (std::atomic<uint8_t>* value :
         {&control.m_nFocusMode, &control.m_nMute, &control.m_nMenuDisplay, &control.m_nBlackLight,
          &control.m_nFreeze, &control.m_nPowerStatus}) {
        *value = 255;
    }
    control.m_nCam_Version = 65535;
    const std::string text = control.status_reply_text(65535);
    EXPECT_EQ(text,
              "<vtb_ptz_reply_message Sn=\"65535\" ExposureMode=\"255\" \n\t\tBGain=\"255\" "
              "RGain=\"255\" WhiteBalanceMode=\"255\" Iris=\"255\" Shutter=\"255\" Bright=\"255\" "
              "Gain=\"255\" Flip=\"255\" \n\t\tFocus=\"255\" Mute=\"255\" MenuDisplay=\"255\" "
              "BackLight=\"255\" Freeze=\"255\" PowerStatus=\"255\" CamVer=\"65535\"/>");
    EXPECT_LE(text.size(), 270U);
}

}  // namespace
