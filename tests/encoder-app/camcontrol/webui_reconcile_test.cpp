// Reconciliation of the settings files with a scripted camera: first cycle, file changes, camera
// changes, both at once, missing completions, model differences and damaged files.
#include <gtest/gtest.h>

#include <algorithm>

#include "webui_fixture.h"

namespace {

using vantor::test::read_text;
using vantor::test::write_text;
using webui_test::WebUIFixture;

const char* const kExpFile = "/etc/vantor-exp-setup.json";
const char* const kPicFile = "/etc/vantor-pic-setup.json";

std::string exposure_json(const std::string& exp_mode, const std::string& iris)
{
    return R"({"ExpMode":")" + exp_mode +
           R"(","ExpCompEn":"Off","ExpCompLvl":"0","AeResponse":"1","SlowShutterEn":"Off",)"
           R"("SlowShutterLimit":"18","ShutterSpeed":"16","ShutterMaxSpeed":"0",)"
           R"("ShutterMinSpeed":"0","GainLevel":"1","GainLimit":"9","GainPoint":"Off",)"
           R"("GainPointPosition":"0","IrisLevel":")" +
           iris +
           R"(","BrightLevel":"0","HighSensitivity":"Off","Spotlight":"Off",)"
           R"("BackLight":"Off"})";
}

std::string picture_json(const std::string& nd, const std::string& stabilizer)
{
    return R"({"ChromeSuppress":"OFF","Flip":"Off","HighlightComp":"Off","NDFilter":")" + nd +
           R"(","IRCutFilter":"Off","Mirror":"Off","Stabilizer":")" + stabilizer +
           R"(","ThreeDNR":"0","TWODNR":"0"})";
}

