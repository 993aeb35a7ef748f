// PTZ speed settings and the preset store/recall request files.
#include <gtest/gtest.h>

#include <unistd.h>

#include "webui_fixture.h"

namespace {

using vantor::test::write_text;
using webui_test::WebUIFixture;

class WebUIPresets : public WebUIFixture {
protected:
    bool exists(const char* path) { return ::access((board / path).c_str(), F_OK) == 0; }
    std::vector<std::string> take_requests()
    {
        const size_t before = camera->packets().size();
        control.PTZGetWebUIValues();
        return commands_since(before);
    }
};

TEST_F(WebUIPresets, StoreAndRecallRequestsAreCarriedOutAndDeleted)
{
    write_text(board / "/tmp/vantor-save-preset", "Preset-3");
    EXPECT_EQ(take_requests(), std::vector<std::string>{"81 01 04 3F 01 02 FF"});
    EXPECT_FALSE(exists("/tmp/vantor-save-preset"));

    write_text(board / "/tmp/vantor-save-preset", "Preset-1");
    write_text(board / "/tmp/vantor-reset-preset", "Preset-9");
    EXPECT_EQ(take_requests(),
              (std::vector<std::string>{"81 01 04 3F 01 00 FF", "81 01 04 3F 02 08 FF"}));
    EXPECT_FALSE(exists("/tmp/vantor-reset-preset"));
    EXPECT_TRUE(take_requests().empty());
}

TEST_F(WebUIPresets, UnexpectedContentIsDeletedWithoutACommand)
{
    for (const char* text :
         {"", "Preset-3\n", "Preset-0", "Preset-10", "preset-3", "Preset-", "Preset-33",
          "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"}) {
        write_text(board / "/tmp/vantor-save-preset", text);
        write_text(board / "/tmp/vantor-reset-preset", text);
        EXPECT_TRUE(take_requests().empty()) << text;
        EXPECT_FALSE(exists("/tmp/vantor-save-preset")) << text;
        EXPECT_FALSE(exists("/tmp/vantor-reset-preset")) << text;
    }
}

TEST_F(WebUIPresets, RequestWaitsWhileTheLineIsClosed)
{
    control.m_visca.deinit_visca();
    write_text(board / "/tmp/vantor-save-preset", "Preset-4");
    write_text(board / "/etc/vantor-ptz-settings.json", R"({"PanSpeed":"12"})");
    control.PTZGetWebUIValues();
    EXPECT_TRUE(exists("/tmp/vantor-save-preset"));
    EXPECT_EQ(control.PTZ_PanSpeed, 12);
    // Once the line is open again the request is carried out.
    ASSERT_EQ(control.m_visca.init_visca(), 1);
    EXPECT_EQ(take_requests(), std::vector<std::string>{"81 01 04 3F 01 03 FF"});
    EXPECT_FALSE(exists("/tmp/vantor-save-preset"));
}

TEST_F(WebUIPresets, SpeedSettings)
{
    write_text(board / "/etc/vantor-ptz-settings.json",
               R"({"PanSpeed":"24","TiltSpeed":"20","ZoomSpeed":"7"})");
    control.PTZGetWebUIValues();
    EXPECT_EQ(control.PTZ_PanSpeed, 24);
    EXPECT_EQ(control.PTZ_TiltSpeed, 20);
    EXPECT_EQ(control.PTZ_ZoomSpeed, 7);
    // Missing keys and text without digits read as 0; a huge number is held at the limit.
    write_text(board / "/etc/vantor-ptz-settings.json",
               R"({"PanSpeed":"fast","ZoomSpeed":"99999999999999999999"})");
    control.PTZGetWebUIValues();
    EXPECT_EQ(control.PTZ_PanSpeed, 0);
    EXPECT_EQ(control.PTZ_TiltSpeed, 0);
    EXPECT_EQ(control.PTZ_ZoomSpeed, INT32_MAX);
    ::unlink((board / "/etc/vantor-ptz-settings.json").c_str());
    control.PTZ_PanSpeed = 5;
    control.PTZGetWebUIValues();
    EXPECT_EQ(control.PTZ_PanSpeed, 0);
}

}  // namespace