bool contains(const std::vector<std::string>& list, const std::string& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

class WebUIReconcile : public WebUIFixture {
protected:
    void SetUp() override
    {
        WebUIFixture::SetUp();
        // A camera whose exposure and picture state matches exposure_json("MANUAL", "5") and
        // picture_json("1", "Off") (NDFilter aside).
        const std::pair<int, uint8_t> block10[] = {{3, 3},  {4, 3},   {5, 18}, {6, 1},
                                                   {7, 9},  {8, 1},   {9, 0},  {10, 128},
                                                   {12, 5}, {13, 10}, {14, 0}};
        for (const auto& [index, value] : block10) {
            set_block_byte(0x10, index, value);
        }
        for (const auto& [index, value] : {std::pair<int, uint8_t>{8, 3}, {12, 3}, {13, 3}}) {
            set_block_byte(0x11, index, value);
        }
        for (const auto& [index, value] :
             {std::pair<int, uint8_t>{7, 3}, {8, 3}, {11, 1}, {12, 3}}) {
            set_block_byte(0x12, index, value);
        }
        set_block_byte(0x13, 3, 3);
        set_block_byte(0x13, 8, 3);
        write_text(board / kExpFile, exposure_json("MANUAL", "5"));
        write_text(board / kPicFile, picture_json("1", "Off"));
    }

    // Two cycles: the first reads the camera, the second takes its values into the files.
    void settle()
    {
        run_cycle();
        run_cycle();
    }

    // Step 0 (block 0x10 and the exposure group); the commands it sent.
    std::vector<std::string> exposure_step()
    {
        const size_t before = camera->packets().size();
        control.webui_cycle_step(0);
        return commands_since(before);
    }

    std::string exp_file() { return read_text(board / kExpFile); }
};

TEST_F(WebUIReconcile, CameraOverwritesTheFilesAfterTheFirstCycle)
{
    write_text(board / kExpFile, exposure_json("FULL-AUTO", "9"));
    run_cycle();
    EXPECT_FALSE(control.bInitUI);
    EXPECT_EQ(exp_file(), exposure_json("FULL-AUTO", "9"));
    EXPECT_TRUE(commands_since(0).empty());

    testing::internal::CaptureStdout();
    const auto sent = exposure_step();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(sent.empty());
    EXPECT_NE(out.find("over write UI ExpMode\n"), std::string::npos);
    EXPECT_NE(out.find("over write UI IrisLevel\n"), std::string::npos);
    EXPECT_EQ(exp_file(), exposure_json("MANUAL", "5"));
    EXPECT_EQ(control.Exposure_IrisLevel.sys_val, 5U);
}

TEST_F(WebUIReconcile, FileChangeIsPushedAndAgreedAfterCompletion)
{
    settle();
    write_text(board / kExpFile, exposure_json("MANUAL", "8"));
    testing::internal::CaptureStdout();
    const auto sent = exposure_step();
    EXPECT_NE(testing::internal::GetCapturedStdout().find("over write MCU IrisLevel\n"),
              std::string::npos);
    EXPECT_EQ(sent, std::vector<std::string>{"81 01 04 4B 00 00 00 08 FF"});
    EXPECT_EQ(control.Exposure_IrisLevel.sys_val, 8U);

    set_block_byte(0x10, 12, 8);  // the camera now reports the new value
    EXPECT_TRUE(exposure_step().empty());
    EXPECT_EQ(exp_file(), exposure_json("MANUAL", "8"));
}

TEST_F(WebUIReconcile, CameraChangeIsTakenIntoTheFile)
{
    settle();
    set_block_byte(0x10, 12, 7);
    set_block_byte(0x10, 3, 14);
    EXPECT_TRUE(exposure_step().empty());
    EXPECT_EQ(exp_file(), exposure_json("GAIN-PRI", "7"));
}

TEST_F(WebUIReconcile, CameraWinsWhenBothChangeInOneCycle)
{
    settle();
    write_text(board / kExpFile, exposure_json("MANUAL", "8"));
    set_block_byte(0x10, 12, 7);
    EXPECT_TRUE(exposure_step().empty());
    EXPECT_EQ(exp_file(), exposure_json("MANUAL", "7"));
}

TEST_F(WebUIReconcile, CommandWithoutCompletionIsSentAgainNextTime)
{
    settle();
    {
        const std::lock_guard<std::mutex> lock(mutex);
        complete = false;
    }
    write_text(board / kExpFile, exposure_json("MANUAL", "8"));
    const auto first = exposure_step();
    EXPECT_TRUE(contains(first, "81 01 04 4B 00 00 00 08 FF"));
    EXPECT_EQ(control.Exposure_IrisLevel.sys_val, 5U);
    const auto second = exposure_step();
    EXPECT_TRUE(contains(second, "81 01 04 4B 00 00 00 08 FF"));
    EXPECT_EQ(exp_file(), exposure_json("MANUAL", "8"));
}

TEST_F(WebUIReconcile, NoFreshCameraValueChangesNothing)
{
    settle();
    write_text(board / kExpFile, exposure_json("MANUAL", "8"));
    // A rejected block reply fills nothing: the comparison waits for a fresh value.
    set_block_byte(0x10, 2, 0x11);
    EXPECT_TRUE(exposure_step().empty());
    EXPECT_EQ(control.Exposure_IrisLevel.sys_val, 5U);
    set_block_byte(0x10, 2, 0x10);
    EXPECT_EQ(exposure_step(), std::vector<std::string>{"81 01 04 4B 00 00 00 08 FF"});
}

TEST_F(WebUIReconcile, HalfWrittenFileChangesNothing)
{
    settle();
    write_text(board / kExpFile, R"({"ExpMode":"MANUAL","ExpCompEn":"Of)");
    EXPECT_TRUE(exposure_step().empty());
    EXPECT_EQ(control.Exposure_IrisLevel.ui_val, 5U);
    EXPECT_EQ(control.Exposure_ExpCompEn.ui_val, 3U);
    EXPECT_EQ(exp_file(), R"({"ExpMode":"MANUAL","ExpCompEn":"Of)");
    // Complete again, with a change: taken as usual.
    write_text(board / kExpFile, exposure_json("MANUAL", "8"));
    EXPECT_EQ(exposure_step(), std::vector<std::string>{"81 01 04 4B 00 00 00 08 FF"});
}

TEST_F(WebUIReconcile, ValueThatDoesNotFitItsCommandIsRefused)
{
    settle();
    for (const char* bad : {"300", "-1", "99999999999999999999"}) {
        write_text(board / kExpFile, exposure_json("MANUAL", bad));
        testing::internal::CaptureStdout();
        const auto sent = exposure_step();
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(sent.empty()) << bad;
        EXPECT_NE(out.find("web UI IrisLevel: value"), std::string::npos) << bad;
        EXPECT_EQ(out.find("over write MCU IrisLevel"), std::string::npos) << bad;
        EXPECT_EQ(exp_file(), exposure_json("MANUAL", "5")) << bad;
        EXPECT_EQ(control.Exposure_IrisLevel.sys_val, 5U);
    }
}

TEST_F(WebUIReconcile, CameraValueItsCommandCannotCarryIsIgnored)
{
    struct Case {
        uint8_t block;
        int byte;
        uint8_t camera;
        const char* file;
        std::string json;
        const char* key;
    };
    const Case cases[] = {
        // Below the offset of 5: no H/V balance.
        {0x15, 6, 3, "/etc/vantor-det-setup.json", R"({"HvBalance":"2"})", "HvBalance"},
        // 0xFA + 6 is more than the shutter speed's two nibbles hold.
        {0x10, 13, 0xFA, kExpFile, exposure_json("MANUAL", "5"), "ShutterSpeed"},
    };
    for (const Case& c : cases) {
        control.setup_webui_cmd_list();
        control.bInitUI = true;
        write_text(board / c.file, c.json);
        set_block_byte(c.block, c.byte, c.camera);
        testing::internal::CaptureStdout();
        settle();
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(read_text(board / c.file), c.json) << c.key;
        EXPECT_NE(out.find(std::string("web UI ") + c.key + ": camera value"), std::string::npos)
            << c.key;
        EXPECT_EQ(out.find(std::string("over write UI ") + c.key + "\n"), std::string::npos)
            << c.key;
    }
}

TEST_F(WebUIReconcile, CameraValueWithoutTextIsNotUndoneByTheFile)
{
    struct Case {
        int step;
        uint8_t block;
        const char* file;
        std::string json;          // agrees with the camera's initial value
        uint8_t camera;            // a value without a text
        const char* command;       // the start of the binding's set packet
        std::string changed_json;  // the web UI's later change
        const char* pushed;        // what that change sends
    };
    const char* const wb = "/etc/vantor-wb-setup.json";
    const Case cases[] = {
        {0, 0x10, kExpFile, exposure_json("MANUAL", "5"), 5, "81 01 04 39 ",
         exposure_json("GAIN-PRI", "5"), "81 01 04 39 0E FF"},
        {2, 0x11, wb, R"({"WbMode":"AUTO"})", 10, "81 01 04 35 ", R"({"WbMode":"INDOOR"})",
         "81 01 04 35 01 FF"},
    };
    for (const Case& c : cases) {
        write_text(board / c.file, c.json);
        settle();
        set_block_byte(c.block, 3, c.camera);
        size_t before = camera->packets().size();
        control.webui_cycle_step(c.step);  // the camera's value wins; the file keeps its text
        control.webui_cycle_step(c.step);
        for (const std::string& sent : commands_since(before)) {
            EXPECT_NE(sent.rfind(c.command, 0), 0U) << sent;
        }
        EXPECT_EQ(read_text(board / c.file), c.json);
        write_text(board / c.file, c.changed_json);
        before = camera->packets().size();
        control.webui_cycle_step(c.step);
        EXPECT_TRUE(contains(commands_since(before), c.pushed)) << c.pushed;
    }
}

TEST_F(WebUIReconcile, NDFilterIsSynchronisedOnTheR8TOnly)
{
    for (const camera_version model : {S700, PNone, R8T}) {
        control.setup_webui_cmd_list();
        control.bInitUI = true;
        control.enum_camera_version = model;
        write_text(board / kPicFile, picture_json("1", "Off"));
        set_block_byte(0x12, 11, 2);
        const size_t before = camera->packets().size();
        settle();
        const bool r8t = model == R8T;
        EXPECT_EQ(read_text(board / kPicFile), picture_json(r8t ? "2" : "1", "Off")) << model;
        write_text(board / kPicFile, picture_json("0", "Off"));
        run_cycle();
        EXPECT_EQ(contains(commands_since(before), "81 01 7E 01 53 00 FF"), r8t) << model;
    }
}

TEST_F(WebUIReconcile, StabilizerValuesDependOnTheModel)
{
    for (const camera_version model : {S700, R8T, PNone}) {
        control.setup_webui_cmd_list();
        control.bInitUI = true;
        control.enum_camera_version = model;
        write_text(board / kPicFile, picture_json("1", "Off"));
        set_block_byte(0x13, 8, 4);  // stabilizer on
        settle();
        EXPECT_EQ(read_text(board / kPicFile), picture_json("1", "On")) << model;
        const uint32_t on = model == S700 ? 2U : 4U;
        EXPECT_EQ(control.Picture_Stabilizer.sys_val, on) << model;
        // Switching it off from the file sends the model's value for Off.
        write_text(board / kPicFile, picture_json("1", "Off"));
        const size_t before = camera->packets().size();
        run_cycle();
        EXPECT_TRUE(contains(commands_since(before), "81 01 04 34 03 FF")) << model;
        set_block_byte(0x13, 8, 3);
    }
}

TEST_F(WebUIReconcile, CombinedNoiseReductionAndPattern)
{
    const char* const gamma = "/etc/vantor-gamma-setup.json";
    write_text(board / gamma, R"({"Pattern":"10","PatternFine":"3","Settings":"PATTERN"})");
    set_block_byte(0x12, 13, 2);
    set_block_byte(0x12, 14, 5);
    set_block_byte(0x16, 3, 2);
    set_block_byte(0x16, 4, 51);
    set_block_byte(0x16, 5, 1);
    settle();
    EXPECT_EQ(read_text(board / kPicFile).find(R"("ThreeDNR":"5","TWODNR":"2")") !=
                  std::string::npos,
              true);
    EXPECT_EQ(read_text(board / gamma),
              R"({"Pattern":"51","PatternFine":"1","Settings":"PATTERN"})");
    // PatternFine above 2 with Pattern above 50 is limited to 2 before it is sent.
    write_text(board / gamma, R"({"Pattern":"51","PatternFine":"7","Settings":"PATTERN"})");
    write_text(board / kPicFile, picture_json("1", "Off")
                                     .replace(picture_json("1", "Off").find(R"("ThreeDNR":"0")"),
                                              14, R"("ThreeDNR":"4")"));
    const size_t before = camera->packets().size();
    run_cycle();
    const auto sent = commands_since(before);
    EXPECT_TRUE(contains(sent, "81 01 05 5B 02 00 00 FF"));
    EXPECT_TRUE(contains(sent, "81 01 05 53 00 04 FF"));
}

}  // namespace
